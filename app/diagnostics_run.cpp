// The program: one diagnostics run of the device's display, shown in a message box.
#include <windows.h>

#include <tchar.h>

#include "display_report.h"
#include "gx.h"

static WCHAR s_report[REPORT_BUFFER_LENGTH];
static const WCHAR s_emptyCaption = 0;

int WINAPI _tWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPTSTR /*lpCmdLine*/,
                     int /*nShowCmd*/)
{
    if (!GXOpenDisplay(nullptr, GX_FULLSCREEN))
    {
        MessageBoxW(nullptr, TEXT("GXOpenDisplay failed"), &s_emptyCaption, MB_OK);
        return 0;
    }

    const GXDisplayProperties properties = GXGetDisplayProperties();
    const int isDRAMBuffer = GXIsDisplayDRAMBuffer();
    FormatDisplayReport(s_report, properties, isDRAMBuffer);

    // The display stays open while the user reads the report.
    MessageBoxW(nullptr, s_report, TEXT("Diagnostics log"), MB_OK);

    return GXCloseDisplay();
}
