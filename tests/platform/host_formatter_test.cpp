// The host stand-in of wsprintfW must format the way Windows does wherever the program relies on it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

namespace
{

constexpr WCHAR kUnwritten = u'\xFFFF';

TEST(HostFormatter, ConvertsSigned32BitDecimalsWithoutPadding)
{
    WCHAR out[1024];
    const int count = wsprintfW(out, u"%d|%d|%d|%d|%d", INT_MIN, INT_MAX, 0, -1, 7);
    EXPECT_EQ(std::u16string(out), u"-2147483648|2147483647|0|-1|7");
    EXPECT_EQ(count, 29);
}

TEST(HostFormatter, TakesWideStringsAndPercentSigns)
{
    struct Case
    {
        const char16_t *format;
        const char16_t *expected;
    };
    const Case cases[] = {
        {u"[%s]", u"[caf\u00e9 \u4e2d]"},
        {u"100%%", u"100%"},
        {u"%x %u %", u"%x %u %"}, // unsupported conversions are copied through
        {u"", u""},
    };
    for (const Case &c : cases)
    {
        WCHAR out[1024];
        const int count = wsprintfW(out, c.format, u"caf\u00e9 \u4e2d");
        EXPECT_EQ(std::u16string(out), c.expected);
        EXPECT_EQ(count, static_cast<int>(std::u16string(c.expected).size()));
    }
}

TEST(HostFormatter, NeverWritesMoreThan1024CharactersAndAlwaysTerminates)
{
    const std::u16string longArgument(3000, u'x');
    const std::u16string nearlyFull(1020, u'x');
    const std::u16string longFormat = u"ab" + std::u16string(3000, u'x');
    struct Case
    {
        std::u16string format;
        const char16_t *argument;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"ab%s", longArgument.c_str(), u"ab" + std::u16string(1021, u'x')}, // cut in an argument
        {longFormat, u"", u"ab" + std::u16string(1021, u'x')},               // cut in the format
        {u"%s%d", nearlyFull.c_str(), nearlyFull + u"-21"},                  // cut in a number
    };
    for (const Case &c : cases)
    {
        WCHAR out[2048];
        std::fill(std::begin(out), std::end(out), kUnwritten);

        // Extra arguments are ignored, so every case can have the number.
        const int count = wsprintfW(out, c.format.c_str(), c.argument, -2147483647);

        EXPECT_EQ(count, 1023);
        EXPECT_EQ(std::u16string(out), c.expected);
        EXPECT_TRUE(std::all_of(out + 1024, std::end(out), [](WCHAR ch) { return ch == kUnwritten; }));
    }
}

} // namespace
