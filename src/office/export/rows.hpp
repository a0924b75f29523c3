#pragma once

// The rows an export writes, CSV or JSON Lines, for every command that gives the export's
// columns: one writer of each, so that they cannot drift apart.

#include <nlohmann/json.hpp>

#include <array>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <string_view>
#include <vector>

#include "office/io/columns.hpp"

namespace profiledesk::office {

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

// One CSV row of the values, RFC 4180, ending in CRLF; `forSpreadsheet` puts a ' before a
// cell a spreadsheet would run as a formula.
void appendCsvRow(OutputBuffer& out, const std::array<std::string_view, kColumnCount>& values,
                  bool forSpreadsheet = false);

// The header row of the export's CSV.
void appendCsvHeader(OutputBuffer& out);

// The export's JSON object on a line of its own: text as UTF-8 (bytes that are not replaced),
// whole numbers and figures as numbers. `object` keeps the keys from row to row.
class JsonRowWriter {
public:
    JsonRowWriter();
    void append(OutputBuffer& out, const Row& row, std::size_t recordNumber, std::size_t lineNumber);

private:
    nlohmann::ordered_json object_;
};

}  // namespace profiledesk::office
