// Built against a key table in which products 2 and 4 share one key: a header that opens
// under two keys is reported for the lower device type.
#include <gtest/gtest.h>

#include "image/FirmwareImage.h"
#include "tests/TestSupport.h"
#include "tools/ImageSigner.h"

TEST(FirmwareImage, HeaderOpeningUnderTwoKeysGoesToTheLowerDeviceType) {
    TempDir dir;
    const std::string path = dir.path("twice.enc");
    writeFileBytes(path, makeFirmwareImage(developmentKey(4), randomBody(256, 2), ImageSpec{}));
    const FirmwareImageInfo info = examineFirmwareImage(path);
    EXPECT_EQ(info.verdict, FirmwareImageInfo::Verdict::Intact);
    EXPECT_EQ(info.deviceType, 2);
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
