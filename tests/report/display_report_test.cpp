#include "display_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

namespace
{

GXDisplayProperties Display(DWORD width, DWORD height, LONG bitsPerPixel, LONG xPitch, LONG yPitch)
{
    // The format flags are never reported: give them a value that would show if they were.
    return GXDisplayProperties{width, height, xPitch, yPitch, bitsPerPixel, 0x12345};
}

const std::u16string kPocketPcYes =
    u"GAPI reports the following data:\n\nWidth:\t\t240 pixel\nHeight:\t320 lines\n"
    u"BPP:\t\t16 bit\nXPitch:\t\t2 byte\nYPitch:\t\t480 byte\nDirect Access:\tyes";

std::u16string Format(const GXDisplayProperties &properties, int isDRAMBuffer)
{
    WCHAR report[REPORT_BUFFER_LENGTH];
    std::fill(std::begin(report), std::end(report), u'\xFFFF');
    FormatDisplayReport(report, properties, isDRAMBuffer);

    std::u16string text(report);
    EXPECT_TRUE(std::all_of(report + text.size() + 1, std::end(report), [](WCHAR c) {
        return c == u'\xFFFF';
    })) << "written past the terminator";
    return text;
}

TEST(DisplayReport, ClassicPocketPcDisplayGivesTheExactText)
{
    const std::u16string text = Format(Display(240, 320, 16, 2, 480), 0);
    EXPECT_EQ(text, kPocketPcYes);
    EXPECT_EQ(text.size(), 135U);
}

TEST(DisplayReport, AnyNonzeroDramFlagAnswersNoDirectAccess)
{
    std::u16string expected = kPocketPcYes;
    expected.replace(expected.size() - 3, 3, u"no");
    for (const int flag : {1, -1, INT_MIN, 2})
    {
        SCOPED_TRACE(flag);
        EXPECT_EQ(Format(Display(240, 320, 16, 2, 480), flag), expected);
    }
}

TEST(DisplayReport, NumbersLandInTheirLinesAsSigned32BitDecimals)
{
    struct Case
    {
        GXDisplayProperties properties;
        std::u16string width, height, bitsPerPixel, xPitch, yPitch; // as printed
    };
    const Case cases[] = {
        // Distinct values catch any two numbers printed in each other's place.
        {Display(1, 22, 333, 4444, 55555), u"1", u"22", u"333", u"4444", u"55555"},
        // A rotated display: negative x pitch; zero is a single digit.
        {Display(240, 320, 16, -640, 0), u"240", u"320", u"16", u"-640", u"0"},
        // Top bit set: width and height are unsigned in the record but reported as signed.
        {Display(0x80000001U, 0xFFFFFFFFU, INT_MAX, -1, INT_MIN), u"-2147483647", u"-1", u"2147483647", u"-1",
         u"-2147483648"},
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.width));
        EXPECT_EQ(Format(c.properties, 0),
                  u"GAPI reports the following data:\n\nWidth:\t\t" + c.width + u" pixel\nHeight:\t" +
                      c.height + u" lines\nBPP:\t\t" + c.bitsPerPixel + u" bit\nXPitch:\t\t" + c.xPitch +
                      u" byte\nYPitch:\t\t" + c.yPitch + u" byte\nDirect Access:\tyes");
    }
}

TEST(DisplayReport, MostNegativeNumbersGiveTheLongestReport)
{
    const std::u16string text = Format(Display(0x80000000U, 0x80000000U, INT_MIN, INT_MIN, INT_MIN), 0);
    EXPECT_EQ(text,
              u"GAPI reports the following data:\n\nWidth:\t\t-2147483648 pixel\nHeight:\t-2147483648 lines\n"
              u"BPP:\t\t-2147483648 bit\nXPitch:\t\t-2147483648 byte\nYPitch:\t\t-2147483648 byte\n"
              u"Direct Access:\tyes");
    EXPECT_EQ(text.size(), 178U);
}

} // namespace
