#include "ce_loader.h"

#include "refusal.h"
#include "stand_in_dlls.h"

#include <sys/mman.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace
{

// The PE structures the loader reads, field by field as the PE format lays them out.

struct PeHeaders // the signature, then the COFF header
{
    std::uint32_t signature;
    std::uint16_t machine;
    std::uint16_t numberOfSections;
    std::uint32_t timeDateStamp;
    std::uint32_t pointerToSymbolTable;
    std::uint32_t numberOfSymbols;
    std::uint16_t sizeOfOptionalHeader;
    std::uint16_t characteristics;
};

struct DataDirectory
{
    std::uint32_t rva;
    std::uint32_t size;
};

struct OptionalHeader // PE32's, with all 16 data directories, which a CE loader reads as one
{
    std::uint16_t magic;
    std::uint8_t majorLinkerVersion;
    std::uint8_t minorLinkerVersion;
    std::uint32_t sizeOfCode;
    std::uint32_t sizeOfInitializedData;
    std::uint32_t sizeOfUninitializedData;
    std::uint32_t addressOfEntryPoint;
    std::uint32_t baseOfCode;
    std::uint32_t baseOfData;
    std::uint32_t imageBase;
    std::uint32_t sectionAlignment;
    std::uint32_t fileAlignment;
    std::uint16_t majorOperatingSystemVersion;
    std::uint16_t minorOperatingSystemVersion;
    std::uint16_t majorImageVersion;
    std::uint16_t minorImageVersion;
    std::uint16_t majorSubsystemVersion;
    std::uint16_t minorSubsystemVersion;
    std::uint32_t win32VersionValue;
    std::uint32_t sizeOfImage;
    std::uint32_t sizeOfHeaders;
    std::uint32_t checkSum;
    std::uint16_t subsystem;
    std::uint16_t dllCharacteristics;
    std::uint32_t sizeOfStackReserve;
    std::uint32_t sizeOfStackCommit;
    std::uint32_t sizeOfHeapReserve;
    std::uint32_t sizeOfHeapCommit;
    std::uint32_t loaderFlags;
    std::uint32_t numberOfRvaAndSizes;
    DataDirectory directories[16];
};

struct SectionHeader
{
    char name[8];
    std::uint32_t virtualSize;
    std::uint32_t virtualAddress;
    std::uint32_t sizeOfRawData;
    std::uint32_t pointerToRawData;
    std::uint32_t pointerToRelocations;
    std::uint32_t pointerToLinenumbers;
    std::uint16_t numberOfRelocations;
    std::uint16_t numberOfLinenumbers;
    std::uint32_t characteristics;
};

struct ImportDescriptor
{
    std::uint32_t originalFirstThunk; // the lookup table; 0 where the IAT is its own
    std::uint32_t timeDateStamp;
    std::uint32_t forwarderChain;
    std::uint32_t name;
    std::uint32_t firstThunk; // the IAT, which the loader fills in
};

struct RelocationBlock // followed by 16-bit entries: the type in the top 4 bits, an offset in the page
{
    std::uint32_t page;
    std::uint32_t size; // the header's 8 bytes and the entries'
};

struct ResourceDirectory // followed by its named entries, then its numbered ones
{
    std::uint32_t characteristics;
    std::uint32_t timeDateStamp;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint16_t numberOfNamedEntries;
    std::uint16_t numberOfIdEntries;
};

struct ResourceEntry
{
    std::uint32_t name;   // kResourceNamed and a name's offset in the tree, or an id
    std::uint32_t offset; // kResourceNamed and a subdirectory's offset in the tree, or a data entry's
};

struct ResourceDataEntry
{
    std::uint32_t rva;
    std::uint32_t size;
    std::uint32_t codePage;
    std::uint32_t reserved;
};

static_assert(sizeof(PeHeaders) == 24 && sizeof(OptionalHeader) == 224 && sizeof(SectionHeader) == 40 &&
                  sizeof(ImportDescriptor) == 20 && sizeof(RelocationBlock) == 8 &&
                  sizeof(ResourceDirectory) == 16 && sizeof(ResourceEntry) == 8 &&
                  sizeof(ResourceDataEntry) == 16,
              "the PE structures have the format's sizes");

constexpr std::uint16_t kMzSignature = 0x5A4D;
constexpr std::uint32_t kPeHeadersOffset = 0x3C; // the DOS header's e_lfanew
constexpr std::uint32_t kPeSignature = 0x4550;
// The machines of this stand-in's processor family, and the base relocation kinds their images hold,
// from the processor rows.
constexpr std::uint16_t kMachines[] = {STAND_IN_MACHINES};
constexpr std::uint16_t kRelocationKinds[] = {STAND_IN_RELOCATIONS};
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kSubsystemWindowsCeGui = 9;
constexpr std::size_t kImportDirectory = 1;
constexpr std::size_t kResourceDirectory = 2;
constexpr std::size_t kRelocationDirectory = 5;
constexpr std::uint32_t kOrdinalFlag = 0x80000000U;
constexpr std::uint32_t kResourceNamed = 0x80000000U; // of an entry's name; of its offset, a subdirectory
constexpr std::uint16_t kRelocationPadding = 0;
constexpr std::uint16_t kRelocationLow = 2;         // the low 16 bits of a field
constexpr std::uint16_t kRelocationHighLow = 3;     // a 32-bit address
constexpr std::uint16_t kRelocationHighAdjust = 4;  // a lui's high half, the low half in the next slot
constexpr std::uint16_t kRelocationJumpAddress = 5; // a MIPS j or jal's 26-bit word address
constexpr std::uint32_t kJumpRegion = 0x10000000U;  // what a MIPS j or jal reaches: its own 256 MiB
constexpr std::uint32_t kSectionExecute = 0x20000000U;
constexpr std::uint32_t kSectionRead = 0x40000000U;
constexpr std::uint32_t kSectionWrite = 0x80000000U;

// Bytes of the image, in its file or mapped, that every read and write goes through: one that would
// go past them is refused, naming what pointed there and where.
class Region
{
  public:
    Region(unsigned char *data, std::size_t size, const char *name) : data_(data), size_(size), name_(name) {}

    [[nodiscard]] bool Holds(std::uint64_t offset, std::uint64_t size) const
    {
        return offset <= size_ && size <= size_ - offset;
    }

    void Check(std::uint64_t offset, std::uint64_t size, std::string_view what) const
    {
        if (!Holds(offset, size))
        {
            Fail(std::string(what) + " points outside " + name_ + ", at " + Hex(offset));
        }
    }

    [[nodiscard]] unsigned char *Span(std::uint64_t offset, std::uint64_t size, std::string_view what) const
    {
        Check(offset, size, what);
        return data_ + offset;
    }

    template <typename T> [[nodiscard]] T Read(std::uint64_t offset, std::string_view what) const
    {
        T value;
        std::memcpy(&value, Span(offset, sizeof value, what), sizeof value);
        return value;
    }

    template <typename T> void Write(std::uint64_t offset, T value, std::string_view what) const
    {
        std::memcpy(Span(offset, sizeof value, what), &value, sizeof value);
    }

    // The NUL-terminated string at offset, which must end inside.
    [[nodiscard]] std::string String(std::uint64_t offset, std::string_view what) const
    {
        const unsigned char *start = Span(offset, 0, what);
        const void *end = std::memchr(start, 0, static_cast<std::size_t>(size_ - offset));
        if (end == nullptr)
        {
            Fail(std::string(what) + " points to a string at " + Hex(offset) + " that runs past the end of " +
                 name_);
        }
        return {reinterpret_cast<const char *>(start), reinterpret_cast<const char *>(end)};
    }

  private:
    unsigned char *data_;
    std::size_t size_;
    const char *name_;
};

class Image
{
  public:
    explicit Image(std::vector<unsigned char> file)
        : bytes_(std::move(file)), file_(bytes_.data(), bytes_.size(), "the file")
    {
        if (!file_.Holds(0, kPeHeadersOffset + 4) || file_.Read<std::uint16_t>(0, "") != kMzSignature)
        {
            Fail("not an MZ image");
        }
        headersAt_ = file_.Read<std::uint32_t>(kPeHeadersOffset, "");
        if (!file_.Holds(headersAt_, sizeof(PeHeaders) + sizeof(OptionalHeader)) ||
            file_.Read<PeHeaders>(headersAt_, "").signature != kPeSignature)
        {
            Fail("no PE headers");
        }
        headers_ = file_.Read<PeHeaders>(headersAt_, "");
        optional_ = file_.Read<OptionalHeader>(headersAt_ + sizeof(PeHeaders), "");
        if (std::find(std::begin(kMachines), std::end(kMachines), headers_.machine) == std::end(kMachines))
        {
            std::string runs;
            for (const std::uint16_t machine : kMachines)
            {
                runs += (runs.empty() ? "" : " or ") + Hex(machine);
            }
            Fail("machine " + Hex(headers_.machine) + " is not one this stand-in runs, " + runs);
        }
        if (optional_.magic != kPe32Magic || optional_.subsystem != kSubsystemWindowsCeGui)
        {
            Fail("not a PE32 image for the Windows CE GUI subsystem");
        }
        // A CE loader reads the optional header whole, with all its data directories.
        if (headers_.sizeOfOptionalHeader < sizeof(OptionalHeader) ||
            optional_.numberOfRvaAndSizes < std::size(optional_.directories))
        {
            Fail("the optional header holds " + std::to_string(optional_.numberOfRvaAndSizes) +
                 " data directories, not the 16 a CE loader reads");
        }
    }

    // file_ points into bytes_: a copy would point into the original's.
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    [[nodiscard]] std::uint32_t PreferredBase() const { return optional_.imageBase; }

    // Maps the headers and the sections at base, and relocates them there.
    void Map(std::uint32_t base)
    {
        const std::uint32_t size = optional_.sizeOfImage;
        if (!file_.Holds(0, optional_.sizeOfHeaders) || optional_.sizeOfHeaders > size)
        {
            Fail("the headers lie outside the file or the image");
        }
        void *at = mmap(reinterpret_cast<void *>(static_cast<std::uintptr_t>(base)), size,
                        PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (at == MAP_FAILED || at != reinterpret_cast<void *>(static_cast<std::uintptr_t>(base)))
        {
            Fail("cannot map " + Hex(size) + " bytes at " + Hex(base));
        }
        image_ = Region(static_cast<unsigned char *>(at), size, "the image");
        std::memcpy(image_.Span(0, optional_.sizeOfHeaders, "the headers"), file_.Span(0, 0, ""),
                    optional_.sizeOfHeaders);
        for (const SectionHeader &section : Sections())
        {
            if (!file_.Holds(section.pointerToRawData, section.sizeOfRawData) ||
                !image_.Holds(section.virtualAddress, section.sizeOfRawData))
            {
                Fail("a section lies outside the file or the image");
            }
            std::memcpy(image_.Span(section.virtualAddress, section.sizeOfRawData, ""),
                        file_.Span(section.pointerToRawData, section.sizeOfRawData, ""),
                        section.sizeOfRawData);
        }
        Relocate(base - PreferredBase());
    }

    void Bind() const
    {
        constexpr std::string_view kWhat = "the import directory";
        const std::uint32_t imports = optional_.directories[kImportDirectory].rva;
        if (imports == 0)
        {
            return; // it imports nothing
        }
        for (std::uint64_t at = imports;; at += sizeof(ImportDescriptor))
        {
            const auto descriptor = image_.Read<ImportDescriptor>(at, kWhat);
            if (descriptor.name == 0)
            {
                return;
            }
            const std::string dll = image_.String(descriptor.name, kWhat);
            const std::uint32_t lookup =
                descriptor.originalFirstThunk != 0 ? descriptor.originalFirstThunk : descriptor.firstThunk;
            for (std::uint64_t i = 0;; i += 4)
            {
                const auto value = image_.Read<std::uint32_t>(lookup + i, kWhat);
                if (value == 0)
                {
                    break;
                }
                // A name is a hint/name entry: two bytes of hint, then the name.
                const std::uintptr_t function =
                    (value & kOrdinalFlag) != 0
                        ? Exported(dll.c_str(), value & 0xFFFFU, nullptr)
                        : Exported(dll.c_str(), 0, image_.String(std::uint64_t{value} + 2, kWhat).c_str());
                image_.Write(descriptor.firstThunk + i, static_cast<std::uint32_t>(function), kWhat);
            }
        }
    }

    // Read, write and execute as each section says; the headers read-only.
    void Protect() const
    {
        mprotect(image_.Span(0, optional_.sizeOfHeaders, "the headers"), optional_.sizeOfHeaders, PROT_READ);
        for (const SectionHeader &section : Sections())
        {
            const int protection = ((section.characteristics & kSectionRead) != 0 ? PROT_READ : 0) |
                                   ((section.characteristics & kSectionWrite) != 0 ? PROT_WRITE : 0) |
                                   ((section.characteristics & kSectionExecute) != 0 ? PROT_EXEC : 0);
            unsigned char *start =
                image_.Span(section.virtualAddress, section.virtualSize, "a section header");
            if (mprotect(start, section.virtualSize, protection) != 0)
            {
                Fail("cannot protect a section at " + Hex(section.virtualAddress));
            }
            __builtin___clear_cache(reinterpret_cast<char *>(start),
                                    reinterpret_cast<char *>(start + section.virtualSize));
        }
    }

    [[nodiscard]] unsigned char *Base() const { return image_.Span(0, 0, ""); }

    [[nodiscard]] std::uintptr_t Entry() const
    {
        return reinterpret_cast<std::uintptr_t>(
            image_.Span(optional_.addressOfEntryPoint, 4, "the entry point's address"));
    }

    // As Windows Mobile 2003 Second Edition and later decide it: a subsystem version of 4.21 or higher,
    // or a resource of type CEUX named HI_RES_AWARE whose 2 bytes hold 1, in whichever language.
    [[nodiscard]] bool IsHighResolutionAware() const
    {
        if (std::pair(optional_.majorSubsystemVersion, optional_.minorSubsystemVersion) >=
            std::pair<std::uint16_t, std::uint16_t>(4, 21))
        {
            return true;
        }
        const std::uint32_t tree = optional_.directories[kResourceDirectory].rva;
        const std::uint64_t type = tree != 0 ? NamedSubdirectory(tree, tree, "CEUX") : 0;
        const std::uint64_t name = type != 0 ? NamedSubdirectory(tree, type, "HI_RES_AWARE") : 0;
        if (name == 0)
        {
            return false;
        }
        const auto languages = image_.Read<ResourceDirectory>(name, kResourceWhat);
        if (languages.numberOfNamedEntries + languages.numberOfIdEntries == 0)
        {
            return false;
        }
        const auto language = image_.Read<ResourceEntry>(name + sizeof(ResourceDirectory), kResourceWhat);
        if ((language.offset & kResourceNamed) != 0)
        {
            Fail("the resource directory holds a table where HI_RES_AWARE's data belongs");
        }
        const auto data = image_.Read<ResourceDataEntry>(
            std::uint64_t{tree} + (language.offset & ~kResourceNamed), kResourceWhat);
        // rc aligns resource data to 4 bytes: a program reading its words with ARMv4 loads needs that.
        if (data.rva % 4 != 0)
        {
            Fail("the resource data at " + Hex(data.rva) + " is not aligned to 4 bytes");
        }
        return data.size == 2 && image_.Read<std::uint16_t>(data.rva, kResourceWhat) == 1;
    }

  private:
    static constexpr std::string_view kResourceWhat = "the resource directory";

    [[nodiscard]] std::vector<SectionHeader> Sections() const
    {
        std::vector<SectionHeader> sections;
        const std::uint64_t first =
            std::uint64_t{headersAt_} + sizeof(PeHeaders) + headers_.sizeOfOptionalHeader;
        for (std::uint64_t i = 0; i < headers_.numberOfSections; ++i)
        {
            sections.push_back(
                file_.Read<SectionHeader>(first + i * sizeof(SectionHeader), "the section table"));
        }
        return sections;
    }

    // The subdirectory of the table's entry with that name, found as the system finds it, whatever the
    // case of its letters; 0 if there is none.
    [[nodiscard]] std::uint64_t NamedSubdirectory(std::uint64_t tree, std::uint64_t table,
                                                  std::string_view wanted) const
    {
        const auto directory = image_.Read<ResourceDirectory>(table, kResourceWhat);
        for (std::uint64_t i = 0; i < directory.numberOfNamedEntries; ++i)
        {
            const auto entry = image_.Read<ResourceEntry>(
                table + sizeof(ResourceDirectory) + i * sizeof(ResourceEntry), kResourceWhat);
            if ((entry.name & kResourceNamed) == 0 || (entry.offset & kResourceNamed) == 0)
            {
                continue;
            }
            const std::uint64_t name = tree + (entry.name & ~kResourceNamed);
            bool isMatch = image_.Read<std::uint16_t>(name, kResourceWhat) == wanted.size();
            for (std::size_t j = 0; isMatch && j < wanted.size(); ++j)
            {
                const auto ch = image_.Read<std::uint16_t>(name + 2 + 2 * std::uint64_t{j}, kResourceWhat);
                isMatch = ch < 0x80 && std::toupper(ch) == wanted[j];
            }
            if (isMatch)
            {
                return tree + (entry.offset & ~kResourceNamed);
            }
        }
        return 0;
    }

    void Relocate(std::uint32_t delta) const
    {
        if (delta == 0)
        {
            return;
        }
        const DataDirectory relocations = optional_.directories[kRelocationDirectory];
        if (relocations.size == 0)
        {
            Fail("the image has no base relocations, so it cannot be placed at " +
                 Hex(delta + PreferredBase()));
        }
        image_.Check(relocations.rva, relocations.size, "the relocation directory");
        const std::uint64_t end = std::uint64_t{relocations.rva} + relocations.size;
        for (std::uint64_t at = relocations.rva; at < end;)
        {
            const auto block = image_.Read<RelocationBlock>(at, "the relocation directory");
            // A block shorter than its header would never end the walk.
            if (block.size < sizeof block || block.size > end - at || block.size % 2 != 0)
            {
                Fail("the relocation block for " + Hex(block.page) + " is " + std::to_string(block.size) +
                     " bytes long");
            }
            const std::string what = "the relocation block for " + Hex(block.page);
            for (std::uint64_t entryAt = at + sizeof block; entryAt < at + block.size; entryAt += 2)
            {
                const auto entry = image_.Read<std::uint16_t>(entryAt, what);
                const auto kind = static_cast<std::uint16_t>(entry >> 12);
                const std::uint64_t field = std::uint64_t{block.page} + (entry & 0xFFFU);
                if (kind == kRelocationPadding)
                {
                    continue;
                }
                if (std::find(std::begin(kRelocationKinds), std::end(kRelocationKinds), kind) ==
                    std::end(kRelocationKinds))
                {
                    Fail("relocation type " + std::to_string(kind) + " at " + Hex(field));
                }
                if (kind == kRelocationHighAdjust)
                {
                    entryAt += 2;
                    if (entryAt >= at + block.size)
                    {
                        Fail("the high half at " + Hex(field) + " has no low half after it");
                    }
                }
                Apply(kind, field, image_.Read<std::uint16_t>(entryAt, what), delta, what);
            }
            at += block.size;
        }
    }

    // Moves the field at offset by delta, as a relocation of kind says; parameter is a high half's low half.
    void Apply(std::uint16_t kind, std::uint64_t field, std::uint16_t parameter, std::uint32_t delta,
               const std::string &what) const
    {
        switch (kind)
        {
        case kRelocationLow:
            image_.Write(field, static_cast<std::uint16_t>(image_.Read<std::uint16_t>(field, what) + delta),
                         what);
            break;
        case kRelocationHighAdjust: {
            const std::uint32_t address = (std::uint32_t{image_.Read<std::uint16_t>(field, what)} << 16) +
                                          static_cast<std::uint32_t>(static_cast<std::int16_t>(parameter)) +
                                          delta;
            // The low half is added signed, so the high half rounds up when it is 0x8000 or more.
            image_.Write(field, static_cast<std::uint16_t>((address + 0x8000U) >> 16), what);
            break;
        }
        case kRelocationJumpAddress: {
            const std::uint64_t base = static_cast<std::uint32_t>(PreferredBase() + delta);
            if (base / kJumpRegion != (base + optional_.sizeOfImage - 1) / kJumpRegion)
            {
                Fail("the image at " + Hex(base) +
                     " would straddle a 256 MiB region, which its jumps cannot");
            }
            const auto instruction = image_.Read<std::uint32_t>(field, what);
            image_.Write(field, (instruction & 0xFC000000U) | ((instruction + (delta >> 2)) & 0x03FFFFFFU),
                         what);
            break;
        }
        case kRelocationHighLow:
            image_.Write(field, image_.Read<std::uint32_t>(field, what) + delta, what);
            break;
        default:
            Fail("relocation type " + std::to_string(kind) + " at " + Hex(field) +
                 ", which the stand-in does not apply");
        }
    }

    std::vector<unsigned char> bytes_;
    Region file_;
    Region image_{nullptr, 0, "the image"};
    std::uint32_t headersAt_ = 0;
    PeHeaders headers_ = {};
    OptionalHeader optional_ = {};
};

} // namespace

LoadedImage LoadImage(std::vector<unsigned char> file, std::optional<std::uint32_t> base)
{
    Image image(std::move(file));
    image.Map(base.value_or(image.PreferredBase()));
    image.Bind();
    const bool isAware = image.IsHighResolutionAware();
    image.Protect();
    return {image.Base(), image.Entry(), isAware};
}
