// The Windows CE stand-in: runs a device image on ARM Linux (here under qemu-arm) as a CE device
// would, with COREDLL's two functions and GX.dll's four standing in for the device's.
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
#include "refusal.h"
#include "stand_in_dlls.h"

#include <sys/mman.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace
{

// The PE image's fields the loader reads, at their offsets.

constexpr std::uint32_t kImportDirectory = 1;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kRelocationDirectory = 5;
constexpr std::uint32_t kOrdinalFlag = 0x80000000U;
constexpr std::uint32_t kResourceNamed = 0x80000000U; // of an entry's name; of its offset, a subdirectory
constexpr std::uint16_t kRelocationHighLow = 3;
constexpr std::uint16_t kRelocationPadding = 0;

class Image
{
  public:
    explicit Image(std::vector<unsigned char> file) : file_(std::move(file))
    {
        if (file_.size() < 0x40 || Word16(file_.data()) != 0x5A4D)
        {
            Fail("not an MZ image");
        }
        headers_ = Word32(file_.data() + 0x3C);
        if (headers_ + 0xF8 > file_.size() || Word32(file_.data() + headers_) != 0x4550)
        {
            Fail("no PE headers");
        }
        const std::uint16_t machine = Field16(4);
        if (machine != 0x01C0 && machine != 0x01C2)
        {
            Fail("machine " + Hex(machine) + " is not ARM or ARMV4I");
        }
        if (Field16(24) != 0x10B || Field16(24 + 68) != 9)
        {
            Fail("not a PE32 image for the Windows CE GUI subsystem");
        }
    }

    [[nodiscard]] std::uint32_t PreferredBase() const { return Field32(24 + 28); }

    // Maps the headers and the sections at base, and relocates them there.
    [[nodiscard]] unsigned char *Map(std::uint32_t base) const
    {
        const std::uint32_t size = Field32(24 + 56);
        if (Field32(24 + 60) > file_.size() || Field32(24 + 60) > size)
        {
            Fail("the headers lie outside the file or the image");
        }
        void *at = mmap(reinterpret_cast<void *>(static_cast<std::uintptr_t>(base)), size,
                        PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (at == MAP_FAILED || at != reinterpret_cast<void *>(static_cast<std::uintptr_t>(base)))
        {
            Fail("cannot map " + Hex(size) + " bytes at " + Hex(base));
        }
        auto *image = static_cast<unsigned char *>(at);
        std::memcpy(image, file_.data(), Field32(24 + 60));
        ForEachSection([&](const unsigned char *section) {
            const std::uint32_t raw = Word32(section + 16);
            if (Word32(section + 20) + raw > file_.size() || Word32(section + 12) + raw > size)
            {
                Fail("a section lies outside the file or the image");
            }
            std::memcpy(image + Word32(section + 12), file_.data() + Word32(section + 20), raw);
        });
        Relocate(image, base - PreferredBase());
        return image;
    }

    void Bind(unsigned char *image) const
    {
        for (const unsigned char *descriptor = image + DirectoryRva(kImportDirectory);
             Word32(descriptor + 12) != 0; descriptor += 20)
        {
            const char *dll = reinterpret_cast<const char *>(image + Word32(descriptor + 12));
            const std::uint32_t lookup =
                Word32(descriptor) != 0 ? Word32(descriptor) : Word32(descriptor + 16);
            auto *slot = reinterpret_cast<std::uint32_t *>(image + Word32(descriptor + 16));
            for (const unsigned char *entry = image + lookup; Word32(entry) != 0; entry += 4, ++slot)
            {
                const std::uint32_t value = Word32(entry);
                // A name is a hint/name entry: two bytes of hint, then the name.
                const std::uintptr_t function =
                    (value & kOrdinalFlag) != 0
                        ? Exported(dll, value & 0xFFFFU, nullptr)
                        : Exported(dll, 0, reinterpret_cast<const char *>(image + value + 2));
                *slot = static_cast<std::uint32_t>(function);
            }
        }
    }

    // Read, write and execute as each section says; the headers read-only.
    void Protect(unsigned char *image) const
    {
        mprotect(image, Field32(24 + 60), PROT_READ);
        ForEachSection([&](const unsigned char *section) {
            const std::uint32_t flags = Word32(section + 36);
            const int protection = ((flags & 0x40000000U) != 0 ? PROT_READ : 0) |
                                   ((flags & 0x80000000U) != 0 ? PROT_WRITE : 0) |
                                   ((flags & 0x20000000U) != 0 ? PROT_EXEC : 0);
            unsigned char *start = image + Word32(section + 12);
            if (mprotect(start, Word32(section + 8), protection) != 0)
            {
                Fail("cannot protect a section at " + Hex(Word32(section + 12)));
            }
            __builtin___clear_cache(reinterpret_cast<char *>(start),
                                    reinterpret_cast<char *>(start + Word32(section + 8)));
        });
    }

    [[nodiscard]] std::uint32_t Entry() const { return Field32(24 + 16); }

    // As Windows Mobile 2003 Second Edition and later decide it: a subsystem version of 4.21 or higher,
    // or a resource of type CEUX named HI_RES_AWARE whose 2 bytes hold 1, in whichever language.
    [[nodiscard]] bool IsHighResolutionAware(const unsigned char *image) const
    {
        if (std::pair(Field16(24 + 48), Field16(24 + 50)) >= std::pair<std::uint16_t, std::uint16_t>(4, 21))
        {
            return true;
        }
        const std::uint32_t tree = DirectoryRva(kResourceDirectory);
        const std::uint32_t type = tree != 0 ? NamedSubdirectory(image, tree, tree, "CEUX") : 0;
        const std::uint32_t name = type != 0 ? NamedSubdirectory(image, tree, type, "HI_RES_AWARE") : 0;
        if (name == 0 || Word16(Inside(image, name + 12, 4)) + Word16(image + name + 14) == 0)
        {
            return false;
        }
        const unsigned char *data =
            Inside(image, tree + (Word32(Inside(image, name + 16, 8) + 4) & ~kResourceNamed), 16);
        // rc aligns resource data to 4 bytes: a program reading its words with ARMv4 loads needs that.
        if (Word32(data) % 4 != 0)
        {
            Fail("the resource data at " + Hex(Word32(data)) + " is not aligned to 4 bytes");
        }
        return Word32(data + 4) == 2 && Word16(Inside(image, Word32(data), 2)) == 1;
    }

  private:
    static std::uint16_t Word16(const unsigned char *at)
    {
        std::uint16_t value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    }

    static std::uint32_t Word32(const unsigned char *at)
    {
        std::uint32_t value = 0;
        std::memcpy(&value, at, sizeof value);
        return value;
    }

    // Fields of the COFF header (offset 4 on) and the optional header (offset 24 on).
    [[nodiscard]] std::uint16_t Field16(std::uint32_t offset) const
    {
        return Word16(file_.data() + headers_ + offset);
    }
    [[nodiscard]] std::uint32_t Field32(std::uint32_t offset) const
    {
        return Word32(file_.data() + headers_ + offset);
    }
    [[nodiscard]] std::uint32_t DirectoryRva(std::uint32_t index) const
    {
        return Field32(24 + 96 + 8 * index);
    }
    [[nodiscard]] std::uint32_t DirectorySize(std::uint32_t index) const
    {
        return Field32(24 + 96 + 8 * index + 4);
    }

    template <typename Visit> void ForEachSection(Visit visit) const
    {
        const unsigned char *first = file_.data() + headers_ + 24 + Field16(20);
        for (std::uint16_t i = 0; i < Field16(6); ++i)
        {
            visit(first + 40 * i);
        }
    }

    // size bytes at rva of the loaded image, where its resource directory points.
    [[nodiscard]] const unsigned char *Inside(const unsigned char *image, std::uint32_t rva,
                                              std::uint32_t size) const
    {
        if (rva > Field32(24 + 56) || size > Field32(24 + 56) - rva)
        {
            Fail("the resource directory points outside the image, at " + Hex(rva));
        }
        return image + rva;
    }

    // The subdirectory of the table's entry with that name, found as the system finds it, whatever the
    // case of its letters; 0 if there is none.
    [[nodiscard]] std::uint32_t NamedSubdirectory(const unsigned char *image, std::uint32_t tree,
                                                  std::uint32_t table, std::string_view wanted) const
    {
        const std::uint16_t count = Word16(Inside(image, table + 12, 2));
        for (std::uint32_t at = table + 16; at < table + 16 + 8U * count; at += 8)
        {
            const unsigned char *entry = Inside(image, at, 8);
            if ((Word32(entry) & kResourceNamed) == 0 || (Word32(entry + 4) & kResourceNamed) == 0)
            {
                continue;
            }
            const unsigned char *name = Inside(image, tree + (Word32(entry) & ~kResourceNamed),
                                               static_cast<std::uint32_t>(2 + 2 * wanted.size()));
            bool isMatch = Word16(name) == wanted.size();
            for (std::size_t i = 0; isMatch && i < wanted.size(); ++i)
            {
                const std::uint16_t ch = Word16(name + 2 + 2 * i);
                isMatch = ch < 0x80 && std::toupper(ch) == wanted[i];
            }
            if (isMatch)
            {
                return tree + (Word32(entry + 4) & ~kResourceNamed);
            }
        }
        return 0;
    }

    void Relocate(unsigned char *image, std::uint32_t delta) const
    {
        if (delta == 0)
        {
            return;
        }
        const unsigned char *block = image + DirectoryRva(kRelocationDirectory);
        const unsigned char *end = block + DirectorySize(kRelocationDirectory);
        while (block < end)
        {
            const std::uint32_t page = Word32(block);
            const std::uint32_t size = Word32(block + 4);
            // A block shorter than its header would never end the walk.
            if (size < 8 || size > static_cast<std::uint32_t>(end - block))
            {
                Fail("the relocation block for " + Hex(page) + " is " + std::to_string(size) + " bytes long");
            }
            for (std::uint32_t at = 8; at < size; at += 2)
            {
                const std::uint16_t entry = Word16(block + at);
                if (entry >> 12 == kRelocationHighLow)
                {
                    unsigned char *word = image + page + (entry & 0xFFFU);
                    const std::uint32_t value = Word32(word) + delta;
                    std::memcpy(word, &value, sizeof value);
                }
                else if (entry >> 12 != kRelocationPadding)
                {
                    Fail("relocation type " + std::to_string(entry >> 12) + " at " +
                         Hex(page + (entry & 0xFFFU)));
                }
            }
            block += size;
        }
    }

    std::vector<unsigned char> file_;
    std::uint32_t headers_ = 0;
};

// Calls entry(r0..r3 = arguments) on the stack that starts at stackTop, and returns r0.
extern "C" int CallOnStack(std::uintptr_t entry, const std::uintptr_t *arguments, void *stackTop);
asm(R"(
    .text
    .arm
    .balign 4
    .global CallOnStack
    .type CallOnStack, %function
CallOnStack:
    push {r4, lr}
    mov r4, sp
    mov sp, r2
    mov ip, r0
    ldm r1, {r0-r3}
    blx ip
    mov sp, r4
    pop {r4, pc}
)");

// CE's default stack reserve; CE keeps the stack aligned to 4 bytes, not the 8 that ARM Linux does.
alignas(8) unsigned char g_stack[64 * 1024];
constexpr std::uintptr_t kShowWindow = 5; // SW_SHOW
const char16_t kEmptyCommandLine[] = u"";

// A screen of WIDTHxHEIGHT, 16 bits per pixel in 5-6-5, written directly, like the classic handheld's.
// Only whole multiples of 240x320 (480x640 on VGA devices): the emulation scales 240x320 to them.
SimulatedDisplay ScreenOf(const char *text)
{
    unsigned width = 0;
    unsigned height = 0;
    char after = 0;
    if (std::isdigit(static_cast<unsigned char>(*text)) == 0 ||
        std::sscanf(text, "%4ux%4u%c", &width, &height, &after) != 2 || width == 0 || width % 240 != 0 ||
        height != width / 240 * 320)
    {
        Fail(std::string("--screen ") + text +
             ": the stand-in models 240x320 and its whole multiples, such as 480x640");
    }
    return {{width, height, 2, static_cast<LONG>(2 * width), 16, kfDirect | kfDirect565}, 0};
}

} // namespace

int main(int argc, char **argv)
{
    std::uint32_t base = 0;
    bool rebased = false;
    SimulatedDisplay screen = kHandheld;
    int next = 1;
    for (; next + 2 < argc; next += 2)
    {
        if (std::strcmp(argv[next], "--base") == 0)
        {
            base = static_cast<std::uint32_t>(std::strtoul(argv[next + 1], nullptr, 0));
            rebased = true;
            if (base % 0x10000 != 0)
            {
                Fail(std::string("--base ") + argv[next + 1] +
                     ": an image's base is a multiple of 64 KiB, as Windows CE places images");
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
    std::ifstream file(argv[argc - 1], std::ios::binary);
    if (!file)
    {
        Fail(std::string("cannot read ") + argv[argc - 1]);
    }
    const Image image(std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {}));
    unsigned char *mapped = image.Map(rebased ? base : image.PreferredBase());
    image.Bind(mapped);
    SetDevice(screen, screen.properties.cxWidth > kHandheld.properties.cxWidth &&
                          !image.IsHighResolutionAware(mapped));
    image.Protect(mapped);

    const std::uintptr_t arguments[4] = {reinterpret_cast<std::uintptr_t>(mapped), 0,
                                         reinterpret_cast<std::uintptr_t>(kEmptyCommandLine), kShowWindow};
    unsigned char *const stackTop = g_stack + sizeof g_stack - 4;
    if (reinterpret_cast<std::uintptr_t>(stackTop) % 8 != 4)
    {
        Fail("the entry's stack would be aligned to 8 bytes, which CE does not promise");
    }
    const int status =
        CallOnStack(reinterpret_cast<std::uintptr_t>(mapped + image.Entry()), arguments, stackTop);
    std::printf("exit status: %d\n", status);
    for (const std::string &line : DebugLines())
    {
        std::printf("debug: %s\n", line.c_str());
    }
    return 0;
}
