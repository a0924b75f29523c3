#include "office/serve/view_data.hpp"

#include <algorithm>
#include <map>
#include <optional>

#include "common/utf8.hpp"
#include "office/corrections/corrections.hpp"
#include "office/db/answer_index.hpp"
#include "office/db/records_read.hpp"
#include "office/db/schema.hpp"
#include "office/fold/caseless.hpp"
#include "office/quality.hpp"

namespace profiledesk::office::serve {

namespace {

// The records' columns a list reads, before the export's.
constexpr std::size_t kListColumns = 4;  // record_key, state, gone, forgotten

// Rows of `sql` in its order, to `reader` until it says stop. PostgreSQL reads them through a
// cursor a thousand at a time, so that a page found early ends the read early and the server
// plans for the first rows (an index scan) rather than for all of them (a sort).
Status readInOrder(db::Database& db, const std::string& sql, const std::vector<std::string>& texts,
                   const db::RowReader& reader) {
    const std::vector<db::Value> values = db::textValues(texts);
    Status status = db.beginRead();
    if (status.isOk() && db.dialect().kind == db::Kind::postgres) {
        status = db.run("DECLARE view_rows NO SCROLL CURSOR FOR " + sql, values);
        bool more = true;
        while (status.isOk() && more) {
            std::size_t rows = 0;
            status = db.run("FETCH 1000 FROM view_rows", {}, [&](const db::Row& row) {
                ++rows;
                more = reader(row);
                return more;
            });
            more = more && rows == 1000;
        }
    } else if (status.isOk()) {
        status = db.run(sql, values, reader);
    }
    // Only read: ending it either way leaves the database as it was.
    db.rollback();
    return status;
}

std::string listSql(const db::Dialect& dialect, const std::string& where) {
    return "SELECT record_key, state, gone, forgotten, " + db::valueColumns() + " FROM " +
           std::string(db::kRecordsTable) + where + " ORDER BY " + std::string(db::kDayColumn) + ", source" +
           std::string(dialect.bytesOrder) + ", record";
}

void fill(const db::Row& row, ListedRecord& record) {
    record.key.assign(row.text(0));
    record.state.assign(row.text(1));
    record.gone = row.integer(2) != 0;
    record.forgotten = row.integer(3) != 0;
    for (std::size_t i = 0; i < kColumnCount; ++i) {
        record.values.at(i).assign(row.text(kListColumns + i));
    }
}

// Takes the records a list keeps, one page of them, from those it is handed in order.
class Pager {
public:
    explicit Pager(std::size_t pageNumber, ListPage& page)
        : skip_((std::max<std::size_t>(pageNumber, 1) - 1) * kPageSize), page_(page) {}

