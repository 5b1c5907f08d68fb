#pragma once
// Linux arbitrary line speed (termios2). Kept in its own file because the kernel's
// termios2 header cannot share a translation unit with <termios.h>.
// Returns false when the device refuses the speed.
bool setCustomBaud(int fd, unsigned long baud);
