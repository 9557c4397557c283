#!/usr/bin/python3
"""The device CAB writer: the installer cabinet a Pocket PC installs from, one per device image.

  cab_writer.py TARGET GCAB CAB.cab IMAGE.exe SHORTCUT [IMAGE.exe SHORTCUT]...

TARGET is a processor of processors.py, such as ARMV4 (in any case). Each image is installed under its own name in
\\Program Files\\Display Diagnostics, with a Start-menu shortcut SHORTCUT to it. The cabinet holds
the setup file (.000: what to install where, read by the device's installer), then the images as
.001, .002, ... and, for the devices whose installer reads it, _setup.xml, the same installation in
XML. Debian's gcab packs it uncompressed, with fixed member dates, so the same inputs give the same
bytes. Anything this writer cannot describe truthfully is refused, naming it.
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path, PureWindowsPath

from processors import BY_NAME

APPLICATION = "Display Diagnostics"
PROVIDER = "DisplayDiagnostics"
INSTALL_DIR = ("%CE1%", APPLICATION)  # \Program Files\Display Diagnostics
SHORTCUT_DIR = 11  # %CE11%, the Start menu's Programs folder on a Pocket PC

# The processor a CAB names and the versions it admits come from the processor's row: StrongARM
# (2577) stands for every ARM Pocket PC and Windows Mobile device, so the ARM instruction sets are
# told apart by their versions. Builds are not restricted: 0xE0000000 is CAB Wizard's "any build".
ANY_BUILD = (0, 0xE0000000)
SUBSYSTEM_WINDOWS_CE_GUI = 9
LINK_TO_FILE = 1
SETUP_DLL_NUMBER = 999  # the number a setup DLL takes; a file may not
# 1980-01-01, the first date a cabinet member can carry.
MEMBER_TIME = 315532800
NAME_CHARACTERS = re.compile(r"[ -~]+")  # printable ASCII
NOT_IN_A_NAME = set('\\/:*?"<>|')
MAX_PATH = 260


class Refusal(Exception):
    pass


def check_image(processor, path):
    """An image the processor's devices run: PE32, for its machine, a CE GUI program."""
    data = Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0] if data[:2] == b"MZ" and len(data) >= 0x40 else None
    if pe is None or data[pe:pe + 4] != b"PE\0\0" or len(data) < pe + 24 + 70:
        raise Refusal(f"{path} is not a PE image")
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    subsystem = struct.unpack_from("<H", data, pe + 24 + 68)[0]
    if machine != processor.machine:
        raise Refusal(f"{path} is for machine 0x{machine:04X}, not {processor.name}'s 0x{processor.machine:04X}")
    if subsystem != SUBSYSTEM_WINDOWS_CE_GUI:
        raise Refusal(f"{path} is for subsystem {subsystem}, not a Windows CE GUI program (9)")
    return data


def check_name(name, what, folder):
    if not NAME_CHARACTERS.fullmatch(name) or NOT_IN_A_NAME & set(name) or name != name.strip(" ."):
        raise Refusal(f"{what} {name!r} is not a Windows CE file name in plain ASCII")
    if len(folder + name) >= MAX_PATH:
        raise Refusal(f"{what} {name!r} makes a path longer than Windows CE's {MAX_PATH - 1} characters")
    return name


def member_name(name, number):
    """An 8.3 member name: up to eight letters or digits of the name, the file's number as extension."""
    stem = re.sub(r"[^A-Za-z0-9]", "", PureWindowsPath(name).stem)[:8]
    return f"{stem:0>8}.{number:03d}"


def table(entries):
    return b"".join(entries)


def string_ids(strings, *names):
    return [strings.setdefault(name, len(strings) + 1) for name in names]


def id_list(ids, terminated):
    """A list of string ids. A directory's ends in 0, counted in its length; a link's has no end
    mark, as the CAB Wizard writes it (docs/device-install.md)."""
    ids = list(ids) + [0] * terminated
    return struct.pack(f"<H{len(ids)}H", 2 * len(ids), *ids)


def setup_file(processor, programs):
    """The .000: a 100-byte header, the application and provider names, then the tables of
    strings, directories, files, registry hives and keys (none) and links."""
    strings = {}
    directory = string_ids(strings, *INSTALL_DIR)
    files, links = [], []
    for number, (name, shortcut) in enumerate(programs, 1):
        files.append(struct.pack("<HHHIH", number, 1, number, 0, len(name) + 1) + name.encode() + b"\0")
        link = string_ids(strings, f"{shortcut}.lnk")
        links.append(struct.pack("<HHHHH", number, 0, SHORTCUT_DIR, number, LINK_TO_FILE) + id_list(link, False))
    dirs = [struct.pack("<H", 1) + id_list(directory, True)]
    text = [struct.pack("<HH", i, len(s) + 1) + s.encode() + b"\0" for s, i in strings.items()]
    names = (APPLICATION.encode() + b"\0", PROVIDER.encode() + b"\0", b"")
    tables = [table(text), table(dirs), table(files), b"", b"", table(links)]

    offset = 100
    name_fields = []
    for name in names:
        name_fields += [offset, len(name)]
        offset += len(name)
    table_offsets = []
    for entries in tables:
        table_offsets.append(offset)
        offset += len(entries)
    if max(name_fields) > 0xFFFF or max(len(t) for t in (text, dirs, files, links)) > 0xFFFF:
        raise Refusal(f"the setup file's names or tables outgrow their 16-bit fields: {name_fields}")
    (low, high), builds = processor.ce_versions, ANY_BUILD
    header = struct.pack("<4sIIIII6I6H6I8H", b"MSCE", 0, offset, 0, 1, processor.cab_processor, *low, *high, *builds,
                         len(text), len(dirs), len(files), 0, 0, len(links), *table_offsets, *name_fields, 0, 0)
    return header + b"".join(names) + b"".join(tables)


