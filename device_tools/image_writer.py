#!/usr/bin/python3
"""The device image writer: makes a Windows CE image (PE32) from what GNU ld links.

  image_writer.py imports TARGET GX_DEF IMPORTS.s    the import thunks and slots the link needs
  image_writer.py image TARGET GX_DEF ELF IMAGE.exe [RESOURCES.rc...]
                                                     the image, from the executable linked with them

TARGET is a processor of processors.py, such as ARMV4 (in any case). The ELF executable is linked by
image.ld at the image's base with --emit-relocs: its sections are laid out as in the image, and its
relocations say which words hold addresses. Any section or relocation this writer does not know is
refused, never dropped. Each RESOURCES.rc describes resources of the image, one a line as in an .rc
file: NAME TYPE {WORD, ...}, each named, each WORD 16 bits; or ID ICON "FILE.ico", an icon group ID
(a number or a name) holding the icons of FILE.ico (a path from the working folder), each an RT_ICON
numbered from 1, as a resource compiler writes them.
"""
import re
import struct
import sys
from collections import namedtuple

from processors import BY_NAME, HIGHADJ, LOW, Shape, family

IMAGE_BASE = 0x10000  # where CE loads an exe, in its process slot
# Also on SH3, whose CE pages by 1 KiB: Microsoft's KB 814781 says SH3 programs aligned to 1 KiB fail
# on CE .NET 4.1 and later, and are mended by 4 KiB.
SECTION_ALIGNMENT = 0x1000
FILE_ALIGNMENT = 0x200
HEADERS_SIZE = 0x200  # DOS header, PE headers and five section headers, file-aligned
RESOURCE_LANGUAGE = 0x0409  # US English, what rc writes when the script names no language
ICON, GROUP_ICON = 3, 14  # RT_ICON and RT_GROUP_ICON, types known by number

# COREDLL is imported by ordinal, as the SDK's import library does. The program formats with
# wsprintfW; the image binds that call to ordinal 1097, COREDLL's wide print into a buffer (swprintf),
# which takes the same (buffer, format, ...) arguments and writes the same text for %d and %s.
COREDLL = ("COREDLL.dll", [("MessageBoxW", 858), ("wsprintfW", 1097)])
# How the program calls each import, by the symbol it calls: what a thunk that changes the calling
# convention needs. The formatter is given the buffer, the format and the report's six values.
SHAPES = {"MessageBoxW": Shape(4), "wsprintfW": Shape(8), "_Z13GXOpenDisplayP6HWND__m": Shape(2),
          "_Z22GXGetDisplayPropertiesv": Shape(0, returns_record=True), "_Z21GXIsDisplayDRAMBufferv": Shape(0),
          "_Z14GXCloseDisplayv": Shape(0)}

# (PE section, the ELF sections it holds, characteristics): code, read-only data, imports, data.
CODE, INITIALIZED, UNINITIALIZED = 0x20, 0x40, 0x80
EXECUTE, READ, WRITE, DISCARDABLE = 0x20000000, 0x40000000, 0x80000000, 0x02000000
LAYOUT = [
    (".text", [".text"], CODE | EXECUTE | READ),
    (".rdata", [".rdata"], INITIALIZED | READ),
    (".idata", [".idata"], INITIALIZED | READ | WRITE),
    (".data", [".data", ".bss"], INITIALIZED | READ | WRITE),
]
# A CE loader reads the PE headers as one structure of fixed size, with all 16 directories, so a sixth
# section header would take the headers past 0x200 bytes and the image past a file block more. An image
# with resources keeps five sections: its imports start its data section, both read and written.
LAYOUT_WITH_RESOURCES = LAYOUT[:2] + [(".data", [".idata", ".data", ".bss"], INITIALIZED | READ | WRITE)]
# Sections that are not loaded: the symbols, names and notes of the link, and its relocations.
# Besides those the family's row names.
UNLOADED = {"", ".symtab", ".strtab", ".shstrtab", ".comment", ".note.GNU-stack"}

SHT_RELA, SHT_NOBITS, SHT_REL, SHF_ALLOC = 4, 8, 9, 0x2

