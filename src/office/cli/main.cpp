// profiledesk-records: reads the record files of many desks back into data. It checks them,
// exports them, collates them into a database and reports on them; it never changes them.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>

#include "office/cli/platform.hpp"
#include "office/commands.hpp"

namespace {

using namespace profiledesk::office;

// A CLI11 check for --from and --to.
const CLI::Validator kDay(
    [](const std::string& text) {
        return parseDay(text) ? std::string() : "not a day as YYYY-MM-DD: " + text;
    },
    "YYYY-MM-DD");

void addDates(CLI::App& command, std::string& from, std::string& to) {
    command.add_option("--from", from, "keep records entered on this day or later")->check(kDay);
    command.add_option("--to", to, "keep records entered on this day or earlier")->check(kDay);
}

DateRange datesOf(const std::string& from, const std::string& to) {
    DateRange range;
    if (!from.empty()) {
        range.from = parseDay(from);
    }
    if (!to.empty()) {
        range.to = parseDay(to);
    }
    return range;
}

int run(int argc, char** argv, Console& console) {
    CLI::App app{"Reads the record files (datas.dat) of many desks: checks, exports, collates, reports.",
                 "profiledesk-records"};
    app.set_version_flag("--version", std::string("profiledesk-records ") + PROFILEDESK_VERSION);
    app.require_subcommand(1);

    std::vector<std::string> checkFiles;
    CLI::App* check =
        app.add_subcommand("check", "count the whole records of each file and tell what is not");
    check->add_option("FILE", checkFiles, "record files")->required();

    ExportOptions exported;
    std::string exportFrom;
    std::string exportTo;
    CLI::App* exportCommand = app.add_subcommand("export", "one row per whole record, as CSV or JSON Lines");
    exportCommand->add_option("--format", exported.format, "csv (the default) or jsonl")
        ->check(CLI::IsMember({"csv", "jsonl"}));
    addDates(*exportCommand, exportFrom, exportTo);
    exportCommand->add_option("-o,--output", exported.output, "write here instead of standard output");
    exportCommand->add_option("FILE", exported.files, "record files")->required();

    CollateOptions collated;
    CLI::App* collate = app.add_subcommand("collate", "add every whole record to a database, each once");
    collate->add_option("--into", collated.into, "a SQLite file, or a postgresql:// URI")->required();
    collate->add_flag("--full", collated.full,
                      "read every file from its start, not only what follows the last collate");
    collate->add_option("FILE", collated.files, "record files")->required();

    ReportOptions reported;
    std::string reportFrom;
    std::string reportTo;
    CLI::App* report = app.add_subcommand("report", "one self-contained HTML page about the records");
    report->add_option("-o,--output", reported.output, "write here instead of standard output");
    addDates(*report, reportFrom, reportTo);
    report->add_option("--title", reported.title, "the page's title");
    report->add_option("FILE", reported.files, "record files")->required();

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
        tellError(console, error.what());
        return 2;
    }

    if (check->parsed()) {
        return runCheck(checkFiles, console);
    }
    if (exportCommand->parsed()) {
        exported.dates = datesOf(exportFrom, exportTo);
        return runExport(exported, console);
    }
    if (collate->parsed()) {
        return runCollate(collated, console);
    }
    reported.dates = datesOf(reportFrom, reportTo);
    return runReport(reported, console);
}

}  // namespace

int main(int argc, char** argv) {
    platform::prepareProcess();
    std::ios::sync_with_stdio(false);
    Console console{std::cout, std::cerr, platform::errorIsTerminal()};
    try {
        return run(argc, argv, console);
    } catch (const std::exception& error) {
        // Out of memory and the like: said plainly, never an abort.
        tellError(console, error.what());
        return 1;
    }
}
