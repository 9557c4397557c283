// One diagnostics run against the recording fake of the display library and the message box.
#include <windows.h>

#include <tchar.h>

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace
{

using Calls = std::vector<std::string>;

// Arbitrary but distinct values, so the report shows which number went where.
constexpr GXDisplayProperties kDisplay{640, 480, 2, 1280, 16, kfDirect | kfDirect565};
const std::u16string kDisplayReport =
    u"GAPI reports the following data:\n\nWidth:\t\t640 pixel\nHeight:\t480 lines\n"
    u"BPP:\t\t16 bit\nXPitch:\t\t2 byte\nYPitch:\t\t1280 byte\nDirect Access:\tno";

class DiagnosticsRun : public testing::Test
{
  protected:
    void SetUp() override
    {
        g_fake = FakePlatform{};
        g_fake.properties = kDisplay;
        g_fake.dramBufferResult = 1;
    }

    static int Run(LPWSTR commandLine = nullptr) { return _tWinMain(nullptr, nullptr, commandLine, 1); }
};

TEST_F(DiagnosticsRun, RefusedDisplayShowsOnlyTheFailureBoxAndExitsZero)
{
    g_fake.openResult = 0;
    g_fake.closeResult = 1;

    EXPECT_EQ(Run(), 0);

    EXPECT_EQ(g_fake.calls, (Calls{"open", "box"}));
    ASSERT_EQ(g_fake.boxes.size(), 1U);
    const MessageBoxCall &box = g_fake.boxes[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, u"GXOpenDisplay failed");
    EXPECT_TRUE(box.hasCaption) << "the caption is empty, not absent";
    EXPECT_EQ(box.caption, u"");
    EXPECT_EQ(box.style, MB_OK);
}

TEST_F(DiagnosticsRun, OpenedDisplayIsReportedThenClosedAndTheCloseResultIsTheExitStatus)
{
    for (const int closeResult : {1, 0, -1, INT_MIN, 42})
    {
        SCOPED_TRACE(closeResult);
        SetUp();
        g_fake.closeResult = closeResult;

        EXPECT_EQ(Run(), closeResult);

        // The display stays open while the report is on screen.
        EXPECT_EQ(g_fake.calls, (Calls{"open", "properties", "dram", "box", "close"}));
        EXPECT_EQ(g_fake.openWindow, nullptr);
        EXPECT_EQ(g_fake.openFlags, DWORD{GX_FULLSCREEN});
        ASSERT_EQ(g_fake.boxes.size(), 1U);
        const MessageBoxCall &box = g_fake.boxes[0];
        EXPECT_EQ(box.owner, nullptr);
        EXPECT_EQ(box.caption, u"Diagnostics log");
        EXPECT_EQ(box.text, kDisplayReport);
        EXPECT_EQ(box.style, MB_OK);
    }
}

TEST_F(DiagnosticsRun, EachRunReportsTheDisplayItFinds)
{
    Run();
    g_fake = FakePlatform{};
    g_fake.properties = GXDisplayProperties{1, 2, 3, 4, 5, 0};

    Run();

    ASSERT_EQ(g_fake.boxes.size(), 1U);
    EXPECT_EQ(g_fake.boxes[0].text,
              u"GAPI reports the following data:\n\nWidth:\t\t1 pixel\nHeight:\t2 lines\n"
              u"BPP:\t\t5 bit\nXPitch:\t\t3 byte\nYPitch:\t\t4 byte\nDirect Access:\tyes");
}

TEST_F(DiagnosticsRun, CommandLineIsIgnored)
{
    std::u16string empty;
    std::u16string conversions = u"%s%n%s%n %d /?";
    for (LPWSTR commandLine : {static_cast<LPWSTR>(nullptr), empty.data(), conversions.data()})
    {
        for (const int openResult : {0, 1})
        {
            SCOPED_TRACE(testing::Message() << "open " << openResult << ", command line "
                                            << testing::PrintToString(commandLine));
            SetUp();
            g_fake.openResult = openResult;

            EXPECT_EQ(Run(commandLine), openResult == 0 ? 0 : g_fake.closeResult);

            ASSERT_EQ(g_fake.boxes.size(), 1U);
            EXPECT_EQ(g_fake.boxes[0].text, openResult == 0 ? u"GXOpenDisplay failed" : kDisplayReport);
        }
    }
}

} // namespace
