#include "office/serve/pages.hpp"

#include <kainjow/mustache.hpp>

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "common/visible.hpp"
#include "office/db/schema.hpp"

namespace profiledesk::office::serve {

namespace {

namespace mustache = kainjow::mustache;

// The report page's look, and forms that show where the keyboard is.
constexpr std::string_view kFrame = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{{title}} - records office</title>
<style>
body { font-family: sans-serif; margin: 1.5em auto; max-width: 70em; padding: 0 1em; color: #222; }
h1 { font-size: 1.6em; margin-bottom: 0.4em; }
h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; font-size: 0.9em; margin: 0.6em 0 1.2em; }
caption { text-align: left; font-weight: bold; padding-bottom: 0.3em; }
th, td { padding: 0.15em 0.6em; border-bottom: 1px solid #e4e4e4; text-align: left; vertical-align: top; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
.answer { word-break: break-all; }
.changed { background: #fff4d6; }
.none { color: #777; font-style: italic; }
header { display: flex; flex-wrap: wrap; justify-content: space-between; align-items: center;
         border-bottom: 2px solid #3a6ea5; padding-bottom: 0.4em; gap: 0.5em; }
nav a { margin-right: 1em; }
a { color: #1f4e85; }
:focus-visible { outline: 3px solid #e66100; outline-offset: 2px; }
form.inline { display: inline; }
fieldset { border: 1px solid #ccc; margin: 1em 0; padding: 0.6em 1em; }
legend { font-weight: bold; }
.fields { display: grid; grid-template-columns: max-content minmax(10em, 28em); gap: 0.3em 0.8em;
          align-items: center; }
label { font-size: 0.95em; }
input, select, button { font: inherit; padding: 0.15em 0.3em; }
button { background: #3a6ea5; color: #fff; border: 1px solid #2c5582; border-radius: 3px; padding: 0.25em 0.9em; }
button.danger { background: #a51d2d; border-color: #7a1520; }
.notice { background: #e8f3e8; border-left: 4px solid #2e7d32; padding: 0.4em 0.8em; }
.error { background: #fbe9e9; border-left: 4px solid #a51d2d; padding: 0.4em 0.8em; }
.pages a { margin-right: 1.5em; }
</style>
</head>
<body>
<header>
{{#navigation}}<nav aria-label="The office's pages"><a href="/">Search</a><a href="/desks">Desks</a><a href="/report">Report</a><a href="/look">Records that need a look</a></nav>
{{/navigation}}{{#signOut}}<form class="inline" method="post" action="/signout"><input type="hidden" name="csrf" value="{{csrf}}"><span>{{clerk}}</span> <button type="submit">Sign out</button></form>
{{/signOut}}</header>
<main>
<h1>{{title}}</h1>
{{#notice}}<p class="notice" role="status">{{notice}}</p>
{{/notice}}{{#error}}<p class="error" role="alert">{{error}}</p>
{{/error}}{{{body}}}</main>
</body>
</html>
)";

constexpr std::string_view kRecordRow =
    R"({{#records}}<tr><td><a href="/record/{{key}}">{{shortKey}}</a></td><td class="answer">{{desk}}</td><td>{{entered}}</td><td class="answer">{{firstName}}</td><td class="answer">{{surname}}</td><td class="answer">{{placeOfBirth}}</td><td class="answer">{{dateOfBirth}}</td><td>{{state}}</td>{{#withReasons}}<td>{{reasons}}</td>{{/withReasons}}</tr>
{{/records}})";

constexpr std::string_view kSearch = R"(<form method="get" action="/" role="search">
<div class="fields">
<label for="q">Text to find</label><input id="q" name="q" value="{{q}}" maxlength="200" autofocus>
<label for="field">In the answer</label><select id="field" name="field">{{#fields}}<option value="{{value}}"{{#selected}} selected{{/selected}}>{{label}}</option>{{/fields}}</select>
<label for="from">Entered from</label><input id="from" name="from" type="date" value="{{from}}">
<label for="to">Entered to</label><input id="to" name="to" type="date" value="{{to}}">
<label for="everything">Rejected, forgotten and gone records too</label><input id="everything" name="everything" type="checkbox" value="yes"{{#everything}} checked{{/everything}}>
</div>
{{#desk}}<p>Only the desk {{desk}}: <input type="hidden" name="desk" value="{{desk}}"><a href="/">every desk</a></p>
{{/desk}}<p><button type="submit">Search</button></p>
</form>
{{#searched}}<h2 id="found-heading">{{summary}}</h2>
{{#hasRecords}}<table id="found" aria-labelledby="found-heading">
<thead><tr><th>Key</th><th>Desk</th><th>Entered</th><th>First name</th><th>Surname</th><th>Place of birth</th><th>Date of birth</th><th>State</th></tr></thead>
<tbody>
{{> rows}}</tbody>
</table>
{{/hasRecords}}<p class="pages">{{#previous}}<a href="{{previous}}" rel="prev">Previous page</a>{{/previous}}{{#next}}<a href="{{next}}" rel="next">Next page</a>{{/next}}</p>
{{/searched}})";

constexpr std::string_view kRecord = R"(<table id="about">
<tbody>
<tr><th>Key</th><td>{{key}}</td></tr>
<tr><th>Desk</th><td class="answer">{{desk}}</td></tr>
<tr><th>In its file</th><td>record {{number}}, from line {{line}}</td></tr>
<tr><th>Entered</th><td>{{entered}}</td></tr>
<tr><th>State</th><td id="state">{{state}}{{#gone}}; gone from its desk's file{{/gone}}{{#forgotten}}; its answers erased on request{{/forgotten}}</td></tr>
<tr><th>Revision</th><td>{{revision}}</td></tr>
</tbody>
</table>
<table id="answers">
<caption>Answers</caption>
<thead><tr><th>Answer</th><th>As written</th><th>Now</th></tr></thead>
<tbody>
{{#answers}}<tr{{#changed}} class="changed"{{/changed}}><th>{{name}}</th><td class="answer">{{written}}</td><td class="answer">{{now}}</td></tr>
{{/answers}}</tbody>
</table>
<h2 id="history">History</h2>
{{#hasHistory}}<table id="changes" aria-labelledby="history">
<thead><tr><th>When</th><th>Who</th><th>What</th><th>Answer</th><th>Before</th><th>After</th><th>Why</th></tr></thead>
<tbody>
{{#history}}<tr><td>{{at}}</td><td class="answer">{{by}}</td><td>{{action}}</td><td>{{field}}</td><td class="answer">{{old}}</td><td class="answer">{{new}}</td><td class="answer">{{why}}</td></tr>
{{/history}}</tbody>
</table>
{{/hasHistory}}{{^hasHistory}}<p class="none">No changes yet.</p>
{{/hasHistory}}{{^forgotten}}<form method="post" action="/record/{{key}}/correct">
<fieldset>
<legend>Correct answers</legend>
<input type="hidden" name="csrf" value="{{csrf}}"><input type="hidden" name="revision" value="{{revision}}">
<div class="fields">
{{#answers}}<label for="answer-{{name}}">{{name}}</label><input id="answer-{{name}}" name="{{name}}" value="{{now}}" maxlength="1000">
{{/answers}}<label for="correct-why">Why</label><input id="correct-why" name="why" required maxlength="1000">
</div>
<p><button type="submit">Save the corrections</button></p>
</fieldset>
</form>
{{/forgotten}}<form method="post" action="/record/{{key}}/review">
<fieldset>
<legend>Review</legend>
<input type="hidden" name="csrf" value="{{csrf}}"><input type="hidden" name="revision" value="{{revision}}">
<div class="fields">
<label for="review-state">State</label><select id="review-state" name="state">{{#states}}<option value="{{value}}"{{#selected}} selected{{/selected}}>{{value}}</option>{{/states}}</select>
<label for="review-why">Why (may be left empty)</label><input id="review-why" name="why" maxlength="1000">
</div>
<p><button type="submit">Set the state</button></p>
</fieldset>
</form>
{{^forgotten}}<form method="post" action="/record/{{key}}/forget">
<fieldset>
<legend>Forget this person</legend>
<p>Erases every answer of this record in the database, and in its history, on the person's request. The desk's own file still holds them.</p>
<input type="hidden" name="csrf" value="{{csrf}}">
<div class="fields">
<label for="forget-why">Why</label><input id="forget-why" name="why" required maxlength="1000">
<label for="forget-sure">Yes, erase the answers</label><input id="forget-sure" name="sure" type="checkbox" value="yes" required>
</div>
<p><button class="danger" type="submit">Forget</button></p>
</fieldset>
</form>
{{/forgotten}})";

constexpr std::string_view kDesks = R"({{#hasDesks}}<table id="desks">
<thead><tr><th>Desk</th><th class="n">Records</th><th>Encoding</th><th>Last collate</th><th>Newest entry</th><th class="n">Need a look</th><th class="n">Rejected</th><th class="n">Gone from the file</th><th class="n">Forgotten</th></tr></thead>
<tbody>
{{#desks}}<tr><td class="answer"><a href="{{link}}">{{desk}}</a></td><td class="n">{{records}}</td><td>{{encoding}}</td><td>{{collated}}</td><td>{{lastEntry}}</td><td class="n">{{needsLook}}</td><td class="n">{{rejected}}</td><td class="n">{{gone}}</td><td class="n">{{forgotten}}</td></tr>
{{/desks}}</tbody>
</table>
{{/hasDesks}}{{^hasDesks}}<p class="none">No desk has been collated yet.</p>
{{/hasDesks}})";

constexpr std::string_view kReportForm = R"(<form method="get" action="/report/page">
<div class="fields">
<label for="from">Entered from</label><input id="from" name="from" type="date" value="{{from}}">
<label for="to">Entered to</label><input id="to" name="to" type="date" value="{{to}}">
</div>
<p>Leave either end empty for every day on that side. The page is the report's, drawn from the database.</p>
<p><button type="submit">Show the report</button></p>
</form>
)";

constexpr std::string_view kLook = R"({{#hasRecords}}<table id="look">
<thead><tr><th>Key</th><th>Desk</th><th>Entered</th><th>First name</th><th>Surname</th><th>Place of birth</th><th>Date of birth</th><th>State</th><th>Why</th></tr></thead>
<tbody>
{{> rows}}</tbody>
</table>
{{/hasRecords}}{{^hasRecords}}<p class="none">No record needs a look.</p>
{{/hasRecords}}<p class="pages">{{#previous}}<a href="{{previous}}" rel="prev">Previous page</a>{{/previous}}{{#next}}<a href="{{next}}" rel="next">Next page</a>{{/next}}</p>
)";

constexpr std::string_view kSignIn = R"(<form method="post" action="/signin">
<div class="fields">
<label for="user">{{userLabel}}</label><input id="user" name="user" value="{{user}}" required autocomplete="username" maxlength="200" autofocus>
<label for="password">{{passwordLabel}}</label><input id="password" name="password" type="password" required autocomplete="current-password" maxlength="1000">
</div>
<p><button type="submit">Sign in</button></p>
</form>
<p>{{explained}}</p>
)";

constexpr std::string_view kMessage = "<p>{{message}}</p>\n";

std::string render(std::string_view text, mustache::data data, const mustache::object& partials = {}) {
    for (const auto& [name, partial] : partials) {
        data.set(name, partial);
    }
    mustache::mustache engine{std::string(text)};
    std::string drawn = engine.render(data);
    if (!engine.is_valid()) {
        throw std::logic_error("a page's template: " + engine.error_message());
    }
    return drawn;
}

// Stored bytes as text: controls and stray bytes shown, never taken as markup by the engine.
std::string shown(std::string_view stored) { return visibleText(stored); }

// "2026-12-06 15:53" from "2026-12-06T15:53".
std::string shownTime(std::string_view iso) {
    std::string time = shown(iso);
    if (time.size() > 10 && time[10] == 'T') {
        time[10] = ' ';
    }
    return time;
}

// A value that is shown only where it is not empty: the engine takes an empty text as true.
void putIf(mustache::object& object, const std::string& name, const std::string& value) {
    if (!value.empty()) {
        object.emplace(name, value);
    }
}

mustache::data recordRows(const ListPage& found, bool withReasons) {
    mustache::list rows;
    for (const ListedRecord& record : found.records) {
        std::string reasons;
        for (const std::string& reason : record.reasons) {
            reasons.append(reasons.empty() ? "" : "; ").append(reason);
        }
        std::string state = record.state;
        state.append(record.gone ? ", gone" : "").append(record.forgotten ? ", forgotten" : "");
        rows.emplace_back(mustache::object{{"key", record.key},
                                           {"shortKey", record.key.substr(0, 12)},
                                           {"desk", shown(record.values.at(0))},
                                           {"entered", shownTime(record.values.at(3))},
                                           {"firstName", shown(record.values.at(4))},
                                           {"surname", shown(record.values.at(5))},
                                           {"placeOfBirth", shown(record.values.at(6))},
                                           {"dateOfBirth", shown(record.values.at(7))},
                                           {"state", state},
                                           {"withReasons", withReasons},
                                           {"reasons", shown(reasons)}});
    }
    return rows;
}

mustache::object rowsPartial() {
    return mustache::object{{"rows", mustache::partial([] { return std::string(kRecordRow); })}};
}

}  // namespace

std::string page(const Frame& frame, const std::string& body) {
    mustache::object data{{"title", frame.title},        {"navigation", frame.navigation},
                          {"signOut", frame.signOut},    {"csrf", frame.csrf},
                          {"clerk", shown(frame.clerk)}, {"body", body}};
    putIf(data, "notice", shown(frame.notice));
    putIf(data, "error", shown(frame.error));
    return render(kFrame, data);
}

std::string searchBody(const SearchForm& form) {
    mustache::list fields{
        mustache::object{{"value", ""}, {"label", "any"}, {"selected", form.query.field.empty()}}};
    for (std::size_t i = kFirstAnswer; i < kColumnCount; ++i) {
        const std::string name(kColumns.at(i).name);
        fields.emplace_back(
            mustache::object{{"value", name}, {"label", name}, {"selected", form.query.field == name}});
    }
    mustache::object data{{"q", shown(form.query.text)},
                          {"from", shown(form.from)},
                          {"to", shown(form.to)},
                          {"everything", form.query.everything},
                          {"fields", fields},
                          {"searched", form.searched},
                          {"hasRecords", !form.found.records.empty()},
                          {"records", recordRows(form.found, false)}};
    const std::size_t first = (form.query.page - 1) * kPageSize + 1;
    const std::size_t last = first + form.found.records.size() - 1;
    data.emplace("summary", form.found.records.empty()
                                ? std::string("No record found")
                                : "Records " + std::to_string(first) + " to " + std::to_string(last) +
                                      (form.found.more ? ", more on the next page" : ""));
    putIf(data, "previous", form.previous);
    putIf(data, "next", form.next);
    putIf(data, "desk", shown(form.query.desk));
    return render(kSearch, data, rowsPartial());
}

std::string recordBody(const OfficeRecord& record, const std::string& csrf) {
    mustache::list answers;
    for (std::size_t i = 0; i < kAnswerCount; ++i) {
        const std::string& now = record.now.at(kFirstAnswer + i);
        answers.emplace_back(mustache::object{{"name", std::string(kColumns.at(kFirstAnswer + i).name)},
                                              {"written", shown(record.written.at(i))},
                                              {"now", shown(now)},
                                              {"changed", now != record.written.at(i)}});
    }
    mustache::list history;
    std::transform(
        record.history.begin(), record.history.end(), std::back_inserter(history), [](const Change& change) {
            return mustache::object{{"at", shownTime(change.at)},     {"by", shown(change.by)},
                                    {"action", shown(change.action)}, {"field", shown(change.field)},
                                    {"old", shown(change.oldValue)},  {"new", shown(change.newValue)},
                                    {"why", shown(change.why)}};
        });
    mustache::list states;
    std::transform(
        db::kStates.begin(), db::kStates.end(), std::back_inserter(states),
        [&record](std::string_view state) {
            return mustache::object{{"value", std::string(state)}, {"selected", state == record.state}};
        });
    const mustache::object data{{"key", record.key},
                                {"desk", shown(record.now.at(0))},
                                {"number", shown(record.now.at(1))},
                                {"line", shown(record.now.at(2))},
                                {"entered", shownTime(record.now.at(3))},
                                {"state", shown(record.state)},
                                {"gone", record.gone},
                                {"forgotten", record.forgotten},
                                {"revision", std::to_string(record.revision)},
                                {"answers", answers},
                                {"hasHistory", !record.history.empty()},
                                {"history", history},
                                {"states", states},
                                {"csrf", csrf}};
    return render(kRecord, data);
}

std::string desksBody(const std::vector<DeskSummary>& desks) {
    mustache::list rows;
    std::transform(desks.begin(), desks.end(), std::back_inserter(rows), [](const DeskSummary& desk) {
        return mustache::object{
            {"desk", shown(desk.desk)},
            {"link", linkTo("/", {{"desk", desk.desk}})},
            {"records", std::to_string(desk.records)},
            {"encoding", desk.encoding.empty() ? std::string("UTF-8") : shown(desk.encoding)},
            {"collated", desk.collatedTo < 0 ? std::string("none kept")
                                             : std::string("up to record ")
                                                   .append(std::to_string(desk.collatedTo))
                                                   .append(" (line ")
                                                   .append(std::to_string(desk.collatedLines))
                                                   .append(")")},
            {"lastEntry", shownTime(desk.lastEntry)},
            {"needsLook", std::to_string(desk.needsLook)},
            {"rejected", std::to_string(desk.rejected)},
            {"gone", std::to_string(desk.gone)},
            {"forgotten", std::to_string(desk.forgotten)}};
    });
    return render(kDesks, mustache::object{{"hasDesks", !desks.empty()}, {"desks", rows}});
}

std::string reportFormBody(const std::string& from, const std::string& to) {
    return render(kReportForm, mustache::object{{"from", shown(from)}, {"to", shown(to)}});
}

std::string lookBody(const ListPage& found, const std::string& previous, const std::string& next) {
    mustache::object data{{"hasRecords", !found.records.empty()}, {"records", recordRows(found, true)}};
    putIf(data, "previous", previous);
    putIf(data, "next", next);
    return render(kLook, data, rowsPartial());
}

std::string signInBody(bool postgres, const std::string& user) {
    return render(kSignIn, mustache::object{
                               {"user", shown(user)},
                               {"userLabel", postgres ? "Your database role" : "Your name"},
                               {"passwordLabel", postgres ? "Its password" : "The office's key"},
                               {"explained",
                                postgres ? "You sign in as yourself: the database decides what you may do, "
                                           "and the history keeps your name with each change."
                                         : "The office's key is the one the view printed when it started; "
                                           "the history keeps the name you give with each change."}});
}

std::string messageBody(const std::string& message) {
    return render(kMessage, mustache::object{{"message", shown(message)}});
}

std::string linkTo(std::string path, const std::vector<std::pair<std::string, std::string>>& parameters) {
    constexpr std::string_view kHex = "0123456789ABCDEF";
    std::string& query = path;
    bool first = true;
    for (const auto& [name, value] : parameters) {
        query.append(first ? "?" : "&").append(name).append("=");
        first = false;
        for (const char c : value) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
                query += c;
            } else {
                query.append("%").append(1, kHex[byte >> 4U]).append(1, kHex[byte & 0xFU]);
            }
        }
    }
    return query;
}

}  // namespace profiledesk::office::serve
