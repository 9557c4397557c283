// The CE stand-in's DLLs: COREDLL's message box and formatter and GX.dll's four functions, standing
// in for the device's, with the device's display and the lines GX.dll's debugger would show.
#include "stand_in_dlls.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

[[noreturn]] void Fail(const std::string &why)
{
    std::fprintf(stderr, "error: %s\n", why.c_str());
    std::exit(2);
}

std::string Hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

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

struct Escape
{
    char16_t ch;
    const char *text;
};

constexpr Escape kEscapes[] = {
    {u'\n', "\\n"}, {u'\t', "\\t"}, {u'\r', "\\r"}, {u'"', "\\\""}, {u'\\', "\\\\"}};

} // namespace

std::string Quoted(LPCWSTR text)
{
    std::string out = "\"";
    for (; *text != 0; ++text)
    {
        const char16_t ch = *text;
        const Escape *escape = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                                            [ch](const Escape &e) { return e.ch == ch; });
        if (escape != std::end(kEscapes))
        {
            out += escape->text;
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, ch >= 0x20 && ch < 0x7F ? "%c" : "\\u%04X",
                      static_cast<unsigned>(ch));
        out += code;
    }
    return out + "\"";
}

// GX.dll, as gx.h declares it.

int GXOpenDisplay(HWND /*hWnd*/, DWORD /*dwFlags*/)
{
    if (g_isOpen)
    {
        SayWhy(L"GX.dll: the display is already open in this process");
        return 0;
    }
    SimulatedDisplay display = g_screen;
    if (const char *variable = std::getenv("GX_SIMULATED_DISPLAY"))
    {
        const std::wstring text(variable, variable + std::strlen(variable));
        const SimulationReading reading = ParseSimulatedDisplay(text.c_str(), display);
        if (reading.fault != SimulationFault::None)
        {
            wchar_t line[1024];
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

int GXIsDisplayDRAMBuffer()
{
    return g_display.isDRAMBuffer;
}

int GXCloseDisplay()
{
    const int wasOpen = g_isOpen ? 1 : 0;
    g_isOpen = false;
    return wasOpen;
}

// COREDLL.dll's message box prints the box as the end-to-end driver reads it: a plain OK box, type 0
// (typed here, not taken from windows.h, to catch a wrong MB_OK), with no icon or other buttons.
int WINAPI MessageBoxW(HWND /*hWnd*/, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType)
{
    if (uType != 0)
    {
        Fail("a message box of type " + Hex(uType) + ": the stand-in shows only plain OK boxes");
    }
    std::printf("caption: %s\ntext: %s\nbuttons: 1 \"OK\"\n", Quoted(lpCaption).c_str(),
                Quoted(lpText).c_str());
    return 1; // IDOK
}

namespace
{

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
     reinterpret_cast<std::uintptr_t>(&GXGetDisplayProperties)},
    {"GX.dll", 0, "?GXIsDisplayDRAMBuffer@@YAHXZ", reinterpret_cast<std::uintptr_t>(&GXIsDisplayDRAMBuffer)},
    {"GX.dll", 0, "?GXCloseDisplay@@YAHXZ", reinterpret_cast<std::uintptr_t>(&GXCloseDisplay)},
};

} // namespace

std::uintptr_t Exported(const char *dll, std::uint32_t ordinal, const char *name)
{
    for (const Export &entry : kExports)
    {
        const bool isMatch = ordinal != 0 ? entry.ordinal == ordinal
                                          : entry.name != nullptr && std::strcmp(entry.name, name) == 0;
        if (strcasecmp(entry.dll, dll) == 0 && isMatch)
        {
            return entry.function;
        }
    }
    const std::string what = ordinal != 0 ? "ordinal " + std::to_string(ordinal) : std::string(name);
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
