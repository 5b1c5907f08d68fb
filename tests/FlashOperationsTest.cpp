#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/Crc16.h"
#include "engine/VantorBootloader.h"
#include "sim/VirtualInstrument.h"
#include "support/Exception.h"
#include "support/LittleEndian.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using Events = std::vector<std::string>;

class FlashTest : public ::testing::Test {
  protected:
    explicit FlashTest(SimConfig config = SimConfig{}) : sim(config), engine(&listener) {
        sim.start();
        engine.Connect(sim.devicePath());
        listener.clear();
    }

    // A file of a header the instrument accepts followed by `body` as it is.
    std::string imageFile(const Bytes& body, int keyType = 1) {
        const Bytes signedImage = makeFirmwareImage(developmentKey(keyType), Bytes(), ImageSpec{});
        Bytes file(128 + body.size());
        std::copy_n(signedImage.begin(), 128, file.begin());
        std::copy(body.begin(), body.end(), file.begin() + 128);
        const std::string path = dir.path("image.enc");
        writeFile(path, file);
        return path;
    }

    Events run(const std::function<void()>& start) {
        listener.clear();
        start();
        EXPECT_TRUE(listener.waitForEnd());
        engine.stop(true, 10000);
        return listener.events();
    }

    std::vector<Bytes> requestsWithCode(uint16_t code) const {
        std::vector<Bytes> found;
        for (const Bytes& r : sim.requests()) {
            if (MessageHeader::decode(r.data()).code == code)
                found.push_back(r);
        }
        return found;
    }

    // After any failure the link is back at 1000 ms: a silent instrument shows it.
    void expectNormalTimeout() {
        EXPECT_EQ(engine.LinkTimeout(), 1000);
        sim.setInBootloader(false);
        const auto start = Clock::now();
        EXPECT_THROW(engine.RequestStatus(), Exception);
        EXPECT_LT(msSince(start), 3000);
        sim.setInBootloader(true);
    }

    TempDir dir;
    VirtualInstrument sim;
    RecordingListener listener;
    VantorBootloader engine;
};

class ShortFlashTest : public FlashTest {
  protected:
    ShortFlashTest() : FlashTest(makeConfig()) {}
    static SimConfig makeConfig() {
        SimConfig c;
        c.flashSize = 0;
        c.eraseDelayMs = 1500;
        return c;
    }
};
}  // namespace

TEST_F(FlashTest, UploadSendsPagesWithFillAndTheFinishingMessage) {
    const Bytes body = randomBody(300, 300);
    const std::string path = imageFile(body);
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }),
              (Events{"UploadStarted " + path + " 3", "UploadProgress 1", "UploadProgress 2",
                      "UploadProgress 3", "UploadFinished"}));
    const std::vector<Bytes> pages = requestsWithCode(BPROT_MSG_WRITE_PAGE);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[2].size(), 142u);
    EXPECT_EQ(getLe16(pages[2].data() + 12), 2);
    EXPECT_EQ(Bytes(pages[2].begin() + 14, pages[2].begin() + 58),
              Bytes(body.begin() + 256, body.end()));
    EXPECT_EQ(Bytes(pages[2].begin() + 58, pages[2].end()), Bytes(84, 0xFF));
    const Bytes finish = requestsWithCode(BPROT_WRITE_FINISH_REQ).at(0);
    ASSERT_EQ(finish.size(), 23u);
    EXPECT_EQ(finish[12], 0x10);
    EXPECT_EQ(getLe32(finish.data() + 13), 300u);
    EXPECT_EQ(getLe16(finish.data() + 17), crc16ArcUpdate(0, body.data(), body.size()));
    const Bytes flash = sim.flash();
    EXPECT_EQ(Bytes(flash.begin(), flash.begin() + 300), body);
    EXPECT_EQ(engine.Status().firmwareSize, 300u) << "the status is re-read";
    EXPECT_TRUE(engine.IsFirmwareLoaded());
    EXPECT_EQ(engine.LinkTimeout(), 1000);
}

TEST_F(FlashTest, UploadOfWholePagesAndOfAnEmptyBody) {
    std::string path = imageFile(randomBody(256, 1));
    Events events = run([&] { engine.UploadFirmware(path); });
    EXPECT_EQ(events.front(), "UploadStarted " + path + " 2");
    EXPECT_EQ(events.back(), "UploadFinished");
    EXPECT_EQ(requestsWithCode(BPROT_MSG_WRITE_PAGE).size(), 2u);

    const size_t pagesBefore = requestsWithCode(BPROT_MSG_WRITE_PAGE).size();
    path = imageFile(Bytes());
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }),
              (Events{"UploadStarted " + path + " 0", "UploadFinished"}));
    EXPECT_EQ(requestsWithCode(BPROT_MSG_WRITE_PAGE).size(), pagesBefore);
    const Bytes finish = requestsWithCode(BPROT_WRITE_FINISH_REQ).back();
    EXPECT_EQ(getLe32(finish.data() + 13), 0u);
    EXPECT_EQ(getLe16(finish.data() + 17), 0u);
}

