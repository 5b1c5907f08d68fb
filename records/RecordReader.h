#pragma once
// The station's reports read back: one service record a line, across one or more report
// files, in the order written. A line that is not a record (cut short by a power cut,
// edited by hand, another program's) is passed over and named by its line number.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "support/Problem.h"

// One service record as read back. Text fields are empty where the record had none (or
// null); numbers keep their defaults.
struct RecordLine {
    int64_t time = 0;  // its attempt's start, seconds since 1970
    std::string port, slot, serial, label, device, deviceType, bootloader, firmwareBefore,
        firmwareAfter, command, result, hint, batch, operatorName;
    std::string imageFile, imageSha256, imageProduct, imageVersion;
    int attempt = 1;
    int exit = 0;
    double seconds = -1;   // < 0: not known
    bool notUtf8 = false;  // a text of it was not UTF-8 (another program's code page): U+FFFD

    bool ok() const { return result == "ok"; }
};

// The record on one line (without its line break); false when the line holds none: not a
// JSON object, or without its "time" (ISO 8601 UTC), "port" and "result".
bool parseRecordLine(const char* text, size_t size, RecordLine& record);

class RecordReader {
  public:
    // A line that was not a record: its file and line number (from 1).
    struct BadLine {
        std::string file;
        uint64_t line = 0;
    };
    // Bad lines named at the most; those beyond are counted.
    static constexpr size_t kBadLinesNamed = 1000;

    // `follow`: the files are still being written (the station at work), so a last line
    // without its line break is left for a later call, when it may have been finished.
    explicit RecordReader(std::vector<std::string> files, bool follow = false);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // The next record, across the files in turn; false at the end of what is written now
    // (following, a later call goes on from there).
    bool next(RecordLine& record);
    const std::vector<BadLine>& badLines() const { return bad_; }
    uint64_t badCount() const { return badCount_; }
    // Records whose text was not UTF-8, read with U+FFFD in its place (as many as bad lines
    // are named).
    const std::vector<BadLine>& notUtf8Lines() const { return notUtf8_; }
    // A file that could not be read, with what to do.
    const std::optional<Problem>& problem() const { return problem_; }

  private:
    bool fill();
    bool openNext();

    std::vector<std::string> files_;
    size_t current_ = 0;
    bool follow_;
    FILE* file_ = nullptr;
    std::vector<char> buffer_;
    size_t begin_ = 0, end_ = 0;  // unread bytes of buffer_
    uint64_t lineNumber_ = 0;
    bool atEnd_ = false;  // the current file's end has been read
    std::vector<BadLine> bad_, notUtf8_;
    uint64_t badCount_ = 0;
    std::optional<Problem> problem_;
};
