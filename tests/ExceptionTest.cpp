#include <gtest/gtest.h>

#include <string>

#include "support/Exception.h"
#include "support/Utf8.h"

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

// Text from outside: each byte that begins no whole, shortest-form sequence of a scalar
// value becomes U+FFFD; what is UTF-8 stays as it is.
TEST(Utf8, EachByteThatIsNotUtf8BecomesAReplacement) {
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> kTexts[] = {
        {"SN-000143", "SN-000143"},
        {"Ji\xC5\x99\xC3\xAD", "Ji\xC5\x99\xC3\xAD"},      // Jiří
        {std::string("A\0B", 3), std::string("A\0B", 3)},  // NUL is a character
        {"\xF0\x9F\x93\xA6", "\xF0\x9F\x93\xA6"},          // four bytes, U+1F4E6
        {"BAD-\xE9", "BAD-" + r},                          // Latin-1 é
        {"\xC0\xAF", r + r},                               // overlong '/'
        {"\xE0\x80\xAF", r + r + r},                       // overlong, three bytes
        {"\xED\xA0\x80", r + r + r},                       // a surrogate
        {"\xF4\x90\x80\x80", r + r + r + r},               // past U+10FFFF
        {"\xE2\x82", r + r},                               // cut short at the end
        {"\xE2\x82"
         "A",
         r + r + "A"},  // cut short before more
        {"\x80", r},    // a lone continuation
    };
    for (const auto& [text, taken] : kTexts) {
        EXPECT_EQ(validUtf8(text), taken) << text;
        EXPECT_EQ(isUtf8(text), text == taken) << text;
    }
}

// What a terminal is given: control characters but a line break and a tab shown escaped,
// so that input can neither move the cursor nor retitle the window; a window shows U+FFFD
// in their place.
TEST(Utf8, ControlCharactersAreShownEscaped) {
    const std::pair<std::string, std::string> kTexts[] = {
        {"SN-1\tA\nB", "SN-1\tA\nB"},
        {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
        {"a\rb", "a\\x0db"},
        {std::string("A\0B", 3), "A\\x00B"},
        {"\x7f", "\\x7f"},
        {"\xC2\x9B"
         "2J",
         "\\u009b2J"},                             // CSI as a C1 character
        {"\xC2\xA0\xC5\x99", "\xC2\xA0\xC5\x99"},  // a no-break space and ř stay
        {"BAD-\xE9", "BAD-\xEF\xBF\xBD"},
    };
    for (const auto& [text, shown] : kTexts)
        EXPECT_EQ(printable(text), shown) << text;
    EXPECT_EQ(withoutControls("A\x1b]0;\xC2\x9B\tB\n"), "A\xEF\xBF\xBD]0;\xEF\xBF\xBD\tB\n");
}