TEST_F(FlashTest, UploadRefusalsBeforeAnythingIsSent) {
    const uint32_t before = sim.requestCount();
    EXPECT_EQ(run([&] { engine.UploadFirmware(dir.path("missing.enc")); }),
              Events{"Error can't open file " + dir.path("missing.enc")});
    const std::string tiny = dir.path("tiny.enc");
    writeFile(tiny, Bytes(127, 1));
    EXPECT_EQ(run([&] { engine.UploadFirmware(tiny); }),
              Events{"Error firmware file " + tiny + " is shorter than its 128-byte header"});
    EXPECT_EQ(sim.requestCount(), before);
    expectNormalTimeout();
}

TEST_F(FlashTest, UploadAnswerCodes) {
    // Signed for another product: the instrument answers 252 and no page goes out.
    std::string path = imageFile(randomBody(500, 2), 2);
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }),
              (Events{"UploadStarted " + path + " 4",
                      "Error Nekompatibilni firmware nebo do jineho zarizeni"}));
    EXPECT_TRUE(requestsWithCode(BPROT_MSG_WRITE_PAGE).empty());
    expectNormalTimeout();

    path = imageFile(randomBody(500, 3));
    sim.addFault(SimFault{SimFault::Kind::ReplyCode, BPROT_MSG_WRITE_START, 1, 0, 100});
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }).back(), "Error Jina chyba");

    sim.clearFaults();
    sim.addFault(SimFault{SimFault::Kind::ReplyCode, BPROT_WRITE_FINISH_REQ, 1, 0, 403});
    EXPECT_EQ(run([&] { engine.UploadFirmware(path); }).back(), "Error Write flash firmware error");
    expectNormalTimeout();
}

TEST_F(FlashTest, ReadBackWritesExactlyTheFirmwareBytes) {
    const Bytes body = randomBody(300, 5);
    const std::string image = imageFile(body);
    run([&] { engine.UploadFirmware(image); });
    const std::string dump = dir.path("dump.bin");
    EXPECT_EQ(run([&] { engine.ReadFlash(dump); }),
              (Events{"ReadStarted " + dump + " 300 3", "ReadProgress 1", "ReadProgress 2",
                      "ReadProgress 3", "ReadFinished"}));
    EXPECT_EQ(readFile(dump), body);
    std::vector<Bytes> reads = requestsWithCode(BPROT_MSG_READ_PAGE);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(getLe16(reads[2].data() + 12), 2);
}

TEST_F(FlashTest, ReadBackFileFailures) {
    const std::string bad = dir.path("no-folder/dump.bin");
    EXPECT_EQ(run([&] { engine.ReadFlash(bad); }),
              Events{"Error can't create file '" + bad + "'\n"});

    // A file that fails while written is not reported as a complete dump.
    const Events events = run([&] { engine.ReadFlash("/dev/full"); });
    EXPECT_EQ(events.back(), "Error write into file '/dev/full' failed");
    EXPECT_EQ(events.front(), "ReadStarted /dev/full 524288 4096");
}

TEST_F(ShortFlashTest, ReadBackOfNothingAndEraseWithTicks) {
    const std::string dump = dir.path("empty.bin");
    EXPECT_EQ(run([&] { engine.ReadFlash(dump); }),
              (Events{"ReadStarted " + dump + " 0 0", "ReadFinished"}));
    EXPECT_TRUE(readFile(dump).empty());
    EXPECT_TRUE(requestsWithCode(BPROT_MSG_READ_PAGE).empty());

    const size_t statusBefore = requestsWithCode(BPROT_MSG_STATUSINFO).size();
    const auto start = Clock::now();
    EXPECT_EQ(run([&] { engine.EraseFlash(); }), (Events{"EraseStarted", "EraseFinished"}));
    EXPECT_GE(msSince(start), 1400);
    EXPECT_GT(listener.ticks(), 10) << "ticks come many times a second while waiting";
    EXPECT_EQ(requestsWithCode(BPROT_MSG_STATUSINFO).size(), statusBefore + 1)
        << "the status is re-read";
}
