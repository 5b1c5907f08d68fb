#include "records/RecordReader.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "support/Files.h"
#include "support/UtcTime.h"
#include "support/Utf8.h"

namespace {
constexpr size_t kChunk = 1 << 20;

// A JSON object on one line, read for the fields a record has: a small scanner of our
// own, as a report is read at hundreds of megabytes a second.
class Scanner {
  public:
    Scanner(const char* at, const char* end) : p_(at), end_(end) {}

    bool record(RecordLine& r) {
        timeSeen_ = portSeen_ = resultSeen_ = false;
        if (!object(r, false)) {
            return false;
        }
        space();
        r.notUtf8 = notUtf8_;
        return p_ == end_ && timeSeen_ && portSeen_ && resultSeen_;
    }

  private:
    void space() {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\r' || *p_ == '\n')) {
            ++p_;
        }
    }
    bool take(char c) {
        space();
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }

    bool object(RecordLine& r, bool image) {
        if (!take('{')) {
            return false;
        }
        if (take('}')) {
            return true;
        }
        do {
            std::string& key = key_;
            if (!take('"') || !string(&key) || !take(':') || !field(r, key, image)) {
                return false;
            }
        } while (take(','));
        return take('}');
    }

    // The text of a string whose opening quote was taken, escapes turned into UTF-8, and
    // bytes that are not UTF-8 (another program's code page) into U+FFFD, so that every
    // reader of the record may rely on its text.
    bool string(std::string* out) {
        const bool taken = rawString(out);
        if (taken && out != nullptr && !isUtf8(*out)) {
            *out = validUtf8(*out);
            notUtf8_ = true;
        }
        return taken;
    }

    bool rawString(std::string* out) {
        const char* start = p_;
        while (p_ < end_ && *p_ != '"' && *p_ != '\\' && static_cast<unsigned char>(*p_) >= 0x20) {
            ++p_;
        }
        if (p_ < end_ && *p_ == '"') {
            if (out != nullptr) {
                out->assign(start, static_cast<size_t>(p_ - start));
            }
            ++p_;
            return true;
        }
        if (out != nullptr) {
            out->assign(start, static_cast<size_t>(p_ - start));
        }
        return escaped(out);
    }

