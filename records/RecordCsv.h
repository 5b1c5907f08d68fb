#pragma once
// Records as CSV for a factory's systems and spreadsheets: one row per record, RFC 4180
// quoting (a field holding the separator, a quote or a line break is quoted, its quotes
// doubled), UTF-8, rows ended by CR LF; a field that begins with =, +, -, @, a tab or a
// carriage return and is not a number starts with a ' (a spreadsheet would run it as a
// formula). The separator is one of kCsvSeparators. The columns, in this order, are stable:
//   time           the attempt's start, ISO 8601 UTC ("2026-12-08T03:14:07Z")
//   port, slot     the port as named, and the station's slot for it
//   serial, label  the USB serial number, and the label read from the instrument's case
//   device         the instrument's product as its status names it ("SOLVAR CU")
//   bootloader, firmware_before, firmware_after   versions ("2.1")
//   image_file, image_sha256                      the image uploaded
//   attempt        its number, from 1
//   result         "ok", or what went wrong
//   exit           the exit code: 0 ok, 1 the device or line, 2 usage, 3 the image
//   milliseconds   how long the attempt took, a whole number (the same in every locale)
//   batch, operator
// An unknown value is an empty field.
#include <string>

#include "records/RecordReader.h"

// The separators a spreadsheet or a factory's system reads: comma, semicolon, tab, bar.
constexpr const char* kCsvSeparators = ",;\t|";

std::string csvHeader(char separator = ',');
std::string csvRow(const RecordLine& record, char separator = ',');
