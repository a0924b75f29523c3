#include "record/record_layout.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(HAVE_SSE2)
#include <emmintrin.h>
#endif

#include "common/utf8.hpp"
#include "record/rules.hpp"

namespace profiledesk {

namespace {

constexpr LinePart t(std::string_view text) { return LinePart{text, Field::none}; }
constexpr LinePart v(Field field) { return LinePart{{}, field}; }

}  // namespace

// clang-format off
const std::array<LineLayout, kRecordLines> kRecordLayout{{
    // The maker's header.
    {t(" -->                     "), v(Field::makerName), t("["), v(Field::makerInitials), t("] !!!")},
    {t(" -->                     "), v(Field::noticeText), t(" !!!")},
    {t(" Location Default ->(1) ::  "), v(Field::defaultLocation1), t(" ")},
    {t(" Location Default ->(2) ::  "), v(Field::defaultLocation2), t(" ")},
    {t(" -->                 E.Mail Address Is :: "), v(Field::contactEmail), t(" !!! ")},
    {t(" -->                 Current Phone Number Is :: "), v(Field::contactPhone), t(" !!! ")},
    // The answers.
    {t(" Candidate Name :: "), v(Field::firstName), t(" "), v(Field::surname)},
    {t(" Candidate Place Of Birth Is :: "), v(Field::placeOfBirth)},
    {t(" Candidate's Date Of Birth Is :: "), v(Field::dateOfBirth), t(" , Candidate's Age Is :: "),
     v(Field::ageText)},
    {t(" Candidate(Bearer) Is Educational(Learning Center) :: "), v(Field::educationCentre)},
    {t(" Enter The Street Name For This Center :: "), v(Field::streetName)},
    {t(" Enter The Co-ordinator(Propsector) Is Name For This Location(Center) :: "), v(Field::coordinatorName)},
    {t("  --> One Near By(Related) Business(Production) In This Region(Place) Is :: "), v(Field::nearbyBusiness)},
    {t("  --> The Near By(Related) Productivity Company(Business) In The Same Region(Place)  :: "),
     v(Field::productivityCompany)},
    {t("  --> One Maintenance(Development) Company(Business) In This Zone(Region) Is  :: "),
     v(Field::maintenanceCompany)},
    {t(" Your Age In "), v(Field::yearsAhead), t(" Years Time Will Be :: "), v(Field::ageAfterYears),
     t(" . Thank You For Providing These Options And Selections. ")},
    {t(" --> The Nearest Shopping Center(Plaza) In This Location(Environment) Is :: "), v(Field::shoppingCentre)},
    {t(" --> The Name Of The Nearest School(Educational Compound) In This Location(Environment) Is.   :: "),
     v(Field::nearestSchool)},
    {t("  --> The Zonal(Regional) Library(Recreational Center) For The Environment(Location) Is. :: "),
     v(Field::zonalLibrary)},
    {t("  --> The Provided Regional Library(Recreational Center) Fee For This Environment(Location) Is .   :: N "),
     v(Field::libraryFee)},
    // The figures.
    {t(kStarRule)},
    {t(" The Multiple Of The(This) Number Is :: "), v(Field::yearsAhead), t(" x "), v(Field::yearsAhead), t(" = "),
     v(Field::multiple)},
    {t(" The Addition Of The(This) Number Is :: "), v(Field::yearsAhead), t(" + "), v(Field::yearsAhead), t(" = "),
     v(Field::addition)},
    {t(kShortDashRule)},
    // When it was entered, then an empty line.
    {v(Field::timeText), t("  -->  Today's Date Is "), v(Field::dayOfMonth), t(" "), v(Field::monthName), t(" "),
     v(Field::year), t(".")},
    {},
    // The collector's trailer.
    {t(kLongDashRule)},
    {t(kReportRule)},
    {t(" --> ["), v(Field::collectionWebAddress), t("] -> End Of Collection("), v(Field::collatorTag),
     t("<->Collated Datas) <-> "), v(Field::collectionPhone), t(" <--")},
    {t(kRule<' ', '-', 44>), t("> "), v(Field::departmentLabel), t(" <"), t(kRule<'\0', '-', 48>)},
}};
// clang-format on

FieldKind kindOf(Field field) {
    switch (field) {
        case Field::yearsAhead:
        case Field::ageAfterYears:
        case Field::multiple:
        case Field::addition:
        case Field::dayOfMonth:
        case Field::year: return FieldKind::number;
        case Field::makerName:
        case Field::makerInitials:
        case Field::noticeText:
        case Field::defaultLocation1:
        case Field::defaultLocation2:
        case Field::contactEmail:
        case Field::contactPhone:
        case Field::timeText:
        case Field::collectionWebAddress:
        case Field::collatorTag:
        case Field::collectionPhone:
        case Field::departmentLabel: return FieldKind::text;
        default: return FieldKind::word;
    }
}

void renderRecord(const FieldValues& values, std::string& out) {
    for (const LineLayout& line : kRecordLayout) {
        for (const LinePart& part : line) {
            out += part.field == Field::none ? part.text : values[static_cast<std::size_t>(part.field)];
        }
        out += '\n';
    }
}

namespace {

// The white space that ends a typed word.
constexpr std::array<bool, 256> kBlank = [] {
    std::array<bool, 256> blank{};
    for (const char c : {' ', '\t', '\n', '\v', '\f', '\r'}) {
        blank.at(static_cast<unsigned char>(c)) = true;
    }
    return blank;
}();
bool isBlank(char c) { return kBlank[static_cast<unsigned char>(c)]; }

class LineMatcher {
public:
    LineMatcher(std::string_view text, FieldSpans& spans) : text_(text), spans_(spans) {}

