#pragma once

// The rows an export writes, CSV or JSON Lines, for every command that gives the export's
// columns: one writer of each, so that they cannot drift apart.

#include <nlohmann/json.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "office/columns.hpp"

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
void appendCsvRow(OutputBuffer& out, std::span<const std::string_view> values, bool forSpreadsheet = false);

// The header row of the export's CSV; `withKeys` adds record_key and state.
void appendCsvHeader(OutputBuffer& out, bool withKeys = false);

// Where nlohmann-json's writer puts what it writes: an output buffer, with no string between.
class JsonOutput final : public nlohmann::detail::output_adapter_protocol<char> {
public:
    void to(OutputBuffer& out) { out_ = &out; }
    void write_character(char c) override { out_->put(c); }
    void write_characters(const char* s, std::size_t length) override { out_->append({s, length}); }

private:
    OutputBuffer* out_ = nullptr;
};

// The export's JSON object on a line of its own: text as UTF-8 (bytes that are not replaced),
// whole numbers and figures as numbers. A row whose every value the library would write as it
// stands is copied straight into the output; in any other, each value goes through the
// library's own writer, its values kept from row to row so that their room is reused.
class JsonRowWriter {
public:
    // `withKeys` adds each row's record_key and state.
    explicit JsonRowWriter(bool withKeys = false);
    void append(OutputBuffer& out, const Row& row, std::size_t recordNumber, std::size_t lineNumber);

private:
    // The row written straight into the buffer, where every answer is written as it is and
    // every figure is its digits: most rows. Returns false, writing nothing, for any other.
    bool appendPlain(OutputBuffer& out, const Row& row, std::size_t recordNumber, std::size_t lineNumber);

    [[nodiscard]] bool keysPlain(const Row& row) const;
    void appendKeys(OutputBuffer& out, const Row& row);

    bool withKeys_;
    std::array<std::string, kColumnCount> keys_;
    // What stands before each value in such a row, and after the last: quotes and a key.
    std::array<std::string, kColumnCount + 1> joints_;
    nlohmann::json text_ = std::string();
    nlohmann::json whole_ = std::uint64_t{0};
    nlohmann::json figure_ = 0.0;
    std::shared_ptr<JsonOutput> output_ = std::make_shared<JsonOutput>();
    nlohmann::detail::serializer<nlohmann::json> writer_{output_, ' ',
                                                         nlohmann::json::error_handler_t::replace};
};

}  // namespace profiledesk::office
