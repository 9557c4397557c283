// Our desktop GX.dll's contract, checked under Wine from a program linked against it like any other
// GAPI program. Run on the 240x320x16 test screen; prints each failure and exits with their count.
// With --open-and-exit it only opens the display and exits without closing it.
#include <windows.h>

#include "desktop_display.h"
#include "gx.h"
#include "simulated_display.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace
{

int g_failures = 0;

void Check(bool condition, const char *what)
{
    if (!condition)
    {
        std::printf("FAIL: %s\n", what);
        ++g_failures;
    }
}

void Print(const char *label, const GXDisplayProperties &p)
{
    std::printf("  %s: %lu, %lu, %ld, %ld, %ld, 0x%lX\n", label, p.cxWidth, p.cyHeight, p.cbxPitch,
                p.cbyPitch, p.cBPP, p.ffFormat);
}

void CheckProperties(const GXDisplayProperties &actual, const GXDisplayProperties &expected, const char *what)
{
    const bool equal = std::memcmp(&actual, &expected, sizeof actual) == 0;
    Check(equal, what);
    if (!equal)
    {
        Print("expected", expected);
        Print("reported", actual);
    }
}

// The last line GX.dll wrote with OutputDebugString. Wine raises DBG_PRINTEXCEPTION_C with the whole
// line for it (its own log cuts long lines), so a handler of this process reads it as written.
std::string g_debugLine;

LONG CALLBACK RecordDebugLine(EXCEPTION_POINTERS *exception)
{
    const EXCEPTION_RECORD *record = exception->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2)
    {
        g_debugLine = reinterpret_cast<const char *>(record->ExceptionInformation[1]);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void Simulate(const wchar_t *value)
{
    SetEnvironmentVariableW(kSimulationVariable, value);
}

WORD NextObjectIndex(HDC screen)
{
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 1, 1);
    DeleteObject(bitmap);
    return LOWORD(reinterpret_cast<UINT_PTR>(bitmap));
}

void ChecksTheScreen()
{
    CheckProperties(GXGetDisplayProperties(), GXDisplayProperties{}, "properties are all zero while closed");
    Check(GXIsDisplayDRAMBuffer() == 1, "a desktop display is a DRAM buffer even before it is opened");
    Check(GXCloseDisplay() == 0, "closing a display that is not open returns 0");

    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0, "the display opens");
    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) == 0, "a second open in the same process is refused");
    GXDisplayProperties reported = GXGetDisplayProperties();
    // 16 bits are 5-6-5 or 5-5-5 as GDI's device bitmaps have them (Wine's are 5-5-5, whatever
    // the X visual): either is right, but exactly one of them, and portrait, not paletted.
    const DWORD format = reported.ffFormat;
    Check(format == (kfDirect | kfDirect565) || format == (kfDirect | kfDirect555),
          "a 16-bit portrait screen is direct 5-6-5 or 5-5-5");
    reported.ffFormat = 0;
    CheckProperties(reported, GXDisplayProperties{240, 320, 2, 480, 16, 0},
                    "the 240x320x16 screen is reported");
    // Each reading gives back the screen's DC and deletes the bitmap it makes: a DC kept makes the next
    // one differ, and each bitmap kept holds an index of the GDI handle table (a handle's low word),
    // so that the next object made gets one further on. A few objects Wine makes once hold some too.
    HDC before = GetDC(nullptr);
    const WORD bitmapBefore = NextObjectIndex(before);
    ReleaseDC(nullptr, before);
    for (int i = 0; i < 50; ++i)
    {
        GXGetDisplayProperties();
    }
    HDC after = GetDC(nullptr);
    const WORD bitmapAfter = NextObjectIndex(after);
    ReleaseDC(nullptr, after);
    if (after != before || bitmapAfter - bitmapBefore >= 10)
    {
        std::printf("FAIL: 50 readings kept the screen's DC or bitmaps: a new DC is %p, before them %p; the "
                    "next object's index %u, before them %u\n",
                    static_cast<void *>(after), static_cast<void *>(before), bitmapAfter, bitmapBefore);
        ++g_failures;
    }
    Check(GXIsDisplayDRAMBuffer() != 0, "a desktop display is a DRAM buffer");
    Check(GXCloseDisplay() != 0, "closing the open display returns nonzero");
    Check(GXCloseDisplay() == 0, "closing twice returns 0 the second time");

    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0, "the display opens again after a close");
    Check(GXCloseDisplay() != 0, "and closes again");
}

