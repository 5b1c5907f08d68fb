#include "cli/Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>

#include "cli/Platform.h"
#include "support/Version.h"

namespace {
const char* kExitCodes =
    "Exit codes: 0 success, 1 the device or line failed (time-out, refusal, line error), "
    "2 wrong usage, 3 the image is not acceptable (also an older version than the firmware "
    "loaded), 4 records: some lines of the reports are not records and were skipped. Several "
    "ports: the largest of the instruments' codes.";

// The options that go with every command (also after it).
void addCommonOptions(CLI::App& app, CliOptions& o) {
    StationRequest& r = o.request;
    app.add_option("--port", r.ports,
                   "Port: COMn, a device path, usb:SERIAL, usb:VVVV:PPPP[:SERIAL] or auto "
                   "(default COM2); repeated: every port at once")
        ->take_all();
    app.add_option("--route", r.route, "Route path to a routed instrument, e.g. 2.5");
    app.add_option("--report", r.report,
                   "Append one JSON service record per instrument and command to this file");
    app.add_flag("--json", o.json,
                 "One JSON object per line for every event, then a result object");
    app.add_flag("--trace", r.trace, "Every frame in and out on standard error");
    app.add_flag("--watch", r.watch,
                 "Service every instrument plugged in (USB serial ports and registered COM "
                 "names, only those --port names when given) until Ctrl-C");
    app.add_option("--count", r.count, "With --watch: end after this many instruments")
        ->check(CLI::PositiveNumber);
    app.add_option("--attempts", r.attempts,
                   "Service an instrument again after a device or line failure, up to this many "
                   "times in all (default 1)")
        ->check(CLI::PositiveNumber);
    app.add_flag("--station-copy", o.stationCopy)->group("");  // one port of a station
}

// The commands that service instruments, each setting the request's command when chosen.
std::vector<std::pair<CLI::App*, Command>> addServiceCommands(CLI::App& app, CliOptions& o) {
    StationRequest& r = o.request;
    auto* status = app.add_subcommand("status", "Connect and show the bootloader's status");
    auto* upload = app.add_subcommand("upload", "Check an image, upload it, optionally start it");
    upload
        ->add_option("FILE", r.images,
                     "Image file; several files or folders: each instrument gets the image for "
                     "its product (in a folder the newest)")
        ->required();
    upload->add_flag("--run", r.runAfter, "Start the firmware after the upload");
    upload->add_flag("--force-product", r.forceProduct,
                     "Skip the product comparison; the bootloader judges");
    upload->add_flag("--allow-downgrade", r.allowDowngrade,
                     "Upload an image older than the firmware loaded");
    upload->add_flag("--verify", r.verify, "Read the flash back and compare it with the image");
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
        ->check([](const std::string& s) { return s.size() == 1 ? "" : "one character"; });
    return records;
}
}  // namespace

bool parseOptions(int argc, char** argv, CliOptions& o, int& exitCode) {
    CLI::App app{
        "Ostraloader command line: status, upload, read-back and erase of an instrument's flash",
        "ostraloader-cli"};
    app.footer(kExitCodes);
    app.set_version_flag("--version", kOstraVersion);
    addCommonOptions(app, o);
    app.require_subcommand(1);
    app.fallthrough();  // the common options also after the command
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
    for (const auto& [sub, command] : services) {
        o.request.command = *sub ? command : o.request.command;
    }
    if (o.request.ports.empty() && !o.request.watch) {
        o.request.ports.push_back("COM2");
    }
    return true;
}
