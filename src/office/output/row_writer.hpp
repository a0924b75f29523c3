#pragma once

// One way out for each format: the rows of export and find, from files or from the database,
// are written by one writer per format, chosen once from the command line.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "office/columns.hpp"
#include "office/output/rows.hpp"

namespace profiledesk::office {

enum class Format : unsigned char {
    csv,    // RFC 4180 with the export's columns
    jsonl,  // an object a line, the figures as numbers
    text,   // each profile as a clerk reads it, controls shown visibly
};

// The format a name on the command line names, in any case ("CSV"); nothing for none.
std::optional<Format> formatNamed(std::string_view name);
// "csv, jsonl or text", for the help and a usage message.
std::string formatNames();

class RowWriter {
public:
    RowWriter() = default;
    virtual ~RowWriter() = default;
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;
    RowWriter(RowWriter&&) = delete;
    RowWriter& operator=(RowWriter&&) = delete;

    // What comes before the first row (CSV's header).
    virtual void begin() {}
    virtual void write(const Row& row, std::size_t recordNumber, std::size_t lineNumber) = 0;
};

struct WriterOptions {
    bool forSpreadsheet = false;  // CSV: a byte-order mark, and no cell read as a formula
    bool withKeys = false;        // each row's record_key and state after the export's columns
};

std::unique_ptr<RowWriter> makeRowWriter(Format format, OutputBuffer& out, const WriterOptions& options = {});

}  // namespace profiledesk::office
