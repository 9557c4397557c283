// The stand-in's DLLs called as an image calls them: GX.dll keeps the open and close contract our
// desktop GX.dll keeps, which the one image's single open and close do not show, and a box's text is
// quoted as the box reader quotes it, whatever characters it holds.
#include "stand_in_dlls.h"

#include "box_text.h"

#include <cstdio>
#include <cstdlib>

namespace
{

int g_failures = 0;

void Check(bool condition, const char *what, long long got)
{
    if (!condition)
    {
        std::printf("FAIL: %s: got %lld\n", what, got);
        ++g_failures;
    }
}

} // namespace

int main()
{
    Check(GXCloseDisplay() == 0, "closing a display that is not open returns 0", GXCloseDisplay());
    int opened = GXOpenDisplay(nullptr, GX_FULLSCREEN);
    Check(opened == 1, "the display opens", opened);
    opened = GXOpenDisplay(nullptr, GX_FULLSCREEN);
    Check(opened == 0 && DebugLines().size() == 1 &&
              DebugLines()[0] == "GX.dll: the display is already open in this process",
          "a second open in the process is refused, saying why (debug lines)",
          static_cast<long long>(DebugLines().size()));
    int closed = GXCloseDisplay();
    Check(closed == 1, "closing the open display returns 1", closed);
    closed = GXCloseDisplay();
    Check(closed == 0, "closing twice returns 0 the second time", closed);
    Check(GXGetDisplayProperties().cxWidth == 0, "a closed display has no properties",
          GXGetDisplayProperties().cxWidth);
    setenv("GX_SIMULATED_DISPLAY", "240,320,2,480,16,0xA0,1", 1);
    GXOpenDisplay(nullptr, GX_FULLSCREEN);
    GXCloseDisplay();
    Check(GXIsDisplayDRAMBuffer() == 0,
          "once closed, a simulated DRAM buffer gives way to the device's display", GXIsDisplayDRAMBuffer());

    const std::string quoted = QuotedBoxText(std::u16string_view(u"a\r\n\t\"\\\x7F\xE9~"));
    if (quoted != R"("a\r\n\t\"\\\u007F\u00E9~")")
    {
        std::printf("FAIL: a box's text quoted as %s\n", quoted.c_str());
        ++g_failures;
    }
    std::printf("%d failed\n", g_failures);
    return g_failures;
}
