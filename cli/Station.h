#pragma once
// A production line's station: the command for every port at once, one copy of this program
// per instrument, one progress line each on a terminal, then a summary table.
#include "cli/Options.h"
#include "cli/Reporter.h"

// The largest of the instruments' exit codes.
int runStation(const CliOptions& options, Reporter& out, bool terminal);
