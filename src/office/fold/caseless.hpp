#pragma once

// A text looked for in answers, case ignored across Unicode: the same answers as
// foldCase(answer).find(foldCase(text)), with the folding called only where it could matter.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace profiledesk::office {

class CaselessSearch {
public:
    explicit CaselessSearch(std::string_view text);

    // The text folded; empty when it held nothing but what folding drops (U+200B, U+00AD).
    [[nodiscard]] const std::string& folded() const { return folded_; }

    // Whether the answer (UTF-8; other bytes read as U+FFFD) holds the text.
    [[nodiscard]] bool foundIn(std::string_view answer);
    // The same for an answer known to be ASCII.
    [[nodiscard]] bool foundInAscii(std::string_view answer) const;

private:
    // The ASCII bytes a text holds, a bit each.
    using AsciiSet = std::array<std::uint64_t, 2>;

    // Whether every ASCII byte of the folded text could come from somewhere in the answer.
    [[nodiscard]] bool couldHold(std::string_view answer);
    // The ASCII bytes one character's folding holds.
    [[nodiscard]] AsciiSet asciiOfFolded(std::string_view character);

    std::string folded_;
    std::string caseBits_;  // for each byte of folded_, 0x20 where it is a small letter
    bool asciiText_ = true;
    AsciiSet needed_{};
    // What each character met so far folds to, as far as ASCII goes: the library's answer, kept.
    std::unordered_map<char32_t, AsciiSet> asciiOfCharacter_;
};

}  // namespace profiledesk::office