    // Whether to read on.
    bool keep(ListedRecord record) {
        if (skip_ > 0) {
            --skip_;
            return true;
        }
        if (page_.records.size() == kPageSize) {
            page_.more = true;
            return false;
        }
        page_.records.push_back(std::move(record));
        return true;
    }

private:
    std::size_t skip_;
    ListPage& page_;
};

}  // namespace

Status searchRecords(db::Database& db, const SearchQuery& query, ListPage& page) {
    page = {};
    std::optional<std::size_t> only;
    if (!query.field.empty()) {
        Result<std::size_t> column = answerColumn(query.field);
        if (!column.isOk()) {
            return column.status();
        }
        only = column.value();
    }
    if (!isUtf8(query.text)) {
        return Status::usage("the text to find is not UTF-8");
    }
    CaselessSearch search(query.text);
    if (!query.text.empty() && search.folded().empty()) {
        return Status::usage(
            "the text to find holds only characters that are not seen (such as U+200B or U+00AD)");
    }
    // The records the index of answers names, each searched as find does.
    db::RecordNumbers named;
    const db::RecordNumbers* narrowed = nullptr;
    if (!query.text.empty()) {
        Result<const db::RecordNumbers*> indexed = db::narrowSearch(db, search, named);
        if (!indexed.isOk()) {
            return indexed.status();
        }
        narrowed = indexed.value();
    }
    std::vector<std::string> texts;
    std::string where = db::recordsWhere(
        db.dialect(), db::RecordFilter{query.dates, query.everything, false, narrowed}, texts);
    if (!query.desk.empty()) {
        texts.push_back(query.desk);
        where.append(where.empty() ? " WHERE " : " AND ")
            .append("source = ")
            .append(db.dialect().placeholder(static_cast<int>(texts.size())));
    }
    Pager pager(query.page, page);
    ListedRecord record;
    return readInOrder(db, listSql(db.dialect(), where), texts, [&](const db::Row& row) {
        bool found = query.text.empty();
        for (std::size_t i = kFirstAnswer; !found && i < kColumnCount; ++i) {
            found = (!only || *only == i) && search.foundIn(row.text(kListColumns + i));
        }
        if (!found) {
            return true;
        }
        fill(row, record);
        return pager.keep(record);
    });
}

std::vector<std::string> reasonsToLook(const ListedRecord& record) {
    std::vector<std::string> reasons;
    if (record.state == "needs-look") {
        reasons.emplace_back("marked as needing a look");
    }
    std::array<std::string_view, kColumnCount> values;
    std::copy(record.values.begin(), record.values.end(), values.begin());
    std::vector<Finding> findings = lookAt(values);
    std::transform(findings.begin(), findings.end(), std::back_inserter(reasons),
                   [](Finding& finding) { return std::move(finding.what); });
    return reasons;
}

Status recordsToLookAt(db::Database& db, std::size_t pageNumber, ListPage& page) {
    page = {};
    Pager pager(pageNumber, page);
    ListedRecord record;
    // Collate and every correction keep the rules a record's answers break in `looks`.
    std::vector<std::string> texts;
    std::string where = db::recordsWhere(db.dialect(), db::RecordFilter{}, texts);
    where.append(where.empty() ? " WHERE " : " AND ").append("(looks <> '' OR state = 'needs-look')");
    return readInOrder(db, listSql(db.dialect(), where), texts, [&](const db::Row& row) {
        fill(row, record);
        record.reasons = reasonsToLook(record);
        return pager.keep(record);
    });
}

Status deskSummaries(db::Database& db, std::vector<DeskSummary>& desks) {
    desks.clear();
    std::map<std::string, DeskSummary> byDesk;
    Status status = db.beginRead();
    status = status.isOk()
                 ? db.run(
                       "SELECT source, count(*), "
                       "sum(CASE WHEN state = 'needs-look' OR looks <> '' THEN 1 ELSE 0 END), "
                       "sum(CASE WHEN state = 'rejected' THEN 1 ELSE 0 END), sum(gone), sum(forgotten), "
                       "max(entered_at) FROM " +
                           std::string(db::kRecordsTable) + " GROUP BY source",
                       {},
                       [&byDesk](const db::Row& row) {
                           DeskSummary& desk = byDesk[std::string(row.text(0))];
                           desk.records = row.integer(1);
                           desk.needsLook = row.integer(2);
                           desk.rejected = row.integer(3);
                           desk.gone = row.integer(4);
                           desk.forgotten = row.integer(5);
                           desk.lastEntry.assign(row.text(6));
                           return true;
                       })
                 : status;
    status = status.isOk() ? db.run("SELECT source, records, lines FROM collate_checkpoints", {},
                                    [&byDesk](const db::Row& row) {
                                        DeskSummary& desk = byDesk[std::string(row.text(0))];
                                        desk.collatedTo = row.integer(1);
                                        desk.collatedLines = row.integer(2);
                                        return true;
                                    })
                           : status;
    status = status.isOk() ? db.run("SELECT source, encoding FROM collate_desks", {},
                                    [&byDesk](const db::Row& row) {
                                        byDesk[std::string(row.text(0))].encoding.assign(row.text(1));
                                        return true;
                                    })
                           : status;
    db.rollback();
    for (auto& [name, desk] : byDesk) {
        desk.desk = name;
        desks.push_back(std::move(desk));
    }
    return status;
}

}  // namespace profiledesk::office::serve