Section = namedtuple("Section", "name type flags address size data target")  # target: a relocation section's

# The PE headers the writer fills in, field by field as the format lays them out (names as Microsoft's).
FILE_HEADER = [("Machine", "H"), ("NumberOfSections", "H"), ("TimeDateStamp", "I"), ("PointerToSymbolTable", "I"),
               ("NumberOfSymbols", "I"), ("SizeOfOptionalHeader", "H"), ("Characteristics", "H")]
OPTIONAL_HEADER = [  # PE32's, before its data directories
    ("Magic", "H"), ("MajorLinkerVersion", "B"), ("MinorLinkerVersion", "B"), ("SizeOfCode", "I"),
    ("SizeOfInitializedData", "I"), ("SizeOfUninitializedData", "I"), ("AddressOfEntryPoint", "I"), ("BaseOfCode", "I"),
    ("BaseOfData", "I"), ("ImageBase", "I"), ("SectionAlignment", "I"), ("FileAlignment", "I"),
    ("MajorOperatingSystemVersion", "H"), ("MinorOperatingSystemVersion", "H"), ("MajorImageVersion", "H"),
    ("MinorImageVersion", "H"), ("MajorSubsystemVersion", "H"), ("MinorSubsystemVersion", "H"),
    ("Win32VersionValue", "I"), ("SizeOfImage", "I"), ("SizeOfHeaders", "I"), ("CheckSum", "I"), ("Subsystem", "H"),
    ("DllCharacteristics", "H"), ("SizeOfStackReserve", "I"), ("SizeOfStackCommit", "I"), ("SizeOfHeapReserve", "I"),
    ("SizeOfHeapCommit", "I"), ("LoaderFlags", "I"), ("NumberOfRvaAndSizes", "I")]
SECTION_HEADER = [("Name", "8s"), ("VirtualSize", "I"), ("VirtualAddress", "I"), ("SizeOfRawData", "I"),
                  ("PointerToRawData", "I"), ("PointerToRelocations", "I"), ("PointerToLinenumbers", "I"),
                  ("NumberOfRelocations", "H"), ("NumberOfLinenumbers", "H"), ("Characteristics", "I")]


class Refusal(Exception):
    pass


def align(value, alignment):
    return (value + alignment - 1) // alignment * alignment


def pack(layout, **values):
    """The layout's fields in its order, each the value given for it by name, or 0."""
    unknown = set(values) - {name for name, _ in layout}
    if unknown:
        raise TypeError(f"no such field: {sorted(unknown)}")
    return struct.pack("<" + "".join(kind for _, kind in layout), *(values.get(name, 0) for name, _ in layout))


def read_imports(gx_def):
    """The imported DLLs in order, each with its (symbol, ordinal or name) list; GX.dll from gx.def."""
    with open(gx_def, encoding="ascii") as lines:
        text = lines.read()
    library = re.search(r"^LIBRARY\s+(\S+)", text, re.MULTILINE)
    exports = re.findall(r"^\s*(\S+)\s*==\s*(\S+)\s*$", text, re.MULTILINE)
    if not library or not exports:
        raise Refusal(f"{gx_def} names no library or no function")
    return [COREDLL, (library.group(1), exports)]


def write_imports(processor, imports, path):
    """A thunk per imported function under the name the program calls, and the IAT it reads."""
    lines = [*processor.thunk_preamble, '.section .note.GNU-stack, "", %progbits', ".text"]
    for _, functions in imports:
        for symbol, _ in functions:
            if symbol not in SHAPES:
                raise Refusal(f"the import {symbol} has no shape: how many argument words, whether it returns a record")
            lines += [".balign 4", f".global {symbol}", f".type {symbol}, %function", f"{symbol}:",
                      *processor.thunk(symbol, SHAPES[symbol])]
    lines += ['.section .idata, "aw"', ".balign 4"]
    for _, functions in imports:
        lines += [f"__imp_{symbol}: .4byte 0" for symbol, _ in functions] + [".4byte 0"]  # .word is 16 bits on SH
    with open(path, "w", encoding="ascii") as out:
        out.write("\n".join(lines) + "\n")


