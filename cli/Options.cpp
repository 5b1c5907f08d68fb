#include "cli/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "cli/Commands.h"
#include "cli/Platform.h"
#include "records/RecordCsv.h"
#include "station/JobFile.h"
#include "support/Version.h"

namespace {
const char* kExitCodes =
    "Exit codes: 0 success, 1 the device or line failed (time-out, refusal, line error), "
    "2 wrong usage, 3 the image is not acceptable (also an older version than the firmware "
    "loaded), 4 records: some lines of the reports are not records and were skipped. Several "
    "ports: the largest of the instruments' codes.";

// The options of the tables that belong in `place`: switches, numbers in their range, texts.
void addTableOptions(CLI::App& app, StationRequest& r, OptionPlace place) {
    for (const SwitchOption& option : kSwitchOptions) {
        if (option.place == place) {
            app.add_flag(option.flag, r.*option.field, option.help);
        }
    }
    if (place != OptionPlace::Common) {
        return;
    }
    for (const NumberOption& option : kNumberOptions) {
        app.add_option(option.flag, r.*option.field, option.help)
            ->check(CLI::Range(option.least, option.most));
    }
    for (const TextOption& option : kTextOptions) {
        app.add_option(option.flag, r.*option.field, option.help);
    }
}

// The options that go with every command (also after it).
void addCommonOptions(CLI::App& app, CliOptions& o) {
    StationRequest& r = o.request;
    app.add_option("--port", r.ports,
                   "Port: COMn, a device path, usb:SERIAL, usb:VVVV:PPPP[:SERIAL] or auto "
                   "(default COM2); repeated: every port at once")
        ->take_all();
    app.add_option("--report", r.report,
                   "Append one JSON service record per instrument and command to this file");
    app.add_flag("--json", o.json,
                 "One JSON object per line for every event, then a result object");
    app.add_flag("--watch", r.watch,
                 "Service every instrument plugged in (USB serial ports and registered COM "
                 "names, only those --port names when given) until Ctrl-C");
    app.add_flag("--station-copy", o.stationCopy)->group("");  // one port of a station
    app.add_option("--job", o.job,
                   "Run this station job (.ostrajob) as the station window does; options given "
                   "here override the job's");
    app.add_option("--save-job", o.saveJob,
                   "Write the station job these options describe into this file, and stop");
    app.add_option("--slot", o.slotTexts,
                   "A fixture's socket as NAME=PORT (\"Slot 1=usb-port:1-2.1\"); repeated: "
                   "the tray's slots")
        ->take_all();
    addTableOptions(app, r, OptionPlace::Common);
}
// The options a job's settings give way to, when given here: the tables' and these.
const char* const kOverriding[] = {"--port", "--watch", "--report", "--slot", "FILE"};

// The commands that service instruments, each setting the request's command when chosen.
std::vector<std::pair<CLI::App*, Command>> addServiceCommands(CLI::App& app, CliOptions& o) {
    StationRequest& r = o.request;
    auto* status = app.add_subcommand("status", "Connect and show the bootloader's status");
    auto* upload = app.add_subcommand("upload", "Check an image, upload it, optionally start it");
    upload->add_option("FILE", r.images,
                       "Image file; several files or folders: each instrument gets the image "
                       "for its product (in a folder the newest); with --job: the job's");
    addTableOptions(*upload, r, OptionPlace::Upload);
    auto* run = app.add_subcommand("run", "Start the firmware in the instrument");
    auto* read = app.add_subcommand("read", "Read the flash back into a file");
    read->add_option("FILE", r.readFile,
                     "File to write; with several ports a pattern holding {port} or {serial}")
        ->required();
    auto* erase = app.add_subcommand("erase", "Erase the flash");
    return {{status, Command::Status},
            {upload, Command::Upload},
            {run, Command::Run},
            {read, Command::Read},
            {erase, Command::Erase}};
}
CLI::App* addRecordsCommand(CLI::App& app, RecordsOptions& r) {
    auto* records = app.add_subcommand(
        "records", "Read reports back: yield per product, a unit's history, CSV");
    records->add_option("REPORT", r.reports, "Report files (the station's JSON lines)")->required();
    records->add_option("--by", r.by, "Rows per product and day, batch, operator or port")
        ->check(CLI::IsMember({"day", "batch", "operator", "port"}));
    records->add_option("--since", r.since,
                        "Only records from this local date or time (2026-12-08, "
                        "2026-12-08 14:30)");
    records->add_option("--until", r.until,
                        "Only records before this local time (a date alone: to its end)");
    records->add_option("--product", r.product, "Only this product's records (SOLVAR CU)");
    records->add_option("--batch", r.batch, "Only this batch's records");
    records->add_option("--unit", r.unit,
                        "Every record of one instrument, by its label or USB serial number, "
                        "oldest first");
    records->add_flag("--csv", r.csv, "One CSV row per record (the columns: see the README)");
    records
        ->add_option("--csv-separator", r.separator,
                     "The CSV's separator (default ,; a semicolon for spreadsheets whose "
                     "list separator it is)")
        ->check([](const std::string& s) {
            return s.size() == 1 && std::string(kCsvSeparators).find(s[0]) != std::string::npos
                       ? ""
                       : "a comma, a semicolon, a tab or '|'";
        });
    return records;
}
// How often an option was given; 0 when the command has no such option.
size_t timesGiven(const CLI::App& app, const char* name) {
    const CLI::Option* option = app.get_option_no_throw(name);
    return option == nullptr ? 0 : option->count();
}

// What the parser cannot say: a command named, an image to upload, slots as NAME=PORT.
bool checkParsed(const CLI::App& app, CliOptions& o, int& exitCode) {
    std::string misuse;
    for (const std::string& text : o.slotTexts) {
        const size_t eq = text.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == text.size()) {
            misuse = "--slot " + text + ": write NAME=PORT, as \"Slot 1=usb-port:1-2.1\"";
        } else {
            o.request.slots.push_back({text.substr(0, eq), text.substr(eq + 1)});
        }
    }
    const bool service = o.what == CliOptions::What::Service;
    if (service && app.get_subcommands().empty() && o.job.empty() && o.saveJob.empty()) {
        misuse =
            "name a command: ports, inspect, status, upload, run, read, erase, routes or "
            "records (--help tells each)";
    }
    if (service && o.request.command == Command::Upload && o.request.images.empty() &&
        o.job.empty() && !app.get_subcommands().empty()) {
        misuse = "upload needs the image FILE (or a --job that names its images)";
    }
    if (!misuse.empty()) {
        std::fprintf(stderr, "ostraloader-cli: %s\n", misuse.c_str());
        exitCode = 2;
        return false;
    }
    return true;
}
}  // namespace

