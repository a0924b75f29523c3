#pragma once

// What the view's pages read from the office's database: the search, the records that need a
// look, and each desk's figures. A page is read a row at a time and keeps only what it shows,
// so that a page costs the same memory however many records the office holds.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/status.hpp"
#include "office/columns.hpp"
#include "office/commands.hpp"
#include "office/db/database.hpp"

namespace profiledesk::office::serve {

// One record as a list of them shows it.
struct ListedRecord {
    std::string key;
    std::string state;
    bool gone = false;
    bool forgotten = false;
    std::array<std::string, kColumnCount> values;  // the export's columns, answers as they are now
    std::vector<std::string> reasons;              // why it needs a look, on that page
};

// One page of a list, and whether another follows it.
struct ListPage {
    std::vector<ListedRecord> records;
    bool more = false;
};

struct SearchQuery {
    std::string text;   // found in an answer, case ignored across Unicode as find does; empty: every record
    std::string field;  // the one answer to look in; empty: every answer
    std::string desk;   // the one desk to list; empty: every desk
    DateRange dates;
    bool everything = false;  // rejected, forgotten and gone records too
    std::size_t page = 1;     // from 1
};

inline constexpr std::size_t kPageSize = 50;

// The page of records the query finds, in the order of entry, as find finds them. The one way
// the view searches, so that it can move to an index of folded text with find.
Status searchRecords(db::Database& db, const SearchQuery& query, ListPage& page);

// What makes a record need a look, one reason each: the rules of quality.hpp its answers break,
// and the review state "needs-look"; none for a record that looks right.
std::vector<std::string> reasonsToLook(const ListedRecord& record);

// The page of records that need a look, in the order of entry.
Status recordsToLookAt(db::Database& db, std::size_t pageNumber, ListPage& page);

// One desk as the desks page shows it.
struct DeskSummary {
    std::string desk;
    std::string encoding;        // as the last collate read it; empty: UTF-8
    std::int64_t records = 0;    // all its records, whatever their state
    std::int64_t needsLook = 0;  // in the review state needs-look, or breaking a rule of quality.hpp
    std::int64_t rejected = 0;
    std::int64_t gone = 0;  // no longer in its file
    std::int64_t forgotten = 0;
    std::int64_t collatedTo = -1;  // the last record the last collate read; -1: no checkpoint
    std::int64_t collatedLines = 0;
    std::string lastEntry;  // when its newest record was entered
};

Status deskSummaries(db::Database& db, std::vector<DeskSummary>& desks);

}  // namespace profiledesk::office::serve
