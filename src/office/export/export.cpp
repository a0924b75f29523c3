#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "common/output_watch.hpp"
#include "common/utf8.hpp"
#include "office/commands.hpp"
#include "office/io/columns.hpp"
#include "office/io/desk_file.hpp"
#include "office/io/output_file.hpp"
#include "office/io/progress.hpp"

namespace profiledesk::office {

namespace {

constexpr std::size_t kOutputBufferSize = std::size_t{1} << 20;

// Collects rows in one fixed buffer and hands the sink large pieces: a row at a time
// through a stream costs more than reading the records does.
class OutputBuffer {
public:
    explicit OutputBuffer(std::ostream& sink) : sink_(sink), data_(kOutputBufferSize) {}
    ~OutputBuffer() = default;
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;
    OutputBuffer(OutputBuffer&&) = delete;
    OutputBuffer& operator=(OutputBuffer&&) = delete;

    void append(std::string_view bytes) {
        if (bytes.size() > data_.size() - used_) {
            flush();
            if (bytes.size() > data_.size()) {
                sink_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                return;
            }
        }
        std::memcpy(data_.data() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
    }

    void put(char c) {
        if (used_ == data_.size()) {
            flush();
        }
        data_[used_++] = c;
    }

    // Room for `size` bytes written straight into the buffer, then `commit`ted; a row larger
    // than the whole buffer goes through `large` instead.
    char* reserve(std::size_t size, std::vector<char>& large) {
        if (size > data_.size() - used_) {
            flush();
            if (size > data_.size()) {
                large.resize(size);
                return large.data();
            }
        }
        return data_.data() + used_;
    }

    void commit(std::size_t size, const std::vector<char>& large) {
        if (large.empty()) {
            used_ += size;
        } else {
            sink_.write(large.data(), static_cast<std::streamsize>(size));
        }
    }

    void flush() {
        if (used_ > 0) {
            sink_.write(data_.data(), static_cast<std::streamsize>(used_));
            used_ = 0;
        }
        sink_.flush();
    }

private:
    std::ostream& sink_;
    std::vector<char> data_;
    std::size_t used_ = 0;
};

// Where nlohmann-json's writer puts what it writes: the output buffer, with no string between.
class JsonOutput final : public nlohmann::detail::output_adapter_protocol<char> {
public:
    explicit JsonOutput(OutputBuffer& out) : out_(out) {}
    void write_character(char c) override { out_.put(c); }
    void write_characters(const char* s, std::size_t length) override { out_.append({s, length}); }

private:
    OutputBuffer& out_;
};

constexpr std::array<bool, 256> kNeedsQuotes = [] {
    std::array<bool, 256> special{};
    for (const char c : {',', '"', '\r', '\n'}) {
        special.at(static_cast<unsigned char>(c)) = true;
    }
    return special;
}();

// RFC 4180: a field is quoted when it holds a comma, a quote or a line end, and a quote
// inside is doubled. Writes at `to`, which has room for twice the field and its quotes.
char* putCsvField(char* to, std::string_view value) {
    // Copied on the guess that it needs no quotes, which holds for nearly every field.
    bool special = false;
    char* const start = to;
    for (const char c : value) {
        special |= kNeedsQuotes[static_cast<unsigned char>(c)];
        *to++ = c;
    }
    if (!special) {
        return to;
    }
    to = start;
    *to++ = '"';
    for (const char c : value) {
        *to++ = c;
        if (c == '"') {
            *to++ = '"';
        }
    }
    *to++ = '"';
    return to;
}

// Whether every byte of `text` is ASCII, checked without a branch a byte, as most answers are.
bool isAscii(std::string_view text) {
    return std::accumulate(text.begin(), text.end(), 0U,
                           [](unsigned any, char c) { return any | static_cast<unsigned char>(c); }) < 0x80;
}

// Whether `value` is a plain decimal number ("-0.5", "1.52416e+12"): a spreadsheet reads it as
// that number, so it stays one, though it may start with a sign.
bool isPlainNumber(std::string_view value) {
    const auto digits = [&value] {
        const std::size_t count = std::min(value.find_first_not_of("0123456789"), value.size());
        value.remove_prefix(count);
        return count > 0;
    };
    if (value.starts_with('-') || value.starts_with('+')) {
        value.remove_prefix(1);
    }
    if (!digits()) {
        return false;
    }
    if (value.starts_with('.')) {
        value.remove_prefix(1);
        if (!digits()) {
            return false;
        }
    }
    if (value.starts_with('e') || value.starts_with('E')) {
        value.remove_prefix(1);
        if (value.starts_with('-') || value.starts_with('+')) {
            value.remove_prefix(1);
        }
        if (!digits()) {
            return false;
        }
    }
    return value.empty();
}

// A cell a spreadsheet would run as a formula (=HYPERLINK(...), @SUM(...), -2+3 and the like).
bool readsAsFormula(std::string_view value) {
    return !value.empty() && std::string_view("=+-@\t\r").find(value.front()) != std::string_view::npos &&
           !isPlainNumber(value);
}

void appendCsvRow(OutputBuffer& out, const std::array<std::string_view, kColumnCount>& values,
                  bool forSpreadsheet = false) {
    const std::size_t room =
        std::accumulate(values.begin(), values.end(), kColumnCount * 4 + 2,
                        [](std::size_t sum, std::string_view value) { return sum + 2 * value.size(); });
    std::vector<char> large;
    char* const start = out.reserve(room, large);
    char* to = start;
    std::string guarded;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        if (i > 0) {
            *to++ = ',';
        }
        if (forSpreadsheet && readsAsFormula(values.at(i))) {
            // The apostrophe makes the cell text, and the spreadsheet does not show it.
            guarded.assign(1, '\'').append(values.at(i));
            to = putCsvField(to, guarded);
        } else {
            to = putCsvField(to, values.at(i));
        }
    }
    *to++ = '\r';
    *to++ = '\n';
    out.commit(static_cast<std::size_t>(to - start), large);
}

// Writes the rows of one file's records that fall in the days asked for, and tells the
// file's problems as FILE:LINE: what.
class Exporter final : public DeskListener {
public:
    Exporter(Streams& console, const ExportOptions& options, OutputBuffer& out, Progress& progress)
        : console_(console), options_(options), out_(out), progress_(progress) {
        // The keys are plain ASCII words, written as they are; each row opens with the first.
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            jsonKeys_.at(i).append(i == 0 ? "{\"" : ",\"").append(kColumns.at(i).name).append("\":");
        }
    }

