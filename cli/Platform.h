#pragma once
// What the command line needs of its platform: whether a port's device is there and may be
// opened (for `ports`), whether output goes to a terminal, and the arguments as UTF-8.
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
// The program's arguments in UTF-8, whatever the system's code page: on Windows a file
// under a folder such as "Jiří" reaches the program whole only through the wide command
// line.
std::vector<std::string> utf8Arguments(int argc, char** argv);
