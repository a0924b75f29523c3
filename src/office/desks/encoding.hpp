#pragma once

// The encodings a desk's answers may be written in, and their conversion to UTF-8. The
// conversion itself is the platform's (iconv, or MultiByteToWideChar on Windows): one
// source file per platform implements Decoder's converter.

#include <memory>
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

// Turns the bytes of answers written in one encoding into UTF-8.
class Decoder {
public:
    // `encoding` is one that knownEncoding() gives.
    explicit Decoder(std::string_view encoding);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    Decoder(Decoder&&) noexcept;
    Decoder& operator=(Decoder&&) noexcept;

    [[nodiscard]] const std::string& encoding() const { return encoding_; }

    // Appends `bytes` to `out` as UTF-8, each byte that is not valid in the encoding as
    // U+FFFD; false if there was one.
    bool decode(std::string_view bytes, std::string& out);

private:
    struct Converter;  // the platform's, for an encoding other than UTF-8
    bool convert(std::string_view bytes, std::string& out);

    std::string encoding_;
    std::unique_ptr<Converter> converter_;
};

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace profiledesk::office
