#pragma once

// Draws the report page from the counts. One source file implements this header for each
// kind of build: with the template engine, or a stand-in where the engine does not build.

#include <string>
#include <vector>

#include "office/commands.hpp"
#include "office/report/tally.hpp"

namespace profiledesk::office {

struct ReportInput {
    std::string title;
    DateRange dates;
    std::vector<FileTally> files;  // none when drawn from a database
    ReportCounts counts;
    std::string database;  // the database drawn from, named without a password; empty: the files
};

// The whole HTML page. Every text that comes from a file, the command line or a record
// passes through the template's escaping.
std::string renderReportPage(const ReportInput& input);

}  // namespace profiledesk::office