void ReportsTheSimulatedDisplay()
{
    Simulate(L"240,320,-640,2,16,0xA8,0");
    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0, "a simulated display opens");
    const GXDisplayProperties rotated{240, 320, -640, 2, 16, 0xA8};
    CheckProperties(GXGetDisplayProperties(), rotated, "the simulated record is reported as given");
    Check(GXIsDisplayDRAMBuffer() == 0, "the simulated DRAM flag is reported as given");
    GXCloseDisplay();
    Check(GXIsDisplayDRAMBuffer() == 1, "a closed display is a DRAM buffer again, whatever was simulated");

    Simulate(L"4294967295,-2147483648,0x7FFFFFFF,-0x80000000,0,0xffffffff,-1");
    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0, "the 32-bit extremes are accepted");
    const GXDisplayProperties extremes{0xFFFFFFFFU, 0x80000000U, 0x7FFFFFFF, -0x7FFFFFFF - 1, 0, 0xFFFFFFFFU};
    CheckProperties(GXGetDisplayProperties(), extremes, "the 32-bit extremes are reported as given");
    Check(GXIsDisplayDRAMBuffer() == -1, "a DRAM flag of -1 is reported as given");
    GXCloseDisplay();

    // Leading zeros make a value as long as a variable holds, 32766 characters; it is read whole.
    std::wstring padded = L"240,320,2,480,16,0,";
    padded.append(32766 - padded.size() - 1, L'0');
    Simulate((padded + L"5").c_str());
    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0 && GXIsDisplayDRAMBuffer() == 5,
          "a 32766-character simulation is read whole");
    GXCloseDisplay();
}

void RefusesMalformedSimulations()
{
    const wchar_t *malformed[] = {
        L"",
        L"240,320,2,480,16,0",                    // six values
        L"240,320,2,480,16,0,0,0",                // eight
        L"240,320,2,480,16,0,",                   // an empty value
        L"240, 320,2,480,16,0,0",                 // a space
        L"+240,320,2,480,16,0,0",                 // a plus sign
        L"240,320,2,480,16,0x,0",                 // a prefix without digits
        L"240,320,2,480,16,0,0x1g",               // a stray letter
        L"4294967296,320,2,480,16,0,0",           // above 32 bits
        L"-2147483649,320,2,480,16,0,0",          // below 32 bits
        L"18446744073709551616,320,2,480,16,0,0", // 2^64, which wraps a 64-bit reading to 0
    };
    for (const wchar_t *value : malformed)
    {
        Simulate(value);
        g_debugLine.clear();
        // Left over from an earlier call: an empty value is still set, not missing.
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        const int opened = GXOpenDisplay(nullptr, GX_FULLSCREEN);
        if (opened != 0)
        {
            std::printf("FAIL: GX_SIMULATED_DISPLAY=\"%ls\" opened the display\n", value);
            ++g_failures;
            GXCloseDisplay();
        }
        const std::string said = "GX.dll: GX_SIMULATED_DISPLAY=\"" +
                                 std::string(value, value + std::wcslen(value)) + "\" is malformed at ";
        if (g_debugLine.rfind(said, 0) != 0)
        {
            std::printf("FAIL: GX_SIMULATED_DISPLAY=\"%ls\" was refused with the reason \"%s\"\n", value,
                        g_debugLine.c_str());
            ++g_failures;
        }
    }

    // The reason for a value of thousands of characters is cut to the 1023 of a debug line.
    const std::string longValue = "240,320,2,480,16,0xA0," + std::string(3000, '0') + "x";
    Simulate(std::wstring(longValue.begin(), longValue.end()).c_str());
    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) == 0, "a long malformed value is refused");
    const std::string cut = ("GX.dll: GX_SIMULATED_DISPLAY=\"" + longValue).substr(0, 1023);
    if (g_debugLine != cut)
    {
        std::printf(
            "FAIL: a long value's reason is %zu characters, \"%.60s...\", not the first 1023 of its line\n",
            g_debugLine.size(), g_debugLine.c_str());
        ++g_failures;
    }
    Simulate(nullptr);
}

