#pragma once
// Text from outside checked at its border: bytes that are not UTF-8 (a console in another
// code page, a scanner set to one, a damaged file) are replaced by U+FFFD, never passed on to
// abort a JSON writer or reach a terminal as they came.
#include <string>

// The text with every byte that does not begin a whole, shortest-form UTF-8 sequence of a
// scalar value (no surrogates, nothing past U+10FFFF) replaced by U+FFFD.
std::string validUtf8(const std::string& text);
// Whether the text is UTF-8 as it is.
bool isUtf8(const std::string& text);
// The text as a terminal may show it: control characters other than a line break and a
// tab (ESC, BEL, CR, DEL, and U+0080 to U+009F) written as \xHH or \uHHHH, so that a
// label or a report's field can neither move the cursor nor retitle the window; bytes
// that are not UTF-8 as U+FFFD.
std::string printable(const std::string& text);
// The text as a window shows it: the same characters replaced by U+FFFD instead.
std::string withoutControls(const std::string& text);
