#pragma once
// The command line's commands, each returning its exit code: the ports and the probe, the
// check of an image, one instrument (with its attempts), and a station of several.
#include <string>

#include "cli/Options.h"
#include "cli/Reporter.h"

int listPortsCommand(Reporter& out);
int probeCommand(Reporter& out, bool allPorts);
int inspectCommand(const std::string& file, Reporter& out);
// The reports read back; throws a Problem for wrong usage.
int recordsCommand(const RecordsOptions& options, bool json, Reporter& out);
// One instrument: tried again after a device or line failure while attempts are left. An
// interrupt ends the program at once, with the attempt's record written.
int singleCommand(const CliOptions& options, const CheckedRequest& checked, Reporter& out);
// A tray's labels, one per port (or slot), before anything starts: asked on a terminal,
// read line by line from a scanner or a file otherwise; an empty line gives none.
void askLabels(StationRequest& request, Reporter& out);
// Several ports, or every instrument plugged in: a copy of this program for each.
int stationCommand(const CheckedRequest& checked, Reporter& out);
