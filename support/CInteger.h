#pragma once
// Reads a decimal integer the way the C library's integer conversion does: leading white
// space, an optional sign, then digits up to the first other character; no digits read as
// 0. Values beyond the range of long saturate instead of overflowing.
long readCInteger(const char* text);
