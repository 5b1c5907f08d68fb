#pragma once
// One instrument on one port: connect (through the route), run the command, and fill in the
// service record as it goes.
#include "cli/Options.h"
#include "cli/Reporter.h"
#include "cli/ServiceRecord.h"
#include "image/FirmwareImage.h"

enum ExitCode { kOk = 0, kDeviceFailed = 1, kUsage = 2, kImageRefused = 3 };

// The command's exit code. Failures are reported through `out` and kept in `record`.
int serviceInstrument(const CliOptions& options, const std::string& port,
                      const FirmwareImageInfo& image, Reporter& out, ServiceRecord& record);

// A read file name for one port: "{port}" and "{serial}" replaced by the port as typed and
// its USB serial number (the port when it has none), made safe for a file name.
std::string readFileFor(const std::string& pattern, const std::string& port,
                        const std::string& serial);
