#!/usr/bin/python3
"""What the device build must refuse, naming it, rather than drop or guess: the image writer, an
ELF section or relocation it does not know, or a resource it cannot write; the CAB writer, an image
or name it cannot describe; the installer, a CAB the device would refuse; the CE stand-in, an import
it does not export, a screen it does not model, or a resource directory outside the image.

Usage: refusals.py OBJCOPY READELF IMAGE_WRITER CAB_WRITER INSTALLER GX_DEF ELF IMAGE CAB STAND_IN_COMMAND...
                   -- MIPS_IMAGE MIPS_STAND_IN_COMMAND... -- SH3_IMAGE SH3_STAND_IN_COMMAND...
IMAGE and CAB are the ARMV4 ones.
"""
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # the checks' shared harness
from checks import failures, finish

objcopy, readelf, writer, cab_writer, installer, gx_def, elf, image, cab, *commands = sys.argv[1:]
groups = [[]]
for word in commands:
    groups.append([]) if word == "--" else groups[-1].append(word)
stand_in, (mips_image, *mips_stand_in), (sh3_image, *sh3_stand_in) = groups


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=False)


def with_section(name, flags):
    contents = work / "contents"
    contents.write_bytes(bytes(8))
    edited = work / f"{name}.elf"
    subprocess.run([objcopy, f"--add-section={name}={contents}", f"--set-section-flags={name}={flags}", elf, edited],
                   check=True, capture_output=True)
    return edited


def with_idata_word():
    """The ELF with an import slot not 0, as a variable placed in .idata would make it."""
    contents, edited = work / "idata", work / "idata.elf"
    subprocess.run([objcopy, "-O", "binary", "--only-section=.idata", elf, contents], check=True, capture_output=True)
    contents.write_bytes(b"\1" + contents.read_bytes()[1:])
    subprocess.run([objcopy, f"--update-section=.idata={contents}", elf, edited], check=True, capture_output=True)
    return edited


def with_thumb_call():
    """The first relocation of .text, a branch, retyped to R_ARM_THM_CALL (10)."""
    row = re.search(r"\] \.rel\.text +REL +\w+ (\w+)", run(readelf, "-SW", elf).stdout)
    data = bytearray(Path(elf).read_bytes())
    data[int(row.group(1), 16) + 4] = 10  # the entry's r_info: the type is its low byte
    edited = work / "thumb_call.elf"
    edited.write_bytes(data)
    return edited


def with_replaced(old, new):
    edited = work / "edited.exe"
    edited.write_bytes(Path(image).read_bytes().replace(old, new))
    return edited


def relocations_at(data):
    """Where the image's relocation blocks start in its file: its .reloc section's PointerToRawData."""
    return int.from_bytes(data[data.index(b".reloc\0\0") + 20:][:4], "little")


def with_relocations(edit, name, source=None):
    """The image with its relocation block's entries edited, and the page that block relocates."""
    data = bytearray(Path(source or image).read_bytes())
    block = relocations_at(data)
    end = block + int.from_bytes(data[block + 4:block + 8], "little")
    data[block + 8:end] = edit(data[block + 8:end])
    (work / name).write_bytes(data)
    return work / name, int.from_bytes(data[block:block + 4], "little")


def with_empty_block_after():
    """The image with an empty relocation block after its one block, as a linker may leave."""
    data = bytearray(Path(image).read_bytes())
    size_at = 0x40 + 24 + 96 + 8 * 5 + 4  # data directory 5's size
    raw = relocations_at(data)
    end = raw + int.from_bytes(data[size_at:size_at + 4], "little")
    data[end:end + 8] = (0x2000 | 8 << 32).to_bytes(8, "little")
    data[size_at:size_at + 4] = (end + 8 - raw).to_bytes(4, "little")
    return aware("empty_block_after.exe", data)


def with_resource_data_moved(by):
    """An aware image whose resource data entry points `by` bytes later; and where it then points."""
    data = bytearray(with_resources("HI_RES_AWARE CEUX {1}\n").read_bytes())
    rsrc = int.from_bytes(data[data.index(b".rsrc\0\0\0") + 20:][:4], "little")  # its PointerToRawData
    at = data.index((2).to_bytes(4, "little") + bytes(8), rsrc) - 4  # the data entry: size 2, code page 0
    rva = int.from_bytes(data[at:at + 4], "little") + by
    data[at:at + 4] = rva.to_bytes(4, "little")
    return aware("data_moved.exe", data), rva


