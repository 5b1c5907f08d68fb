#include <gtest/gtest.h>

#include <string>

#include "support/Exception.h"

TEST(Exception, FormatsTextsOfAnyLengthWhole) {
    // Right at the first buffer's edge: 1023 characters fit with the zero, 1024 do not.
    for (size_t length : {1022u, 1023u, 1024u, 1025u, 4096u}) {
        const std::string text(length, 'a');
        const Exception e("%s", text.c_str());
        EXPECT_EQ(e.message, text) << length;
        EXPECT_EQ(std::string(e.text()).size(), length);
    }
    EXPECT_STREQ(Exception("read data failed, err: %d", 5).text(), "read data failed, err: 5");
}