    bool escaped(std::string* out) {
        std::string scratch;
        std::string& text = out != nullptr ? *out : scratch;
        while (p_ < end_) {
            const char c = *p_++;
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                text += c;
                continue;
            }
            if (p_ >= end_) {
                return false;
            }
            const char e = *p_++;
            static const char kFrom[] = "\"\\/bfnrt", kTo[] = "\"\\/\b\f\n\r\t";
            const char* at = std::strchr(kFrom, e);
            if (at != nullptr && e != '\0') {
                text += kTo[at - kFrom];
            } else if (e != 'u' || !unicode(text)) {
                return false;
            }
        }
        return false;
    }

    bool hex4(unsigned& value) {
        if (end_ - p_ < 4) {
            return false;
        }
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *p_++;
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                     : -1;
            if (digit < 0) {
                return false;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        return true;
    }

    bool unicode(std::string& text) {
        unsigned code = 0;
        if (!hex4(code)) {
            return false;
        }
        if (code >= 0xD800 && code < 0xDC00) {  // a surrogate pair
            unsigned low = 0;
            if (end_ - p_ < 6 || p_[0] != '\\' || p_[1] != 'u' || (p_ += 2, !hex4(low)) ||
                low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (code >> 18));
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
        return true;
    }

    // A text field: a string, or null for none.
    bool text(std::string& out) {
        space();
        if (take('"')) {
            return string(&out);
        }
        out.clear();
        return literal("null");
    }

    bool literal(const char* word) {
        const size_t n = std::strlen(word);
        if (static_cast<size_t>(end_ - p_) >= n && std::memcmp(p_, word, n) == 0) {
            p_ += n;
            return true;
        }
        return false;
    }

    bool number(double& value) {
        space();
        if (literal("null")) {
            value = -1;
            return true;
        }
        char* stop = nullptr;
        value = std::strtod(p_, &stop);  // the buffer ends with a zero past every line
        if (stop == p_ || stop > end_) {
            return false;
        }
        p_ = stop;
        return true;
    }

    // A whole number from `least` to `most`; null keeps the default.
    bool integer(int& value, int least, int most) {
        space();
        if (literal("null")) {
            return true;
        }
        double d = 0;
        if (!number(d) || d != std::floor(d) || d < least || d > most) {
            return false;
        }
        value = static_cast<int>(d);
        return true;
    }

    // A time in seconds: finite, not negative; null (-1) when not known.
    bool seconds(double& value) {
        space();
        if (literal("null")) {
            value = -1;
            return true;
        }
        return number(value) && std::isfinite(value) && value >= 0;
    }

    // Any value, passed over.
    bool skip() {
        space();
        if (p_ >= end_) {
            return false;
        }
        if (*p_ == '"') {
            ++p_;
            return string(nullptr);
        }
        if (*p_ == '{' || *p_ == '[') {
            const char close = *p_ == '{' ? '}' : ']';
            ++p_;
            if (take(close)) {
                return true;
            }
            do {
                if (close == '}' && (!take('"') || !string(nullptr) || !take(':'))) {
                    return false;
                }
                if (!skip()) {
                    return false;
                }
            } while (take(','));
            return take(close);
        }
        double ignored = 0;
        return literal("true") || literal("false") || number(ignored);
    }

    bool field(RecordLine& r, const std::string& key, bool image);

    const char* p_;
    const char* end_;
    std::string key_;
    std::string time_;
    bool timeSeen_ = false, portSeen_ = false, resultSeen_ = false;
    bool notUtf8_ = false;  // a text taken with U+FFFD
};

bool Scanner::field(RecordLine& r, const std::string& key, bool image) {
    if (image) {
        static const std::pair<const char*, std::string RecordLine::*> kImage[] = {
            {"file", &RecordLine::imageFile},
            {"sha256", &RecordLine::imageSha256},
            {"product", &RecordLine::imageProduct},
            {"version", &RecordLine::imageVersion}};
        for (const auto& [name, member] : kImage) {
            if (key == name) {
                return text(r.*member);
            }
        }
        return skip();
    }
    static const std::pair<const char*, std::string RecordLine::*> kTexts[] = {
        {"port", &RecordLine::port},
        {"slot", &RecordLine::slot},
        {"serial", &RecordLine::serial},
        {"label", &RecordLine::label},
        {"device", &RecordLine::device},
        {"deviceType", &RecordLine::deviceType},
        {"bootloader", &RecordLine::bootloader},
        {"firmwareBefore", &RecordLine::firmwareBefore},
        {"firmwareAfter", &RecordLine::firmwareAfter},
        {"command", &RecordLine::command},
        {"result", &RecordLine::result},
        {"hint", &RecordLine::hint},
        {"batch", &RecordLine::batch},
        {"operator", &RecordLine::operatorName}};
    for (const auto& [name, member] : kTexts) {
        if (key == name) {
            portSeen_ = portSeen_ || member == &RecordLine::port;
            resultSeen_ = resultSeen_ || member == &RecordLine::result;
            return text(r.*member);
        }
    }
    if (key == "time") {
        timeSeen_ = take('"') && string(&time_) && parseIsoUtc(time_.data(), time_.size(), r.time);
        return timeSeen_;
    }
    if (key == "attempt") {
        return integer(r.attempt, 1, 99);
    }
    if (key == "exit") {
        return integer(r.exit, 0, 255);
    }
    if (key == "seconds") {
        return seconds(r.seconds);
    }
    if (key == "image") {
        space();
        return literal("null") || object(r, true);
    }
    return skip();
}
}  // namespace

