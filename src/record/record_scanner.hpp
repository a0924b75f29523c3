#pragma once

// Reads records back from the bytes of a record file, in pieces of any size, keeping no
// more than the record being read. Files from any desk are taken: LF or CRLF line ends,
// other maker details, empty answers, any bytes in a word.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "common/day.hpp"
#include "record/record_match_fast.hpp"

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

// One whole record read back. The scanner hands it on while the bytes it was read from are
// still there, without copying them; a copy of it owns its text, so that it can be kept.
struct StoredRecord {
    std::size_t number = 0;         // 1 for the first whole record of the file
    std::size_t firstLine = 0;      // the line of the file it starts on, from 1
    std::uint64_t startOffset = 0;  // the bytes of the file before it, as fed
    std::uint64_t endOffset = 0;    // and up to its last line end, included
    std::string_view text;          // its 30 lines, each ending in '\n' whatever the file used
    FieldSpans spans;
    EnteredAt enteredAt;
    bool ascii = false;  // every byte of `text` is ASCII

    StoredRecord() = default;
    ~StoredRecord() = default;
    StoredRecord(const StoredRecord& other) { *this = other; }
    StoredRecord& operator=(const StoredRecord& other);

    [[nodiscard]] std::string_view field(Field which) const {
        const FieldSpan& span = spans[static_cast<std::size_t>(which)];
        return text.substr(span.offset, span.length);
    }

private:
    std::string kept_;  // the text of a copy
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

// Where a scan begins: the start of the file, or the end of a whole record read before,
// so that the records after it are numbered as a read from the start numbers them.
struct ScanStart {
    std::uint64_t offset = 0;  // bytes before the first one fed
    std::size_t lines = 0;     // lines before it
    std::size_t records = 0;   // whole records before it
};

// The longest line read by default, line end aside. No line of a record comes near it: an
// answer is one word typed at a terminal, whose line holds at most 4096 bytes.
inline constexpr std::size_t kDefaultMaxLineBytes = std::size_t{64} * 1024;

// A record found whole in a piece of a file, where it starts in the piece and its values.
struct FoundRecord {
    std::size_t offset = 0;
    std::size_t length = 0;  // up to its last '\n', included
    FieldSpans spans;
    // Whether its figures are numbers and its time and date can be read, which it then holds;
    // a record that is not sound is checked again by the scanner, which tells why.
    bool sound = false;
    EnteredAt enteredAt;
    bool ascii = false;
};

// Finds the records that lie whole in `piece` from its first line that starts at or after
// `from`, as the scanner would match them there, so that another thread can do it ahead of
// the scanner. Each is appended to `found`, in order.
void findWholeRecords(std::string_view piece, std::size_t from, std::size_t maxLineBytes,
                      RecordLineMatcher& lines, std::vector<FoundRecord>& found);

class RecordScanner {
public:
    // A line longer than `maxLineBytes` is a problem of its own, skipped without being held.
    // A scan that starts past a record reads no byte-order mark: one stands only at the start.
    explicit RecordScanner(ScanListener& listener, std::size_t maxLineBytes = kDefaultMaxLineBytes,
                           const ScanStart& start = {})
        : listener_(listener),
          maxLineBytes_(maxLineBytes),
          atStart_(start.offset == 0),
          lineNumber_(start.lines),
          records_(start.records),
          fed_(start.offset),
          offset_(start.offset) {}

    // The next bytes of the file; ignored once the listener has stopped the scan. `known`
    // holds records already found whole in these bytes (findWholeRecords()): where the scan
    // comes to one, it takes it as found.
    void feed(std::string_view bytes, std::span<const FoundRecord> known = {});
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
    std::size_t takeWholeRecord(std::string_view bytes, std::span<const FoundRecord>& found);
    void takeLine(std::string_view line, bool ended, bool inFeed);
    void startRecord(std::string_view line, bool inFeed);
    bool addLine(std::string_view line, bool inFeed);
    void holdRecord();
    // `ascii`, where given, is whether the record is, as its match told; otherwise it is looked at.
    void endRecord(const FoundRecord* found = nullptr, std::optional<bool> ascii = std::nullopt);
    std::optional<ScanProblem> checkRecord();
    void flushStray();
    void report(std::size_t line, std::string what, std::string_view kind);

    ScanListener& listener_;
    std::size_t maxLineBytes_;
    std::string partial_;    // a line whose end has not come yet
    bool overlong_ = false;  // the line being read is past the limit: its bytes are dropped
    bool atStart_ = true;    // no byte read yet but those of a byte-order mark
    std::size_t markMatched_ = 0;
    std::size_t lineNumber_ = 0;
    StoredRecord record_;
    RecordLineMatcher lines_;
    std::size_t recordLines_ = 0;  // lines of record_ read so far; 0 when none is open
    // Those lines, each ending in '\n': in the bytes being fed, from `placed_` on, while they
    // all lie there with LF ends (most records); otherwise copied into `held_`.
    const char* placed_ = nullptr;
    std::size_t placedBytes_ = 0;
    std::string held_;
    std::size_t strayFrom_ = 0;  // the first of a stretch of lines that belong to no record
    std::size_t strayLines_ = 0;
    std::size_t brokenAt_ = 0;  // where a record in that stretch broke off, if one did
    std::size_t records_ = 0;
    std::size_t problems_ = 0;
    bool stopped_ = false;
    const char* fedFrom_ = nullptr;  // the start of the bytes being fed
    std::uint64_t fed_ = 0;          // bytes of the file fed so far, a byte-order mark's included
    std::uint64_t offset_ = 0;       // bytes before the line being taken
    std::uint64_t lineEnd_ = 0;      // bytes up to the end of that line
};

}  // namespace profiledesk
