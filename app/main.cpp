// The window program's entry. --version and --help answer without opening a display, for
// scripts and manual pages.
#include <cstdio>
#include <cstring>

#include "app/BootloaderApp.h"
#include "support/Version.h"

#if defined(_MSC_VER)
wxIMPLEMENT_APP(BootloaderApp);
#else
wxIMPLEMENT_APP_NO_MAIN(BootloaderApp);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", kOstraVersion);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf(
                "Usage: ostraloader [--station [JOB]] [--version] [--help]\n"
                "Ostraloader services the bootloader of Solvar and Tamrik instruments over a\n"
                "serial port: it shows the bootloader's status, checks a firmware image file,\n"
                "uploads it with a progress gauge and starts the firmware, directly or routed\n"
                "through other instruments. Everything happens in its window; the window\n"
                "shows the system's language where a translation is installed.\n"
                "\n"
                "  --station  open the station window alone: a tray of instruments, or every\n"
                "             instrument plugged in, serviced at once; on a station job\n"
                "             (.ostrajob) when one is named\n"
                "  --version  print the program's version and exit\n"
                "  --help     print this text and exit\n");
            return 0;
        }
    }
    return wxEntry(argc, argv);
}
#endif
