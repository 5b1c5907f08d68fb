#include <gtest/gtest.h>

#include <string>

#include "engine/Crc16.h"
#include "engine/Messages.h"
#include "engine/RoutePath.h"
#include "tests/TestHelpers.h"

TEST(Crc16Arc, CheckValueAndRunningValue) {
    const std::string digits = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(digits.data());
    EXPECT_EQ(crc16ArcUpdate(0, bytes, 9), 0xBB3D);
    EXPECT_EQ(crc16ArcUpdate(crc16ArcUpdate(0, bytes, 4), bytes + 4, 5), 0xBB3D);
}

TEST(StatusInfo, DecodedFieldByFieldFromLittleEndianBytes) {
    const uint8_t record[20] = {2,    1,    10, 3, 0x2C, 0x01, 0,    0,    0xFF, 0xFF,
                                0xFF, 0xFF, 0,  0, 8,    0,    0xAB, 0xCD, 5,    0x02};
    const StatusInfo s = StatusInfo::decode(record);
    EXPECT_EQ(std::make_tuple(s.bootloaderMajor, s.bootloaderMinor, s.firmwareMajor,
                              s.firmwareMinor, s.firmwareSize, s.firmwareTime, s.areaSize,
                              s.deviceType, s.firmwareLoaded()),
              std::make_tuple(1, 2, 3, 10, 300u, -1, 0x80000u, 5, true));
    StatusInfo other;
    other.flags = 0xFD;
    EXPECT_FALSE(other.firmwareLoaded());
}

TEST(RoutePath, WordsFromPaths) {
    const std::pair<const char*, uint32_t> kRoutes[] = {
        {"2.5", 0xDA}, {"0", 0x08},     {"3", 0x0B},  {"7.7.7.7.7.7.7.7", 0xFFFFFFFFu},
        {".3", 0xB8},  {"1..2", 0xA89}, {"3.", 0x0B}, {".", 0x08},
        {"x", 0x08},   {"3a", 0x0B},    {" 4", 0x0C}, {"1.2.3", 0xBA9},
    };
    for (const auto& [text, word] : kRoutes) {
        uint32_t route = 0x12345678;
        EXPECT_EQ(messageOf([&, text = text] { applyRoutePath(text, route); }), "(no exception)")
            << text;
        EXPECT_EQ(route, word) << text;
    }
}

TEST(RoutePath, FailuresAndWhatTheyLeave) {
    const std::string portMessage = "Route dev port value is greater then allowed max value 7";
    for (const char* text : {"8", "263", "-1", "1.9"}) {
        uint32_t route = 0x0B;
        EXPECT_EQ(messageOf([&] { applyRoutePath(text, route); }), portMessage) << text;
    }
    uint32_t route = 0x0B;
    EXPECT_EQ(messageOf([&] { applyRoutePath("1.2.3.4.5.6.7.0.1", route); }),
              "Number of routed devices exceeded allowed number 8");
    EXPECT_EQ(route, 0x0Bu) << "the former route stays";
    EXPECT_EQ(messageOf([&] { applyRoutePath("", route); }), "Route path is empty");
    EXPECT_EQ(route, 0x0Bu);
}