def setup_xml(processor, programs, members):
    """_setup.xml, the installation as the installers of Windows Mobile 5 and later read it."""
    (low, high), builds = processor.ce_versions, ANY_BUILD
    document = ElementTree.Element("wap-provisioningdoc")

    def characteristic(parent, kind, **attributes):
        return ElementTree.SubElement(parent, "characteristic", type=kind, **attributes)

    def parm(parent, name, value, **attributes):
        ElementTree.SubElement(parent, "parm", name=name, value=str(value), **attributes)

    install = characteristic(document, "Install")
    for name, value in [("InstallPhase", "install"), ("OSVersionMin", "%d.%d" % low),
                        ("OSVersionMax", "%d.%d" % high), ("BuildNumberMin", builds[0]),
                        ("BuildNumberMax", builds[1]), ("AppName", f"{PROVIDER} {APPLICATION}")]:
        parm(install, name, value)
    parm(install, "InstallDir", "\\".join(INSTALL_DIR), translation="install")
    for name, value in [("NumDirs", 1), ("NumFiles", len(programs)), ("NumRegKeys", 0), ("NumRegVals", 0),
                        ("NumShortcuts", len(programs))]:
        parm(install, name, value)

    operations = characteristic(document, "FileOperation")
    folder = characteristic(operations, "%InstallDir%", translation="install")
    characteristic(folder, "MakeDir")
    for (name, _), member in zip(programs, members):
        parm(characteristic(characteristic(folder, name, translation="install"), "Extract"), "Source", member)
    menu = characteristic(operations, f"%CE{SHORTCUT_DIR}%", translation="install")
    characteristic(menu, "MakeDir")
    for name, shortcut in programs:
        link = characteristic(characteristic(menu, f"{shortcut}.lnk", translation="install"), "Shortcut")
        parm(link, "Source", f"%InstallDir%\\{name}", translation="install")
    ElementTree.indent(document)
    return ElementTree.tostring(document, encoding="unicode").encode() + b"\n"


def write_cab(processor, gcab, cab, pairs):
    images = [check_image(processor, image) for image in pairs[0::2]]
    programs = [(check_name(Path(image).name, "the image's name", "\\Program Files\\%s\\" % APPLICATION),
                 check_name(shortcut + ".lnk", "the shortcut", "\\Windows\\Start Menu\\Programs\\")[:-4])
                for image, shortcut in zip(pairs[0::2], pairs[1::2])]
    if len({name.lower() for name, _ in programs}) < len(programs):
        raise Refusal(f"two images share a name: {[name for name, _ in programs]}")
    if len({shortcut.lower() for _, shortcut in programs}) < len(programs):
        raise Refusal(f"two shortcuts share a name: {[shortcut for _, shortcut in programs]}")
    if len(programs) >= SETUP_DLL_NUMBER:
        raise Refusal(f"{len(programs)} images: a file's number must stay below {SETUP_DLL_NUMBER}")
    members = [member_name(name, number) for number, (name, _) in enumerate(programs, 1)]
    contents = [(member_name(APPLICATION, 0), setup_file(processor, programs))]
    # The setup file first, as the installers look for it there, then the files from the last.
    contents += list(zip(members, images))[::-1]
    if processor.setup_xml:
        contents.append(("_setup.xml", setup_xml(processor, programs, members)))
    with tempfile.TemporaryDirectory() as folder:
        for name, data in contents:
            member = Path(folder, name)
            member.write_bytes(data)
            os.utime(member, (MEMBER_TIME, MEMBER_TIME))
        Path(cab).unlink(missing_ok=True)
        subprocess.run([gcab, "--create", "--nopath", Path(cab).resolve(), *(name for name, _ in contents)],
                       cwd=folder, check=True, env={**os.environ, "TZ": "UTC"})


def main(args):
    if len(args) < 5 or len(args) % 2 == 0 or args[0].upper() not in BY_NAME:
        sys.exit(__doc__)
    try:
        write_cab(BY_NAME[args[0].upper()], args[1], args[2], args[3:])
    except Refusal as refusal:
        sys.exit(f"cab_writer: {refusal}")


if __name__ == "__main__":
    main(sys.argv[1:])
