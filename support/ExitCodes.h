#pragma once
// How a command ends, for the shell and for the station that runs copies of it.

enum ExitCode {
    kOk = 0,
    kDeviceFailed = 1,
    kUsage = 2,
    kImageRefused = 3,
    kRecordsSkipped = 4,  // reports read back: some lines were not records
};
