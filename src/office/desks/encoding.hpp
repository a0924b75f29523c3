#pragma once

// The encodings a desk's answers may be written in, and their conversion to UTF-8: a code page
// by its table, made at build time from iconv, so that every build reads a file alike.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace profiledesk::office {

inline constexpr std::string_view kUtf8 = "UTF-8";

// The name of an encoding offered, as iconv spells it ("CP1252"), for any spelling of it
// that differs only in case; nothing for an encoding not offered.
std::optional<std::string_view> knownEncoding(std::string_view name);

// "UTF-8, CP437, ...": the encodings offered, for a usage message.
std::string knownEncodings();

// One character's UTF-8 for each byte from 0x80 up, empty where the code page has none.
using CodePageTable = std::array<std::string_view, 128>;

// Turns the bytes of answers written in one encoding into UTF-8.
class Decoder {
public:
    // `encoding` is one that knownEncoding() gives.
    explicit Decoder(std::string_view encoding);

    [[nodiscard]] const std::string& encoding() const { return encoding_; }

    // Appends `bytes` to `out` as UTF-8, each byte that is not valid in the encoding as
    // U+FFFD; false if there was one.
    bool decode(std::string_view bytes, std::string& out) const;

private:
    std::string encoding_;
    const CodePageTable* table_ = nullptr;  // none for UTF-8
};

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace profiledesk::office