    void startFile(const DeskInput& desk) {
        endFile();
        desk_ = &desk;
        if (options_.format == "jsonl" && !isUtf8(desk.name)) {
            tell(0, desk.name == desk.path ? "the file's name is not UTF-8" : "the desk's name is not UTF-8");
        }
    }

    bool onRecord(const StoredRecord& record, std::string_view /*stored*/) override {
        progress_.addRecords(1);
        if (!options_.dates.contains(record.enteredAt)) {
            return true;
        }
        fillRow(desk_->name, record, row_);
        if (options_.format == "jsonl") {
            appendJsonRow(record);
        } else {
            appendCsvRow(out_, row_.values, options_.forSpreadsheet);
        }
        return true;
    }

    void onProblem(const ScanProblem& problem) override { tell(problem.line, problem.what, problem.kind); }
    // Told as a problem is, but the records are whole: no exit status changes for it.
    void onNote(const ScanProblem& note) override {
        progress_.finish();
        teller_.tell(desk_->path, note.line, note.what, note.kind);
    }

    // What the last file had that was not told in full.
    void endFile() {
        if (desk_ != nullptr) {
            progress_.finish();
            teller_.endFile(desk_->path);
        }
    }

    void writeHeader() {
        if (options_.format == "csv") {
            if (options_.forSpreadsheet) {
                out_.append("\xEF\xBB\xBF");  // so that a spreadsheet reads the cells as UTF-8
            }
            std::array<std::string_view, kColumnCount> names;
            std::transform(kColumns.begin(), kColumns.end(), names.begin(),
                           [](const Column& column) { return column.name; });
            appendCsvRow(out_, names);
        }
    }

