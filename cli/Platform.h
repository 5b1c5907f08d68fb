#pragma once
// What the command line needs of its platform: whether a port's device is there and may be
// opened (for `ports`), whether output goes to a terminal, the arguments as UTF-8, its own
// file (a station runs copies of it), and Ctrl-C.
#include <functional>
#include <string>
#include <vector>

struct PortAccess {
    bool present = false;
    bool accessible = false;
    std::string note;  // "available", "not present", or what stands in the way and the cure
};

PortAccess portAccess(const std::string& device);
// Standard output is a terminal (progress bars) rather than a file or pipe (plain lines).
bool outputIsTerminal();
// Standard input is a terminal (a person types, and is asked) rather than a scanner's lines
// or a file.
bool inputIsTerminal();
// The program's arguments in UTF-8, whatever the system's code page: on Windows a file
// under a folder such as "Jiří" reaches the program whole only through the wide command
// line.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// This program's own file, to run copies of it.
std::string selfPath();

// From now on each interrupt calls `handler` on a thread of its own instead of ending the
// program: POSIX SIGINT (Ctrl-C), SIGTERM and SIGHUP (the terminal hung up), and with
// `sessionEnds` SIGQUIT and SIGPWR (the power failing); Windows the console's Ctrl-C and
// Ctrl-Break, and with `sessionEnds` its close, the user's logoff and the system's
// shutdown, after which Windows ends the program once the handler returns.
// Output that fails (the terminal gone) no longer ends the program. A later call replaces
// the handler, waiting for one under way; an empty handler ignores interrupts.
void onInterrupt(std::function<void(bool sessionEnds)> handler);
// Ends the program as the last interrupt would have ended it.
[[noreturn]] void endAsInterrupted();
// A station's copy: the console's interrupts are the station's to act on, not its own.
void ignoreInterrupts();
// A station's copy ends with its station, however that ends (killed outright too), rather
// than service an instrument for nobody: POSIX, SIGTERM when the station's process is gone
// (at once when it is gone already); Windows, the station's job object ends its copies.
void endWithStation();
