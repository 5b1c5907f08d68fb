#include "cli/Reporter.h"

#include <cstdio>

#include "support/JsonText.h"
#include "support/Text.h"
#include "support/Utf8.h"

namespace {
using Clock = std::chrono::steady_clock;
}

std::string pad(const std::string& text, size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

std::string statusLine(const StatusInfo& s, size_t width) {
    return pad(std::string(deviceStatusName(s.deviceType)) + "  ", width) + "bootloader " +
           versionText(s.bootloaderMajor, s.bootloaderMinor) + "  firmware " +
           versionText(s.firmwareMajor, s.firmwareMinor) + "  " + std::to_string(s.firmwareSize) +
           " bytes";
}

void Reporter::emit(const nlohmann::json& object) {
    std::printf("%s\n", jsonText(object).c_str());
    std::fflush(stdout);
}

void Reporter::endLine() {
    if (lineOpen_) {
        std::printf("\n");
        lineOpen_ = false;
    }
}

void Reporter::event(const std::string& text, const nlohmann::json& object) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (json_) {
        if (!object.is_null()) {  // null: words for a person only
            emit(object);
        }
        return;
    }
    if (text.empty()) {
        return;  // a fact for tools only
    }
    endLine();
    std::printf("%s\n", printable(text).c_str());
    std::fflush(stdout);
}

void Reporter::result(const nlohmann::json& object) {
    std::lock_guard<std::mutex> lock(mutex_);
    endLine();
    if (json_) {
        emit(object);
    }
}

void Reporter::error(const Problem& problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    endLine();
    std::fflush(stdout);
    if (stderr_) {
        std::fprintf(stderr, "ostraloader-cli: %s\n", printable(problem.message).c_str());
        if (!problem.hint.empty()) {
            std::fprintf(stderr, "%s\n", printable(problem.hint).c_str());
        }
    }
    if (json_) {
        emit(eventJson(CopyEvent::error(problem)));
    }
}

void Reporter::started(Operation operation, int32_t total) {
    std::lock_guard<std::mutex> lock(mutex_);
    const char* what = operationName(operation);
    operation_ = operation;
    total_ = total;
    lastPercent_ = -1;
    start_ = lastTick_ = Clock::now();
    if (json_) {
        emit(eventJson(CopyEvent::started(operation, total)));
    } else if (total < 0) {
        std::printf("%s: waiting for the instrument\n", what);
        std::fflush(stdout);
    } else {
        std::printf("%s: %d pages\n", what, total);
        std::fflush(stdout);
    }
}

void Reporter::progress(int32_t done) {
    std::lock_guard<std::mutex> lock(mutex_);
    const int percent = total_ > 0 ? static_cast<int>(100LL * done / total_) : 100;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const double rate = seconds > 0 ? done * 128.0 / seconds : 0.0;
    if (json_) {
        emit(eventJson(CopyEvent::progress(operation_, done, total_)));
        return;
    }
    if (terminal_) {
        const int width = 30;
        const int filled = percent * width / 100;
        const double left = rate > 0 ? (total_ - done) * 128.0 / rate : 0.0;
        std::printf("\r[%s%s] %d/%d pages %3d%% %6.1f kB/s %3.0f s left ",
                    std::string(static_cast<size_t>(filled), '#').c_str(),
                    std::string(static_cast<size_t>(width - filled), ' ').c_str(), done, total_,
                    percent, rate / 1000.0, left);
        std::fflush(stdout);
        lineOpen_ = true;
    } else if (percent != lastPercent_ && (percent % 10 == 0 || done == total_)) {
        std::printf("%s: %d/%d pages (%d%%)\n", operationName(operation_), done, total_, percent);
        std::fflush(stdout);
    }
    lastPercent_ = percent;
}

void Reporter::tick() {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = Clock::now();
    if (json_ || now - lastTick_ < std::chrono::milliseconds(250)) {
        return;
    }
    lastTick_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    if (terminal_) {
        static const char kSpin[] = "|/-\\";
        std::printf("\r%c %s %.0f s ", kSpin[spinner_++ % 4], operationName(operation_), seconds);
        std::fflush(stdout);
        lineOpen_ = true;
    }
}

void Reporter::status(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (json_ || !terminal_) {
        return;
    }
    std::printf("\r\x1b[K%s", printable(text).c_str());
    std::fflush(stdout);
    lineOpen_ = true;
}
