#include <gtest/gtest.h>

#include <cstring>

#include "image/FirmwareImage.h"
#include "support/LittleEndian.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;

FirmwareImageInfo examineBytes(const TempDir& dir, const Bytes& image) {
    const std::string path = dir.path("image.enc");
    writeFile(path, image);
    return examineFirmwareImage(path);
}
}  // namespace

TEST(FirmwareImage, EachProductOpensWithItsKeyAndShowsItsName) {
    TempDir dir;
    const char* names[] = {"Solvar CU", "Tamrik", "Solvar HS", "Solvar HS3", "Tamrik 3"};
    for (int type = 1; type <= 5; ++type) {
        ImageSpec spec;
        spec.versionMajor = 2;
        spec.versionMinor = static_cast<uint8_t>(type);
        spec.build = 1000u + static_cast<uint32_t>(type);
        const FirmwareImageInfo info =
            examineBytes(dir, makeFirmwareImage(developmentKey(type), randomBody(700, type), spec));
        EXPECT_EQ(info.verdict, FirmwareImageInfo::Verdict::Intact);
        EXPECT_EQ(info.deviceType, type);
        EXPECT_STREQ(info.verdictText(), names[type - 1]);
        EXPECT_EQ(info.versionMinor, type);
        EXPECT_EQ(info.build, 1000u + static_cast<uint32_t>(type));
        EXPECT_EQ(info.length, 700u);
    }
}

TEST(FirmwareImage, FlagsTextAndBuildTimeFollowTheRules) {
    EXPECT_EQ(firmwareFlagsText(0), "");
    EXPECT_EQ(firmwareFlagsText(3), "Beta,Debug");
    EXPECT_EQ(firmwareFlagsText(0x8000), "Flag15");
    EXPECT_EQ(firmwareFlagsText(0x0005), "Beta,Flag2");

    const struct {
        uint32_t timestamp;
        int year, month, day, hour, minute, second;
    } kTimes[] = {
        {0, 2000, 1, 1, 0, 0, 0},           {86399, 2000, 1, 1, 23, 59, 59},
        {59 * 86400, 2000, 2, 29, 0, 0, 0},  // 2000 is a leap year
        {366 * 86400, 2001, 1, 1, 0, 0, 0}, {0xFFFFFFFFu, 2136, 2, 7, 6, 28, 15},
    };
    for (const auto& t : kTimes) {
        const CalendarTime c = firmwareBuildTime(t.timestamp);
        EXPECT_EQ(c.year, t.year) << t.timestamp;
        EXPECT_EQ(c.month, t.month) << t.timestamp;
        EXPECT_EQ(c.day, t.day) << t.timestamp;
        EXPECT_EQ(c.hour, t.hour) << t.timestamp;
        EXPECT_EQ(c.minute, t.minute) << t.timestamp;
        EXPECT_EQ(c.second, t.second) << t.timestamp;
    }
}

TEST(FirmwareImage, VerdictsForDamagedAndEdgeImages) {
    TempDir dir;
    const Bytes body = randomBody(1000, 7);
    const Bytes good = makeFirmwareImage(developmentKey(1), body, ImageSpec{});

    // Empty body: a file of exactly the header passes.
    const Bytes empty = makeFirmwareImage(developmentKey(2), Bytes(), ImageSpec{});
    ASSERT_EQ(empty.size(), 128u);
    EXPECT_EQ(examineBytes(dir, empty).verdict, FirmwareImageInfo::Verdict::Intact);

    EXPECT_STREQ(examineBytes(dir, Bytes(good.begin(), good.begin() + 127)).verdictText(),
                 "Unknown product or firmware corrupted");
    EXPECT_STREQ(examineFirmwareImage(dir.path("missing.enc")).verdictText(),
                 "Unknown product or firmware corrupted");

    Bytes flippedHeader = good;
    flippedHeader[40] ^= 0x04;
    EXPECT_EQ(examineBytes(dir, flippedHeader).verdict, FirmwareImageInfo::Verdict::UnknownProduct);

    Bytes flippedBody = good;
    flippedBody[128 + 500] ^= 0x10;
    EXPECT_STREQ(examineBytes(dir, flippedBody).verdictText(), "Firmware corrupted");

    Bytes truncated(good.begin(), good.end() - 8);
    EXPECT_EQ(examineBytes(dir, truncated).verdict, FirmwareImageInfo::Verdict::Corrupted);

    // Bytes beyond length + 8 take no part in the check.
    Bytes extended = good;
    extended.insert(extended.end(), 300, 0x77);
    EXPECT_EQ(examineBytes(dir, extended).verdict, FirmwareImageInfo::Verdict::Intact);
}

TEST(FirmwareImage, LengthNearTheTopOfItsRangeFailsCleanly) {
    TempDir dir;
    for (uint32_t length : {0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFF9u, 1001u}) {
        ImageSpec spec;
        spec.overrideLength = true;
        spec.length = length;
        const Bytes image = makeFirmwareImage(developmentKey(3), randomBody(1000, 3), spec);
        const FirmwareImageInfo info = examineBytes(dir, image);
        EXPECT_EQ(info.deviceType, 3);
        EXPECT_EQ(info.verdict, FirmwareImageInfo::Verdict::Corrupted) << length;
    }
}

TEST(FirmwareImage, HeaderCheckLeavesAForeignBlockUnchanged) {
    uint8_t block[128];
    for (int i = 0; i < 128; ++i)
        block[i] = static_cast<uint8_t>(i);
    uint8_t copy[128];
    std::memcpy(copy, block, 128);
    DeviceType type = 9;
    VerifyFirmwareHeader(block, type);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(std::memcmp(block, copy, 128), 0);
}

TEST(FirmwareImage, ImageToolKeyTableMatchesTheCompiledTable) {
    // The shipped table is exactly the public halves of the development keys.
    for (int type = 1; type <= 5; ++type) {
        const std::string line = productKeyTableLine(type, developmentKey(type));
        const ProductKey* key = productKey(static_cast<DeviceType>(type));
        ASSERT_NE(key, nullptr);
        char hex[3];
        std::string expected = "product" + std::to_string(type) + " ";
        for (uint8_t b : key->modulus) {
            std::snprintf(hex, sizeof hex, "%02x", b);
            expected += hex;
        }
        expected += " 010001";
        EXPECT_EQ(line, expected);
    }
    EXPECT_EQ(productKey(0), nullptr);
    EXPECT_EQ(productKey(6), nullptr);
    EXPECT_STREQ(productName(0), "Unknown device");
    EXPECT_STREQ(productName(200), "Unknown device");
}
