#!/usr/bin/python3
"""Checks a device image as a Windows CE loader and a processor of its target would take it: its
headers, sections, imports and base relocations, and that its code is the linked code, with nothing
newer than the target's architecture (on ARM, no Thumb code; on MIPS and SH-3, no FPU).

Usage: check_image.py TARGET OBJDUMP OBJCOPY READELF GX_DEF IMAGE ELF VIEW
TARGET is ARMV4, ARMV4I, MIPS or SH3; ELF is the executable the image was written from. VIEW is legacy,
or hi-res-aware for an image that declares itself high-resolution aware.
"""
import re
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # the checks' shared harness
from checks import check, finish, icon_group

# The machine type, and the architecture as objdump names it (MIPS II as its first processor's).
TARGETS = {"ARMV4": (0x01C0, "armv4"), "ARMV4I": (0x01C2, "armv4t"), "MIPS": (0x0166, "mips:6000"), "SH3": (0x01A2, "sh3")}
EXECUTE, WRITE = 0x20000000, 0x80000000
CODE, INITIALIZED, UNINITIALIZED = 0x20, 0x40, 0x80
# Each section's characteristics: code; read-only data; the data, starting with the imports, which
# the loader writes; the resources, read-only; the relocations, which the loader may discard.
SECTIONS = {".text": 0x60000020, ".rdata": 0x40000040, ".data": 0xC0000040, ".rsrc": 0x40000040, ".reloc": 0x42000040}
# The program's icon as the Pocket PC shell shows it: 16 and 32 pixels, 16 colours.
ICONS = [(16, 16, 16, 4), (32, 32, 16, 4)]
PADDING, LOW, HIGHLOW, HIGHADJ, JMPADDR = 0, 2, 3, 4, 5
# Which base relocation moves the field each kind of the link's relocations fills with an address:
# a MIPS lui takes the high half, adjusted for the signed low half its pair adds.
RELOCATED = {"R_ARM_ABS32": HIGHLOW, "R_SH_DIR32": HIGHLOW, "R_MIPS_32": HIGHLOW, "R_MIPS_26": JMPADDR, "R_MIPS_HI16": HIGHADJ,
             "R_MIPS_LO16": LOW}

target, objdump, objcopy, readelf, gx_def, image, elf, view = sys.argv[1:]
machine, architecture = TARGETS[target]
arm = machine in (0x01C0, 0x01C2)
def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


pe = pefile.PE(image)
header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
check(header.Machine == machine, f"machine 0x{header.Machine:04X}")
check(optional.Subsystem == 9, f"subsystem {optional.Subsystem}")
for kind in ("OperatingSystem", "Subsystem"):
    version = (getattr(optional, f"Major{kind}Version"), getattr(optional, f"Minor{kind}Version"))
    check(version == (3, 0), f"{kind} version {version}")
# A loader refuses a subsystem version higher than its system's; from 4.21 on, it also means aware.
subsystem = (optional.MajorSubsystemVersion, optional.MinorSubsystemVersion)
check(subsystem <= (4, 20), f"subsystem version {subsystem}, above 4.20")
# The resource that makes Windows Mobile 2003 Second Edition and later give a program the display as it is.
tree = pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []
resources = [(str(kind.name or kind.id), name.name and str(name.name) or name.id, language.id,
              pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
              if hasattr(language, "data") else "a subdirectory")
             for kind in tree for name in kind.directory.entries for language in name.directory.entries]
named = [r for r in resources if not r[0].isdigit()]
check(named == ([("CEUX", "HI_RES_AWARE", 0x0409, b"\x01\x00")] if view == "hi-res-aware" else []), f"resources {named}")
numbered = {int(kind): {} for kind, _, _, _ in resources if kind.isdigit()}
for kind, name, _, data in (r for r in resources if r[0].isdigit()):
    numbered[int(kind)][name] = data
check(icon_group(numbered) == ICONS and list(numbered.get(3, {})) == [1, 2], "icons", icon_group(numbered))
# Each table counts its named entries apart from its numbered ones, languages by id: the root's named
# type first, the aware image's; then the icons, their group, and each entry's language.
tables = [pe.DIRECTORY_ENTRY_RESOURCE.struct] if tree else []
tables += [kind.directory.struct for kind in tree] + [name.directory.struct for kind in tree for name in kind.directory.entries]
counts = [(table.NumberOfNamedEntries, table.NumberOfIdEntries) for table in tables]
aware = view == "hi-res-aware"
check(counts == [(int(aware), 2)] + [(1, 0)] * aware + [(0, 2), (0, 1)] + [(0, 1)] * (3 + aware),
      f"resource tables' named and numbered entries {counts}")
check(optional.ImageBase == 0x10000, f"image base 0x{optional.ImageBase:X}")
# EXECUTABLE_IMAGE | LINE_NUMS_STRIPPED | LOCAL_SYMS_STRIPPED | 32BIT_MACHINE
check(header.Characteristics == 0x010E, f"COFF characteristics 0x{header.Characteristics:04X}")
sections = {s.Name.rstrip(b"\0").decode(): s for s in pe.sections}
check({name: s.Characteristics for name, s in sections.items()} == SECTIONS,
      f"sections {[(name, hex(s.Characteristics)) for name, s in sections.items()]}")


