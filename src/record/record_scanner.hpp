#pragma once

// Reads records back from the bytes of a record file, in pieces of any size, keeping no
// more than the record being read. Files from any desk are taken: LF or CRLF line ends,
// other maker details, empty answers, any bytes in a word.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "record/record_layout.hpp"

namespace profiledesk {

// A figure as a record writes it ("35", "-2.5", "1.52416e+12", "inf"); nothing if the
// text is not a number.
std::optional<double> parseFigure(std::string_view text);

// When a record was entered, as its time-and-date line says.
struct EnteredAt {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;
    int hour = 0;  // 0 to 23
    int minute = 0;
};

// One whole record read back.
struct StoredRecord {
    std::size_t number = 0;         // 1 for the first whole record of the file
    std::size_t firstLine = 0;      // the line of the file it starts on, from 1
    std::uint64_t startOffset = 0;  // the bytes of the file before it, as fed
    std::uint64_t endOffset = 0;    // and up to its last line end, included
    std::string text;               // its 30 lines, each ending in '\n' whatever the file used
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

    virtual void onRecord(const StoredRecord& record) = 0;
    virtual void onProblem(const ScanProblem& problem) = 0;
};

// Where a scan begins: the start of the file, or the end of a whole record read before,
// so that the records after it are numbered as a read from the start numbers them.
struct ScanStart {
    std::uint64_t offset = 0;  // bytes before the first one fed
    std::size_t lines = 0;     // lines before it
    std::size_t records = 0;   // whole records before it
};

class RecordScanner {
public:
    explicit RecordScanner(ScanListener& listener, const ScanStart& start = {})
        : listener_(listener), lineNumber_(start.lines), records_(start.records), offset_(start.offset) {}

    // The next bytes of the file.
    void feed(std::string_view bytes);
    // The end of the file: reports a record cut short, if any.
    void finish();

    [[nodiscard]] std::size_t wholeRecords() const { return records_; }
    [[nodiscard]] std::size_t problems() const { return problems_; }

private:
    void takeLine(std::string_view line, bool ended);
    void startRecord(std::string_view line);
    void endRecord();
    std::optional<ScanProblem> checkRecord();
    void flushStray();
    void report(std::size_t line, std::string what);
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
    std::string partial_;  // a line whose end has not come yet
    std::size_t lineNumber_ = 0;
    StoredRecord record_;
    std::size_t recordLines_ = 0;  // lines of record_ read so far; 0 when none is open
    std::size_t strayFrom_ = 0;    // the first of a stretch of lines that belong to no record
    std::size_t strayLines_ = 0;
    std::size_t brokenAt_ = 0;  // where a record in that stretch broke off, if one did
    std::size_t records_ = 0;
    std::size_t problems_ = 0;
    std::uint64_t offset_ = 0;   // bytes before the line being taken
    std::uint64_t lineEnd_ = 0;  // bytes up to the end of that line
};

}  // namespace profiledesk
