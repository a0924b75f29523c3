// profiledesk-records: reads the record files of many desks back into data. It checks them,
// exports them, collates them into a database, reports on them and finds profiles in them;
// it never changes them.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/output_watch.hpp"
#include "common/process.hpp"
#include "office/commands.hpp"
#include "office/db/database.hpp"
#include "office/desks/encoding.hpp"
#include "office/serve/serve.hpp"

std::string utcNow();

namespace {

using namespace profiledesk::office;

// A CLI11 check for --from and --to.
const CLI::Validator kDay(
    [](const std::string& text) {
        return profiledesk::Day::parse(text) ? std::string() : "not a day as YYYY-MM-DD: " + text;
    },
    "YYYY-MM-DD");

// A value that must name something: an empty one would do the default without a word
// (-o "" writing to standard output, --field "" searching every answer).
CLI::Validator notEmpty(const std::string& what) {
    return {[what](const std::string& text) { return text.empty() ? what : std::string(); }, ""};
}

constexpr const char* kNameAnOutput =
    "name the FILE to write to (without -o, the output goes to standard output)";

// -o FILE. Given alone, or empty, it is told after parsing (rather than as CLI11's "1
// required TEXT missing").
CLI::Option* addOutput(CLI::App& command, std::string& output) {
    return command.add_option("-o,--output", output, "write to FILE instead of standard output")
        ->type_name("FILE")
        ->expected(0, 1);
}

// Every command reads files, so every command takes this.
void addAllProblems(CLI::App& command, bool& all) {
    command.add_flag("--all-problems", all, "tell every problem in full, not only the first 10 of each kind");
}

// --format, in any case, as the row writers name themselves.
const CLI::Validator kFormat(
    [](const std::string& name) {
        return formatNamed(name) ? std::string() : "no format '" + name + "' (" + formatNames() + ")";
    },
    "FORMAT");

void addDates(CLI::App& command, std::string& from, std::string& to) {
    command.add_option("--from", from, "keep records entered on this day or later")->check(kDay);
    command.add_option("--to", to, "keep records entered on this day or earlier")->check(kDay);
}

// Where a command's desks come from: FILE arguments or a desks file, and the encoding of
// those that do not name their own.
struct DeskSources {
    std::vector<std::string> files;
    std::string desksFile;
    std::string encoding;
};

const CLI::Validator kEncoding(
    [](const std::string& name) {
        return knownEncoding(name) ? std::string()
                                   : "unknown encoding '" + name + "' (known: " + knownEncodings() + ")";
    },
    "NAME");

void addDesks(CLI::App& command, DeskSources& sources) {
    command.add_option("--desks", sources.desksFile, "read the desks from this TOML file instead of FILE");
    command.add_option("--encoding", sources.encoding, "the encoding of the answers (UTF-8 when not given)")
        ->check(kEncoding);
    command.add_option("FILE", sources.files, "record files, each as PATH or NAME=PATH");
}

// The desks to read, or the usage error to tell.
profiledesk::Result<std::vector<DeskInput>> desksOf(const DeskSources& sources) {
    using profiledesk::Status;
    std::vector<DeskInput> desks;
    if (sources.desksFile.empty() == sources.files.empty()) {
        return Status::usage(sources.files.empty() ? "name the record files (FILE), or a desks file (--desks)"
                                                   : "--desks replaces FILE: give one or the other");
    }
    if (!sources.desksFile.empty()) {
        auto read = readDesksFile(sources.desksFile);
        if (!read.isOk()) {
            return read.status();
        }
        desks = std::move(read).value();
    }
    for (const std::string& file : sources.files) {
        const auto desk = deskFromArgument(file);
        if (!desk.isOk()) {
            return desk.status();
        }
        const DeskInput& named = desk.value();
        const std::vector<std::string> paths = expandArgument(named.path);
        // Each file a pattern matches names itself, unless the argument named them all.
        std::transform(paths.begin(), paths.end(), std::back_inserter(desks),
                       [&named](const std::string& path) {
                           return DeskInput{named.name == named.path ? path : named.name, path, {}};
                       });
    }
    const std::string encoding(sources.encoding.empty() ? "" : *knownEncoding(sources.encoding));
    for (DeskInput& desk : desks) {
        desk.encoding = desk.encoding.empty() ? encoding : desk.encoding;
    }
    return desks;
}

// The days asked for; nothing, told as a usage error, when they are the wrong way round.
std::optional<DateRange> datesOf(const std::string& from, const std::string& to, Streams& console) {
    DateRange range;
    if (!from.empty()) {
        range.from = profiledesk::Day::parse(from);
    }
    if (!to.empty()) {
        range.to = profiledesk::Day::parse(to);
    }
    if (range.from && range.to && *range.from > *range.to) {
        tellError(console, "--from " + from + " is later than --to " + to);
        return std::nullopt;
    }
    return range;
}

// Without a command, or with a word that is none: the commands there are, and where to read more.
std::string missingCommand(const CLI::App& app, int argc, char** argv) {
    std::string names;
    const std::vector<const CLI::App*> commands = app.get_subcommands([](const CLI::App*) { return true; });
    for (std::size_t i = 0; i < commands.size(); ++i) {
        names += (i == 0 ? "" : i + 1 == commands.size() ? " or " : ", ") + commands[i]->get_name();
    }
    const std::span<char*> arguments(argv, static_cast<std::size_t>(argc));
    const auto word = std::find_if(arguments.begin() + 1, arguments.end(),
                                   [](const char* argument) { return argument[0] != '-'; });
    return (word == arguments.end() ? std::string("a command is needed")
                                    : "no command '" + std::string(*word) + "'") +
           ": the commands are " + names + " (profiledesk-records --help tells more)";
}

int run(int argc, char** argv, Streams& console, const std::string& now) {
    namespace process = profiledesk::process;
    ClerkOptions clerk;
    CLI::App app{
        "Reads the record files (datas.dat) of many desks: checks, exports, collates, reports, finds.",
        "profiledesk-records"};
    app.set_version_flag("--version", std::string("profiledesk-records ") + PROFILEDESK_VERSION);
    app.require_subcommand(1);
    // Given before or after the command's name, like any option of the command's own.
    app.fallthrough();
    app.add_option("--max-line-bytes", console.maxLineBytes,
                   "the longest line a record file may have; a longer one is a problem (default 65536)")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 40));

    DeskSources sources;  // only one command is parsed
    CLI::App* check =
        app.add_subcommand("check", "count the whole records of each file and tell what is not");
    addDesks(*check, sources);
    std::string checkDb;
    check->add_option(
        "--from-db", checkDb,
        "count the records of this database (as collate's --into) desk by desk, and list those that "
        "need a look");

    ExportOptions exported;
    std::string exportFrom;
    std::string exportTo;
    CLI::App* exportCommand = app.add_subcommand("export", "one row per whole record, as CSV or JSON Lines");
    std::string exportFormat = "csv";
    exportCommand->add_option("--format", exportFormat, formatNames() + " (csv when not given)")
        ->check(kFormat);
    exportCommand->add_flag("--for-spreadsheet", exported.forSpreadsheet,
                            "CSV for opening in a spreadsheet: a byte-order mark, and a ' before any cell "
                            "that would be read as a formula");
    addDates(*exportCommand, exportFrom, exportTo);
    exportCommand->add_flag("--with-keys", exported.withKeys,
                            "add each record's record_key (and, from a database, its review state)");
    exportCommand->add_option("--from-db", exported.fromDb,
                              "export the records of this database (as collate's --into) as they are now");
    exportCommand->add_flag("--all-records", exported.everyRecord,
                            "from a database, the rejected, erased and gone records too");
    CLI::Option* exportOutput = addOutput(*exportCommand, exported.output);
    addDesks(*exportCommand, sources);

    CollateOptions collated;
    CLI::App* collate = app.add_subcommand("collate", "add every whole record to a database, each once");
    collate->add_option("--into", collated.into, "a SQLite file, or a postgresql:// URI")->required();
    collate->add_flag("--full", collated.full,
                      "read every file from its start, not only what follows the last collate");
    collate
        ->add_option("--wait", collated.waitSeconds,
                     "seconds to wait for a SQLite database another program holds")
        ->check(CLI::Range(0, 86400))
        ->capture_default_str();
    addDesks(*collate, sources);

    ReportOptions reported;
    std::string reportFrom;
    std::string reportTo;
    CLI::App* report = app.add_subcommand("report", "one self-contained HTML page about the records");
    CLI::Option* reportOutput = addOutput(*report, reported.output);
    addDates(*report, reportFrom, reportTo);
    report->add_option("--title", reported.title, "the page's title");
    report->add_flag("--all-records", reported.everyRecord,
                     "from a database, the rejected, erased and gone records too");
    report->add_option("--from-db", reported.fromDb,
                       "draw the page from a database collate made (a SQLite file, or a postgresql:// URI) "
                       "instead of record files");
    addDesks(*report, sources);

    FindOptions found;
    std::string findFrom;
    std::string findTo;
    CLI::App* find = app.add_subcommand("find", "the profiles whose answers hold a text, case ignored");
    find->add_option("TEXT", found.text, "the text to find in an answer")->required();
    find->add_option("--field", found.field, "look only in this answer, named as export's column (surname)")
        ->check(notEmpty("name an answer (surname), or leave --field out to look in every answer"));
    addDates(*find, findFrom, findTo);
    std::string findFormat = "text";
    find->add_option("--format", findFormat,
                     formatNames() + " (text, as a clerk reads a profile, when not given)")
        ->check(kFormat);
    find->add_option("--from-db", found.fromDb, "read the records from this database (as collate's --into)");
    find->add_flag("--all-records", found.everyRecord,
                   "from a database, the rejected, erased and gone records too");
    addDesks(*find, sources);

    for (CLI::App* command : {check, exportCommand, collate, report, find}) {
        addAllProblems(*command, console.allProblems);
    }

    // The clerk's commands, on the database alone.
    clerk.login = process::loginName();
    CLI::App* show =
        app.add_subcommand("show", "a record as written and as it is now, its state and its history");
    CLI::App* correctCommand =
        app.add_subcommand("correct", "correct answers of records: KEY... FIELD=VALUE...");
    CLI::App* reviewCommand =
        app.add_subcommand("review", "give records a review state: KEY... new|approved|needs-look|rejected");
    CLI::App* forgetCommand =
        app.add_subcommand("forget", "erase every answer of records, on request, keeping that it was done");
    for (CLI::App* command : {show, correctCommand, reviewCommand, forgetCommand}) {
        command->add_option("--db", clerk.db, "the office's database (a SQLite file, or a postgresql:// URI)")
            ->required();
        command
            ->add_option("KEY", clerk.arguments, "records by their keys, or the first 8 characters or more")
            ->required();
        if (command != show) {
            command->add_option("--by", clerk.by,
                                "the clerk making the change (the login name when not given)");
            command
                ->add_option("--wait", clerk.waitSeconds,
                             "seconds to wait for a database another run is writing")
                ->check(CLI::Range(0, 86400))
                ->capture_default_str();
            CLI::Option* why = command->add_option("--why", clerk.why, "why, kept with the change");
            if (command != reviewCommand) {
                why->required();
            }
        }
    }

    // The same work in a browser.
    profiledesk::office::serve::ServeOptions served;
    CLI::App* serve =
        app.add_subcommand("serve", "the office's work in a browser: search, correct, review, report");
    serve->add_option("--db", served.db, "the office's database (a SQLite file, or a postgresql:// URI)")
        ->required();
    serve->add_option("--listen", served.listen,
                      "serve an office network at ADDRESS:PORT (127.0.0.1 on a free port when not given); "
                      "clerks then sign in");
    serve
        ->add_option("--wait", served.waitSeconds, "seconds a page waits for a database a collate is writing")
        ->check(CLI::Range(0, 86400))
        ->capture_default_str();
    serve->add_option("--by", served.by,
                      "on SQLite, the clerk changes are kept under (the login name when not given)");
    bool noBrowser = false;
    serve->add_flag("--no-browser", noBrowser,
                    "do not open the view in the default browser (Windows opens it)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForVersion& version) {
        return app.exit(version);
    } catch (const CLI::ParseError& error) {
        // One line, as for any command-line tool; --help tells the rest.
        tellError(console, app.get_subcommands().empty() ? missingCommand(app, argc, argv) : error.what());
        return 2;
    }

    const auto emptyOutput = [](const CLI::Option* output) {
        return output->count() > 0 && output->as<std::string>().empty();
    };
    if (emptyOutput(exportOutput) || emptyOutput(reportOutput)) {
        tellError(console, std::string("--output: ") + kNameAnOutput);
        return 2;
    }

    // From a database, no files are read: the records are those collated.
    const bool clerks = serve->parsed() || show->parsed() || correctCommand->parsed() ||
                        reviewCommand->parsed() || forgetCommand->parsed();
    const bool fromDb = clerks || (find->parsed() && !found.fromDb.empty()) ||
                        (report->parsed() && !reported.fromDb.empty()) ||
                        (exportCommand->parsed() && !exported.fromDb.empty()) ||
                        (check->parsed() && !checkDb.empty());
    std::vector<DeskInput> read;
    if (fromDb) {
        if (!clerks && (!sources.files.empty() || !sources.desksFile.empty())) {
            tellError(console, "--from-db replaces FILE and --desks: give one or the other");
            return 2;
        }
    } else {
        auto desks = desksOf(sources);
        if (!desks.isOk()) {
            return tellFailure(console, desks.status());
        }
        read = std::move(desks).value();
    }
    // Standard output into a file the run reads (`export north.dat >> north.dat`) would write into
    // the office's own data: refused, as cat refuses to read a file into itself.
    std::vector<std::string> readHere;
    std::transform(read.begin(), read.end(), std::back_inserter(readHere),
                   [](const DeskInput& desk) { return desk.path; });
    for (const std::string* database :
         {&checkDb, &exported.fromDb, &found.fromDb, &reported.fromDb, &collated.into, &clerk.db}) {
        if (!database->empty() && !profiledesk::office::db::namesPostgres(*database)) {
            readHere.push_back(*database);
        }
    }
    const auto itself = std::find_if(readHere.begin(), readHere.end(), process::outputIsFile);
    if (itself != readHere.end()) {
        return tellFailure(console, profiledesk::Status::usage(
                                        "standard output is " + *itself +
                                        ", which this run reads or writes; send the output elsewhere"));
    }
    if (check->parsed()) {
        return checkDb.empty() ? runCheck(read, console) : runCheckDatabase(checkDb, console);
    }
    if (exportCommand->parsed()) {
        const std::optional<DateRange> dates = datesOf(exportFrom, exportTo, console);
        if (!dates) {
            return 2;
        }
        exported.dates = *dates;
        exported.format = *formatNamed(exportFormat);
        if (exported.forSpreadsheet && exported.format != Format::csv) {
            tellError(console, "--for-spreadsheet: only CSV is for spreadsheets");
            return 2;
        }
        exported.desks = std::move(read);
        return runExport(exported, console);
    }
    if (find->parsed()) {
        const std::optional<DateRange> dates = datesOf(findFrom, findTo, console);
        if (!dates) {
            return 2;
        }
        found.dates = *dates;
        found.format = *formatNamed(findFormat);
        found.desks = std::move(read);
        return runFind(found, console);
    }
    if (collate->parsed()) {
        collated.desks = std::move(read);
        collated.by = clerk.login;
        collated.at = now;
        return runCollate(collated, console);
    }
    if (serve->parsed()) {
        served.login = clerk.login;
        served.openBrowser = !noBrowser;
        served.now = utcNow;
        return profiledesk::office::serve::runServe(served, console);
    }
    clerk.at = now;
    if (show->parsed()) {
        return runShow(clerk, console);
    }
    if (correctCommand->parsed()) {
        return runCorrect(clerk, console);
    }
    if (reviewCommand->parsed()) {
        return runReview(clerk, console);
    }
    if (forgetCommand->parsed()) {
        return runForget(clerk, console);
    }
    const std::optional<DateRange> dates = datesOf(reportFrom, reportTo, console);
    if (!dates) {
        return 2;
    }
    reported.dates = *dates;
    reported.desks = std::move(read);
    return runReport(reported, console);
}

}  // namespace

// Now, in UTC, as a change's time is kept: "2026-12-08T09:30:05Z".
std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    (void)gmtime_s(&parts, &now);
#else
    (void)gmtime_r(&now, &parts);
#endif
    std::array<char, 32> text{};
    return {text.data(), std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts)};
}

int main(int argc, char** argv) {
    namespace process = profiledesk::process;
    process::prepare(process::Output::bytes);
    std::ios::sync_with_stdio(false);
    const profiledesk::OutputWatch watch(std::cout);  // a failed write is told with its reason
    Streams console{std::cout, std::cerr, process::errorIsTerminal()};
    try {
        std::vector<std::string> arguments = process::arguments(argc, argv);
        std::vector<char*> pointers;
        pointers.reserve(arguments.size());
        std::transform(arguments.begin(), arguments.end(), std::back_inserter(pointers),
                       [](std::string& argument) { return argument.data(); });
        return run(static_cast<int>(pointers.size()), pointers.data(), console, utcNow());
    } catch (const std::exception& error) {
        // Out of memory and the like: said plainly, never an abort.
        tellError(console, error.what());
        return 1;
    }
}
