#pragma once

// The fast ways of reading a record's lines, beside the plain one in record_layout.hpp: most
// lines read straight through, a few from their right, and lines a desk writes the same in
// every record known again by their bytes. Each must agree with matchRecordLineByTrying() on
// every line, which the unit tests and the records fuzzer check.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "record/record_layout.hpp"

namespace profiledesk {

// Reads line `index` of a record as matchRecordLineByTrying() does, with the same arguments and
// outcome, the fast way where the line allows it.
bool matchRecordLine(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans);

// Matches the lines of records read one after another, as matchRecordLine() does, where a
// line's end is not known yet: the text runs on past it.
class RecordLineMatcher {
public:
    // Returns where line `index`'s '\n' stands in `text`, or npos when the line does not
    // match or does not end within `text`.
    std::size_t matchAt(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans);
    // Matches the whole record that `text` starts with, if all of it is there with LF ends and
    // no line longer than `maxLineBytes`: returns its length, or 0.
    std::size_t matchRecord(std::string_view text, std::size_t maxLineBytes, FieldSpans& spans);
    // Whether every byte of the record matchRecord() matched last is ASCII: told on the way,
    // from the values' bytes alone on the lines read straight through (their fixed text is).
    [[nodiscard]] bool matchedAscii() const { return ascii_; }

private:
    // `ascii` becomes false where the line is not ASCII.
    std::size_t matchOther(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans,
                           bool& ascii);

    // A desk writes its maker's details and the collector's trailer the same in every record:
    // a line whose values stand on no other line is known again by its bytes, unmatched.
    static constexpr std::size_t kLongestRemembered = 4096;
    struct Remembered {
        std::string line;  // with its '\n'; empty when none is remembered
        std::array<std::pair<Field, FieldSpan>, kMaxLineParts> values{};  // from the line's start
        std::size_t count = 0;                                            // of values
        bool ascii = false;
    };
    std::array<Remembered, kRecordLines> remembered_;
    bool ascii_ = false;
};

}  // namespace profiledesk
