// Our desktop GX.dll's plain functions: the record of a screen, and where a simulation goes wrong.
#include "gx_properties.h"

#include <gtest/gtest.h>

namespace
{

TEST(ScreenProperties, RowsArePaddedToFourBytes)
{
    struct Case
    {
        int width, height, bitsPerPixel;
        LONG xPitch, yPitch;
    };
    for (const Case &c : {Case{240, 320, 16, 2, 480}, Case{239, 320, 16, 2, 480}, Case{241, 320, 8, 1, 244},
                          Case{321, 240, 24, 3, 964}, Case{640, 480, 32, 4, 2560}})
    {
        const GXDisplayProperties p = ScreenProperties(c.width, c.height, c.bitsPerPixel, kfDirect);
        EXPECT_EQ(p.cbxPitch, c.xPitch) << c.width << "x" << c.height << "x" << c.bitsPerPixel;
        EXPECT_EQ(p.cbyPitch, c.yPitch) << c.width << "x" << c.height << "x" << c.bitsPerPixel;
        EXPECT_EQ(p.ffFormat, kfDirect | (c.width > c.height ? kfLandscape : 0U))
            << c.width << "x" << c.height;
    }
}

TEST(SimulatedDisplay, SaysWhereAndWhyAValueIsRefused)
{
    struct Case
    {
        const wchar_t *text;
        SimulationFault fault;
        std::size_t position;
    };
    for (const Case &c : {
             Case{L"240,320,2,480,16,0xA0,0", SimulationFault::None, 23},
             Case{L"", SimulationFault::ExpectedDigit, 0},
             Case{L"240, 320,2,480,16,0,0", SimulationFault::ExpectedDigit, 4},
             Case{L"240,320,2,480,16,0x,0", SimulationFault::ExpectedDigit, 19},
             Case{L"240,320", SimulationFault::ExpectedComma, 7},
             Case{L"240,320,2,480,16,0,0,0", SimulationFault::ExpectedEnd, 20},
             Case{L"240,-2147483649,2,480,16,0,0", SimulationFault::OutOfRange, 4},
             Case{L"240,320,4294967296,480,16,0,0", SimulationFault::OutOfRange, 8},
             // 2^64 wraps a 64-bit magnitude to 0 unless each digit is checked.
             Case{L"18446744073709551616,320,2,480,16,0,0", SimulationFault::OutOfRange, 0},
         })
    {
        SimulatedDisplay display = {};
        const SimulationReading reading = ParseSimulatedDisplay(c.text, display);
        EXPECT_EQ(static_cast<int>(reading.fault), static_cast<int>(c.fault))
            << testing::PrintToString(c.text);
        EXPECT_EQ(reading.position, c.position) << testing::PrintToString(c.text);
    }
}

} // namespace