def read_icon(path, first_id):
    """An .ico file's icons as RT_ICON resources numbered from first_id, and the RT_GROUP_ICON data
    that lists them: the file's directory with each image's offset replaced by its icon's number."""
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        raise Refusal(f"{path} cannot be read: {error.strerror}") from None
    reserved, kind, count = struct.unpack_from("<HHH", data) if len(data) >= 6 else (0, 0, 0)
    if reserved != 0 or kind != 1 or not count or len(data) < 6 + 16 * count:
        raise Refusal(f"{path} is not an icon file")
    group, icons = struct.pack("<HHH", 0, 1, count), []
    for index in range(count):
        *entry, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * index)
        if offset + size > len(data):
            raise Refusal(f"{path}'s icon {index} runs past its end ({offset} + {size} > {len(data)})")
        icons.append((ICON, first_id + index, data[offset:offset + size]))
        group += struct.pack("<BBBBHHIH", *entry, size, first_id + index)
    return icons, group


def read_resources(path, resources):
    """resources, with the (type, name, data) of each resource RESOURCES.rc describes added."""
    word = r"\s*(?:0[xX][0-9A-Fa-f]+|[0-9]+)\s*"
    with open(path, encoding="ascii") as lines:
        for number, line in enumerate(lines, 1):
            line = line.split("//")[0].strip()
            icon = re.fullmatch(r'(\d+|[A-Za-z_]\w*)\s+ICON\s+"([^"]+)"', line)
            if icon:
                name = int(icon.group(1)) if icon.group(1).isdigit() else icon.group(1).upper()
                taken = [other for kind, other, _ in resources if kind == GROUP_ICON]
                if name in taken or isinstance(name, int) and not 0 < name <= 0xFFFF:
                    raise Refusal(f"{path}:{number} names icon group {icon.group(1)} again, or as no 16-bit id: {line}")
                icons, group = read_icon(icon.group(2), 1 + sum(kind == ICON for kind, _, _ in resources))
                resources += icons + [(GROUP_ICON, name, group)]
                continue
            if not line:
                continue
            match = re.fullmatch(rf"([A-Za-z_]\w*)\s+([A-Za-z_]\w*)\s*\{{((?:{word},)*{word})\}}", line)
            words = [int(w, 16) if "x" in w.lower() else int(w) for w in match.group(3).split(",")] if match else []
            if not words or max(words) > 0xFFFF:
                raise Refusal(f"{path}:{number} is not NAME TYPE {{WORD, ...}} with 16-bit words, nor ID ICON "
                              f'"FILE": {line}')
            resources.append((match.group(2), match.group(1), struct.pack(f"<{len(words)}H", *words)))
    return resources


def read_elf(path, processor):
    with open(path, "rb") as elf:
        data = elf.read()
    if data[:6] != b"\x7fELF\x01\x01":
        raise Refusal(f"{path} is not a 32-bit little-endian ELF file")
    kind, machine, entry, sections_at, count, names_index = struct.unpack_from("<HH4xI4xI12xHH", data, 16)
    if (kind, machine) != (2, family(processor).elf_machine):
        raise Refusal(f"{path} is not an executable of {processor.name}'s family, {processor.family}")
    headers = [struct.unpack_from("<IIIIIIIIII", data, sections_at + 40 * i) for i in range(count)]
    names = data[headers[names_index][4]:]
    sections = []
    for name, kind, flags, address, offset, size, _, target, _, _ in headers:
        contents = b"" if kind == SHT_NOBITS else data[offset:offset + size]
        sections.append(Section(names[name:names.index(b"\0", name)].decode(), kind, flags, address, size, contents,
                                target))
    return entry, sections