    // Matches parts [from, end) against the line from `pos` to its end.
    bool match(const LinePart* from, const LinePart* end, std::size_t pos) {
        while (from != end && from->field == Field::none) {
            if (text_.substr(pos, from->text.size()) != from->text) {
                return false;
            }
            pos += from->text.size();
            ++from;
        }
        if (from == end) {
            return pos == text_.size();
        }
        FieldSpan& span = spans_[static_cast<std::size_t>(from->field)];
        if (span.found) {
            // Seen on an earlier line: only the same bytes can stand here.
            if (text_.substr(pos, span.length) != text_.substr(span.offset, span.length)) {
                return false;
            }
            return match(from + 1, end, pos + span.length);
        }
        const std::size_t rest = text_.size() - pos;
        std::size_t longest = rest;
        if (kindOf(from->field) != FieldKind::text) {
            longest = 0;
            while (longest < rest && !isBlank(text_[pos + longest])) {
                ++longest;
            }
        }
        // When only fixed text follows, the value's length is settled by it.
        std::size_t fixedTail = 0;
        const LinePart* next = from + 1;
        while (next != end && next->field == Field::none) {
            fixedTail += next->text.size();
            ++next;
        }
        if (next == end) {
            return fixedTail <= rest && rest - fixedTail <= longest &&
                   take(span, pos, rest - fixedTail, from, end);
        }
        const std::string_view marker =
            (from + 1)->field == Field::none ? (from + 1)->text : std::string_view();
        if (marker.empty()) {
            for (std::size_t length = longest + 1; length-- > 0;) {
                if (take(span, pos, length, from, end)) {
                    return true;
                }
            }
            return false;
        }
        // Only where the fixed text that follows stands can the value end: try those places,
        // longest first, rather than every length.
        if (rest < marker.size()) {
            return false;
        }
        const std::size_t last = std::min(longest, rest - marker.size());
        for (std::size_t at = last + 1; at-- > 0;) {
            // The first byte alone rules out most places; compare the rest only where it fits.
            if (text_[pos + at] == marker.front() && text_.substr(pos + at, marker.size()) == marker &&
                take(span, pos, at, from, end)) {
                return true;
            }
        }
        return false;
    }

private:
    bool take(FieldSpan& span, std::size_t pos, std::size_t length, const LinePart* from,
              const LinePart* end) {
        span = FieldSpan{pos, length, true};
        if (match(from + 1, end, pos + length)) {
            return true;
        }
        span = FieldSpan{};
        return false;
    }

