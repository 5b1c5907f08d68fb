// A watching station through a shift on Windows: instruments plugged in one after another
// (their port put into and taken out of the serial map, as a USB serial driver does), each
// serviced and recorded, and the station's handle count the same after the last as after
// the first. Run by scripts/test-windows with OSTRA_CLI_EXE (the command line) and
// OSTRA_SOAK_PORT (a COM port mapped to a virtual instrument).
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {
const char kSerialMap[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool plug(const std::string& com, bool present) {
    const std::string value = "\\Device\\OstraSoak" + com.substr(3);
    return (present ? ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSerialMap, value.c_str(), REG_SZ,
                                        com.c_str(), static_cast<DWORD>(com.size() + 1))
                    : ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSerialMap, value.c_str())) ==
           ERROR_SUCCESS;
}

size_t lines(const std::string& path) {
    size_t n = 0;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;)
            n += c == '\n';
        std::fclose(f);
    }
    return n;
}

// The system's table of open handles (SystemHandleInformation), as the kernel (and Wine's
// server) keeps it; GetProcessHandleCount answers nothing under Wine.
struct HandleEntry {
    USHORT process;
    USHORT backTrace;
    UCHAR type;
    UCHAR attributes;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};
using QuerySystem = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// How many handles the process has open now; 0 when the system does not tell.
size_t handleCount(DWORD process) {
    static const auto query = reinterpret_cast<QuerySystem>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    while (query(16 /* SystemHandleInformation */, buffer.data(), static_cast<ULONG>(buffer.size()),
                 &needed) != 0) {
        if (buffer.size() >= (64u << 20))
            return 0;
        buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    size_t n = 0;
    for (ULONG i = 0; i < table->count; ++i)
        n += table->entries[i].process == static_cast<USHORT>(process);
    return n;
}

// The process's handles at rest: the least of a few looks, as one may catch it reading
// the serial map.
size_t handles(DWORD process) {
    size_t least = SIZE_MAX;
    for (int look = 0; look < 5; ++look) {
        least = std::min(least, handleCount(process));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return least;
}

bool eventually(const std::function<bool()>& done, int seconds = 30) {
    for (int i = 0; i < seconds * 100 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}
}  // namespace

TEST(WinShift, AWatchThroughAHundredInstrumentsKeepsItsHandlesFlat) {
    const char* cli = std::getenv("OSTRA_CLI_EXE");
    const char* port = std::getenv("OSTRA_SOAK_PORT");
    if (cli == nullptr || port == nullptr)
        GTEST_SKIP() << "OSTRA_CLI_EXE and OSTRA_SOAK_PORT name the command line and the port";
    const int kInstruments = 100;
    // Handles the system makes once, when first needed (Wine's own among them), are made
    // by then; a leak of even one handle an instrument is 90 more after the last.
    const int kSettled = 10, kSlack = 2;
    char folder[MAX_PATH];
    ::GetTempPathA(sizeof folder, folder);
    const std::string report =
        std::string(folder) + "ostra-soak-" + std::to_string(::GetCurrentProcessId()) + ".jsonl";
    std::remove(report.c_str());
    plug(port, false);
    std::string line = std::string("\"") + cli + "\" --watch --port " + port + " --report \"" +
                       report + "\" status";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION station = {};
    ASSERT_TRUE(::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE,
                                 CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &station));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // watching by now
    size_t first = 0;
    for (int i = 1; i <= kInstruments; ++i) {
        ASSERT_TRUE(plug(port, true));
        ASSERT_TRUE(eventually([&] { return lines(report) == static_cast<size_t>(i); }))
            << "instrument " << i;
        ASSERT_TRUE(plug(port, false));
        std::this_thread::sleep_for(std::chrono::milliseconds(700));  // the station looks
        if (i == kSettled)
            first = handles(station.dwProcessId);
    }
    const size_t last = handles(station.dwProcessId);
    EXPECT_GT(first, 0u) << "the system tells no handles";
    ::TerminateProcess(station.hProcess, 1);
    ::WaitForSingleObject(station.hProcess, 10000);
    ::CloseHandle(station.hThread);
    ::CloseHandle(station.hProcess);
    EXPECT_LE(last, first + kSlack)
        << "handles after instrument " << kSettled << " and after the last";
    std::printf("station handles after instrument %d: %zu, after %d: %zu\n", kSettled, first,
                kInstruments, last);
    std::remove(report.c_str());
}
