#pragma once
// The `routes` command: a map of the instruments reachable through the one on the port, as
// a tree in text or one JSON event each.
#include "cli/Options.h"
#include "cli/Reporter.h"

int routesCommand(const CliOptions& options, Reporter& out);
