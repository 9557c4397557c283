#!/usr/bin/python3
"""What the device build must refuse, naming it, rather than drop or guess: the image writer, an
ELF section or relocation it does not know; the CE stand-in, an import it does not export.

Usage: refusals.py OBJCOPY READELF IMAGE_WRITER GX_DEF ELF IMAGE STAND_IN_COMMAND...
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path

objcopy, readelf, writer, gx_def, elf, image, *stand_in = sys.argv[1:]
failures = []


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=False)


def with_section(name, flags):
    contents = work / "contents"
    contents.write_bytes(bytes(8))
    edited = work / f"{name}.elf"
    subprocess.run([objcopy, f"--add-section={name}={contents}", f"--set-section-flags={name}={flags}", elf, edited],
                   check=True, capture_output=True)
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


def with_characteristics(section, flags):
    data = bytearray(Path(image).read_bytes())
    at = data.index(section.ljust(8, b"\0")) + 36  # the section header's Characteristics
    data[at:at + 4] = flags.to_bytes(4, "little")
    edited = work / "protected.exe"
    edited.write_bytes(data)
    return edited


def ordinal(number):
    return (0x80000000 | number).to_bytes(4, "little")  # an import lookup entry by ordinal


with tempfile.TemporaryDirectory() as folder:
    work = Path(folder)
    # A section or relocation the linker might add, and what the writer must say of it.
    for edited, said in [
        (with_section(".ARM.exidx", "alloc,load,readonly,data"), "the ELF section .ARM.exidx has no place in the image"),
        (with_section(".stab", "readonly"), "the ELF section .stab is not known"),
        (with_thumb_call(), "relocation type 10 at"),
    ]:
        result = run("/usr/bin/python3", writer, "image", "armv4", gx_def, edited, work / "refused.exe")
        if result.returncode == 0 or said not in result.stderr:
            failures.append(f"the writer took {edited.name}: status {result.returncode}, {result.stderr.strip()!r}")

    # An import the stand-in lacks, and what the stand-in must say of it.
    for old, new, said in [
        (ordinal(1097), ordinal(1098), "the image imports COREDLL.dll ordinal 1098, which the stand-in does not export"),
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

for failure in failures:
    print(f"FAIL: {failure}")
sys.exit(1 if failures else 0)