    [[nodiscard]] bool toldProblems() const { return told_; }

private:
    void appendJsonRow(const StoredRecord& record) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const Column& column = kColumns.at(i);
            out_.append(jsonKeys_.at(i));
            switch (column.kind) {
                case ColumnKind::text: {
                    auto& text = jsonText_.get_ref<std::string&>();
                    const std::string_view value = row_.values.at(i);
                    if (isAscii(value)) {
                        text.assign(value);
                    } else {
                        // JSON holds only UTF-8; the file's name was told once, at its start.
                        text.clear();
                        (void)replaceNotUtf8(text, value);
                    }
                    jsonWriter_.dump(jsonText_, false, false, 0);
                    break;
                }
                case ColumnKind::whole:
                    jsonWhole_.get_ref<std::uint64_t&>() = wholeValue(column, record);
                    jsonWriter_.dump(jsonWhole_, false, false, 0);
                    break;
                case ColumnKind::figure:
                    // The scanner passes only records whose figures read as numbers.
                    jsonFigure_.get_ref<double&>() = parseFigure(row_.values.at(i)).value_or(0.0);
                    jsonWriter_.dump(jsonFigure_, false, false, 0);
                    break;
            }
        }
        out_.append("}\n");
    }

    void tell(std::size_t line, const std::string& what, std::string_view kind = {}) {
        progress_.finish();
        teller_.tell(desk_->path, line, what, kind);
        told_ = true;
    }

    Streams& console_;
    const ExportOptions& options_;
    OutputBuffer& out_;
    Progress& progress_;
    const DeskInput* desk_ = nullptr;
    Row row_;
    // Each value goes through the library's own writer, straight into the output; the values
    // are kept from row to row so that their room is reused.
    std::array<std::string, kColumnCount> jsonKeys_;
    nlohmann::json jsonText_ = std::string();
    nlohmann::json jsonWhole_ = std::uint64_t{0};
    nlohmann::json jsonFigure_ = 0.0;
    nlohmann::detail::serializer<nlohmann::json> jsonWriter_{std::make_shared<JsonOutput>(out_), ' ',
                                                             nlohmann::json::error_handler_t::replace};
    bool told_ = false;
    ProblemTeller teller_{console_.err, console_.allProblems};
};

// Exports every file into `sink`; the status to end with, problems told on the way.
int exportFiles(const ExportOptions& options, Streams& console, std::ostream& sink, bool showProgress) {
    OutputBuffer out(sink);
    Progress progress(console.err, showProgress, totalSize(options.desks));
    Exporter exporter(console, options, out, progress);
    exporter.writeHeader();
    int status = 0;
    for (const DeskInput& desk : options.desks) {
        exporter.startFile(desk);
        ScanCounts counts;
        const Status read = scanDeskFile(desk, exporter, counts, console.maxLineBytes,
                                         [&progress](std::size_t bytes) { progress.addBytes(bytes); });
        if (!read.isOk()) {
            progress.finish();
            tellError(console, read.message());
            status = 1;
        }
    }
    exporter.endFile();
    out.flush();
    progress.finish();
    return exporter.toldProblems() ? 1 : status;
}

int exportToFile(const ExportOptions& options, Streams& console) {
    const std::string& output = options.output;
    if (isOneOf(output, options.desks)) {
        tellError(console, output + ": is one of the files to export; name another output file");
        return 2;
    }
    OutputFile file(output);
    if (!file.opened().isOk()) {
        tellError(console, file.opened().message());
        return file.opened().code() == Status::Code::notRegularFile ? 2 : 1;  // a folder
    }
    const int status = exportFiles(options, console, file.stream(), console.errIsTerminal);
    const Status committed = file.commit();
    if (!committed.isOk()) {
        tellError(console, committed.message());
        return 1;
    }
    return status;
}

}  // namespace

int runExport(const ExportOptions& options, Streams& console) {
    if (!options.output.empty()) {
        return exportToFile(options, console);
    }
    const int status = exportFiles(options, console, console.out, false);
    return tellIfOutputFailed(console) ? 1 : status;
}

}  // namespace profiledesk::office
