#include "record/record_scanner.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/utf8.hpp"
#include "common/visible.hpp"
#include "record/clock_snapshot.hpp"

namespace profiledesk {

namespace {

// The sorts of problem, each told with its particulars after it.
constexpr std::string_view kCutShort = "a record cut short";
constexpr std::string_view kNotANumber = "a figure that is not a number";
constexpr std::string_view kUnreadableTime = "a time and date that cannot be read";
constexpr std::string_view kOverlong = "lines too long";

}  // namespace

StoredRecord& StoredRecord::operator=(const StoredRecord& other) {
    if (this != &other) {
        number = other.number;
        firstLine = other.firstLine;
        startOffset = other.startOffset;
        endOffset = other.endOffset;
        kept_.assign(other.text);
        text = kept_;
        spans = other.spans;
        enteredAt = other.enteredAt;
        ascii = other.ascii;
    }
    return *this;
}

std::optional<double> parseFigure(std::string_view text) {
    if (text.empty() || text.size() > 64) {
        return std::nullopt;  // the stream never writes a figure this long
    }
    // from_chars for the common figure, as it is several times faster; strtod for the rest,
    // since it takes every form the stream writes ("inf", "-nan", denormals such as 4e-320).
    double quick = 0.0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), quick);
    if (error == std::errc{} && stop == text.data() + text.size()) {
        return quick;
    }
    std::array<char, 65> copy{};
    std::memcpy(copy.data(), text.data(), text.size());
    char* end = nullptr;
    const double value = std::strtod(copy.data(), &end);
    if (end != copy.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

namespace {

// Whether `text` is a figure as the stream writes most ("35", "-2.5", "1.52416e+12"): checked
// without converting it. Anything else is left to parseFigure().
bool isPlainFigure(std::string_view text) {
    std::size_t at = 0;
    const auto digits = [&text, &at] {
        const std::size_t from = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            ++at;
        }
        return at > from;
    };
    const auto next = [&text, &at](char c) {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    };
    (void)next('-');
    if (text.size() > 64 || !digits() || (next('.') && !digits())) {
        return false;
    }
    if (next('e') && !((next('+') || next('-')) && digits())) {
        return false;
    }
    return at == text.size();
}

// Whether a record's figure reads as a number: most are plain, checked without converting.
bool readsAsFigure(std::string_view text) { return isPlainFigure(text) || parseFigure(text).has_value(); }

std::optional<int> parseWhole(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// "The Time Now Is :: 03:53PM." gives 15 and 53.
bool readTimeSentence(std::string_view sentence, EnteredAt& at) {
    constexpr std::string_view kLead = "The Time Now Is :: ";
    if (sentence.size() != kLead.size() + 8 || !sentence.starts_with(kLead) || sentence.back() != '.') {
        return false;
    }
    const std::string_view clock = sentence.substr(kLead.size(), 7);  // "03:53PM"
    const std::optional<int> hour = parseWhole(clock.substr(0, 2));
    const std::optional<int> minute = parseWhole(clock.substr(3, 2));
    const std::string_view half = clock.substr(5, 2);
    if (clock[2] != ':' || !hour || !minute || *hour < 1 || *hour > 12 || *minute < 0 || *minute > 59 ||
        (half != "AM" && half != "PM")) {
        return false;
    }
    at.hour = *hour % 12 + (half == "PM" ? 12 : 0);
    at.minute = *minute;
    return true;
}

bool readEnteredAt(const StoredRecord& record, EnteredAt& at) {
    const std::optional<int> day = parseWhole(record.field(Field::dayOfMonth));
    const std::optional<int> month = monthNumber(record.field(Field::monthName));
    const std::optional<int> year = parseWhole(record.field(Field::year));
    // Four-digit years only: entered_at is written as ISO 8601 without an expanded year.
    if (!day || !month || !year || *day < 1 || *day > 31 || *year < 0 || *year > 9999) {
        return false;
    }
    // A day the month does not have (31 February, 29 February of a common year) is no date.
    const std::chrono::year_month_day date{std::chrono::year{*year},
                                           std::chrono::month{static_cast<unsigned int>(*month + 1)},
                                           std::chrono::day{static_cast<unsigned int>(*day)}};
    if (!date.ok()) {
        return false;
    }
    at.date = Day(*year, *month + 1, *day);
    return readTimeSentence(record.field(Field::timeText), at);
}

// The line of the record, from 0, that a value stands on first.
std::size_t lineOf(const StoredRecord& record, Field field) {
    const std::size_t offset = record.spans[static_cast<std::size_t>(field)].offset;
    return static_cast<std::size_t>(
        std::count(record.text.begin(), record.text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

constexpr std::array<Field, 4> kFigures{Field::yearsAhead, Field::ageAfterYears, Field::multiple,
                                        Field::addition};

// Whether a record's figures are numbers and its time and date can be read, into `at`.
bool readsSound(const StoredRecord& record, EnteredAt& at) {
    return std::all_of(kFigures.begin(), kFigures.end(),
                       [&record](Field figure) { return readsAsFigure(record.field(figure)); }) &&
           readEnteredAt(record, at);
}

}  // namespace

void RecordScanner::feed(std::string_view bytes, std::span<const FoundRecord> known) {
    fed_ += bytes.size();
    fedFrom_ = bytes.data();
    if (atStart_) {
        bytes = skipByteOrderMark(bytes);
        if (!atStart_ && markMatched_ == kByteOrderMark.size()) {
            offset_ = kByteOrderMark.size();  // the mark belongs to no line, nor to its record
        }
    }
    while (!bytes.empty() && !stopped_) {
        if (recordLines_ == 0 && partial_.empty() && !overlong_) {
            const std::size_t taken = takeWholeRecord(bytes, known);
            if (taken > 0) {
                bytes.remove_prefix(taken);
                continue;
            }
        }
        const void* found = std::memchr(bytes.data(), '\n', bytes.size());
        if (found == nullptr) {
            holdPartial(bytes);
            break;
        }
        const auto length = static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data());
        // Counted from what was fed, not what is held: an overlong line's bytes are dropped.
        lineEnd_ = fed_ - bytes.size() + length + 1;
        const std::string_view end = length > 0 ? bytes.substr(0, length) : std::string_view(partial_);
        const std::size_t lineBytes = partial_.size() + length - (end.ends_with('\r') ? 1 : 0);
        if (overlong_ || lineBytes > maxLineBytes_) {
            endOverlongLine();
        } else if (partial_.empty()) {
            // A CRLF line is read with '\n' ends, so it cannot stay where it is.
            takeLine(bytes.substr(0, length), true, !end.ends_with('\r'));
        } else {
            partial_.append(bytes.substr(0, length));
            takeLine(partial_, true, false);
            partial_.clear();
        }
        offset_ = lineEnd_;
        bytes.remove_prefix(length + 1);
    }
    holdRecord();  // the bytes fed are the caller's only until this returns
}

void RecordScanner::finish() {
    if (stopped_) {
        return;
    }
    if (atStart_) {
        // A file of fewer bytes than a byte-order mark, which began like one.
        atStart_ = false;
        partial_.assign(kByteOrderMark.substr(0, markMatched_));
    }
    if (overlong_ || partial_.size() > maxLineBytes_) {
        endOverlongLine();
    } else if (!partial_.empty()) {
        const std::string last = std::exchange(partial_, {});
        takeLine(last, false, false);
    }
    if (recordLines_ > 0) {
        report(record_.firstLine,
               std::string(kCutShort) + " (" + std::to_string(recordLines_) + " of 30 lines)", kCutShort);
        recordLines_ = 0;
    }
    flushStray();
}

std::string_view RecordScanner::skipByteOrderMark(std::string_view bytes) {
    // Matched byte by byte, as a piece may end part-way through the mark.
    while (!bytes.empty() && markMatched_ < kByteOrderMark.size()) {
        if (bytes.front() != kByteOrderMark[markMatched_]) {
            atStart_ = false;
            partial_.assign(kByteOrderMark.substr(0, markMatched_));  // not a mark: ordinary bytes
            return bytes;
        }
        ++markMatched_;
        bytes.remove_prefix(1);
    }
    atStart_ = markMatched_ < kByteOrderMark.size();
    return bytes;
}

void RecordScanner::holdPartial(std::string_view bytes) {
    // One byte over the limit is room for the CR of a CRLF line end.
    if (overlong_ || partial_.size() + bytes.size() > maxLineBytes_ + 1) {
        overlong_ = true;
        partial_.clear();
        partial_.shrink_to_fit();
        return;
    }
    partial_.append(bytes);
}

void RecordScanner::endOverlongLine() {
    // Never held whole: it breaks off the record it stands in, and is told on its own.
    ++lineNumber_;
    overlong_ = false;
    partial_.clear();
    if (recordLines_ > 0) {
        report(record_.firstLine,
               std::string(kCutShort) + " (" + std::to_string(recordLines_) + " of 30 lines)", kCutShort);
        recordLines_ = 0;
    }
    flushStray();
    report(lineNumber_, "a line of more than " + std::to_string(maxLineBytes_) + " bytes", kOverlong);
}

void RecordScanner::takeLine(std::string_view line, bool ended, bool inFeed) {
    ++lineNumber_;
    if (ended && line.ends_with('\r')) {
        line.remove_suffix(1);  // a CRLF file
    }
    if (recordLines_ > 0) {
        if (!ended) {
            return;  // the file stops part-way through a line of the record: it was cut there
        }
        if (addLine(line, inFeed)) {
            if (++recordLines_ == kRecordLines) {
                endRecord();
            }
            return;
        }
        const std::size_t brokenRecordFrom = record_.firstLine;
        const std::size_t brokenRecordLines = recordLines_;
        recordLines_ = 0;
        startRecord(line, inFeed);
        if (recordLines_ > 0) {
            // A new record began before the last one was whole.
            report(brokenRecordFrom,
                   std::string(kCutShort) + " (" + std::to_string(brokenRecordLines) + " of 30 lines)",
                   kCutShort);
        } else {
            strayFrom_ = brokenRecordFrom;
            strayLines_ = brokenRecordLines + 1;
            brokenAt_ = lineNumber_;
        }
        return;
    }
    startRecord(line, inFeed);
    if (recordLines_ > 0) {
        return;
    }
    if (strayLines_++ == 0) {
        strayFrom_ = lineNumber_;
    }
}

void findWholeRecords(std::string_view piece, std::size_t from, std::size_t maxLineBytes,
                      RecordLineMatcher& lines, std::vector<FoundRecord>& found) {
    std::size_t at = from;
    if (at > 0 && at <= piece.size() && piece[at - 1] != '\n') {
        const std::size_t end = piece.find('\n', at);
        at = end == std::string_view::npos ? piece.size() : end + 1;
    }
    StoredRecord view;
    while (at < piece.size()) {
        // The spans are matched relative to the record's start, as the scanner keeps them.
        const std::string_view rest = piece.substr(at);
        const std::size_t length = lines.matchRecord(rest, maxLineBytes, view.spans);
        if (length > 0) {
            view.text = rest.substr(0, length);
            EnteredAt enteredAt;
            const bool sound = readsSound(view, enteredAt);
            found.push_back(FoundRecord{at, length, view.spans, sound, enteredAt, lines.matchedAscii()});
            at += length;
            continue;
        }
        const std::size_t end = rest.find('\n');
        at = end == std::string_view::npos ? piece.size() : at + end + 1;
    }
}

std::size_t RecordScanner::takeWholeRecord(std::string_view bytes, std::span<const FoundRecord>& found) {
    // Most records lie whole in the bytes fed, with LF ends: they are matched where they stand,
    // line after line, with none of the bookkeeping a record read in pieces needs. Anything
    // else is left to the line-by-line reading, which then reads those bytes again.
    const auto here = static_cast<std::size_t>(bytes.data() - fedFrom_);
    while (!found.empty() && found.front().offset < here) {
        found = found.subspan(1);
    }
    std::size_t length = 0;
    const FoundRecord* known = nullptr;
    std::optional<bool> ascii;
    if (!found.empty() && found.front().offset == here) {
        known = &found.front();
        length = known->length;
        record_.spans = known->spans;
        ascii = known->ascii;
        found = found.subspan(1);
    } else {
        length = lines_.matchRecord(bytes, maxLineBytes_, record_.spans);
        if (length == 0) {
            return 0;
        }
        ascii = lines_.matchedAscii();
    }
    flushStray();
    record_.firstLine = lineNumber_ + 1;
    record_.startOffset = offset_;
    lineNumber_ += kRecordLines;
    lineEnd_ = fed_ - bytes.size() + length;
    placed_ = bytes.data();
    placedBytes_ = length;
    endRecord(known, ascii);
    placed_ = nullptr;
    offset_ = lineEnd_;
    return length;
}

void RecordScanner::startRecord(std::string_view line, bool inFeed) {
    record_.spans = FieldSpans{};
    // The first line has no earlier one to agree with: it is matched where it stands.
    if (!matchRecordLine(0, line, 0, record_.spans)) {
        return;
    }
    // Report what came before first, so that everything is told in file order.
    const std::size_t opened = lineNumber_;
    flushStray();
    if (inFeed) {
        placed_ = line.data();
        placedBytes_ = line.size() + 1;
    } else {
        placed_ = nullptr;
        held_.assign(line);
        held_ += '\n';
    }
    record_.firstLine = opened;
    record_.startOffset = offset_;
    recordLines_ = 1;
}

bool RecordScanner::addLine(std::string_view line, bool inFeed) {
    if (placed_ != nullptr && inFeed) {
        // The record's earlier lines stand just before this one, in the same bytes.
        const auto lineStart = static_cast<std::size_t>(line.data() - placed_);
        if (!matchRecordLine(recordLines_, std::string_view(placed_, lineStart + line.size()), lineStart,
                             record_.spans)) {
            return false;
        }
        placedBytes_ = lineStart + line.size() + 1;
        return true;
    }
    holdRecord();
    const std::size_t lineStart = held_.size();
    held_.append(line);
    if (!matchRecordLine(recordLines_, held_, lineStart, record_.spans)) {
        held_.resize(lineStart);
        return false;
    }
    held_ += '\n';
    return true;
}

void RecordScanner::holdRecord() {
    if (placed_ != nullptr && recordLines_ > 0) {
        held_.assign(placed_, placedBytes_);
    }
    placed_ = nullptr;
}

void RecordScanner::endRecord(const FoundRecord* found, std::optional<bool> ascii) {
    recordLines_ = 0;
    record_.text = placed_ != nullptr ? std::string_view(placed_, placedBytes_) : std::string_view(held_);
    if (found != nullptr && found->sound) {
        record_.enteredAt = found->enteredAt;
    } else if (const std::optional<ScanProblem> problem = checkRecord()) {
        report(problem->line, problem->what, problem->kind);
        return;
    }
    record_.ascii = ascii ? *ascii : isAscii(record_.text);
    record_.number = ++records_;
    record_.endOffset = lineEnd_;
    stopped_ = !listener_.onRecord(record_);
}

std::optional<ScanProblem> RecordScanner::checkRecord() {
    for (const Field figure : kFigures) {
        const std::string_view text = record_.field(figure);
        if (!readsAsFigure(text)) {
            return ScanProblem{record_.firstLine + lineOf(record_, figure),
                               std::string(kNotANumber) + " ('" + makeVisible(text) + "')", kNotANumber};
        }
    }
    if (!readEnteredAt(record_, record_.enteredAt)) {
        return ScanProblem{record_.firstLine + lineOf(record_, Field::timeText), std::string(kUnreadableTime),
                           kUnreadableTime};
    }
    return std::nullopt;
}

void RecordScanner::flushStray() {
    if (strayLines_ == 0) {
        return;
    }
    std::string what = strayLines_ == 1 ? "1 line that belongs to no record"
                                        : std::to_string(strayLines_) + " lines that belong to no record";
    if (brokenAt_ != 0) {
        what += " (a record breaks off at line " + std::to_string(brokenAt_) + ")";
    }
    const std::size_t from = strayFrom_;
    strayLines_ = 0;
    brokenAt_ = 0;
    report(from, std::move(what), "lines that belong to no record");
}

void RecordScanner::report(std::size_t line, std::string what, std::string_view kind) {
    ++problems_;
    listener_.onProblem(ScanProblem{line, std::move(what), kind});
}

}  // namespace profiledesk