bool parseOptions(int argc, char** argv, CliOptions& o, int& exitCode) {
    CLI::App app{
        "Ostraloader command line: status, upload, read-back and erase of an instrument's flash",
        "ostraloader-cli"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", kOstraVersion);
    addCommonOptions(app, o);
    app.require_subcommand(0, 1);  // a job alone uploads
    app.fallthrough();             // the common options also after the command
    auto* ports =
        app.add_subcommand("ports", "The ports a user can pick, and whether they can be opened");
    ports->add_flag("--probe", o.probe,
                    "Ask each USB serial port and registered COM name for a bootloader's status");
    ports->add_flag("--all-ports", o.allPorts, "With --probe: every present port");
    auto* inspect = app.add_subcommand("inspect", "Check an image file offline");
    inspect->add_option("FILE", o.inspectFile, "Image file")->required();
    const auto services = addServiceCommands(app, o);
    auto* records = addRecordsCommand(app, o.records);
    auto* routes = app.add_subcommand(
        "routes", "Find the instruments reachable through the one on the port, hop after hop");
    routes->add_option("--depth", o.depth, "Look this many hops behind it (1 to 8, default 8)")
        ->check(CLI::Range(1, 8));
    try {
        // CLI11 takes the arguments after the program name, last first.
        std::vector<std::string> args = utf8Arguments(argc, argv);
        args.erase(args.begin());
        for (std::string& arg : args) {
            arg = checkedText(arg, "an argument");
        }
        std::reverse(args.begin(), args.end());
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        exitCode = app.exit(e) == 0 ? 0 : 2;
        return false;
    }
    o.what = *ports     ? CliOptions::What::Ports
             : *routes  ? CliOptions::What::Routes
             : *inspect ? CliOptions::What::Inspect
             : *records ? CliOptions::What::Records
                        : CliOptions::What::Service;
    for (const auto& service : services) {
        const CLI::App* sub = service.first;  // a name of its own: a lambda below captures it
        o.request.command = *sub ? service.second : o.request.command;
        const auto note = [&](const char* name) {
            if ((*sub && timesGiven(*sub, name) > 0) || timesGiven(app, name) > 0) {
                o.given.push_back(name);
            }
        };
        std::for_each(std::begin(kOverriding), std::end(kOverriding), note);
        forEachOption([&](const auto& option) { note(option.flag); });
    }
    return checkParsed(app, o, exitCode);
}

StationRequest requestToRun(const CliOptions& o) {
    StationRequest r = o.request;
    if (!o.job.empty()) {
        const StationRequest job = requestOf(loadJob(o.job), o.job);
        const auto given = [&](const char* name) {
            return std::find(o.given.begin(), o.given.end(), name) != o.given.end();
        };
        StationRequest merged = job;
        merged.command = o.request.command;
        const std::pair<const char*, std::function<void()>> kOverrides[] = {
            {"--port", [&] { merged.ports = r.ports; }},
            {"--watch", [&] { merged.watch = r.watch; }},
            {"--report", [&] { merged.report = r.report; }},
            {"--slot", [&] { merged.slots = r.slots; }},
            {"FILE", [&] { merged.images = r.images; }}};
        for (const auto& [name, take] : kOverrides) {
            if (given(name)) {
                take();
            }
        }
        forEachOption([&](const auto& option) {
            if (given(option.flag)) {
                merged.*option.field = r.*option.field;
            }
        });
        merged.readFile = r.readFile;
        r = merged;
    }
    if (r.ports.empty() && r.slots.empty() && !r.watch) {
        r.ports.push_back("COM2");
    }
    return r;
}