def total(kind, size):
    return sum(getattr(s, size) for s in pe.sections if s.Characteristics & kind)


last = pe.sections[-1]
fields = {"SizeOfCode": total(CODE, "SizeOfRawData"), "SizeOfInitializedData": total(INITIALIZED, "SizeOfRawData"),
          "SizeOfUninitializedData": total(UNINITIALIZED, "Misc_VirtualSize"), "SizeOfHeaders": 0x200,
          "SizeOfImage": (last.VirtualAddress + last.Misc_VirtualSize + 0xFFF) & ~0xFFF,
          "BaseOfCode": pe.sections[0].VirtualAddress, "BaseOfData": pe.sections[1].VirtualAddress,
          "SizeOfStackReserve": 0x10000, "SizeOfStackCommit": 0x1000, "SizeOfHeapReserve": 0x100000,
          "SizeOfHeapCommit": 0x1000, "DllCharacteristics": 0, "NumberOfRvaAndSizes": 16}
got = {field: getattr(optional, field) for field in fields}
check(got == fields, f"header fields {got}, not {fields}")
# The sections follow the headers' page and each other, with no page between them.
ends = [0x1000] + [(s.VirtualAddress + s.Misc_VirtualSize + 0xFFF) & ~0xFFF for s in pe.sections[:-1]]
check([s.VirtualAddress for s in pe.sections] == ends, f"sections at {[hex(s.VirtualAddress) for s in pe.sections]}")
check((optional.SectionAlignment, optional.FileAlignment) == (0x1000, 0x200),
      f"section alignment 0x{optional.SectionAlignment:X}, file alignment 0x{optional.FileAlignment:X}")

code = [s for s in pe.sections if s.Characteristics & EXECUTE]
check(len(code) == 1 and code[0].contains_rva(optional.AddressOfEntryPoint),
      f"executable sections {[s.Name for s in code]}, entry at 0x{optional.AddressOfEntryPoint:X}")
for section in pe.sections:
    check(section.Characteristics & (EXECUTE | WRITE) != EXECUTE | WRITE, f"{section.Name} writable and executable")

with open(gx_def, encoding="ascii") as lines:
    gx_names = re.findall(r"^\s*\S+\s*==\s*(\S+)\s*$", lines.read(), re.MULTILINE)
imports = {dll.dll.decode(): [f.ordinal or f.name.decode() for f in dll.imports] for dll in pe.DIRECTORY_ENTRY_IMPORT}
check(imports == {"COREDLL.dll": [858, 1097], "GX.dll": gx_names}, f"imports {imports}")
hints = [f.hint_name_table_rva for dll in pe.DIRECTORY_ENTRY_IMPORT for f in dll.imports if f.name]
check(all(rva % 2 == 0 for rva in hints), f"hint/name entries at {list(map(hex, hints))}, not all at even addresses")
# The directories of the imports (descriptors, ended by an empty one), the IAT, the relocations and
# the resources, each of the last two its whole section: a loader may walk no further than the size.
directory = [(d.VirtualAddress, d.Size) for d in optional.DATA_DIRECTORY]
slots = [(dll.struct.FirstThunk, 4 * len(dll.imports) + 4) for dll in pe.DIRECTORY_ENTRY_IMPORT]
expected = [(directory[1][0], 20 * len(slots) + 20), (slots[0][0], sum(size for _, size in slots))]
expected += [(sections[name].VirtualAddress, sections[name].Misc_VirtualSize) if name in sections else (0, 0)
             for name in (".reloc", ".rsrc")]
check([directory[1], directory[12], directory[5], directory[2]] == expected, f"directories {directory}, not {expected}")
outside = [(hex(rva), size) for rva, size in directory if size and not any(
    s.VirtualAddress <= rva and rva + size <= s.VirtualAddress + s.Misc_VirtualSize for s in pe.sections)]
check(not outside, f"directories {outside} not within one section")



def signed16(value):
    return value - 0x10000 if value & 0x8000 else value


def low_half(rva):
    """What the first instruction after the lui at rva that takes the lui's register as its base
    adds to it, as the processor runs them."""
    register = pe.get_dword_at_rva(rva) >> 16 & 31
    for at in range(rva + 4, rva + 64, 4):
        instruction = pe.get_dword_at_rva(at)
        if 0x08 <= instruction >> 26 <= 0x2E and instruction >> 21 & 31 == register:  # addi(u)..., loads, stores
            return signed16(instruction & 0xFFFF)
    return None


