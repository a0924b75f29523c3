#pragma once

// Reads records back from the bytes of a record file, in pieces of any size, keeping no
// more than the record being read. Files from any desk are taken: LF or CRLF line ends,
// other maker details, empty answers, any bytes in a word.

#include <array>
#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "common/day.hpp"
#include "record/record_layout.hpp"

namespace profiledesk {

// A figure as a record writes it ("35", "-2.5", "1.52416e+12", "inf"); nothing if the
// text is not a number.
std::optional<double> parseFigure(std::string_view text);

// When a record was entered, as its time-and-date line says; ordered by time.
struct EnteredAt {
    Day date;
    int hour = 0;  // 0 to 23
    int minute = 0;

    friend bool operator==(const EnteredAt&, const EnteredAt&) = default;
    friend std::strong_ordering operator<=>(const EnteredAt& a, const EnteredAt& b) {
        return std::tie(a.date, a.hour, a.minute) <=> std::tie(b.date, b.hour, b.minute);
    }
};

// One whole record read back.
struct StoredRecord {
    std::size_t number = 0;     // 1 for the first whole record of the file
    std::size_t firstLine = 0;  // the line of the file it starts on, from 1
    std::string text;           // its 30 lines, each ending in '\n' whatever the file used
    FieldSpans spans;
    EnteredAt enteredAt;

    [[nodiscard]] std::string_view field(Field which) const {
        const FieldSpan& span = spans[static_cast<std::size_t>(which)];
        return std::string_view(text).substr(span.offset, span.length);
    }
};

// Something in the file that is not part of a whole record.
struct ScanProblem {
    std::size_t line = 0;  // the first line concerned
    std::string what;
    std::string_view kind;  // the same for every problem of its sort: "a record cut short"
};

// Receives what the scanner finds, in file order.
class ScanListener {
public:
    ScanListener() = default;
    virtual ~ScanListener() = default;
    ScanListener(const ScanListener&) = delete;
    ScanListener& operator=(const ScanListener&) = delete;
    ScanListener(ScanListener&&) = delete;
    ScanListener& operator=(ScanListener&&) = delete;

    // Returns whether to go on: false stops the scan, and nothing more of the file is read or told.
    virtual bool onRecord(const StoredRecord& record) = 0;
    virtual void onProblem(const ScanProblem& problem) = 0;
};

// The longest line read by default, line end aside. No line of a record comes near it: an
// answer is one word typed at a terminal, whose line holds at most 4096 bytes.
inline constexpr std::size_t kDefaultMaxLineBytes = std::size_t{64} * 1024;

class RecordScanner {
public:
    // A line longer than `maxLineBytes` is a problem of its own, skipped without being held.
    explicit RecordScanner(ScanListener& listener, std::size_t maxLineBytes = kDefaultMaxLineBytes)
        : listener_(listener), maxLineBytes_(maxLineBytes) {}

    // The next bytes of the file; ignored once the listener has stopped the scan.
    void feed(std::string_view bytes);
    // The end of the file: reports a record cut short, if any.
    void finish();
    // Whether the listener has stopped the scan.
    [[nodiscard]] bool stopped() const { return stopped_; }

    [[nodiscard]] std::size_t wholeRecords() const { return records_; }
    [[nodiscard]] std::size_t problems() const { return problems_; }

private:
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";  // a file saved by Notepad

    std::string_view skipByteOrderMark(std::string_view bytes);
    void holdPartial(std::string_view bytes);
    void endOverlongLine();
    void takeLine(std::string_view line, bool ended);
    void startRecord(std::string_view line);
    void endRecord();
    std::optional<ScanProblem> checkRecord();
    void flushStray();
    void report(std::size_t line, std::string what, std::string_view kind);
    bool matchLine(std::size_t index, std::size_t lineStart);

    // The last record whose 30 lines all matched: a line equal to the same line of it, and
    // whose values stand on no earlier line, reads the same, without matching it again.
    struct LastRecord {
        std::string text;
        std::array<std::size_t, kRecordLines + 1> lineStarts{};
        FieldSpans spans;
        bool held = false;
    };
    LastRecord last_;
    std::array<std::size_t, kRecordLines + 1> lineStarts_{};

    ScanListener& listener_;
    std::size_t maxLineBytes_;
    std::string partial_;    // a line whose end has not come yet
    bool overlong_ = false;  // the line being read is past the limit: its bytes are dropped
    bool atStart_ = true;    // no byte read yet but those of a byte-order mark
    std::size_t markMatched_ = 0;
    std::size_t lineNumber_ = 0;
    StoredRecord record_;
    std::size_t recordLines_ = 0;  // lines of record_ read so far; 0 when none is open
    std::size_t strayFrom_ = 0;    // the first of a stretch of lines that belong to no record
    std::size_t strayLines_ = 0;
    std::size_t brokenAt_ = 0;  // where a record in that stretch broke off, if one did
    std::size_t records_ = 0;
    std::size_t problems_ = 0;
    bool stopped_ = false;
};

}  // namespace profiledesk
