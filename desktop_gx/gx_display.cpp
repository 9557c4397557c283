// GX.dll for desktop Windows: a stand-in for a handheld's game display library, so that programs
// written against gx.h run on a PC. It reports the primary display, or a simulated handheld display
// described by GX_SIMULATED_DISPLAY. Every refusal says why with OutputDebugStringW, where a
// debugger, DebugView or Wine's debug log shows it.
#include <windows.h>

#include "desktop_display.h"
#include "gx.h"
#include "simulated_display.h"

#include <cstdarg>

namespace
{

struct Display
{
    SimulatedDisplay simulation;
    bool isSimulated;
};

HANDLE g_displayClaim = nullptr; // held while this process has the display open
Display g_display = {};

// The largest value an environment variable can hold, terminator included: no value is cut.
constexpr DWORD kVariableCapacity = 32767;
wchar_t g_variable[kVariableCapacity];

void SayWhy(LPCWSTR format, ...)
{
    wchar_t line[kReasonCapacity];
    va_list args;
    va_start(args, format);
    wvsprintfW(line, format, args);
    va_end(args);
    OutputDebugStringW(line);
}

// Returns false, saying why, when the simulation variable is set but unusable.
bool ReadSimulatedDisplay(Display &display)
{
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(kSimulationVariable, g_variable, kVariableCapacity);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    {
        display = Display{{{}, 1}, false}; // the primary display, a DRAM buffer
        return true;
    }
    // Too long, it gives the size it needs, its terminator included.
    if (length >= kVariableCapacity)
    {
        SayWhy(L"GX.dll: %s is %lu characters long, more than the %lu it reads\n", kSimulationVariable,
               length - 1, kVariableCapacity - 1);
        return false;
    }
    const SimulationReading reading = ParseSimulatedDisplay(g_variable, display.simulation);
    if (reading.fault == SimulationFault::None)
    {
        display.isSimulated = true;
        return true;
    }
    wchar_t line[kReasonCapacity];
    DescribeMalformedSimulation(g_variable, reading, line, ARRAYSIZE(line));
    OutputDebugStringW(line);
    return false;
}

// The red, green and blue masks of the screen's bitmap format, zeros where it has none: only they
// tell 5-6-5 from 5-5-5 at 16 bits.
struct ColorMasks
{
    DWORD masks[3];
};

ColorMasks ScreenColorMasks(HDC screen)
{
    struct
    {
        BITMAPINFOHEADER header;
        ColorMasks colors;
    } info = {};
    info.header.biSize = sizeof(info.header);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 1, 1);
    auto *bitmapInfo = reinterpret_cast<BITMAPINFO *>(&info);
    GetDIBits(screen, bitmap, 0, 1, nullptr, bitmapInfo, DIB_RGB_COLORS);
    if (info.header.biCompression == BI_BITFIELDS)
    {
        GetDIBits(screen, bitmap, 0, 1, nullptr, bitmapInfo, DIB_RGB_COLORS);
    }
    DeleteObject(bitmap);
    return info.header.biCompression == BI_BITFIELDS ? info.colors : ColorMasks{};
}

GXDisplayProperties PrimaryDisplayProperties()
{
    HDC screen = GetDC(nullptr);
    const int width = GetDeviceCaps(screen, HORZRES);
    const int height = GetDeviceCaps(screen, VERTRES);
    const int bitsPerPixel = GetDeviceCaps(screen, BITSPIXEL);
    const DWORD format = PixelFormatFlags(bitsPerPixel, ScreenColorMasks(screen).masks);
    ReleaseDC(nullptr, screen);
    return ScreenProperties(width, height, bitsPerPixel, format);
}

} // namespace

int GXOpenDisplay(HWND /*hWnd*/, DWORD /*dwFlags*/)
{
    if (g_displayClaim != nullptr)
    {
        SayWhy(L"GX.dll: the display is already open in this process\n");
        return 0;
    }
    // Refuse rather than report a display nobody described.
    Display display = {};
    if (!ReadSimulatedDisplay(display))
    {
        return 0;
    }
    HANDLE claim = CreateMutexW(nullptr, FALSE, kDisplayClaimName);
    if (claim == nullptr)
    {
        SayWhy(L"GX.dll: cannot create the display claim, error %lu\n", GetLastError());
        return 0;
    }
    // An abandoned claim is one whose holder exited without closing: it is ours now.
    const DWORD wait = WaitForSingleObject(claim, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
    {
        CloseHandle(claim);
        SayWhy(L"GX.dll: the display is held by another process\n");
        return 0;
    }
    g_displayClaim = claim;
    g_display = display;
    return 1;
}

GXDisplayProperties GXGetDisplayProperties()
{
    if (g_displayClaim == nullptr)
    {
        return GXDisplayProperties{};
    }
    return g_display.isSimulated ? g_display.simulation.properties : PrimaryDisplayProperties();
}

// The open display's flag; otherwise the PC's own display's, as a device's GAPI answers from its
// hardware whether or not the display is open: a simulation describes only a display that is open.
int GXIsDisplayDRAMBuffer()
{
    // A desktop program never writes display memory: its frames go through system memory.
    return g_displayClaim != nullptr ? g_display.simulation.isDRAMBuffer : 1;
}

int GXCloseDisplay()
{
    if (g_displayClaim == nullptr)
    {
        return 0;
    }
    ReleaseMutex(g_displayClaim);
    CloseHandle(g_displayClaim);
    g_displayClaim = nullptr;
    return 1;
}
