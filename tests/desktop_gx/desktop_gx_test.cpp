// Our desktop GX.dll's plain functions: the record of a screen, and where a simulation goes wrong.
#include "desktop_display.h"
#include "simulated_display.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace
{

TEST(ScreenProperties, RowsArePaddedToFourBytesAndTheMasksGiveTheFormat)
{
    struct Case
    {
        int width, height, bitsPerPixel;
        DWORD colorMasks[3], format;
        LONG xPitch, yPitch;
    };
    for (const Case &c :
         {Case{240, 320, 16, {0xF800, 0x07E0, 0x001F}, kfDirect | kfDirect565, 2, 480},
          Case{239, 320, 16, {0x7C00, 0x03E0, 0x001F}, kfDirect | kfDirect555, 2, 480},
          Case{240, 320, 16, {}, kfDirect | kfDirect555, 2, 480}, Case{241, 320, 8, {}, kfPalette, 1, 244},
          Case{321, 240, 24, {}, kfDirect | kfDirect888, 3, 964},
          Case{640, 480, 32, {0xFF0000, 0x00FF00, 0x0000FF}, kfDirect | kfDirect888, 4, 2560},
          Case{241, 241, 4, {}, kfPalette, 0, 124}})
    {
        const GXDisplayProperties p = ScreenProperties(c.width, c.height, c.bitsPerPixel,
                                                       PixelFormatFlags(c.bitsPerPixel, c.colorMasks));
        EXPECT_EQ(p.cbxPitch, c.xPitch) << c.width << "x" << c.height << "x" << c.bitsPerPixel;
        EXPECT_EQ(p.cbyPitch, c.yPitch) << c.width << "x" << c.height << "x" << c.bitsPerPixel;
        EXPECT_EQ(p.ffFormat, c.format | (c.width > c.height ? kfLandscape : 0U))
            << c.width << "x" << c.height << "x" << c.bitsPerPixel << " green 0x" << std::hex
            << c.colorMasks[1];
    }
}

TEST(SimulatedDisplay, ReadsTheRecordsWordsInItsOrderThenTheDRAMFlag)
{
    struct Case
    {
        const wchar_t *text;
        std::vector<DWORD> words; // as stored: the record's six, then the DRAM-buffer flag
    };
    for (const Case &c : {
             Case{L"240,320,-640,2,16,0xA8,0", {240, 320, 0U - 640, 2, 16, 0xA8, 0}},
             Case{L"4294967295,-2147483648,0x7FFFFFFF,-0x80000000,0,0XffffFFFF,-1",
                  {0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 0x80000000, 0, 0xFFFFFFFF, 0xFFFFFFFF}},
             Case{L"0240,0x00140,2,480,16,0,0000000000007", {240, 320, 2, 480, 16, 0, 7}},
         })
    {
        SimulatedDisplay display = {};
        const SimulationReading reading = ParseSimulatedDisplay(c.text, display);
        const GXDisplayProperties &p = display.properties;
        EXPECT_EQ(static_cast<int>(reading.fault), static_cast<int>(SimulationFault::None))
            << testing::PrintToString(c.text);
        EXPECT_EQ(reading.position, std::wcslen(c.text));
        const std::vector<DWORD> read = {p.cxWidth,
                                         p.cyHeight,
                                         static_cast<DWORD>(p.cbxPitch),
                                         static_cast<DWORD>(p.cbyPitch),
                                         static_cast<DWORD>(p.cBPP),
                                         p.ffFormat,
                                         static_cast<DWORD>(display.isDRAMBuffer)};
        EXPECT_EQ(read, c.words) << testing::PrintToString(c.text);
    }
}

TEST(SimulatedDisplay, SaysWhereAndWhyAValueIsRefused)
{
    struct Case
    {
        const wchar_t *text;
        SimulationFault fault;
        std::size_t position;
        const wchar_t *reason; // after `GX.dll: GX_SIMULATED_DISPLAY="text" is malformed at `
    };
    for (const Case &c : {
             Case{L"", SimulationFault::ExpectedDigit, 0, L"its end: a digit was expected"},
             Case{L"240, 320,2,480,16,0,0", SimulationFault::ExpectedDigit, 4,
                  L"character 5: a digit was expected"},
             Case{L"240,320,2,480,16,0x,0", SimulationFault::ExpectedDigit, 19,
                  L"character 20: a digit was expected"},
             Case{L"240,320", SimulationFault::ExpectedComma, 7, L"its end: a comma was expected"},
             // Hexadecimal digits in a decimal word.
             Case{L"240,32a,2,480,16,0,0", SimulationFault::ExpectedComma, 6,
                  L"character 7: a comma was expected"},
             Case{L"240,320,2,480,16,0,1F", SimulationFault::ExpectedEnd, 20,
                  L"character 21: the end was expected after the seventh word"},
             Case{L"240,320,2,480,16,0,0,0", SimulationFault::ExpectedEnd, 20,
                  L"character 21: the end was expected after the seventh word"},
             Case{L"240,-2147483649,2,480,16,0,0", SimulationFault::OutOfRange, 4,
                  L"character 5: the word does not fit in 32 bits"},
             Case{L"240,320,4294967296,480,16,0,0", SimulationFault::OutOfRange, 8,
                  L"character 9: the word does not fit in 32 bits"},
             Case{L"240,320,2,-0x100000000,16,0,0", SimulationFault::OutOfRange, 10,
                  L"character 11: the word does not fit in 32 bits"}, // from its sign, not its digits
             // 2^64 wraps a 64-bit magnitude to 0 unless each digit is checked.
             Case{L"18446744073709551616,320,2,480,16,0,0", SimulationFault::OutOfRange, 0,
                  L"character 1: the word does not fit in 32 bits"},
         })
    {
        SimulatedDisplay display = {};
        const SimulationReading reading = ParseSimulatedDisplay(c.text, display);
        EXPECT_EQ(static_cast<int>(reading.fault), static_cast<int>(c.fault))
            << testing::PrintToString(c.text);
        EXPECT_EQ(reading.position, c.position) << testing::PrintToString(c.text);
        wchar_t line[256];
        DescribeMalformedSimulation(c.text, reading, line, std::size(line));
        EXPECT_EQ(std::wstring(line), std::wstring(L"GX.dll: GX_SIMULATED_DISPLAY=\"") + c.text +
                                          L"\" is malformed at " + c.reason + L"\n");
    }
}

// Each row of the profile table read here on its own: a name whose values are all given previews
// exactly them; a name with a value no source gives, or no row at all, is refused, listing the names.
TEST(SimulatedDisplay, EachProfileOfTheTablePreviewsItsValuesAndNoOtherNameIsTaken)
{
    std::ifstream table(DEVICE_PROFILES_TABLE);
    const std::regex row(R"(([a-z][a-z0-9-]*) \| [^|]* \| (.*) \| (yes|no|\?) \| .*)");
    std::wstring names;
    std::vector<std::wstring> refused = {L"ipaq-h9999", L"IPAQ-H3600", L"ipaq-h3600x"};
    for (std::string line; std::getline(table, line);)
    {
        std::smatch cells;
        if (!std::regex_match(line, cells, row))
        {
            continue;
        }
        const std::wstring name(cells[1].first, cells[1].second);
        const std::string words = std::regex_replace(cells[2].str(), std::regex(" \\| "), ",") + "," +
                                  (cells[3] == "yes"  ? "1"
                                   : cells[3] == "no" ? "0"
                                                      : "?");
        if (words.find('?') != std::string::npos)
        {
            refused.push_back(name);
            continue;
        }
        names += (names.empty() ? L"" : L", ") + name;
        SimulatedDisplay byName = {};
        SimulatedDisplay byWords = {};
        ParseSimulatedDisplay(std::wstring(words.begin(), words.end()).c_str(), byWords);
        EXPECT_EQ(static_cast<int>(ParseSimulatedDisplay(name.c_str(), byName).fault), 0) << cells[1];
        EXPECT_EQ(std::memcmp(&byName, &byWords, sizeof byName), 0) << cells[1] << " is not " << words;
    }
    EXPECT_FALSE(names.empty()) << "no profile read from " << DEVICE_PROFILES_TABLE;
    for (const std::wstring &name : refused)
    {
        SimulatedDisplay display = {};
        wchar_t line[kReasonCapacity];
        DescribeMalformedSimulation(name.c_str(), ParseSimulatedDisplay(name.c_str(), display), line,
                                    std::size(line));
        std::wstring expected = L"GX.dll: GX_SIMULATED_DISPLAY=\"" + name;
        expected +=
            L"\" is malformed at character 1: no device profile is named so; the profiles are " + names;
        EXPECT_EQ(std::wstring(line), expected + L"\n");
    }
}

TEST(SimulatedDisplay, ALongRefusedValueIsCutToTheLine)
{
    const std::wstring text = L"240,320,2,480,16,0xA0," + std::wstring(3000, L'0') + L"x";
    SimulatedDisplay display = {};
    const SimulationReading reading = ParseSimulatedDisplay(text.c_str(), display);
    wchar_t line[64];
    std::fill(std::begin(line), std::end(line), L'#');
    DescribeMalformedSimulation(text.c_str(), reading, line, std::size(line) - 1);
    EXPECT_EQ(std::wstring(line), (L"GX.dll: GX_SIMULATED_DISPLAY=\"" + text).substr(0, std::size(line) - 2));
    EXPECT_EQ(line[std::size(line) - 1], L'#') << "written past the capacity";
}

} // namespace