    std::string_view text_;
    FieldSpans& spans_;
};

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
        shape.partsUsed = line.size();
        while (shape.partsUsed > 0 && line.at(shape.partsUsed - 1).field == Field::none &&
               line.at(shape.partsUsed - 1).text.empty()) {
            --shape.partsUsed;
        }
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

// Whether two runs of bytes are equal. The fixed texts compared are short and many, so a few
// compares inline beat a call to memcmp; each pair of loads overlaps the one before it.
template <typename Word>
bool sameWords(const char* a, const char* b, std::size_t size) {
    const auto word = [](const char* at) {
        Word value{};
        std::memcpy(&value, at, sizeof value);
        return value;
    };
    return word(a) == word(b) && word(a + size - sizeof(Word)) == word(b + size - sizeof(Word));
}

bool sameBytes(const char* a, const char* b, std::size_t size) {
#if defined(HAVE_SSE2)
    constexpr std::size_t kBlock = sizeof(__m128i);
    if (size >= kBlock) {
        const auto equal = [&](std::size_t at) {
            return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at)));
        };
        __m128i same = equal(size - kBlock);
        for (std::size_t at = 0; at + kBlock < size; at += kBlock) {
            same = _mm_and_si128(same, equal(at));
        }
        return _mm_movemask_epi8(same) == 0xFFFF;
    }
#endif
    if (size >= sizeof(std::uint64_t)) {
        return size <= 2 * sizeof(std::uint64_t) ? sameWords<std::uint64_t>(a, b, size)
                                                 : std::memcmp(a, b, size) == 0;
    }
    if (size >= sizeof(std::uint32_t)) {
        return sameWords<std::uint32_t>(a, b, size);
    }
    for (std::size_t at = 0; at < size; ++at) {
        if (a[at] != b[at]) {
            return false;
        }
    }
    return true;
}

// The bytes a match looked at, ORed together: the record is ASCII where no high bit is set.
struct HighBits {
#if defined(HAVE_SSE2)
    __m128i block = _mm_setzero_si128();
#endif
    unsigned char byte = 0;

    [[nodiscard]] bool any() const {
#if defined(HAVE_SSE2)
        return byte >= 0x80 || _mm_movemask_epi8(block) != 0;
#else
        return byte >= 0x80;
#endif
    }
};

// The bytes from `pos` up to the first white space, or to the end of `text`; `seen` takes
// every byte of them, and may take some after them.
std::size_t runWithoutBlank(std::string_view text, std::size_t pos, HighBits& seen) {
    std::size_t at = pos;
#if defined(HAVE_SSE2)
    // Sixteen bytes a step: white space is ' ' or '\t' to '\r', which less 9 are below 5.
    constexpr std::size_t kBlock = sizeof(__m128i);
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i four = _mm_set1_epi8(4);
    __m128i high = _mm_setzero_si128();  // in a register, not through `seen`, at each step
    for (; at + kBlock <= text.size(); at += kBlock) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
        high = _mm_or_si128(high, bytes);
        const __m128i control = _mm_sub_epi8(bytes, tab);
        const __m128i blank =
            _mm_or_si128(_mm_cmpeq_epi8(bytes, space), _mm_cmpeq_epi8(_mm_min_epu8(control, four), control));
        if (const int found = _mm_movemask_epi8(blank); found != 0) {
            seen.block = _mm_or_si128(seen.block, high);
            return at + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned int>(found))) - pos;
        }
    }
    seen.block = _mm_or_si128(seen.block, high);
#endif
    while (at < text.size() && !isBlank(text[at])) {
        seen.byte |= static_cast<unsigned char>(text[at]);
        ++at;
    }
    return at - pos;
}

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

bool matchGeneral(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans) {
    const LineLayout& line = kRecordLayout.at(index);
    // Every value a failed try takes is given back, so a failed match leaves `spans` as it was.
    LineMatcher matcher(text, spans);
    return matcher.match(line.data(), line.data() + kLineShapes.at(index).partsUsed, lineStart);
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
    return matchGeneral(index, text, lineStart, spans);
}

}  // namespace

bool matchRecordLineByTrying(std::size_t index, std::string_view text, std::size_t lineStart,
                             FieldSpans& spans) {
    return matchGeneral(index, text, lineStart, spans);
}

bool matchRecordLine(std::size_t index, std::string_view text, std::size_t lineStart, FieldSpans& spans) {
    const LineLayout& line = kRecordLayout.at(index);
    const LineShape& shape = kLineShapes.at(index);
    if (shape.straight) {
        HighBits unused;
        return matchStraight(line.data(), line.data() + shape.partsUsed, text, lineStart, spans, true,
                             unused) != std::string_view::npos;
    }
    return shape.fromRight ? matchFromRight(index, text, lineStart, spans)
                           : matchGeneral(index, text, lineStart, spans);
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
                          : matchGeneral(index, text.substr(0, end), lineStart, spans))) {
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
