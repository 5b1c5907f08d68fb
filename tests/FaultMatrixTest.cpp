// Every request of an upload, a read-back and an erase meets each fault of the virtual
// instrument in turn. The engine either succeeds (the fault was harmless) or ends in
// exactly one OnError with the request's own text; either way no file stays open, the
// link time-out is back at 1000 ms, and the next status request works once the fault is
// gone. A read-back file never holds more than was received.
#include <gtest/gtest.h>

#include <ostream>

#include "engine/VantorBootloader.h"
#include "sim/VirtualInstrument.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;
using Kind = SimFault::Kind;

enum class Operation { Upload, ReadBack, Erase };

struct Case {
    Operation operation;
    uint16_t code;  // the request that meets the fault
    uint32_t nth;   // which of the operation's requests with that code
    Kind kind;
};

const char* failureText(uint16_t code) {
    switch (code) {
        case BPROT_MSG_WRITE_START:
            return msg::kWriteStartFailed;
        case BPROT_MSG_WRITE_PAGE:
            return msg::kWritePageFailed;
        case BPROT_WRITE_FINISH_REQ:
            return msg::kFinishFailed;
        case BPROT_MSG_READ_PAGE:
            return msg::kReadPageFailed;
        case BPROT_MSG_ERASE_FLASH:
            return msg::kEraseReceiveFailed;
        default:
            return msg::kStatusFailed;
    }
}

bool harmless(Kind kind) {
    // A reply 300 ms late is still in time; frames of another type or tag and noise that
    // holds no frame are skipped by the receiver.
    return kind == Kind::Late || kind == Kind::WrongType || kind == Kind::WrongTag ||
           kind == Kind::Noise;
}

std::vector<Case> allCases() {
    const Kind kinds[] = {Kind::Silent,   Kind::Late,  Kind::Corrupt, Kind::WrongType,
                          Kind::WrongTag, Kind::Noise, Kind::HangUp};
    const std::vector<std::tuple<Operation, uint16_t, uint32_t>> requests = {
        {Operation::Upload, BPROT_MSG_WRITE_START, 1},
        {Operation::Upload, BPROT_MSG_WRITE_PAGE, 1},
        {Operation::Upload, BPROT_MSG_WRITE_PAGE, 2},
        {Operation::Upload, BPROT_WRITE_FINISH_REQ, 1},
        {Operation::Upload, BPROT_MSG_STATUSINFO, 1},
        {Operation::ReadBack, BPROT_MSG_READ_PAGE, 1},
        {Operation::ReadBack, BPROT_MSG_READ_PAGE, 2},
        {Operation::Erase, BPROT_MSG_ERASE_FLASH, 1},
        {Operation::Erase, BPROT_MSG_STATUSINFO, 1},
    };
    std::vector<Case> cases;
    for (const auto& [operation, code, nth] : requests) {
        for (Kind kind : kinds) {
            cases.push_back({operation, code, nth, kind});
        }
    }
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    static const char* const kOperations[] = {"Upload", "ReadBack", "Erase"};
    static const char* const kKinds[] = {"Silent",   "Late",  "Corrupt",   "WrongType",
                                         "WrongTag", "Noise", "ReplyCode", "HangUp"};
    const Case& c = info.param;
    return std::string(kOperations[static_cast<int>(c.operation)]) + "_" + std::to_string(c.code) +
           "_" + std::to_string(c.nth) + "_" + kKinds[static_cast<int>(c.kind)];
}

// Test names already say which case ran; gtest need not dump the bytes.
void PrintTo(const Case& c, std::ostream* out) {
    *out << "code " << c.code << ", request " << c.nth;
}

SimConfig smallInstrument() {
    SimConfig config;
    config.flashSize = 256;  // a read-back of two pages
    config.eraseDelayMs = 100;
    return config;
}

class FaultMatrix : public ::testing::TestWithParam<Case> {
  protected:
    FaultMatrix() : sim(smallInstrument()), engine(&listener) {
        sim.start();
        engine.setEraseDeadlineForTest(1500);
        engine.Connect(sim.devicePath());
        listener.clear();
    }

    TempDir dir;
    VirtualInstrument sim;
    RecordingListener listener;
    VantorBootloader engine;
};
}  // namespace

TEST_P(FaultMatrix, EndsCleanlyInSuccessOrOneError) {
    const Case& c = GetParam();
    const std::string image = dir.path("image.enc");
    const Bytes header = makeFirmwareImage(developmentKey(1), Bytes(), ImageSpec{});
    Bytes file(header.begin(), header.end());
    file.resize(128 + 200, 0x3C);  // two pages
    writeFile(image, file);
    const std::string dump = dir.path("dump.bin");
    const int descriptors = openDescriptorCount();

    sim.addFault(SimFault{c.kind, c.code, c.nth, 300, 0});
    switch (c.operation) {
        case Operation::Upload:
            engine.UploadFirmware(image);
            break;
        case Operation::ReadBack:
            engine.ReadFlash(dump);
            break;
        case Operation::Erase:
            engine.EraseFlash();
            break;
    }
    ASSERT_TRUE(listener.waitForEnd());
    engine.stop(true, 10000);

    std::vector<std::string> errors;
    int finished = 0;
    for (const std::string& e : listener.events()) {
        if (e.rfind("Error ", 0) == 0)
            errors.push_back(e.substr(6));
        if (e.find("Finished") != std::string::npos)
            ++finished;
    }
    if (harmless(c.kind)) {
        EXPECT_TRUE(errors.empty()) << errors.front();
        EXPECT_EQ(finished, 1);
    } else {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(finished, 0);
        if (c.kind == Kind::HangUp) {
            EXPECT_EQ(errors[0].rfind("read data failed, err: ", 0), 0u) << errors[0];
        } else {
            EXPECT_EQ(errors[0], failureText(c.code));
        }
    }
    EXPECT_FALSE(engine.IsBusy());
    EXPECT_EQ(engine.LinkTimeout(), 1000);
    EXPECT_EQ(openDescriptorCount(), descriptors) << "no file stays open";
    if (c.operation == Operation::ReadBack) {
        const size_t received = harmless(c.kind) ? 256 : 128 * (c.nth - 1);
        EXPECT_EQ(readFile(dump).size(), received);
    }

    sim.clearFaults();
    if (c.kind == Kind::HangUp) {
        engine.Connect(sim.devicePath());  // the line came back on a fresh terminal
    }
    EXPECT_EQ(engine.RequestStatus().deviceType, 1);
}

INSTANTIATE_TEST_SUITE_P(EveryRequestEveryFault, FaultMatrix, ::testing::ValuesIn(allCases()),
                         caseName);
