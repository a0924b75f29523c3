#pragma once

// A report's figures counted by the office's database: every figure is one GROUP BY query whose
// result rows are read one at a time, so the report's memory stays the same however many
// records and distinct answers the database holds; all of them in one read, so that every
// figure counts the same records.

#include "common/status.hpp"
#include "office/commands.hpp"
#include "office/db/database.hpp"
#include "office/db/records_read.hpp"
#include "office/report/tally.hpp"

namespace profiledesk::office {

// Counts the records `filter` takes, each once as collated; the desks are the sources.
Status countRecords(db::Database& database, const db::RecordFilter& filter, ReportCounts& counts);

}  // namespace profiledesk::office