def with_names_counted(count):
    """An aware image whose CEUX table counts `count` names: it holds one, HI_RES_AWARE, after it."""
    data = bytearray(with_resources("HI_RES_AWARE CEUX {1}\n", "names_counted.exe").read_bytes())
    rsrc = int.from_bytes(data[data.index(b".rsrc\0\0\0") + 20:][:4], "little")  # its PointerToRawData
    data[rsrc + 0x18 + 12] = count  # the root's one entry, then the CEUX table's count of named entries
    return aware("names_counted.exe", data)


def with_resources(text, name="resources.exe"):
    (work / "resources.rc").write_text(text)
    made = run("/usr/bin/python3", writer, "image", "armv4", gx_def, elf, work / name, work / "resources.rc")
    if made.returncode != 0:
        sys.exit(f"FAIL: the writer refused {text!r}: {made.stderr.strip()}")
    return work / name


def with_characteristics(section, flags):
    data = bytearray(Path(image).read_bytes())
    at = data.index(section.ljust(8, b"\0")) + 36  # the section header's Characteristics
    data[at:at + 4] = flags.to_bytes(4, "little")
    edited = work / "protected.exe"
    edited.write_bytes(data)
    return edited


def cab_with(at, value, size=4, within=b"MSCE", length=None):
    """The CAB with a field changed, at an offset from the first `within` (by default in the setup
    file: it is stored uncompressed), and cut to length."""
    data = bytearray(Path(cab).read_bytes())
    at += data.index(within)
    data[at:at + size] = value.to_bytes(size, "little")
    edited = work / f"setup_field_{at}_{value}_{length}.cab"
    edited.write_bytes(data[:length])
    return edited


def setup_word(at, within=b"MSCE"):
    data = Path(cab).read_bytes()
    return int.from_bytes(data[data.index(within) + at:][:4], "little")


def aware(name, data):
    """An image the system takes as high-resolution aware."""
    (work / name).write_bytes(data)
    return work / name


def with_name(name):
    """The image under another name, which a CAB installs it under."""
    (work / name).write_bytes(Path(image).read_bytes())
    return work / name


def ordinal(number):
    return (0x80000000 | number).to_bytes(4, "little")  # an import lookup entry by ordinal


def image_with(at, value, size=4, length=None):
    """The image with a field changed, at an offset from the PE headers at 0x40, and cut to length."""
    edited = work / f"image_field_{at}_{value}.exe"
    data = bytearray(Path(image).read_bytes())
    data[0x40 + at:0x40 + at + size] = value.to_bytes(size, "little")
    edited.write_bytes(data[:length])
    return edited


