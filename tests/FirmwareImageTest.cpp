#include <gtest/gtest.h>

#include "image/FirmwareImage.h"
#include "support/LittleEndian.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

namespace {
using Bytes = std::vector<uint8_t>;

FirmwareImageInfo examineBytes(const TempDir& dir, const Bytes& image) {
    const std::string path = dir.path("image.enc");
    writeFileBytes(path, image);
    return examineFirmwareImage(path);
}
}  // namespace

TEST(FirmwareImage, EachProductOpensWithItsKeyAndShowsItsName) {
    TempDir dir;
    const char* names[] = {"Solvar CU", "Tamrik", "Solvar HS", "Solvar HS3", "Tamrik 3"};
    for (int type = 1; type <= 5; ++type) {
        ImageSpec spec;
        spec.versionMinor = static_cast<uint8_t>(type);
        spec.build = 1000u + static_cast<uint32_t>(type);
        const FirmwareImageInfo info =
            examineBytes(dir, makeFirmwareImage(developmentKey(type), randomBody(700, type), spec));
        EXPECT_STREQ(info.verdictText(), names[type - 1]);
        EXPECT_EQ(std::make_tuple(info.verdict, info.deviceType, info.versionMinor, info.build,
                                  info.length),
                  std::make_tuple(FirmwareImageInfo::Verdict::Intact, type, type,
                                  1000u + static_cast<uint32_t>(type), 700u));
    }
    EXPECT_STREQ(productName(0), "Unknown device");
    EXPECT_STREQ(productName(6), "Unknown device");
}

TEST(FirmwareImage, FlagsTextAndBuildTimeFollowTheRules) {
    EXPECT_EQ(firmwareFlagsText(0), "");
    EXPECT_EQ(firmwareFlagsText(3), "Beta,Debug");
    EXPECT_EQ(firmwareFlagsText(0x8000), "Flag15");
    EXPECT_EQ(firmwareFlagsText(0x0005), "Beta,Flag2");

    const std::tuple<uint32_t, int, int, int, int, int, int> kTimes[] = {
        {0, 2000, 1, 1, 0, 0, 0},           {86399, 2000, 1, 1, 23, 59, 59},
        {59 * 86400, 2000, 2, 29, 0, 0, 0},  // 2000 is a leap year
        {366 * 86400, 2001, 1, 1, 0, 0, 0}, {0xFFFFFFFFu, 2136, 2, 7, 6, 28, 15},
    };
    for (const auto& [timestamp, year, month, day, hour, minute, second] : kTimes) {
        const CalendarTime c = firmwareBuildTime(timestamp);
        EXPECT_EQ(std::make_tuple(c.year, c.month, c.day, c.hour, c.minute, c.second),
                  std::make_tuple(year, month, day, hour, minute, second))
            << timestamp;
    }
}

TEST(FirmwareImage, VerdictsForDamagedAndEdgeImages) {
    TempDir dir;
    const Bytes body = randomBody(1000, 7);
    const Bytes good = makeFirmwareImage(developmentKey(1), body, ImageSpec{});
    const auto changed = [&](size_t at, uint8_t bits) {
        Bytes b = good;
        b[at] ^= bits;
        return b;
    };
    // A header of product 3 whose length field says otherwise than the body.
    const auto withLength = [&](uint32_t length) {
        ImageSpec spec;
        spec.overrideLength = true;
        spec.length = length;
        return makeFirmwareImage(developmentKey(3), body, spec);
    };
    Bytes extended = good;  // bytes beyond length + 8 take no part in the check
    extended.insert(extended.end(), 300, 0x77);
    const std::pair<Bytes, const char*> kImages[] = {
        {makeFirmwareImage(developmentKey(2), Bytes(), ImageSpec{}), "Tamrik"},  // header only
        {Bytes(good.begin(), good.begin() + 127), "Unknown product or firmware corrupted"},
        {changed(40, 0x04), "Unknown product or firmware corrupted"},
        {changed(128 + 500, 0x10), "Firmware corrupted"},
        {Bytes(good.begin(), good.end() - 8), "Firmware corrupted"},
        {extended, "Solvar CU"},
        {withLength(0xFFFFFFFFu), "Firmware corrupted"},
        {withLength(0xFFFFFFF8u), "Firmware corrupted"},
        {withLength(0xFFFFFFF9u), "Firmware corrupted"},
        {withLength(1001), "Firmware corrupted"},
    };
    for (const auto& [image, verdict] : kImages) {
        EXPECT_STREQ(examineBytes(dir, image).verdictText(), verdict) << image.size() << " bytes";
    }
    EXPECT_STREQ(examineFirmwareImage(dir.path("missing.enc")).verdictText(),
                 "Unknown product or firmware corrupted");
}

// A flash read back after an upload holds the body as sent (encrypted, padded to whole
// pages by the read) or its decryption; anything else is reported at its first difference.
TEST(FirmwareImage, AFlashReadBackHoldsTheBodyAsSentOrDecrypted) {
    TempDir dir;
    const Bytes plain = randomBody(1000, 3);
    const Bytes image = makeFirmwareImage(developmentKey(1), plain, ImageSpec{});
    const FirmwareImageInfo info = examineBytes(dir, image);
    ASSERT_EQ(info.verdict, FirmwareImageInfo::Verdict::Intact);
    const Bytes sent(image.begin() + 128, image.end());
    ASSERT_EQ(sent.size(), 1000u) << "whole cipher blocks";
    const auto flip = [](Bytes b, size_t at) {
        b[at] ^= 0x01;
        return b;
    };
    Bytes decryptedInPages = plain;
    decryptedInPages.resize(1024, 0xFF);
    const std::tuple<const char*, Bytes, int64_t> kFlashes[] = {
        {"as sent", sent, -1},
        {"decrypted", plain, -1},
        {"decrypted, read in whole pages", decryptedInPages, -1},
        {"one byte changed", flip(sent, 500), 500},
        {"decrypted, one byte changed", flip(plain, 999), 0},
        {"the first byte changed", flip(sent, 0), 0},
        {"the last byte changed", flip(sent, 999), 999},
        {"cut short", Bytes(sent.begin(), sent.begin() + 640), 640},
        {"one byte short", Bytes(sent.begin(), sent.begin() + 999), 999},
        {"empty", Bytes(), 0},
    };
    for (const auto& [what, flash, difference] : kFlashes)
        EXPECT_EQ(flashDifference(flash, sent, info.header), difference) << what;
}
