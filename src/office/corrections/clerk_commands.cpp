// The clerk's commands: show, correct, review and forget, each on records named by their keys.

#include <algorithm>
#include <string>
#include <vector>

#include "common/visible.hpp"
#include "office/commands.hpp"
#include "office/corrections/corrections.hpp"
#include "office/db/migrate.hpp"
#include "office/db/schema.hpp"

namespace profiledesk::office {

namespace {

// The widest answer's name, and the room after it.
constexpr std::size_t kNameWidth = 20 + 2;
constexpr std::size_t kValueWidth = 24;

Result<std::unique_ptr<db::Database>> openForClerk(const ClerkOptions& options, Streams& console,
                                                   db::Access access) {
    return db::openOffice(options.db, access, db::OpenOptions{"--db", options.waitSeconds},
                          [&console](const std::string& told) { tellError(console, told); });
}

// "2026-12-06 15:53" from "2026-12-06T15:53".
std::string shownTime(std::string_view iso) {
    std::string shown(iso);
    if (shown.size() > 10 && shown[10] == 'T') {
        shown[10] = ' ';
    }
    return visibleText(shown);
}

void showRecord(const OfficeRecord& record, std::string& out) {
    out.append("record ").append(record.key).append("\n");
    out.append("  desk ").append(visibleText(record.now.at(0))).append(", record ").append(record.now.at(1));
    out.append(" at line ").append(record.now.at(2)).append(", entered ").append(shownTime(record.now.at(3)));
    out.append("\n  state ").append(record.state);
    out.append(record.gone ? "; gone from its desk's file" : "");
    out.append(record.forgotten ? "; its answers erased on request" : "");
    out.append(", revision ").append(std::to_string(record.revision)).append("\n");
    out.append("  ").append(kNameWidth, ' ');
    out.append("as written").append(kValueWidth - 10, ' ').append("now\n");
    for (std::size_t i = 0; i < kAnswerCount; ++i) {
        const std::string_view name = kColumns.at(kFirstAnswer + i).name;
        const std::string written = visibleText(record.written.at(i));
        const std::string now = visibleText(record.now.at(kFirstAnswer + i));
        out.append("  ").append(name).append(kNameWidth - name.size(), ' ').append(written);
        if (now != written) {
            out.append(written.size() < kValueWidth ? kValueWidth - written.size() : 1, ' ').append(now);
        }
        out.append("\n");
    }
    out.append("  history");
    out.append(record.history.empty() ? ": none\n" : "\n");
    for (const Change& change : record.history) {
        out.append("    ").append(shownTime(change.at)).append("  ").append(visibleText(change.by));
        out.append("  ").append(change.action);
        if (!change.field.empty()) {
            out.append(" ").append(change.field).append(": ").append(visibleText(change.oldValue));
            out.append(" -> ").append(visibleText(change.newValue));
        }
        if (!change.why.empty()) {
            out.append("  (").append(visibleText(change.why)).append(")");
        }
        out.append("\n");
    }
}

// The keys among the arguments, the rest set apart.
struct Arguments {
    std::vector<std::string> keys;
    std::vector<FieldValue> values;  // FIELD=VALUE
    std::vector<std::string> states;
};

Arguments sorted(const std::vector<std::string>& arguments) {
    Arguments sorted;
    for (const std::string& argument : arguments) {
        const std::size_t equals = argument.find('=');
        if (equals != std::string::npos) {
            sorted.values.push_back({argument.substr(0, equals), argument.substr(equals + 1)});
        } else if (std::find(db::kStates.begin(), db::kStates.end(), argument) != db::kStates.end()) {
            sorted.states.push_back(argument);
        } else {
            sorted.keys.push_back(argument);
        }
    }
    return sorted;
}

// Opens the database and finds the keys, or tells why not.
struct Opened {
    std::unique_ptr<db::Database> db;
    std::vector<std::string> keys;
    Clerk clerk;
};

Result<Opened> openWithKeys(const ClerkOptions& options, const std::vector<std::string>& keys,
                            Streams& console, bool changes) {
    if (keys.empty()) {
        return Status::usage("name the records by their keys (find shows each profile's key)");
    }
    auto opened = openForClerk(options, console, changes ? db::Access::write : db::Access::read);
    if (!opened.isOk()) {
        return opened.status();
    }
    Opened result{std::move(opened).value(), {}, {}};
    Result<std::vector<std::string>> found = resolveKeys(*result.db, keys);
    if (!found.isOk()) {
        return found.status();
    }
    result.keys = std::move(found).value();
    if (changes) {
        Result<std::string> by = clerkName(*result.db, options.by, options.login);
        if (!by.isOk()) {
            return by.status();
        }
        result.clerk = Clerk{std::move(by).value(), options.at};
    }
    return result;
}

std::string recordsText(std::size_t count) {
    return count == 1 ? "1 record" : std::to_string(count) + " records";
}

int said(Streams& console, const std::string& line) {
    console.out << line << '\n';
    return tellIfOutputFailed(console) ? 1 : 0;
}

}  // namespace

int runShow(const ClerkOptions& options, Streams& console) {
    auto opened = openWithKeys(options, options.arguments, console, false);
    if (!opened.isOk()) {
        return tellFailure(console, opened.status());
    }
    std::string out;
    for (const std::string& key : opened.value().keys) {
        Result<OfficeRecord> record = readRecord(*opened.value().db, key);
        if (!record.isOk()) {
            return tellFailure(console, record.status());
        }
        out.append(out.empty() ? "" : "\n");
        showRecord(record.value(), out);
    }
    console.out << out;
    return tellIfOutputFailed(console) ? 1 : 0;
}

int runCorrect(const ClerkOptions& options, Streams& console) {
    const Arguments arguments = sorted(options.arguments);
    if (arguments.values.empty() || !arguments.states.empty()) {
        return tellFailure(console, Status::usage("name what to correct as FIELD=VALUE (surname=Lovelace)"));
    }
    auto opened = openWithKeys(options, arguments.keys, console, true);
    if (!opened.isOk()) {
        return tellFailure(console, opened.status());
    }
    std::size_t changed = 0;
    const Status status = correct(*opened.value().db, opened.value().keys, arguments.values,
                                  opened.value().clerk, options.why, std::nullopt, &changed);
    if (!status.isOk()) {
        return tellFailure(console, status);
    }
    return said(console, "corrected " + recordsText(changed));
}

int runReview(const ClerkOptions& options, Streams& console) {
    const Arguments arguments = sorted(options.arguments);
    if (arguments.states.size() != 1 || !arguments.values.empty()) {
        return tellFailure(
            console,
            Status::usage("name one review state (new, approved, needs-look or rejected) and the keys"));
    }
    auto opened = openWithKeys(options, arguments.keys, console, true);
    if (!opened.isOk()) {
        return tellFailure(console, opened.status());
    }
    std::size_t changed = 0;
    const Status status = review(*opened.value().db, opened.value().keys, arguments.states.front(),
                                 opened.value().clerk, options.why, std::nullopt, &changed);
    if (!status.isOk()) {
        return tellFailure(console, status);
    }
    return said(console, recordsText(changed) + " now " + arguments.states.front());
}

int runForget(const ClerkOptions& options, Streams& console) {
    auto opened = openWithKeys(options, options.arguments, console, true);
    if (!opened.isOk()) {
        return tellFailure(console, opened.status());
    }
    const std::vector<std::string>& keys = opened.value().keys;
    // The desks whose files still hold the answers, to be told.
    std::vector<std::string> desks;
    for (const std::string& key : keys) {
        Result<OfficeRecord> record = readRecord(*opened.value().db, key);
        if (record.isOk() && std::find(desks.begin(), desks.end(), record.value().now.at(0)) == desks.end()) {
            desks.push_back(record.value().now.at(0));
        }
    }
    const Status status = forget(*opened.value().db, keys, opened.value().clerk, options.why);
    if (!status.isOk()) {
        return tellFailure(console, status);
    }
    std::string named;
    for (const std::string& desk : desks) {
        named.append(named.empty() ? "" : ", ").append(visibleText(desk));
    }
    return said(console, "erased the answers of " + recordsText(keys.size()) +
                             " in the database; the desk's own file still holds them (" + named + ")");
}

}  // namespace profiledesk::office