# The relocation blocks as a CE loader walks them: a HIGHADJ's next slot is its low half.
relocated, table = set(), pe.get_data(*directory[5])
at = 0
while at + 8 <= len(table):
    page, size = struct.unpack_from("<II", table, at)
    check(size % 4 == 0 and size >= 8, f"relocation block of {size} bytes, not padded to 4")
    slots = list(struct.unpack_from(f"<{max(size - 8, 0) // 2}H", table, at + 8))
    while slots:
        kind, rva = slots[0] >> 12, page + (slots.pop(0) & 0xFFF)
        if kind == HIGHADJ:
            parameter = signed16(slots.pop(0)) if slots else None
            address = ((pe.get_dword_at_rva(rva) & 0xFFFF) << 16) + (parameter or 0)
            check(parameter is not None and parameter == low_half(rva),
                  f"high half at 0x{rva:X} with the low half {parameter}, not its pair's {low_half(rva)}")
        else:
            address = pe.get_dword_at_rva(rva)
        check(kind in {PADDING, *(RELOCATED[n] for n in RELOCATED if n.startswith("R_MIPS") == (machine == 0x0166))},
              f"relocation type {kind} at 0x{rva:X}")
        check(kind not in (HIGHLOW, HIGHADJ) or optional.ImageBase <= address < optional.ImageBase + optional.SizeOfImage,
              f"relocation at 0x{rva:X} on 0x{address:08X}, outside the image")
        if kind != PADDING:
            relocated.add((rva, kind))
    at += max(size, 8)
# Every field the linker wrote an address or part of one into, and nothing else, is relocated so.
linked, loaded = set(), True
for line in run(readelf, "-rW", elf).splitlines():
    if line.startswith("Relocation section"):
        loaded = not re.search(r"'\.rela?\.(debug|pdr)", line)  # neither is in the image
    elif loaded and len(line.split()) > 2 and line.split()[2] in RELOCATED:
        linked.add((int(line.split()[0], 16) - optional.ImageBase, RELOCATED[line.split()[2]]))
unrelocated, stray = sorted(linked - relocated), sorted(relocated - linked)
check(not unrelocated and not stray, f"fields not relocated {[(hex(r), k) for r, k in unrelocated]}, "
      f"relocations of no field {[(hex(r), k) for r, k in stray]}")

if len(code) == 1:
    with tempfile.NamedTemporaryFile() as linked:
        run(objcopy, "-O", "binary", "--only-section=.text", elf, linked.name)
        check(code[0].get_data()[:code[0].Misc_VirtualSize] == linked.read(), "code that is not the ELF's .text")


def instructions(arch):
    return [line for line in run(objdump, "-dz", "-m", arch, elf).splitlines() if re.match(r" +[0-9a-f]+:\t", line)]


disassembly = instructions(architecture)
# MIPS II only: objdump shows an instruction of a later MIPS as a bare .word. And no FPU: no
# coprocessor 1 instruction, no floating-point format.
for line in disassembly if machine == 0x0166 else []:
    mnemonic = (line.split("\t") + ["", ""])[2]
    check(mnemonic != ".word" and "c1" not in mnemonic and not re.search(r"\.(s|d|w|l|ps)$", mnemonic),
          f"not MIPS II without an FPU: {line.strip()}")
# SH-3 only: objdump shows an instruction SH-3 lacks (SH-4's, its FPU's) as a bare .word, but so
# too the literal pools among the code, which the pc-relative loads read.
loads = [re.search(r"\tmov\.([wl])\t([0-9a-f]+) <", line) for line in disassembly] if machine == 0x01A2 else []
pools = {half for load in loads if load for half in range(int(load[2], 16), int(load[2], 16) + (4 if load[1] == "l" else 2), 2)}
for line in disassembly if machine == 0x01A2 else []:
    check(int(line.split(":")[0], 16) in pools or "\t.word " not in line, f"not SH-3 without an FPU: {line.strip()}")
# An instruction of a later architecture decodes differently, or not at all, for the target's.
for mine, latest in zip(disassembly, instructions("arm_any")) if arm else []:
    check(mine == latest and "UNDEFINED" not in mine and "UNPREDICTABLE" not in mine,
          f"not {architecture}: {latest.strip()}")
# ARMV4I code enters and leaves code only with bx or blx, which interwork with Thumb on ARMv4T:
# nothing loads or moves pc. ARMV4 code has no bx at all: StrongARM lacks it.
for line in disassembly if arm else []:
    writes_pc = re.search(r"\t(pop|ldm\w*)\t.*\bpc\}|\t\w+\tpc, ", line)
    check(not (writes_pc if machine == 0x01C2 else re.search(r"\tbl?x\w*\t", line)), f"not {target}: {line.strip()}")
thumb = [line for line in run(readelf, "-sW", elf).splitlines() if re.search(r" \$t(\.\d+)?$", line)]
check(not thumb, f"Thumb code: {thumb}")

readme = (Path(image).parents[1] / "README.txt").read_bytes()
line_feeds, line_ends = readme.count(b"\n"), readme.count(b"\r\n")
check(0 < line_feeds == line_ends, f"README.txt: {line_ends} of {line_feeds} line feeds are CRLF")
ordinals = "ordinals " + " and ".join(map(str, imports.get("COREDLL.dll", [])))
check(ordinals in " ".join(readme.decode("ascii").split()), f"README.txt does not name the {ordinals} imported")

finish(f"{image}: a Windows CE {target.upper()} image as intended", f"{image}: ")