def address_fields(sections, processor):
    """(address, base relocation kind, its parameter or None) of each field that holds an address
    or a part of one, from the link's relocations."""
    relocation_kinds, fields = family(processor).relocations, []
    # Only the relocations of loaded sections: those of debugging information are not in the image. A
    # RELA entry's addend follows: the address is in the field all the same, as the link wrote it.
    for relocations in (s for s in sections if s.type in (SHT_REL, SHT_RELA) and sections[s.target].flags & SHF_ALLOC):
        code = sections[relocations.target]
        entry = "<II" if relocations.type == SHT_REL else "<IIi"
        table = [unpacked[:2] for unpacked in struct.iter_unpack(entry, relocations.data)]
        for index, (address, info) in enumerate(table):
            kind = relocation_kinds.get(info & 0xFF)
            if kind is None and info & 0xFF not in family(processor).position_independent:
                raise Refusal(f"relocation type {info & 0xFF} at 0x{address:08X} in {relocations.name}")
            parameter = None
            if kind == HIGHADJ:
                # The low half is that of the first low-half relocation of the same symbol after it,
                # as the ELF rule pairs them (several high halves may share one low half).
                low = next((at for at, other in table[index + 1:]
                            if relocation_kinds.get(other & 0xFF) == LOW and other >> 8 == info >> 8), None)
                if low is None:
                    raise Refusal(f"the high half at 0x{address:08X} in {relocations.name} has no low half after it")
                parameter = struct.unpack_from("<H", code.data, low - code.address)[0]
            if kind is not None:
                fields.append((address, kind, parameter))
    return fields


def import_directory(imports, rva):
    """The IAT as the loader finds it (at rva, where the link put it), then the descriptors, lookup
    tables and names it reads to fill it in."""
    table_size = sum(4 * (len(functions) + 1) for _, functions in imports)
    descriptors_rva = rva + table_size
    lookup_rva = descriptors_rva + 20 * (len(imports) + 1)
    names_rva = lookup_rva + table_size
    lookup, names, descriptors = [], b"", b""
    for dll, functions in imports:
        first = 4 * len(lookup)
        for _, imported in functions:
            if isinstance(imported, int):
                lookup.append(0x80000000 | imported)  # IMAGE_ORDINAL_FLAG32
            else:
                lookup.append(names_rva + len(names))
                names += struct.pack("<H", 0) + imported.encode() + b"\0" * (2 - len(imported) % 2)
        lookup.append(0)
        descriptors += struct.pack("<IIIII", lookup_rva + first, 0, 0, names_rva + len(names), rva + first)
        names += dll.encode() + b"\0" * (2 - len(dll) % 2)
    table = struct.pack(f"<{len(lookup)}I", *lookup)
    return table + descriptors + bytes(20) + table + names, (descriptors_rva, 20 * (len(imports) + 1)), table_size


def base_relocations(fields):
    """One block per page, an entry per (rva, kind, parameter), a HIGHADJ's followed by the slot of its
    parameter; an odd count is padded with an ABSOLUTE entry."""
    blocks = b""
    for page in sorted({rva & ~0xFFF for rva, _, _ in fields}):
        entries = []
        for rva, kind, parameter in sorted((f for f in fields if f[0] & ~0xFFF == page), key=lambda f: f[0]):
            entries += [kind << 12 | rva & 0xFFF] + ([] if parameter is None else [parameter])
        entries += [0] * (len(entries) % 2)
        blocks += struct.pack(f"<II{len(entries)}H", page, 8 + 2 * len(entries), *entries)
    return blocks


def in_order(keys):
    """A resource table's keys as the format orders them: names, sorted, then numbers, ascending."""
    return sorted(k for k in keys if isinstance(k, str)) + sorted(k for k in keys if isinstance(k, int))


