#include "office/db/migrate.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "office/columns.hpp"
#include "office/db/answer_index.hpp"
#include "office/db/schema.hpp"
#include "office/quality.hpp"

namespace profiledesk::office::db {

namespace {

// Release 1.0.0 left the answers of a PostgreSQL table nullable, where SQLite's were NOT NULL:
// both are NOT NULL now. A NULL that a hand put there reads as no answer, as an empty one does.
Status everyColumnNotNull(Database& db) {
    if (db.dialect().kind != Kind::postgres) {
        return Status::ok();
    }
    std::string fill = "UPDATE " + std::string(kRecordsTable) + " SET ";
    std::string where;
    std::string alter = "ALTER TABLE " + std::string(kRecordsTable);
    // The columns release 1.0.0 had: the export's and the key.
    for (const ColumnDef& column : recordsTable().columns.first(kColumnCount + 1)) {
        const std::string name(column.name);
        const bool first = &column == recordsTable().columns.data();
        fill.append(first ? "" : ", ").append(name).append(" = coalesce(").append(name);
        fill.append(column.type == Type::integer ? ", 0)" : ", '')");
        where.append(first ? " WHERE " : " OR ").append(name).append(" IS NULL");
        alter.append(first ? " " : ", ").append("ALTER COLUMN ").append(name).append(" SET NOT NULL");
    }
    Status status = db.run(fill + where);
    return status.isOk() ? db.run(alter) : status;
}

// A desk's name that is not UTF-8 was kept as its bytes by SQLite (PostgreSQL refused it):
// it is kept as storedName() has it now, in every table, so that the desk's checkpoint is
// found again under that name.
Status namesAsStored(Database& db) {
    if (db.dialect().kind != Kind::sqlite) {
        return Status::ok();
    }
    // The tables release 1.0.0 kept names in, where this one has them.
    std::vector<std::string_view> kept{kRecordsTable};
    Status status = Status::ok();
    for (const TableDef* table : {&checkpointsTable(), &countsTable()}) {
        bool exists = false;
        status = status.isOk() ? db.tableExists(table->name, exists) : status;
        if (exists) {
            kept.push_back(table->name);
        }
    }
    std::vector<std::string> names;
    for (const std::string_view table : kept) {
        status = status.isOk() ? db.run("SELECT DISTINCT source FROM " + std::string(table), {},
                                        [&names](const Row& row) {
                                            const std::string_view name = row.text(0);
                                            if (storedName(name) != name &&
                                                std::find(names.begin(), names.end(), name) == names.end()) {
                                                names.emplace_back(name);
                                            }
                                            return true;
                                        })
                               : status;
    }
    for (const std::string& name : names) {
        const std::string stored = storedName(name);
        const std::array values{Value::of(stored), Value::of(name)};
        for (const std::string_view table : kept) {
            status = status.isOk()
                         ? db.run("UPDATE " + std::string(table) + " SET source = ? WHERE source = ?", values)
                         : status;
        }
    }
    return status;
}

// What needs a look in each record there, as a collate finds it in the records it adds.
Status lookAtEveryRecord(Database& db) {
    std::vector<std::pair<std::string, std::string>> looks;
    Status status = db.run("SELECT " + valueColumns() + ", record_key FROM " + std::string(kRecordsTable), {},
                           [&looks](const Row& row) {
                               std::array<std::string_view, kColumnCount> values{};
                               for (std::size_t i = 0; i < kColumnCount; ++i) {
                                   values.at(i) = row.text(i);
                               }
                               std::string rules = ruleList(lookAt(values, false));
                               if (!rules.empty()) {
                                   looks.emplace_back(row.text(kColumnCount), std::move(rules));
                               }
                               return true;
                           });
    for (const auto& [key, rules] : looks) {
        const std::array values{Value::of(rules), Value::of(key)};
        status = status.isOk()
                     ? db.run(sqlOf({"UPDATE ", kRecordsTable, " SET looks = ", db.dialect().placeholder(1),
                                     " WHERE record_key = ", db.dialect().placeholder(2)}),
                              values)
                     : status;
    }
    return status;
}

// The office's own columns of records and checkpoints, and the index by desk, on tables made
// before them; the tables that are new altogether are made by makeSchema().
Status officeColumns(Database& db) {
    Status status = Status::ok();
    for (const std::string_view column : {"state", "gone", "forgotten", "revision", "looks"}) {
        status = status.isOk() ? db.run(addColumn(db.dialect(), recordsTable(), column)) : status;
    }
    status = status.isOk() ? db.run(createIndex(recordsTable(), recordsTable().indexes[2])) : status;
    status = status.isOk() ? lookAtEveryRecord(db) : status;
    bool checkpoints = false;
    status = status.isOk() ? db.tableExists(checkpointsTable().name, checkpoints) : status;
    if (!status.isOk() || !checkpoints) {
        return status;  // made whole by makeSchema()
    }
    status = db.run(addColumn(db.dialect(), checkpointsTable(), "kept_rows"));
    // Counts are kept now only where the desk's rows do not tell them.
    bool counts = false;
    status = status.isOk() ? db.tableExists(countsTable().name, counts) : status;
    status = status.isOk() && counts ? db.run("DELETE FROM collate_counts WHERE times = " +
                                              rowsHolding("collate_counts.content", "collate_counts.source"))
                                     : status;
    // The rows each desk has now are the rows its checkpoint speaks for.
    return status.isOk()
               ? db.run("UPDATE collate_checkpoints SET kept_rows = (SELECT count(*) FROM " +
                        std::string(kRecordsTable) + " r WHERE r.source = collate_checkpoints.source)")
               : status;
}

// One step from a version to the next.
struct Migration {
    int to;
    Status (*step)(Database&, const Teller&);
};

Status toVersion2(Database& db, const Teller& /*tell*/) {
    Status status = everyColumnNotNull(db);
    status = status.isOk() ? namesAsStored(db) : status;
    return status.isOk() ? officeColumns(db) : status;
}

// The index of answers, made and filled from the records there.
Status toVersion3(Database& db, const Teller& tell) {
    bool records = false;
    Status status = db.tableExists(kRecordsTable, records);
    status = status.isOk() ? makeSchema(db) : status;
    status = status.isOk() && records ? indexRecords(db) : status;
    return status.isOk() ? makeAnswerSearch(db, tell) : status;
}

// Checkpoints note how long the log of rows changed by hand was, and PostgreSQL keeps that log.
Status toVersion4(Database& db, const Teller& /*tell*/) {
    bool checkpoints = false;
    Status status = db.tableExists(checkpointsTable().name, checkpoints);
    std::int64_t has = 0;
    // A table made whole by an earlier step has the column already.
    const std::string column =
        db.dialect().kind == Kind::sqlite
            ? "SELECT count(*) FROM pragma_table_info('collate_checkpoints') WHERE name = 'hand_changes'"
            : "SELECT count(*) FROM information_schema.columns WHERE table_schema = current_schema() AND "
              "table_name = 'collate_checkpoints' AND column_name = 'hand_changes'";
    status = status.isOk() && checkpoints ? db.number(column, has) : status;
    status = status.isOk() && checkpoints && has == 0
                 ? db.run(addColumn(db.dialect(), checkpointsTable(), "hand_changes"))
                 : status;
    bool records = false;
    status = status.isOk() ? db.tableExists(kRecordsTable, records) : status;
    return status.isOk() && records ? watchRowsByHand(db) : status;
}

constexpr std::array<Migration, 3> kMigrations{{{2, toVersion2}, {3, toVersion3}, {4, toVersion4}}};

// The version the database holds: a database that kept none but has the records table is
// release 1.0.0's.
Status versionOf(Database& db, int& version, bool& empty) {
    Status status = db.schemaVersion(version);
    bool records = false;
    status = status.isOk() ? db.tableExists(kRecordsTable, records) : status;
    empty = version == 0 && !records;
    version = version == 0 && records ? 1 : version;
    return status;
}

Status migrate(Database& db, const Teller& tell) {
    Status status = db.beginWrite();
    int version = 0;
    bool empty = false;
    // Read again under the writer's lock: another run may have carried it forward meanwhile.
    status = status.isOk() ? versionOf(db, version, empty) : status;
    const int from = version;
    for (const Migration& migration : kMigrations) {
        if (status.isOk() && version < migration.to) {
            status = migration.step(db, tell);
            version = migration.to;
        }
    }
    status = status.isOk() ? makeSchema(db) : status;
    status = status.isOk() ? db.commit() : status;
    if (!status.isOk()) {
        db.rollback();
        return Status::failure(status.code(), "could not carry the database forward from schema version " +
                                                  std::to_string(from) + " to " +
                                                  std::to_string(kSchemaVersion) + ": " + status.message());
    }
    if (from < kSchemaVersion) {
        tell(db.name() + ": carried forward from schema version " + std::to_string(from) + " to " +
             std::to_string(kSchemaVersion));
    }
    return Status::ok();
}

}  // namespace

Status watchRowsByHand(Database& db) {
    if (db.dialect().kind != Kind::postgres) {
        return Status::ok();
    }
    // As its owner, so that a clerk who may change the records need not be given the log; and
    // with the search path it was made with, so that no other table of that name is written.
    const std::string table(kRecordsTable);
    const std::string log(kHandLog);
    // The log and its function are made once, by whoever comes first; a run that makes the
    // records table anew adds the triggers to it.
    bool logged = false;
    Status status = db.tableExists(kHandLog, logged);
    std::int64_t noting = 0;
    status = status.isOk()
                 ? db.number("SELECT count(*) FROM pg_catalog.pg_proc WHERE oid = to_regprocedure('note_" +
                                 log + "()')",
                             noting)
                 : status;
    // Read by every collate, whatever rights it was given: it holds only times.
    status = status.isOk() && !logged
                 ? db.runAll(std::array<std::string, 2>{
                       "CREATE TABLE " + log + " (at TIMESTAMPTZ NOT NULL DEFAULT now())",
                       "GRANT SELECT ON " + log + " TO PUBLIC"})
                 : status;
    status =
        status.isOk() && noting == 0
            ? db.run("CREATE FUNCTION note_" + log +
                     "() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS "
                     "$$ BEGIN IF current_setting('" +
                     std::string(kCollating) + "', true) IS DISTINCT FROM 'on' THEN INSERT INTO " + log +
                     " DEFAULT VALUES; END IF; RETURN NULL; END $$")
            : status;
    return status.isOk() ? db.runAll(std::array<std::string, 4>{
                               "DROP TRIGGER IF EXISTS " + std::string(kRowsTrigger) + " ON " + table,
                               "CREATE TRIGGER " + std::string(kRowsTrigger) +
                                   " AFTER INSERT OR DELETE OR UPDATE OF source ON " + table +
                                   " FOR EACH STATEMENT EXECUTE FUNCTION note_" + log + "()",
                               "DROP TRIGGER IF EXISTS " + std::string(kEmptiedTrigger) + " ON " + table,
                               "CREATE TRIGGER " + std::string(kEmptiedTrigger) + " AFTER TRUNCATE ON " +
                                   table + " FOR EACH STATEMENT EXECUTE FUNCTION note_" + log + "()",
                           })
                         : status;
}

Status rowsChangedByHand(Database& db, std::optional<std::int64_t>& changes) {
    changes.reset();
    if (db.dialect().kind != Kind::postgres) {
        return Status::ok();
    }
    // Both triggers there and firing, and the log they write, which this role may read.
    std::int64_t watching = 0;
    Status status =
        db.number(sqlOf({"SELECT count(*) FROM pg_catalog.pg_trigger WHERE tgrelid = to_regclass('",
                         kRecordsTable, "') AND tgname IN ('", kRowsTrigger, "', '", kEmptiedTrigger,
                         "') AND tgenabled IN ('O', 'A') AND has_table_privilege(to_regclass('", kHandLog,
                         "')::oid, 'SELECT')"}),
                  watching);
    std::int64_t logged = 0;
    status = status.isOk() && watching == 2 ? db.number(sqlOf({"SELECT count(*) FROM ", kHandLog}), logged)
                                            : status;
    if (status.isOk() && watching == 2) {
        changes = logged;
    }
    return status;
}

Status makeSchema(Database& db) {
    Status status = Status::ok();
    for (const TableDef* table : tables()) {
        bool exists = false;
        status = status.isOk() ? db.tableExists(table->name, exists) : status;
        if (!status.isOk() || exists) {
            continue;
        }
        status = db.run(createTable(db.dialect(), *table, false));
        for (const IndexDef& index : table->indexes) {
            status = status.isOk() ? db.run(createIndex(*table, index, false)) : status;
        }
        bool granted = false;
        status =
            status.isOk() && !table->rightsAs.empty() ? db.tableExists(table->rightsAs, granted) : status;
        status =
            status.isOk() && granted ? db.grantAsOn(table->rightsAs, table->name, table->keptInStep) : status;
    }
    int version = 0;
    status = status.isOk() ? db.schemaVersion(version) : status;
    // Only where it changes: a clerk may add records without the right to change the schema.
    return status.isOk() && version != kSchemaVersion ? db.setSchemaVersion(kSchemaVersion) : status;
}

Result<std::unique_ptr<Database>> openOffice(const std::string& name, Access access,
                                             const OpenOptions& options, const Teller& tell) {
    const Opener opener = options.opener ? options.opener : Opener(open);
    Result<std::unique_ptr<Database>> opened = opener(name, access, options);
    if (!opened.isOk()) {
        return opened;
    }
    int version = 0;
    bool empty = false;
    if (Status status = versionOf(*opened.value(), version, empty); !status.isOk()) {
        return status;
    }
    if (version > kSchemaVersion) {
        return Status::failure(opened.value()->name() +
                               ": made by a later release of profiledesk-records (schema version " +
                               std::to_string(version) + "; this release knows up to version " +
                               std::to_string(kSchemaVersion) + ")");
    }
    if (empty && access == Access::read) {
        return Status::failure(Status::Code::notFound, opened.value()->name() + ": has no " +
                                                           std::string(kRecordsTable) +
                                                           " table; collate records into it first");
    }
    if (empty || version == kSchemaVersion) {
        return opened;
    }
    if (access == Access::read && opened.value()->dialect().kind == Kind::sqlite) {
        // Read-only until now: carried forward as a writer would, the file being there.
        opened = opener(name, Access::write, options);
        if (!opened.isOk()) {
            return Status::failure(opened.status().code(),
                                   opened.status().message() +
                                       "; made by an earlier release (schema version " +
                                       std::to_string(version) +
                                       "), it must be carried forward by a run that may "
                                       "write it");
        }
    }
    if (Status status = migrate(*opened.value(), tell); !status.isOk()) {
        return status;
    }
    return opened;
}

}  // namespace profiledesk::office::db
