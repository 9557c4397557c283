// The CE stand-in's DLLs: COREDLL's message box and formatter and GX.dll's four functions, standing
// in for the device's, with the device's display and the lines GX.dll's debugger would show.
#include "stand_in_dlls.h"

#include "box_text.h"
#include "ce_calls.h"
#include "refusal.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string_view>

namespace
{

// GX.dll's state: the display a game would get, and the lines a debugger would show.

// What a program that is not high-resolution aware is given on a larger screen. Microsoft documents
// that the system shows such a program a 240x320 display; the pitches and flags here are the classic
// handheld's. This is the documented behaviour, not a device's: devices' GAPI differ here.
constexpr SimulatedDisplay kEmulated = kHandheld;

SimulatedDisplay g_screen = kHandheld; // what the device's GX.dll reports to a high-resolution aware program
bool g_isEmulated = false;             // the image is shown kEmulated instead
SimulatedDisplay g_display = {};
bool g_isOpen = false;
std::vector<std::string> g_debugLines;

void SayWhy(const wchar_t *line)
{
    std::string narrow;
    for (; *line != L'\0' && *line != L'\n'; ++line)
    {
        narrow += static_cast<char>(*line);
    }
    g_debugLines.push_back(narrow);
}

} // namespace

// GX.dll, as gx.h declares it.

int GXOpenDisplay(HWND /*hWnd*/, DWORD /*dwFlags*/)
{
    if (g_isOpen)
    {
        SayWhy(L"GX.dll: the display is already open in this process");
        return 0;
    }
    SimulatedDisplay display = g_screen;
    const std::string name(kSimulationVariable, kSimulationVariable + std::wcslen(kSimulationVariable));
    if (const char *variable = std::getenv(name.c_str()))
    {
        const std::wstring text(variable, variable + std::strlen(variable));
        const SimulationReading reading = ParseSimulatedDisplay(text.c_str(), display);
        if (reading.fault != SimulationFault::None)
        {
            wchar_t line[kReasonCapacity];
            DescribeMalformedSimulation(text.c_str(), reading, line, std::size(line));
            SayWhy(line);
            return 0;
        }
    }
    g_display = g_isEmulated ? kEmulated : display;
    g_isOpen = true;
    return 1;
}

GXDisplayProperties GXGetDisplayProperties()
{
    return g_isOpen ? g_display.properties : GXDisplayProperties{};
}

// As our desktop GX.dll answers: the open display's flag, and otherwise the device's own display's.
int GXIsDisplayDRAMBuffer()
{
    return g_isOpen ? g_display.isDRAMBuffer : (g_isEmulated ? kEmulated : g_screen).isDRAMBuffer;
}

int GXCloseDisplay()
{
    const int wasOpen = g_isOpen ? 1 : 0;
    g_isOpen = false;
    return wasOpen;
}

// COREDLL.dll's message box prints the box as the box reader reads it: a plain OK box, type 0
// (typed here, not taken from windows.h, to catch a wrong MB_OK), with no icon or other buttons.
int WINAPI MessageBoxW(HWND /*hWnd*/, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    if (uType != 0)
    {
        Fail("a message box of type " + Hex(uType) + ": the stand-in shows only plain OK boxes");
    }
    std::printf("caption: %s\ntext: %s\nbuttons: 1 \"OK\"\n",
                QuotedBoxText(std::u16string_view(lpCaption)).c_str(),
                QuotedBoxText(std::u16string_view(lpText)).c_str());
    return 1; // IDOK
}

namespace
{

// GXGetDisplayProperties as CE calls it: the caller passes the record's address first and gets it
// back, as every CE processor's convention returns a record this size. GCC's own convention for a
// function returning the record differs from CE's on SH.
GXDisplayProperties *GetDisplayPropertiesInto(GXDisplayProperties *record)
{
    *record = GXGetDisplayProperties();
    return record;
}

// What the stand-in exports. The names are typed here, not read from gx.def, so that a wrong line
// there is caught rather than agreed with. wsprintfW is our formatter, the one the tests check.
struct Export
{
    const char *dll;
    std::uint32_t ordinal; // 0: by name
    const char *name;
    std::uintptr_t function;
};

const Export kExports[] = {
    {"COREDLL.dll", 858, nullptr, reinterpret_cast<std::uintptr_t>(&MessageBoxW)},
    {"COREDLL.dll", 1097, nullptr, reinterpret_cast<std::uintptr_t>(&wsprintfW)},
    {"GX.dll", 0, "?GXOpenDisplay@@YAHPAUHWND__@@K@Z", reinterpret_cast<std::uintptr_t>(&GXOpenDisplay)},
    {"GX.dll", 0, "?GXGetDisplayProperties@@YA?AUGXDisplayProperties@@XZ",
     reinterpret_cast<std::uintptr_t>(&GetDisplayPropertiesInto)},
    {"GX.dll", 0, "?GXIsDisplayDRAMBuffer@@YAHXZ", reinterpret_cast<std::uintptr_t>(&GXIsDisplayDRAMBuffer)},
    {"GX.dll", 0, "?GXCloseDisplay@@YAHXZ", reinterpret_cast<std::uintptr_t>(&GXCloseDisplay)},
};

} // namespace

std::uintptr_t Exported(const char *dll, std::uint32_t ordinal, const char *name)
{
    for (const Export &entry : kExports)
    {
        const bool isMatch = name == nullptr ? entry.ordinal != 0 && entry.ordinal == ordinal
                                             : entry.name != nullptr && std::strcmp(entry.name, name) == 0;
        if (strcasecmp(entry.dll, dll) == 0 && isMatch)
        {
            const std::uintptr_t callee = CeCallee(entry.function);
            if (callee == 0)
            {
                Fail(std::string("the image imports more functions than the stand-in has stubs for"));
            }
            return callee;
        }
    }
    const std::string what = name == nullptr ? "ordinal " + std::to_string(ordinal) : std::string(name);
    Fail(std::string("the image imports ") + dll + " " + what + ", which the stand-in does not export");
}

void SetDevice(const SimulatedDisplay &screen, bool isEmulated)
{
    g_screen = screen;
    g_isEmulated = isEmulated;
}

const std::vector<std::string> &DebugLines()
{
    return g_debugLines;
}
