// GX.dll for desktop Windows: a stand-in for a handheld's game display library, so that programs
// written against gx.h run on a PC. It reports the primary display, or a simulated handheld display
// described by GX_SIMULATED_DISPLAY.
#include <windows.h>

#include "gx.h"

#include <cstdint>

namespace
{

// A named mutex makes the claim system-wide, and the system releases it when its holder exits.
constexpr const wchar_t *kDisplayClaimName = L"GX.dll display claim";
constexpr const wchar_t *kSimulationVariable = L"GX_SIMULATED_DISPLAY";

struct Display
{
    GXDisplayProperties properties;
    int isDRAMBuffer;
    bool isSimulated;
};

HANDLE g_displayClaim = nullptr; // held while this process has the display open
Display g_display = {};

// One integer of the simulation: decimal or 0x hexadecimal, optionally negative, in the range of a
// signed or unsigned 32-bit word, ended by `end`. Advances past `end`.
bool ParseWord(const wchar_t *&cursor, wchar_t end, DWORD &word)
{
    const bool negative = *cursor == L'-';
    if (negative)
    {
        ++cursor;
    }
    unsigned base = 10;
    if (cursor[0] == L'0' && (cursor[1] == L'x' || cursor[1] == L'X'))
    {
        base = 16;
        cursor += 2;
    }
    std::uint64_t magnitude = 0;
    int digits = 0;
    for (;; ++cursor, ++digits)
    {
        unsigned digit = 0;
        if (*cursor >= L'0' && *cursor <= L'9')
        {
            digit = static_cast<unsigned>(*cursor - L'0');
        }
        else if (base == 16 && *cursor >= L'a' && *cursor <= L'f')
        {
            digit = static_cast<unsigned>(*cursor - L'a' + 10);
        }
        else if (base == 16 && *cursor >= L'A' && *cursor <= L'F')
        {
            digit = static_cast<unsigned>(*cursor - L'A' + 10);
        }
        else
        {
            break;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > 0xFFFFFFFFU)
        {
            return false;
        }
    }
    if (digits == 0 || *cursor != end || (negative && magnitude > 0x80000000U))
    {
        return false;
    }
    if (end != 0)
    {
        ++cursor;
    }
    const auto low = static_cast<DWORD>(magnitude);
    word = negative ? 0U - low : low;
    return true;
}

// "width,height,xpitch,ypitch,bpp,format,dram": the record's six words in its order, then the
// DRAM-buffer flag. Returns false for anything else.
bool ParseSimulatedDisplay(const wchar_t *text, Display &display)
{
    DWORD words[7] = {};
    for (int i = 0; i < 7; ++i)
    {
        if (!ParseWord(text, i < 6 ? L',' : L'\0', words[i]))
        {
            return false;
        }
    }
    display.properties.cxWidth = words[0];
    display.properties.cyHeight = words[1];
    display.properties.cbxPitch = static_cast<LONG>(words[2]);
    display.properties.cbyPitch = static_cast<LONG>(words[3]);
    display.properties.cBPP = static_cast<LONG>(words[4]);
    display.properties.ffFormat = words[5];
    display.isDRAMBuffer = static_cast<int>(words[6]);
    display.isSimulated = true;
    return true;
}

// Returns false when the simulation variable is set but malformed.
bool ReadSimulatedDisplay(Display &display)
{
    wchar_t value[128];
    SetLastError(ERROR_SUCCESS);
    const DWORD length = GetEnvironmentVariableW(kSimulationVariable, value, ARRAYSIZE(value));
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    {
        display = Display{{}, 1, false};
        return true;
    }
    return length < ARRAYSIZE(value) && ParseSimulatedDisplay(value, display);
}

DWORD PixelFormatFlags(HDC screen, int bitsPerPixel)
{
    if (bitsPerPixel <= 8)
    {
        return kfPalette;
    }
    if (bitsPerPixel > 16)
    {
        return kfDirect | kfDirect888;
    }
    // 16 bits are 5-6-5 or 5-5-5: only the screen's bitmap format tells which.
    struct
    {
        BITMAPINFOHEADER header;
        DWORD masks[3];
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
    const bool is565 = info.header.biCompression == BI_BITFIELDS && info.masks[1] == 0x07E0;
    return kfDirect | (is565 ? kfDirect565 : kfDirect555);
}

GXDisplayProperties PrimaryDisplayProperties()
{
    HDC screen = GetDC(nullptr);
    const int width = GetDeviceCaps(screen, HORZRES);
    const int height = GetDeviceCaps(screen, VERTRES);
    const int bitsPerPixel = GetDeviceCaps(screen, BITSPIXEL);
    const DWORD format = PixelFormatFlags(screen, bitsPerPixel) | (width > height ? kfLandscape : 0);
    ReleaseDC(nullptr, screen);

    GXDisplayProperties properties = {};
    properties.cxWidth = static_cast<DWORD>(width);
    properties.cyHeight = static_cast<DWORD>(height);
    properties.cbxPitch = bitsPerPixel / 8;
    // The stride of a full-screen device-independent bitmap: rows padded to 4 bytes.
    properties.cbyPitch = (width * bitsPerPixel + 31) / 32 * 4;
    properties.cBPP = bitsPerPixel;
    properties.ffFormat = format;
    return properties;
}

} // namespace

int GXOpenDisplay(HWND /*hWnd*/, DWORD /*dwFlags*/)
{
    // Refuse rather than report a display nobody described.
    Display display = {};
    if (g_displayClaim != nullptr || !ReadSimulatedDisplay(display))
    {
        return 0;
    }
    HANDLE claim = CreateMutexW(nullptr, FALSE, kDisplayClaimName);
    if (claim == nullptr)
    {
        return 0;
    }
    // An abandoned claim is one whose holder exited without closing: it is ours now.
    const DWORD wait = WaitForSingleObject(claim, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
    {
        CloseHandle(claim);
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
    return g_display.isSimulated ? g_display.properties : PrimaryDisplayProperties();
}

int GXIsDisplayDRAMBuffer()
{
    // A desktop program never writes display memory: its frames go through system memory.
    return g_displayClaim != nullptr ? g_display.isDRAMBuffer : 1;
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