bool parseRecordLine(const char* text, size_t size, RecordLine& record) {
    // Every field from this line alone; the strings keep their room for the next line.
    for (std::string* s :
         {&record.port, &record.slot, &record.serial, &record.label, &record.device,
          &record.deviceType, &record.bootloader, &record.firmwareBefore, &record.firmwareAfter,
          &record.command, &record.result, &record.hint, &record.batch, &record.operatorName,
          &record.imageFile, &record.imageSha256, &record.imageProduct, &record.imageVersion}) {
        s->clear();
    }
    record.time = 0;
    record.attempt = 1;
    record.exit = 0;
    record.seconds = -1;
    record.notUtf8 = false;
    return Scanner(text, text + size).record(record);
}

RecordReader::RecordReader(std::vector<std::string> files, bool follow)
    : files_(std::move(files)), follow_(follow), buffer_(kChunk + 1) {
    openNext();
}

RecordReader::~RecordReader() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool RecordReader::openNext() {
    while (current_ < files_.size()) {
        file_ = openFile(files_[current_], "rb").release();
        if (file_ != nullptr) {
            lineNumber_ = 0;
            atEnd_ = false;
            begin_ = end_ = 0;
            return true;
        }
        if (!problem_) {
            problem_ = Problem(kUsage, "cannot read the report " + files_[current_],
                               "Name a report file that exists and that this user may read.");
        }
        ++current_;
    }
    return false;
}

// More of the current file into the buffer, after what is still unread.
bool RecordReader::fill() {
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ + 1 >= buffer_.size()) {
        buffer_.resize(buffer_.size() * 2);  // a line longer than the buffer
    }
    if (follow_) {
        // Read again past what was the end: a stream keeps its end once met, whatever was
        // written since, until it is positioned anew.
        std::clearerr(file_);
        std::fseek(file_, 0, SEEK_CUR);
    }
    const size_t room = buffer_.size() - 1 - end_;
    const size_t n = std::fread(buffer_.data() + end_, 1, std::min(room, kChunk), file_);
    if (n == 0 && std::ferror(file_) && !problem_) {  // a folder, a disk that fails
        problem_ = Problem(
            kUsage, "cannot read the report " + files_[current_] + ": " + std::strerror(errno),
            "Name a report file that exists and that this user may read.");
    }
    end_ += n;
    buffer_[end_] = '\0';
    atEnd_ = n == 0;
    return n > 0;
}

bool RecordReader::next(RecordLine& record) {
    while (file_ != nullptr) {
        const void* newline = std::memchr(buffer_.data() + begin_, '\n', end_ - begin_);
        if (newline == nullptr && fill()) {
            continue;
        }
        if (newline == nullptr && (end_ == begin_ || follow_)) {
            if (follow_ && current_ + 1 >= files_.size()) {
                return false;  // what is written so far; the rest may come
            }
            std::fclose(file_);
            file_ = nullptr;
            ++current_;
            openNext();
            continue;
        }
        // A line, or the file's last one without its line break (fill() moved it to the
        // front of the buffer).
        const char* start = buffer_.data() + begin_;
        const char* stop = newline ? static_cast<const char*>(newline) : buffer_.data() + end_;
        const size_t size = static_cast<size_t>(stop - start);
        begin_ += size + (newline ? 1 : 0);
        ++lineNumber_;
        const bool blank = size == 0 || (size == 1 && *start == '\r');
        if (!blank && parseRecordLine(start, size, record)) {
            if (record.notUtf8 && notUtf8_.size() < kBadLinesNamed) {
                notUtf8_.push_back({files_[current_], lineNumber_});
            }
            return true;
        }
        if (!blank) {
            if (bad_.size() < kBadLinesNamed) {
                bad_.push_back({files_[current_], lineNumber_});
            }
            ++badCount_;
        }
    }
    return false;
}
