// The Windows CE stand-in: runs a device image on Linux of the image's processor family (here under
// qemu) as a CE device would, with COREDLL's two functions and GX.dll's four standing in for the device's.
//
//   wince_stand_in [--base ADDRESS] [--screen WIDTHxHEIGHT] IMAGE.exe
//
// It maps the image at its base, or at ADDRESS applying its base relocations, binds its imports,
// and calls its entry with WinMain's four arguments on a stack aligned to 4 bytes only, as CE does.
// It prints what the box reader reads from a box under Wine: each box's caption, text and
// buttons, the exit status, then GX.dll's debug lines. GX_SIMULATED_DISPLAY describes the display
// as for our desktop GX.dll; without it, the display is a classic 240x320 16-bit handheld's.
// --screen models a device with a larger screen running Windows Mobile 2003 Second Edition or later,
// where an image that is not high-resolution aware is shown a 240x320 emulation of it.
#include "ce_calls.h"
#include "ce_loader.h"
#include "refusal.h"
#include "stand_in_dlls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace
{

// CE's default stack reserve; its top is aligned to 4 bytes only, which CallOnStack keeps where CE
// keeps the stack aligned so (ARM) and aligns further where CE does.
alignas(8) unsigned char g_stack[64 * 1024];
constexpr std::uintptr_t kShowWindow = 5; // SW_SHOW
const char16_t kEmptyCommandLine[] = u"";

// A number of at most four digits at text, which moves past it; 0 if there is none.
unsigned Dimension(const char *&text)
{
    unsigned value = 0;
    for (const char *start = text; *text >= '0' && *text <= '9' && text - start < 4; ++text)
    {
        value = value * 10 + static_cast<unsigned>(*text - '0');
    }
    return value;
}

// A screen of WIDTHxHEIGHT, 16 bits per pixel in 5-6-5, written directly, like the classic handheld's.
// Only whole multiples of 240x320 (480x640 on VGA devices): the emulation scales 240x320 to them.
SimulatedDisplay ScreenOf(const char *text)
{
    const char *next = text;
    const unsigned width = Dimension(next);
    const unsigned height = *next == 'x' ? Dimension(++next) : 0;
    if (*next != '\0' || width == 0 || width % 240 != 0 || height != width / 240 * 320)
    {
        Fail(std::string("--screen ") + text +
             ": the stand-in models 240x320 and its whole multiples, such as 480x640");
    }
    return {{width, height, 2, static_cast<LONG>(2 * width), 16, kfDirect | kfDirect565}, 0};
}

// The whole of the file at path, read with the system's own calls, which every stand-in has.
std::vector<unsigned char> FileBytes(const char *path)
{
    const int file = open(path, O_RDONLY);
    std::vector<unsigned char> bytes;
    unsigned char block[4096];
    ssize_t got = 0;
    while (file >= 0 && (got = read(file, block, sizeof block)) > 0)
    {
        bytes.insert(bytes.end(), block, block + got);
    }
    if (file < 0 || got < 0)
    {
        Fail(std::string("cannot read ") + path);
    }
    close(file);
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    std::optional<std::uint32_t> base;
    SimulatedDisplay screen = kHandheld;
    int next = 1;
    for (; next + 2 < argc; next += 2)
    {
        if (std::strcmp(argv[next], "--base") == 0)
        {
            base = static_cast<std::uint32_t>(std::strtoul(argv[next + 1], nullptr, 0));
            // CE places images at multiples of 64 KiB, but a loader may use any page: a base that is
            // not such a multiple shows a relocation that moves only the high half of an address wrong.
            if (*base % 0x1000 != 0)
            {
                Fail(std::string("--base ") + argv[next + 1] +
                     ": an image's base is a multiple of a page, 4 KiB");
            }
        }
        else if (std::strcmp(argv[next], "--screen") == 0)
        {
            screen = ScreenOf(argv[next + 1]);
        }
        else
        {
            break;
        }
    }
    if (next != argc - 1)
    {
        std::fprintf(stderr, "usage: wince_stand_in [--base ADDRESS] [--screen WIDTHxHEIGHT] IMAGE.exe\n");
        return 2;
    }
    const LoadedImage image = LoadImage(FileBytes(argv[argc - 1]), base);
    SetDevice(screen,
              screen.properties.cxWidth > kHandheld.properties.cxWidth && !image.isHighResolutionAware);

    const std::uintptr_t arguments[4] = {reinterpret_cast<std::uintptr_t>(image.at), 0,
                                         reinterpret_cast<std::uintptr_t>(kEmptyCommandLine), kShowWindow};
    unsigned char *const stackTop = g_stack + sizeof g_stack - 4;
    if (reinterpret_cast<std::uintptr_t>(stackTop) % 8 != 4)
    {
        Fail("the stack top would be aligned to 8 bytes, so an ARM entry would not meet the 4-byte alignment "
             "CE "
             "may give it");
    }
    const int status = CallOnStack(image.entry, arguments, stackTop);
    if (EntryBrokeConvention != 0)
    {
        Fail("the entry returned with another stack pointer or a changed register it must preserve");
    }
    std::printf("exit status: %d\n", status);
    for (const std::string &line : DebugLines())
    {
        std::printf("debug: %s\n", line.c_str());
    }
    return 0;
}
