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
// A station's copy: one attempt at the instrument on its one port, told in JSON for the
// station, which decides its interrupts, its record and any further attempt.
int copyCommand(const CheckedRequest& checked, Reporter& out);
// Text that came from outside, as this program takes it: UTF-8, each byte that is not
// replaced by U+FFFD and the replacement told on standard error, naming `what` it is.
std::string checkedText(const std::string& text, const std::string& what);
// A tray's labels, one per port (or slot), before anything starts: asked on a terminal,
// read line by line from a scanner or a file otherwise; an empty line gives none.
void askLabels(StationRequest& request, Reporter& out);
// The next label from standard input, whatever ends it (CR, LF or CR LF), without the
// blanks after it; false at the end of the input.
bool readLabel(std::string& label);
// The station: several ports, or every instrument plugged in, each by a copy of this program;
// one port by a copy in this process, its steps told as they happen. An interrupt stops (a
// second abandons); one instrument is abandoned at the first, and the program ends as the
// interrupt would have ended it, with the attempt's record written.
int stationCommand(const CheckedRequest& checked, Reporter& out);