with tempfile.TemporaryDirectory() as folder:
    work = Path(folder)
    # A section or relocation the linker might add, and what the writer must say of it.
    for edited, said in [
        (with_section(".ARM.exidx", "alloc,load,readonly,data"), "the ELF section .ARM.exidx has no place in the image"),
        (with_section(".stab", "readonly"), "the ELF section .stab is not known"),
        (with_thumb_call(), "relocation type 10 at"),
        (with_idata_word(), ".idata holds"),
        (Path(image), "is not a 32-bit little-endian ELF file"),
    ]:
        result = run("/usr/bin/python3", writer, "image", "armv4", gx_def, edited, work / "refused.exe")
        if result.returncode == 0 or said not in result.stderr:
            failures.append(f"the writer took {edited.name}: status {result.returncode}, {result.stderr.strip()!r}")

    # A resource description the writer cannot write, and what it must say of it.
    for line, said in [("HI_RES_AWARE CEUX {65536}", ":1 is not NAME TYPE {WORD, ...} with 16-bit words"),
                       ("1 CEUX {1}", ":1 is not NAME TYPE"), ("HI_RES_AWARE CEUX {}", ":1 is not NAME TYPE"),
                       ('65536 ICON "a.ico"', ":1 names icon group 65536 again, or as no 16-bit id"),
                       ('1 ICON "no such file.ico"', "no such file.ico cannot be read")]:
        (work / "refused.rc").write_text(line + "\n")
        result = run("/usr/bin/python3", writer, "image", "armv4", gx_def, elf, work / "refused.exe", work / "refused.rc")
        if result.returncode == 0 or said not in result.stderr:
            failures.append(f"the writer took {line!r}: status {result.returncode}, {result.stderr.strip()!r}")

    # A screen the stand-in does not model, an image or resource directory it cannot read or load
    # there, and what it must say.
    retyped, page = with_relocations(lambda e: e[:-2] + (0x2000).to_bytes(2, "little"), "retyped.exe")
    misaligned, moved_to = with_resource_data_moved(2)
    reloc = relocations_at(Path(image).read_bytes())
    first_word = int.from_bytes(Path(image).read_bytes()[reloc + 8:][:2], "little") & 0xFFF  # in its page
    size = int.from_bytes(Path(image).read_bytes()[0x40 + 24 + 56:][:4], "little")
    for options, edited, said in [
        (["--base", "0x20000000"], retyped, f"relocation type 2 at 0x{page:X}"),
        (["--base", "0x20000000"], image_with(reloc - 0x40 + 4, 4), f"the relocation block for 0x{page:X} is 4 bytes long"),
        (["--base", "0x20000000"], image_with(reloc - 0x40 + 4, 4096), f"the relocation block for 0x{page:X} is 4096 bytes long"),
        (["--screen", "480x640"], misaligned, f"the resource data at 0x{moved_to:X} is not aligned to 4 bytes"),
        (["--base", "0x400000"], image, f"cannot map 0x{size:X} bytes at 0x400000"),  # the stand-in's own code
        (["--screen", "640x480"], image, "--screen 640x480: the stand-in models 240x320 and its whole multiples, such as 480x640"),
        # data directory 2, after the optional header's fields
        (["--screen", "480x640"], image_with(24 + 96 + 8 * 2, 0x7FFF0000 | 16 << 32, 8), "the resource directory points outside the image, at 0x7FFF0000"),
        (["--screen", "480x640"], image_with(24 + 96 + 8 * 2, size - 13 | 16 << 32, 8),  # its count's last byte past it
         f"the resource directory points outside the image, at 0x{size - 13:X}"),
        ([], image_with(24 + 96 + 8 * 1, 0x7FFF0000), "the import directory points outside the image, at 0x7FFF0000"),
        (["--base", "0x20000000"], image_with(reloc - 0x40, 0x7FFF0000),  # the block's page
         f"the relocation block for 0x7FFF0000 points outside the image, at 0x{0x7FFF0000 + first_word:X}"),
        ([], image_with(-0x40, 0x4D5A, 2), "not an MZ image"),
        ([], image_with(0, 0x4550 + 1), "no PE headers"),
        ([], image_with(4, 0x014C, 2), "machine 0x14C is not one this stand-in runs, 0x1C0 or 0x1C2"),
        ([], image_with(4, 0x01C4, 2), "machine 0x1C4 is not one this stand-in runs, 0x1C0 or 0x1C2"),  # ARMNT, Thumb-2 only
        ([], image_with(4, 0x0166, 2), "machine 0x166 is not one this stand-in runs, 0x1C0 or 0x1C2"),  # MIPS
        ([], image_with(24 + 68, 2, 2), "not a PE32 image for the Windows CE GUI subsystem"),
        ([], image_with(24, 0x20B, 2), "not a PE32 image for the Windows CE GUI subsystem"),  # PE32+
        ([], image_with(24 + 92, 15), "the optional header holds 15 data directories, not the 16 a CE loader reads"),
        (["--base", "0x20000000"], image_with(24 + 96 + 8 * 5 + 4, 0), "the image has no base relocations, so it cannot be placed at 0x20000000"),
        ([], image_with(24 + 60, 0x2000), "the headers lie outside the file or the image"),
        ([], image_with(0, 0x4550, 4, 0x400), "a section lies outside the file or the image"),
        ([], image_with(24 + 224 + 12, size - 4), "a section lies outside the file or the image"),  # its address
        (["--screen", "480x320"], image, "--screen 480x320: the stand-in models 240x320 and its whole multiples, such as 480x640"),
        (["--screen", "300x320"], image, "--screen 300x320: the stand-in models 240x320 and its whole multiples, such as 480x640"),
        (["--screen", "0x0"], image, "--screen 0x0: the stand-in models 240x320 and its whole multiples, such as 480x640"),
        (["--screen", "480x640x16"], image, "--screen 480x640x16: the stand-in models 240x320 and its whole multiples, such as 480x640"),
        (["--base", "0x20000800"], image, "--base 0x20000800: an image's base is a multiple of a page, 4 KiB"),
    ]:
        result = run(*stand_in, *options, edited)
        if result.returncode == 0 or result.stderr.strip() != f"error: {said}" or result.stdout:
            failures.append(f"the stand-in ran {edited} with {options}: status {result.returncode}, "
                            f"{result.stderr.strip()!r}, {result.stdout!r}")

    # Two images are a mistyped command: the stand-in says how it is called, rather than pick one.
    result = run(*stand_in, image, image)
    if result.returncode != 2 or not result.stderr.startswith("usage: wince_stand_in"):
        failures.append(f"the stand-in ran two images: status {result.returncode}, {result.stderr.strip()!r}")

    # A GX_SIMULATED_DISPLAY set but empty is malformed, as GX.dll says; a long one's reason is cut to
    # its 1,023 characters.
    for value in ["", "9" * 3000]:
        said = f'GX.dll: GX_SIMULATED_DISPLAY="{value}' + ("" if value else '" is malformed at its end: a digit was expected')
        result = subprocess.run([*stand_in, image], capture_output=True, text=True, check=False,
                                env=os.environ | {"GX_SIMULATED_DISPLAY": value})
        if (result.returncode != 0 or 'text: "GXOpenDisplay failed"' not in result.stdout
                or not result.stdout.endswith(f"debug: {said[:1023]}\n")):
            failures.append(f"the stand-in, given GX_SIMULATED_DISPLAY of {len(value)} characters: status "
                            f"{result.returncode}, {result.stdout[-80:]!r}")

    # Images the stand-in must run as the released one: a relocation block that ends in a HIGHLOW, and
    # one followed by an empty block, at another base; a HI_RES_AWARE of 4 bytes or holding 2, a
    # subsystem version of 4.20, a HI_RES_AWARE just past the names its table counts, or a name or
    # type that only starts as the aware one's, which are not aware, the first after names of an odd
    # length in all.
    shown = run(*stand_in, image).stdout
    for options, edited in [(["--base", "0x20000000"], with_relocations(lambda e: bytes(2) + e[:-2], "padding_first.exe")[0]),
                            (["--base", "0x20000000"], with_empty_block_after()),
                            (["--screen", "480x640"], with_resources("HI_RES_AWARE CEUX {1, 0}\nAB X {0xFFFF}\n")),
                            (["--screen", "480x640"], with_resources("HI_RES_AWARE CEUX {2}\n", "holding_2.exe")),
                            (["--screen", "480x640"], image_with(24 + 48, 4 | 20 << 16)),  # subsystem 4.20
                            (["--screen", "480x640"], with_names_counted(0)),
                            (["--screen", "480x640"], with_resources("HI_RES_AWARE_X CEUX {1}\n", "longer_name.exe")),
                            (["--screen", "480x640"], with_resources("HI_RES_AWARE CEUXX {1}\n", "longer_type.exe"))]:
        result = run(*stand_in, *options, edited)
        if result.returncode != 0 or result.stdout != shown:
            failures.append(f"the stand-in ran {edited} with {options}: status {result.returncode}, "
                            f"{result.stderr.strip()!r}, {result.stdout!r}")

    # Images the system takes as aware, and so gives a VGA screen whole: a subsystem version of 4.21 or
    # 5.0, a resource name in any case of its letters, and the aware resource the last of three, after a
    # type and a name that sort before its own.
    subsystem = bytearray(Path(image).read_bytes())
    subsystem[0x40 + 24 + 48:0x40 + 24 + 52] = bytes([4, 0, 21, 0])  # after the PE headers at 0x40
    named = with_resources("HI_RES_AWARE CEUX {0X1}\n").read_bytes()
    for edited in [aware("subsystem_4_21.exe", subsystem), image_with(24 + 48, 5),
                   with_resources("ZZ A {5}\nAA CEUX {7, 7}\nHI_RES_AWARE CEUX {1}\n", "aware_last.exe"),
                   aware("lower_case.exe", named.replace("HI_RES_AWARE".encode("utf-16-le"),
                                                         "Hi_Res_Aware".encode("utf-16-le")))]:
        result = run(*stand_in, "--screen", "480x640", edited)
        if result.returncode != 0 or r"Width:\t\t480 pixel" not in result.stdout:
            failures.append(f"the stand-in did not take {edited.name} as aware: status {result.returncode}, "
                            f"{result.stderr.strip()!r}, {result.stdout!r}")

    # An image or a name a CAB cannot hold truthfully, and what the CAB writer must say of it.
    for target, programs, said in [
        ("armv4i", [("A.exe", "Display Diagnostics")], "is for machine 0x01C0, not ARMV4I's 0x01C2"),
        *[("armv4", [("A.exe", f"Display{c}Diagnostics")], "is not a Windows CE file name") for c in '\\/:*?"<>|'],
        ("armv4", [("A.", "Display Diagnostics")], "the image's name 'A.' is not a Windows CE file name"),
        ("armv4", [("A.exe", "Display Diagnostics"), ("B.exe", "display diagnostics")], "two shortcuts share a name"),
        ("armv4", [("A.exe", "Display Diagnostics"), ("a.EXE", "Other")], "two images share a name"),
        ("armv4", [(f"{n}.exe", f"{n}") for n in range(999)], "999 images: a file's number must stay below 999"),
        # 260 characters with \Windows\Start Menu\Programs\ (29) and .lnk (4): one past MAX_PATH's 259.
        ("armv4", [("A.exe", "x" * 227)], "makes a path longer than Windows CE's 259 characters"),
        # 260 with \Program Files\Display Diagnostics\ (35)
        ("armv4", [("x" * 221 + ".exe", "A")], "makes a path longer than Windows CE's 259 characters"),
    ]:
        pairs = [part for name, shortcut in programs for part in (with_name(name), shortcut)]
        result = run("/usr/bin/python3", cab_writer, target, "gcab", work / "refused.cab", *pairs)
        if result.returncode == 0 or said not in result.stderr:
            failures.append(f"the CAB writer took {target} {programs!r}: status {result.returncode}, "
                            f"{result.stderr.strip()!r}")

    # A program larger than a cabinet's 32 KiB data block installs whole.
    big = with_name("Big.exe")
    big.write_bytes(big.read_bytes().ljust(40000, b"\0"))
    run("/usr/bin/python3", cab_writer, "armv4", "gcab", work / "big.cab", big, "Big")
    result = run("/usr/bin/python3", installer, work / "big.cab", work / "big")
    installed = work / "big" / "Program Files" / "Display Diagnostics" / "Big.exe"
    if result.returncode != 0 or not installed.is_file() or installed.read_bytes() != big.read_bytes():
        failures.append(f"the installer installed a 40,000-byte program as {installed.stat().st_size if installed.is_file() else 0} "
                        f"bytes: status {result.returncode}, {result.stderr.strip()!r}")

    # What a device's installer refuses, and what the installer must say of it; "" where it installs.
    for edited, device, said in [
        (cab_with(20, 2336), [], "the CAB is for processor 2336, not this device's 2577"),
        (cab_with(20, 4000), [], "the CAB is for processor 4000, not this device's 2577"),  # MIPS
        (cab, ["--processor", "4000"], "the CAB is for processor 2577, not this device's 4000"),
        (cab, ["--ce-version", "4.20"], "the CAB is for Windows CE 3.0 to 4.19, not this device's 4.20"),
        (cab_with(8, 261), [], "the setup file says it is 261 bytes long, but is 260"),
        (cab_with(8, 259), [], "the setup file says it is 259 bytes long, but is 260"),
        (cab_with(56, 1), [], "registry entries, which this installer does not make"),  # a registry value
        (cab_with(setup_word(64) + 8, 3, 2), [], "the directory list (1, 2, 3) does not end in 0"),
        (cab_with(0, 0, 1, b"MSCF"), [], "not a cabinet (no MSCF header)"),
        (cab_with(30, 4, 2, b"MSCF"), [], "cabinet flags 0x4 (a cabinet set or reserved fields)"),
        (cab_with(42, 1, 2, b"MSCF"), [], "folder 0 is compressed (type 1)"),  # MSZIP
        (cab_with(11, ord("x"), 1, b"DisplayD.000"), [], "the first member is DisplayD.00x, not the setup file (.000)"),
        (cab_with(3, ord("X"), 1), [], "the setup file has no MSCE header"),
        (cab_with(175, 200, 2), [], "string 3 runs past the end of the setup file (177 + 200 > 260)"),
        (cab_with(148, ord("x"), 1), [], "string 1 is not one string ending in its length"),
        (cab_with(160, 0, 1), [], "string 2 is not one string ending in its length"),
        (cab_with(160, ord(":"), 1), [], "is not a path of the device"),
        (cab_with(203, 5, 2), [], "a list of string ids at 205 is 5 bytes long, not a whole number of ids"),
        (cab_with(211, 2, 2), [], "the setup file installs file 002 (DisplayDiagnostics.exe), which the cabinet does not hold"),
        (cab_with(213, 9, 2), [], "file 001 (DisplayDiagnostics.exe) goes to directory 9, which the setup file lacks"),
        (cab_with(250, 99, 2), [], "%CE99% is not a folder of this device"),
        (cab_with(250, 3, 2), [], "%CE3% is not a folder of this device"),  # Windows CE's desktop folder, not a Pocket PC's
        (cab_with(252, 2, 2), [], "points to file 2 (type 1), which is not installed"),
        (cab_with(254, 0, 2), [], "points to file 1 (type 0), which is not installed"),  # not a link to a file
        (cab_with(258, 9, 2), [], "names no string or strings that are not there: [9]"),
        (cab_with(256, 0, 2), [], "names no string or strings that are not there: []"),
        (cab_with(256, 3, 2), [], "a list of string ids at 258 is 3 bytes long, not a whole number of ids"),
        (cab_with(0, ord("M"), 1, b"MSCF", 40), [], "folder 0's entry runs past the end of the cabinet (36 + 8 > 40)"),
        (cab_with(147, 0xE9, 1), [], "string 1 is not plain ASCII"),
        (cab_with(setup_word(16, b"MSCF") + 8, 1, 2, b"MSCF"), [], "member 0 (DisplayD.000) is in folder 1, which the cabinet does not have"),
        (cab_with(setup_word(16, b"MSCF"), 1 << 16, 4, b"MSCF"), [], "member 0 (DisplayD.000) runs past the end of folder 0"),
        (cab_with(54, 1, 2), [], "registry entries, which this installer does not make"),  # a registry hive
        # a link in \\Program Files named as the install folder: base 1, file 1, a file link, 2 bytes, string 2
        (cab_with(250, 1 | 1 << 16 | 1 << 32 | 2 << 48 | 2 << 64, 10), [], "Diagnostics cannot be written: Is a directory"),
        (cab, ["--ce-version", "2.11"], "the CAB is for Windows CE 3.0 to 4.19, not this device's 2.11"),
        (cab_with(20, 0), [], ""),  # for any processor
        (cab_with(32, 0, 8), ["--ce-version", "6.0"], ""),  # no upper version
        (cab, ["--ce-version", "4.19.14847"], ""),
    ]:
        result = run("/usr/bin/python3", installer, *device, edited, work / "device")
        named = result.stderr.startswith(f"cab_installer: {edited}: " if said else "")  # not a traceback
        if (result.returncode == 0) != (not said) or not named or said not in result.stderr:
            failures.append(f"the installer answered {Path(edited).name} {device}: status {result.returncode}, "
                            f"{result.stderr.strip()!r}")

    # Path parts that would leave the device's folder, or name nothing, whichever CAB holds them.
    sys.path.insert(0, str(Path(installer).parent))
    from cab_installer import Refusal, device_path
    for parts in (["%CE1%", ".."], ["..", "Windows"], ["%CE1%", "."], ["%CE1%", ""], ["%CE1%", "../x"]):
        try:
            failures.append(f"the installer took the path {parts} as {device_path(work / 'device', parts)}")
        except Refusal:
            pass

    # An import the stand-in lacks, and what the stand-in must say of it.
    for old, new, said in [
        (ordinal(1097), ordinal(1098), "the image imports COREDLL.dll ordinal 1098, which the stand-in does not export"),
        (ordinal(1097), ordinal(0), "the image imports COREDLL.dll ordinal 0, which the stand-in does not export"),
        (b"GX.dll\0", b"GY.dll\0", "the image imports GY.dll ?GXOpenDisplay@@YAHPAUHWND__@@K@Z, which the stand-in does not export"),
    ]:
        result = run(*stand_in, with_replaced(old, new))
        if result.returncode == 0 or result.stderr.strip() != f"error: {said}" or result.stdout:
            failures.append(f"the stand-in ran an image with {new!r}: status {result.returncode}, "
                            f"{result.stderr.strip()!r}, {result.stdout!r}")

    # A section without execute or write rights must be mapped without them: the run then faults.
    for section, flags in [(b".text", 0x60000020 & ~0x20000000), (b".data", 0xC0000080 & ~0x80000000)]:
        result = run(*stand_in, with_characteristics(section, flags))
        if result.returncode == 0 or "exit status" in result.stdout:
            failures.append(f"the stand-in ran {section!r} with characteristics 0x{flags:08X}: status "
                            f"{result.returncode}, {result.stdout!r}")

    # MIPS: a high half without its low half, or placed where its jumps would leave their 256 MiB region;
    # an image keeping its return address in the home area it owes its callees, which the stand-in's
    # callees overwrite as CE's may (its own, built by GCC, keep out of that area); and one returning
    # with its caller's stack pointer not restored.
    last_high, _ = with_relocations(lambda e: e[:-2] + (0x4000 | e[-2] | (e[-1] & 0xF) << 8).to_bytes(2, "little"),
                                    "last_high.exe", mips_image)
    home = bytearray(Path(mips_image).read_bytes())
    text = home.index(b".text\0\0\0")
    at = int.from_bytes(home[0x40 + 24 + 16:][:4], "little") - int.from_bytes(home[text + 12:][:4], "little") + \
        int.from_bytes(home[text + 20:][:4], "little")  # the entry in the file
    while int.from_bytes(home[at:at + 4], "little") != 0x03E00008:  # to the entry's jr ra
        word = int.from_bytes(home[at:at + 4], "little")
        if word >> 16 in (0xAFBF, 0x8FBF):  # sw or lw ra, N(sp)
            home[at:at + 4] = (word & 0xFFFF0000 | 12).to_bytes(4, "little")
        at += 4
    (work / "home_area.exe").write_bytes(home)
    # The entry's delay slot after its jr ra, addiu sp, sp, N, made to free 8 bytes too few.
    epilogue = int.from_bytes(home[at + 4:at + 8], "little") - 8
    (work / "stack_kept.exe").write_bytes(Path(mips_image).read_bytes()[:at + 4] + epilogue.to_bytes(4, "little")
                                          + Path(mips_image).read_bytes()[at + 8:])
    for options, edited, said in [
        (["--base", "0x20000000"], last_high, "has no low half after it"),
        (["--base", "0x0FFFC000"], Path(mips_image), "the image at 0xFFFC000 would straddle a 256 MiB region"),
        ([], work / "home_area.exe", ""),
        ([], work / "stack_kept.exe", "the entry returned with another stack pointer"),
    ]:
        result = run(*mips_stand_in, *options, edited)
        if result.returncode == 0 or said not in result.stderr or "exit status" in result.stdout:
            failures.append(f"the MIPS stand-in ran {edited.name} with {options}: status {result.returncode}, "
                            f"{result.stderr.strip()!r}, {result.stdout!r}")

    # SH3: import thunks that reserve no home area for their callees (the add #-16 after sts.l pr, and
    # the add #16 after mov.l @r0, r0; jsr @r0; nop, made nop), whose return addresses the stand-in's
    # callees then overwrite.
    home = Path(sh3_image).read_bytes().replace(b"\x22\x4f\xf0\x7f", b"\x22\x4f\x09\x00")
    (work / "sh3_home_area.exe").write_bytes(home.replace(b"\x02\x60\x0b\x40\x09\x00\x10\x7f",
                                                          b"\x02\x60\x0b\x40\x09\x00\x09\x00"))
    result = run(*sh3_stand_in, work / "sh3_home_area.exe")
    if result.returncode == 0 or "exit status" in result.stdout or home == Path(sh3_image).read_bytes():
        failures.append(f"the SH3 stand-in ran thunks without a home area: status {result.returncode}, {result.stdout!r}")

finish()
