// GX.dll as a program built by a Microsoft compiler sees it: built with clang's Microsoft C++ ABI
// from gx.h, with no C runtime, so the names it imports come from a Microsoft mangler and each call
// follows the Microsoft calling convention. Checks that each of the four names does what it says
// on a simulated display, for 32-bit x86 or x86-64 as the build is. Prints each failure and exits
// with their count.
#include <windows.h>

#include "gx.h"

namespace
{

// Distinct values, so that a field or function answering in another's place shows.
const WCHAR kSimulation[] = L"240,320,2,480,16,0xA0,7";
constexpr GXDisplayProperties kSimulated{240, 320, 2, 480, 16, kfDirect | kfDirect565};
constexpr int kSimulatedDRAMBuffer = 7;

int g_failures = 0;

void Print(const char *text)
{
    DWORD length = 0;
    while (text[length] != 0)
    {
        ++length;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, length, &written, nullptr);
}

void CheckEqual(long got, long expected, const char *what)
{
    if (got != expected)
    {
        char line[160];
        wsprintfA(line, "FAIL: %s: got %ld, expected %ld\n", what, got, expected);
        Print(line);
        ++g_failures;
    }
}

#if defined(_M_X64)
// The record comes back through a hidden pointer that the caller passes in RCX and, in the
// Microsoft x64 convention, finds again in RAX: a Microsoft caller may read the record through RAX.
GXDisplayProperties GetPropertiesCheckingTheHiddenPointer()
{
    GXDisplayProperties properties = {};
    const GXDisplayProperties *returned = nullptr;
    GXDisplayProperties (*const function)() = &GXGetDisplayProperties;
    // Called by hand, so that RCX and RAX are the ones compared: 16-byte aligned, with the 32 bytes
    // of home space, every volatile register given up.
    __asm__ volatile("movq %%rsp, %%rbx\n\t"
                     "andq $-16, %%rsp\n\t"
                     "subq $32, %%rsp\n\t"
                     "callq *%[function]\n\t"
                     "movq %%rbx, %%rsp"
                     : "=a"(returned)
                     : "c"(&properties), [function] "r"(function)
                     : "rbx", "rdx", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5",
                       "memory", "cc");
    if (returned != &properties)
    {
        char line[160];
        wsprintfA(line,
                  "FAIL: GXGetDisplayProperties answered RAX %ld bytes from the record's address it was "
                  "given in RCX\n",
                  static_cast<long>(reinterpret_cast<const char *>(returned) -
                                    reinterpret_cast<const char *>(&properties)));
        Print(line);
        ++g_failures;
    }
    return properties;
}
#else
// The record comes back through a hidden pointer that, in the Microsoft x86 convention, the caller
// pushes and removes. A callee that removes it too (`ret 4`) leaves the stack 4 bytes higher.
GXDisplayProperties GetPropertiesCheckingTheHiddenPointer()
{
    unsigned long before = 0;
    unsigned long after = 0;
    __asm__ volatile("movl %%esp, %0" : "=r"(before));
    const GXDisplayProperties properties = GXGetDisplayProperties();
    __asm__ volatile("movl %%esp, %0" : "=r"(after));
    if (after != before)
    {
        char line[160];
        wsprintfA(line,
                  "FAIL: GXGetDisplayProperties moved the stack by %ld bytes: it popped the "
                  "hidden return pointer that a Microsoft caller removes\n",
                  static_cast<long>(after - before));
        Print(line);
        ExitProcess(1); // the caller's frame is no longer where it thinks
    }
    return properties;
}
#endif

} // namespace

extern "C" void WINAPI CallerMain()
{
    SetEnvironmentVariableW(L"GX_SIMULATED_DISPLAY", kSimulation);

    CheckEqual(GXOpenDisplay(nullptr, GX_FULLSCREEN) != 0, 1, "GXOpenDisplay opened the display");
    const GXDisplayProperties properties = GetPropertiesCheckingTheHiddenPointer();
    CheckEqual(static_cast<long>(properties.cxWidth), kSimulated.cxWidth, "width");
    CheckEqual(static_cast<long>(properties.cyHeight), kSimulated.cyHeight, "height");
    CheckEqual(properties.cbxPitch, kSimulated.cbxPitch, "x pitch");
    CheckEqual(properties.cbyPitch, kSimulated.cbyPitch, "y pitch");
    CheckEqual(properties.cBPP, kSimulated.cBPP, "bits per pixel");
    CheckEqual(static_cast<long>(properties.ffFormat), kSimulated.ffFormat, "format flags");
    CheckEqual(GXIsDisplayDRAMBuffer(), kSimulatedDRAMBuffer, "GXIsDisplayDRAMBuffer");
    CheckEqual(GXCloseDisplay(), 1, "GXCloseDisplay of the open display");
    CheckEqual(GXCloseDisplay(), 0, "GXCloseDisplay once more");

    char line[32];
    wsprintfA(line, "%d failed\n", g_failures);
    Print(line);
    ExitProcess(static_cast<UINT>(g_failures));
}
