#include "record/record_match_fast.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/utf8.hpp"
#include "record/byte_compare.hpp"

namespace profiledesk {

namespace {

using bytes::HighBits;
using bytes::isBlank;
using bytes::runWithoutBlank;
using bytes::sameBytes;

// How each line is read: where its parts end, without the unused ones, and whether it can be
// read straight through. It can when every value on it is an answer or a figure followed by
// the line's end or by fixed text that starts with white space: such a value can only be the
// longest run without white space, so no other length need be tried. Its fixed text must be
// ASCII too, since only its values' bytes are looked at for the record's isAscii.
struct LineShape {
    std::size_t partsUsed = 0;
    bool straight = true;
    bool alone = true;   // none of its values stands on another line
    bool timed = false;  // it holds the time of entry, which changes from record to record
    // It starts with a text value and fixed text, and what follows reads straight through up
    // to fixed text at its end: the value can end only where that fixed text stands last.
    bool fromRight = false;
    std::size_t tailFrom = 0;  // the fixed text at its end, from this part on
};

const std::array<LineShape, kRecordLines> kLineShapes = [] {
    std::array<LineShape, kRecordLines> shapes{};
    std::array<std::size_t, kFieldCount> linesWith{};
    for (const LineLayout& line : kRecordLayout) {
        std::array<bool, kFieldCount> on{};
        for (const LinePart& part : line) {
            on.at(static_cast<std::size_t>(part.field)) = true;
        }
        for (std::size_t field = 1; field < kFieldCount; ++field) {
            linesWith.at(field) += on.at(field) ? 1U : 0U;
        }
    }
    for (std::size_t i = 0; i < kRecordLines; ++i) {
        const LineLayout& line = kRecordLayout.at(i);
        LineShape& shape = shapes.at(i);
        shape.partsUsed = partsUsed(i);
        for (std::size_t part = 0; part < shape.partsUsed; ++part) {
            const Field field = line.at(part).field;
            if (field == Field::none) {
                shape.straight = shape.straight && isAscii(line.at(part).text);
                continue;
            }
            shape.alone = shape.alone && linesWith.at(static_cast<std::size_t>(field)) == 1;
            shape.timed = shape.timed || field == Field::timeText;
            const bool last = part + 1 == shape.partsUsed;
            const LinePart& next = line.at(std::min(part + 1, line.size() - 1));
            shape.straight =
                shape.straight && kindOf(field) != FieldKind::text &&
                (last || (next.field == Field::none && !next.text.empty() && isBlank(next.text.front())));
        }
        shape.tailFrom = shape.partsUsed;
        while (shape.tailFrom > 0 && line.at(shape.tailFrom - 1).field == Field::none) {
            --shape.tailFrom;
        }
        shape.fromRight = !shape.straight && shape.alone && shape.tailFrom > 2 &&
                          kindOf(line.at(0).field) == FieldKind::text && line.at(1).field == Field::none &&
                          !line.at(1).text.empty();
        for (std::size_t part = 2; shape.fromRight && part < shape.tailFrom; ++part) {
            const LinePart& next = line.at(std::min(part + 1, line.size() - 1));
            shape.fromRight =
                line.at(part).field == Field::none ||
                (kindOf(line.at(part).field) != FieldKind::text &&
                 (part + 1 == shape.tailFrom ||
                  (next.field == Field::none && !next.text.empty() && isBlank(next.text.front()))));
        }
    }
    return shapes;
}();

// Matches a straight line from `pos`. Its end is where its parts end: the end of `text` when
// `text` ends with the line, otherwise a '\n' there. Returns that end, or npos.
// `seen` takes the bytes of the values it reads (the fixed text is ASCII).
std::size_t matchStraight(const LinePart* part, const LinePart* end, std::string_view text, std::size_t pos,
                          FieldSpans& spans, bool ended, HighBits& seen) {
    const LinePart* const first = part;
    unsigned int taken = 0;  // the parts whose value this match took, by their place
    const auto fits = [&](std::string_view expected) {
        return text.size() - pos >= expected.size() &&
               sameBytes(text.data() + pos, expected.data(), expected.size());
    };
    bool matched = true;
    for (; part != end && matched; ++part) {
        if (part->field == Field::none) {
            matched = fits(part->text);
            pos += part->text.size();
            continue;
        }
        FieldSpan& span = spans[static_cast<std::size_t>(part->field)];
        if (span.found) {
            matched = fits(text.substr(span.offset, span.length));
            pos += span.length;
            continue;
        }
        // '\n' is white space, so a value never runs past its line.
        const std::size_t length = runWithoutBlank(text, pos, seen);
        span = FieldSpan{pos, length, true};
        taken |= 1U << static_cast<unsigned int>(part - first);
        pos += length;
    }
    if (matched && (ended ? pos == text.size() : pos < text.size() && text[pos] == '\n')) {
        return pos;
    }
    for (; taken != 0; taken &= taken - 1) {
        spans[static_cast<std::size_t>(first[std::countr_zero(taken)].field)] = FieldSpan{};
    }
    return std::string_view::npos;
}

// A line read from its right (see LineShape::fromRight), where `text` ends with the line. Trying
// every way takes the first value longest first: the last place of the fixed text after it
// where the rest matches, which is this one when the rest matches here; otherwise every way is
// tried.
bool matchFromRight(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans) {
    const LineLayout& line = kRecordLayout.at(index);
    const LineShape& shape = kLineShapes.at(index);
    std::size_t tail = 0;
    for (std::size_t part = shape.tailFrom; part < shape.partsUsed; ++part) {
        tail += line.at(part).text.size();
    }
    const std::string_view marker = line.at(1).text;
    // The last place of the marker, by its first byte and then the rest.
    std::size_t at = std::string_view::npos;
    if (text.size() - lineStart >= tail + marker.size()) {
        for (std::size_t place = text.size() - tail - marker.size() + 1; place-- > lineStart;) {
            if (text[place] == marker.front() &&
                sameBytes(text.data() + place, marker.data(), marker.size())) {
                at = place;
                break;
            }
        }
    }
    if (at != std::string_view::npos) {
        FieldSpan& first = spans[static_cast<std::size_t>(line.at(0).field)];
        first = FieldSpan{lineStart, at - lineStart, true};
        std::size_t end = text.size() - tail;
        HighBits unused;
        for (std::size_t part = shape.tailFrom; part < shape.partsUsed && end != std::string_view::npos;
             ++part) {
            const std::string_view fixed = line.at(part).text;
            end = text.substr(end, fixed.size()) == fixed ? end + fixed.size() : std::string_view::npos;
        }
        if (end != std::string_view::npos &&
            matchStraight(line.data() + 2, line.data() + shape.tailFrom, text.substr(0, text.size() - tail),
                          at + marker.size(), spans, true, unused) != std::string_view::npos) {
            return true;
        }
        first = FieldSpan{};
    }
    return matchRecordLineByTrying(index, text, lineStart, spans);
}

}  // namespace

bool matchRecordLine(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans) {
    const LineLayout& line = kRecordLayout.at(index);
    const LineShape& shape = kLineShapes.at(index);
    if (shape.straight) {
        HighBits unused;
        return matchStraight(line.data(), line.data() + shape.partsUsed, text, lineStart, spans, true,
                             unused) != std::string_view::npos;
    }
    return shape.fromRight ? matchFromRight(index, text, lineStart, spans)
                           : matchRecordLineByTrying(index, text, lineStart, spans);
}

std::size_t RecordLineMatcher::matchAt(std::size_t index, std::string_view text, std::size_t lineStart,
                                       FieldSpans& spans) {
    const LineLayout& line = kRecordLayout.at(index);
    const LineShape& shape = kLineShapes.at(index);
    if (shape.straight) {
        HighBits unused;
        return matchStraight(line.data(), line.data() + shape.partsUsed, text, lineStart, spans, false,
                             unused);
    }
    bool unused = true;
    return matchOther(index, text, lineStart, spans, unused);
}

std::size_t RecordLineMatcher::matchRecord(std::string_view text, std::size_t maxLineBytes,
                                           FieldSpans& spans) {
    spans = FieldSpans{};
    HighBits seen;
    bool otherAscii = true;
    ascii_ = false;
    std::size_t at = 0;
    for (std::size_t index = 0; index < kRecordLines; ++index) {
        const LineShape& shape = kLineShapes.at(index);
        const LinePart* const parts = kRecordLayout.at(index).data();
        const std::size_t end =
            shape.straight ? matchStraight(parts, parts + shape.partsUsed, text, at, spans, false, seen)
                           : matchOther(index, text, at, spans, otherAscii);
        // A CRLF line does not match here: its CR stands where the '\n' should.
        if (end == std::string_view::npos || end - at > maxLineBytes) {
            return 0;
        }
        at = end + 1;
    }
    ascii_ = otherAscii && !seen.any();
    return at;
}

std::size_t RecordLineMatcher::matchOther(std::size_t index, std::string_view text, std::size_t lineStart,
                                          FieldSpans& spans, bool& ascii) {
    const LineLayout& line = kRecordLayout.at(index);
    const LineShape& shape = kLineShapes.at(index);
    Remembered& last = remembered_.at(index);
    const std::string_view rest = text.substr(lineStart);
    if (!last.line.empty() && rest.size() >= last.line.size() &&
        sameBytes(rest.data(), last.line.data(), last.line.size())) {
        for (std::size_t i = 0; i < last.count; ++i) {
            const auto& [field, span] = last.values.at(i);
            spans[static_cast<std::size_t>(field)] = FieldSpan{lineStart + span.offset, span.length, true};
        }
        ascii = ascii && last.ascii;
        return lineStart + last.line.size() - 1;
    }
    const void* found = std::memchr(rest.data(), '\n', rest.size());
    if (found == nullptr) {
        return std::string_view::npos;
    }
    const auto end = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
    if (!(shape.fromRight ? matchFromRight(index, text.substr(0, end), lineStart, spans)
                          : matchRecordLineByTrying(index, text.substr(0, end), lineStart, spans))) {
        return std::string_view::npos;
    }
    const bool lineAscii = isAscii(rest.substr(0, end - lineStart));
    ascii = ascii && lineAscii;
    if (shape.alone && !shape.timed && end - lineStart < kLongestRemembered) {
        last.line.assign(rest.substr(0, end - lineStart + 1));
        last.ascii = lineAscii;
        last.count = 0;
        for (std::size_t part = 0; part < shape.partsUsed; ++part) {
            const Field field = line.at(part).field;
            if (field != Field::none) {
                const FieldSpan& span = spans[static_cast<std::size_t>(field)];
                last.values.at(last.count++) = {field, FieldSpan{span.offset - lineStart, span.length, true}};
            }
        }
    }
    return end;
}

}  // namespace profiledesk