// Whether another process, started now, can open the display (it opens it and exits without closing).
bool AnotherProcessOpensTheDisplay()
{
    wchar_t commandLine[MAX_PATH + 32];
    GetModuleFileNameW(nullptr, commandLine, MAX_PATH);
    wcscat(commandLine, L" --open-and-exit");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    Check(CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &child) != 0,
          "the child process starts");
    DWORD childStatus = 0;
    Check(WaitForSingleObject(child.hProcess, 30000) == WAIT_OBJECT_0 &&
              GetExitCodeProcess(child.hProcess, &childStatus),
          "the child process ends");
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return childStatus == 1;
}

// A process that closed the display but keeps running must not keep it from others, also while
// another handle, made after the open as by another process's refused open, keeps the claim alive.
void GivesUpTheDisplayOnClose()
{
    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0, "the display opens");
    HANDLE otherHandle = CreateMutexW(nullptr, FALSE, kDisplayClaimName);
    GXCloseDisplay();
    Check(AnotherProcessOpensTheDisplay(), "another process opens the display this running process closed");
    CloseHandle(otherHandle);
}

// events[0] is set once this thread holds the display claim; it lets go when events[1] is set.
DWORD WINAPI HoldTheDisplay(void *parameter)
{
    auto *const events = static_cast<HANDLE *>(parameter);
    HANDLE claim = CreateMutexW(nullptr, TRUE, kDisplayClaimName);
    SetEvent(events[0]);
    WaitForSingleObject(events[1], INFINITE);
    ReleaseMutex(claim);
    CloseHandle(claim);
    return 0;
}

// Held by another thread, as by another process: each refused open leaves the handle count as it was.
void RefusesAHeldDisplayWithoutLeaking()
{
    HANDLE events[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                        CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE holder = CreateThread(nullptr, 0, HoldTheDisplay, events, 0, nullptr);
    WaitForSingleObject(events[0], INFINITE);
    // A handle closed before the opens is the next one made, unless an open kept one (Wine counts
    // no handles for GetProcessHandleCount).
    HANDLE before = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(before);
    for (int i = 0; i < 10; ++i)
    {
        Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) == 0, "a display held by another thread is refused");
    }
    HANDLE after = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(after);
    if (after != before)
    {
        std::printf("FAIL: ten refused opens kept handles: a new handle is %p, before them %p\n", after,
                    before);
        ++g_failures;
    }
    SetEvent(events[1]);
    WaitForSingleObject(holder, INFINITE);
    CloseHandle(holder);
    CloseHandle(events[0]);
    CloseHandle(events[1]);
}

// The claim's name taken by an object of another kind: refused, with the error that says so.
void RefusesAClaimItCannotCreate()
{
    HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, kDisplayClaimName);
    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) == 0, "a claim name held by an event is refused");
    Check(g_debugLine == "GX.dll: cannot create the display claim, error 6\n",
          ("its reason, not the error: " + g_debugLine).c_str());
    CloseHandle(squatter);
}

// Another process opens the display and exits without closing it: the display must be free again,
// also when another handle keeps the claim alive, so that it is found abandoned.
void TakesOverTheDisplayOfAProcessThatExited(bool keepClaimAlive)
{
    HANDLE otherHandle = keepClaimAlive ? CreateMutexW(nullptr, FALSE, kDisplayClaimName) : nullptr;
    Check(AnotherProcessOpensTheDisplay(), "the child opened the display and exited");
    Check(GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0,
          keepClaimAlive ? "the display opens after its holder exited without closing, claim abandoned"
                         : "the display opens after its holder exited without closing");
    GXCloseDisplay();
    if (otherHandle != nullptr)
    {
        CloseHandle(otherHandle);
    }
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    AddVectoredExceptionHandler(1, RecordDebugLine);
    if (argc > 1 && std::wcscmp(argv[1], L"--open-and-exit") == 0)
    {
        return GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0 ? 1 : 0;
    }
    ChecksTheScreen();
    ReportsTheSimulatedDisplay();
    RefusesMalformedSimulations();
    GivesUpTheDisplayOnClose();
    RefusesAHeldDisplayWithoutLeaking();
    RefusesAClaimItCannotCreate();
    TakesOverTheDisplayOfAProcessThatExited(false);
    TakesOverTheDisplayOfAProcessThatExited(true);
    std::printf("%d failed\n", g_failures);
    return g_failures;
}