def resource_directory(resources, rva):
    """The resource tree at rva for named or numbered types and entries, one language each: the
    directory tables (root, types, languages), then the data entries, the names (counted UTF-16) and
    the data."""
    types = {}
    for kind, name, data in resources:
        upper = [k.upper() if isinstance(k, str) else k for k in (kind, name)]  # rc keeps names in capitals
        types.setdefault(upper[0], {})[upper[1]] = data
    names = [(kind, name) for kind in in_order(types) for name in in_order(types[kind])]
    type_tables_at = 16 + 8 * len(types)
    language_tables_at = type_tables_at + sum(16 + 8 * len(entries) for entries in types.values())
    entries_at = language_tables_at + 24 * len(names)
    strings_at = entries_at + 16 * len(names)

    strings, string_at = b"", {}
    for text in dict.fromkeys(k for k in [*in_order(types), *(name for _, name in names)] if isinstance(k, str)):
        string_at[text] = strings_at + len(strings)
        strings += struct.pack("<H", len(text)) + text.encode("utf-16-le")
    data_at = align(strings_at + len(strings), 4)
    entries, blobs = b"", b""
    for kind, name in names:
        data = types[kind][name]
        entries += struct.pack("<IIII", rva + data_at + len(blobs), len(data), 0, 0)
        blobs += data.ljust(align(len(data), 4), b"\0")

    named, subdirectory = 0x80000000, 0x80000000

    def table(keys, offsets):  # no flags, time or version; the named entries, then the numbered
        ids = [named | string_at[k] if isinstance(k, str) else k for k in keys]
        counts = (sum(isinstance(k, str) for k in keys), sum(isinstance(k, int) for k in keys))
        return struct.pack("<IIHHHH", 0, 0, 0, 0, *counts) + b"".join(struct.pack("<II", *e) for e in zip(ids, offsets))

    root, type_tables, language_tables = [], b"", b""
    for kind in in_order(types):
        root.append(subdirectory | type_tables_at + len(type_tables))
        kind_entries = []
        for name in in_order(types[kind]):
            kind_entries.append(subdirectory | language_tables_at + len(language_tables))
            language_tables += table([RESOURCE_LANGUAGE], [entries_at + len(language_tables) // 24 * 16])
        type_tables += table(in_order(types[kind]), kind_entries)
    return (table(in_order(types), root) + type_tables + language_tables + entries + strings).ljust(data_at, b"\0") + blobs


def place_sections(sections, imports, layout, unloaded):
    """The image's sections as (name, rva, virtual size, contents, characteristics), the import
    directory and IAT as (rva, size), and the first page after the sections."""
    by_name = {s.name: s for s in sections}
    for s in sections:
        if s.flags & SHF_ALLOC and not any(s.name in held for _, held, _ in layout):
            raise Refusal(f"the ELF section {s.name} has no place in the image")
        if (not s.flags & SHF_ALLOC and s.type not in (SHT_REL, SHT_RELA) and s.name not in UNLOADED | unloaded
                and not s.name.startswith(".debug_")):
            raise Refusal(f"the ELF section {s.name} is not known")
    placed, directories = [], {}
    free_rva = SECTION_ALIGNMENT  # the first page holds the headers
    for name, held, characteristics in layout:
        parts = [by_name[n] for n in held if n in by_name and by_name[n].size > 0]
        if not parts:
            continue
        rva = parts[0].address - IMAGE_BASE
        contents = b""
        for part in (p for p in parts if p.data):  # each at its offset; what has no data ends the section
            contents = contents.ljust(part.address - parts[0].address, b"\0") + part.data
        size = parts[-1].address + parts[-1].size - parts[0].address
        if parts[0].name == ".idata":
            tables, directories["import"], table_size = import_directory(imports, rva)
            if parts[0].data != bytes(table_size):
                raise Refusal(f".idata holds {parts[0].size} bytes, not the {table_size} of the import slots")
            if len(parts) > 1 and parts[1].address - parts[0].address < len(tables):
                raise Refusal(f"the import tables run into {parts[1].name}")
            directories["iat"] = (rva, table_size)
            contents = tables + contents[len(tables):]
            size = max(size, len(tables))
        if not contents:
            characteristics = characteristics & ~INITIALIZED | UNINITIALIZED
        if rva < free_rva or rva % SECTION_ALIGNMENT:
            raise Refusal(f"{name} at 0x{rva:X} does not start a free page")
        free_rva = align(rva + size, SECTION_ALIGNMENT)
        placed.append((name, rva, size, contents, characteristics))
    return placed, directories, free_rva


def write_image(processor, imports, elf_path, image_path, resources):
    entry, sections = read_elf(elf_path, processor)
    placed, directories, reloc_rva = place_sections(sections, imports, LAYOUT_WITH_RESOURCES if resources else LAYOUT,
                                                    family(processor).unloaded_sections)
    if resources:
        tree = resource_directory(resources, reloc_rva)
        placed.append((".rsrc", reloc_rva, len(tree), tree, INITIALIZED | READ))
        directories["resource"] = (reloc_rva, len(tree))
        reloc_rva = align(reloc_rva + len(tree), SECTION_ALIGNMENT)
    relocations = base_relocations([(address - IMAGE_BASE, kind, parameter)
                                    for address, kind, parameter in address_fields(sections, processor)])
    placed.append((".reloc", reloc_rva, len(relocations), relocations, INITIALIZED | DISCARDABLE | READ))
    directories["basereloc"] = (reloc_rva, len(relocations))

    headers = []
    body = b""
    for name, rva, size, contents, characteristics in placed:
        raw_size = align(len(contents), FILE_ALIGNMENT)
        raw_at = HEADERS_SIZE + len(body) if contents else 0
        headers.append(pack(SECTION_HEADER, Name=name.encode(), VirtualSize=size, VirtualAddress=rva,
                            SizeOfRawData=raw_size, PointerToRawData=raw_at, Characteristics=characteristics))
        body += contents.ljust(raw_size, b"\0")

    def total(kind):
        return sum(align(len(c), FILE_ALIGNMENT) for _, _, _, c, flags in placed if flags & kind)

    # Data directories: 1 imports, 2 resources, 5 base relocations, 12 the IAT.
    directory = [(0, 0)] * 16
    directory[1], directory[5], directory[12] = directories["import"], directories["basereloc"], directories["iat"]
    directory[2] = directories.get("resource", (0, 0))
    data_rva = next(rva for _, rva, _, _, flags in placed if not flags & CODE)
    optional = pack(
        OPTIONAL_HEADER, Magic=0x10B, SizeOfCode=total(CODE), SizeOfInitializedData=total(INITIALIZED),
        SizeOfUninitializedData=sum(size for _, _, size, _, flags in placed if flags & UNINITIALIZED),
        AddressOfEntryPoint=entry - IMAGE_BASE, BaseOfCode=placed[0][1], BaseOfData=data_rva, ImageBase=IMAGE_BASE,
        SectionAlignment=SECTION_ALIGNMENT, FileAlignment=FILE_ALIGNMENT,
        MajorOperatingSystemVersion=3, MajorSubsystemVersion=3,  # CE 3.0 and later
        SizeOfImage=align(reloc_rva + len(relocations), SECTION_ALIGNMENT), SizeOfHeaders=HEADERS_SIZE,
        Subsystem=9,  # IMAGE_SUBSYSTEM_WINDOWS_CE_GUI
        SizeOfStackReserve=0x10000, SizeOfStackCommit=0x1000, SizeOfHeapReserve=0x100000, SizeOfHeapCommit=0x1000,
        NumberOfRvaAndSizes=len(directory))
    optional += b"".join(struct.pack("<II", *d) for d in directory)
    coff = pack(FILE_HEADER, Machine=processor.machine, NumberOfSections=len(placed), SizeOfOptionalHeader=len(optional),
                # EXECUTABLE_IMAGE | LINE_NUMS_STRIPPED | LOCAL_SYMS_STRIPPED | 32BIT_MACHINE
                Characteristics=0x010E)
    dos = struct.pack("<2s58sI", b"MZ", b"", 0x40)  # e_lfanew: the PE headers follow at once
    header = dos + b"PE\0\0" + coff + optional + b"".join(headers)
    if len(header) > HEADERS_SIZE:
        raise Refusal(f"the headers take {len(header)} bytes")
    with open(image_path, "wb") as image:
        image.write(header.ljust(HEADERS_SIZE, b"\0") + body)


def main(args):
    if (len(args) < 4 or args[0] != "image" and len(args) != 4 or args[0] not in ("imports", "image")
            or args[0] == "image" and len(args) < 5 or args[1].upper() not in BY_NAME):
        sys.exit(__doc__)
    processor = BY_NAME[args[1].upper()]
    try:
        imports = read_imports(args[2])
        if args[0] == "imports":
            write_imports(processor, imports, args[3])
        else:
            resources = []
            for path in args[5:]:
                read_resources(path, resources)
            write_image(processor, imports, args[3], args[4], resources)
    except Refusal as refusal:
        sys.exit(f"image_writer: {refusal}")


if __name__ == "__main__":
    main(sys.argv[1:])
