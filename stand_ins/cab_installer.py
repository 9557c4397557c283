#!/usr/bin/python3
"""The device's CAB installer, stood in: installs a Windows CE installer cabinet into a folder that
plays a Pocket PC's file system, as the device's installer would, then runs a program as a tap on its
Start-menu shortcut would.

  cab_installer.py [--processor TYPE] [--ce-version MAJOR.MINOR[.BUILD]] [--program NAME] CAB DEVICE [COMMAND...]

The device's processor TYPE is the number its installer compares a CAB's with: 2577 (StrongARM, every
ARM Pocket PC), unless given.

It reads the setup file (.000, the cabinet's first member) and refuses, saying why, what the device
would refuse: another processor, a Windows CE version outside the CAB's range (when given the
device's), a malformed setup file or a file it names that the cabinet lacks. It places each file
where its directory says and writes each shortcut as CE does ("N#" and the quoted target path).
With COMMAND (the CE stand-in and its options), it then runs COMMAND with what the shortcut to the
installed program NAME (its file name, which a COMMAND needs) starts. It prints nothing but refusals.
"""
import argparse
import os
import re
import struct
import sys
from pathlib import Path

ANY_PROCESSOR = 0  # a CAB every device's installer takes
STRONGARM = 2577
# The %CEn% folders of a Pocket PC (version 3.0 and later) that a CAB may name.
CE_FOLDERS = {1: r"\Program Files", 2: r"\Windows", 4: r"\Windows\StartUp", 5: r"\My Documents",
              8: r"\Program Files\Games", 11: r"\Windows\Start Menu\Programs",
              14: r"\Windows\Start Menu\Programs\Games", 15: r"\Windows\Fonts", 17: r"\Windows\Start Menu"}
LINK_TO_FILE = 1


class Refusal(Exception):
    pass


def read_cabinet(path):
    """The members of an uncompressed single cabinet, in order, as (name, contents)."""
    data = Path(path).read_bytes()
    if data[:4] != b"MSCF" or len(data) < 36:
        raise Refusal("not a cabinet (no MSCF header)")

    def take(at, size, what):
        if at + size > len(data):
            raise Refusal(f"{what} runs past the end of the cabinet ({at} + {size} > {len(data)})")
        return data[at:at + size]

    files_at, folder_count, file_count, flags = struct.unpack_from("<16xI6xHHH", data)
    if flags:
        raise Refusal(f"cabinet flags 0x{flags:X} (a cabinet set or reserved fields), which this installer "
                      "does not read")
    folders = []
    for index in range(folder_count):
        start, blocks, compression = struct.unpack("<IHH", take(36 + 8 * index, 8, f"folder {index}'s entry"))
        if compression:
            raise Refusal(f"folder {index} is compressed (type {compression})")
        contents = b""
        for block in range(blocks):
            size = struct.unpack("<4xH2x", take(start, 8, f"folder {index}'s block {block}"))[0]
            contents += take(start + 8, size, f"folder {index}'s block {block}")
            start += 8 + size
        folders.append(contents)
    members, at = [], files_at
    for index in range(file_count):
        size, offset, folder = struct.unpack("<IIH6x", take(at, 16, f"member {index}'s entry"))
        end = data.find(b"\0", at + 16)
        if end < 0:
            raise Refusal(f"member {index}'s name runs past the end of the cabinet")
        name = data[at + 16:end]
        if not name.isascii():
            raise Refusal(f"member {index}'s name {name!r} is not plain ASCII")
        if folder >= len(folders):
            raise Refusal(f"member {index} ({name.decode()}) is in folder {folder}, which the cabinet does not have")
        if offset + size > len(folders[folder]):
            raise Refusal(f"member {index} ({name.decode()}) runs past the end of folder {folder} "
                          f"({offset} + {size} > {len(folders[folder])})")
        members.append((name.decode(), folders[folder][offset:offset + size]))
        at = end + 1
    return members


class SetupFile:
    """The .000's header and tables, each entry checked to lie inside the file."""

    def __init__(self, data):
        self.data = data
        if len(data) < 100 or data[:4] != b"MSCE":
            raise Refusal("the setup file has no MSCE header")
        fields = struct.unpack_from("<4x5I6I6H6I6H", data)
        length, self.processor = fields[1], fields[4]
        self.low, self.high, self.builds = fields[5:7], fields[7:9], fields[9:11]
        counts, offsets, names = fields[11:17], fields[17:23], fields[23:29]
        if length != len(data):
            raise Refusal(f"the setup file says it is {length} bytes long, but is {len(data)}")
        self.application = self.text(names[0], names[1], "the application name")
        self.strings = {i: self.text(at + 4, size, f"string {i}") for i, size, at in
                        self.entries(offsets[0], counts[0], "<HH", "the string table")}
        self.dirs = {i: self.ids(at + 4, size, True) for i, size, at in
                     self.entries(offsets[1], counts[1], "<HH", "the directory table")}
        self.files = {i: (folder, self.text(at + 12, size, f"file {i}'s name")) for i, folder, _, _, size, at in
                      self.entries(offsets[2], counts[2], "<HHHIH", "the file table")}
        if counts[3] or counts[4]:
            raise Refusal("registry entries, which this installer does not make")
        self.links = [(base, target, kind, self.ids(at + 12, size, False)) for _, _, base, target, kind, size, at in
                      self.entries(offsets[5], counts[5], "<HHHHHH", "the link table")]

    def take(self, at, size, what):
        if at + size > len(self.data):
            raise Refusal(f"{what} runs past the end of the setup file ({at} + {size} > {len(self.data)})")
        return self.data[at:at + size]

    def entries(self, at, count, layout, what):
        """Each entry's fields, its variable part's size last, and where the entry starts."""
        for _ in range(count):
            fields = struct.unpack(layout, self.take(at, struct.calcsize(layout), what))
            yield *fields, at
            at += struct.calcsize(layout) + fields[-1]

    def text(self, at, size, what):
        text = self.take(at, size, what)
        if not text.endswith(b"\0") or b"\0" in text[:-1]:
            raise Refusal(f"{what} is not one string ending in its length: {text!r}")
        if not text.isascii():
            raise Refusal(f"{what} is not plain ASCII: {text!r}")
        return text[:-1].decode()

    def ids(self, at, size, terminated):
        """A path from a list of string ids: a directory's ends in 0, a link's does not."""
        if size % 2:
            raise Refusal(f"a list of string ids at {at} is {size} bytes long, not a whole number of ids")
        ids = struct.unpack(f"<{size // 2}H", self.take(at, size, "a list of string ids"))
        if terminated and ids[-1:] != (0,):
            raise Refusal(f"the directory list {ids} does not end in 0")
        ids = ids[:-1] if terminated else ids
        missing = [i for i in ids if i not in self.strings]
        if missing or not ids:
            raise Refusal(f"the list of string ids {ids} names no string or strings that are not there: {missing}")
        return [self.strings[i] for i in ids]


def device_path(device, ce_path):
    """Where a CE path such as \\Program Files\\x lies in the device's folder; %CEn% expanded."""
    match = re.fullmatch(r"%CE(\d+)%", ce_path[0])
    if match and int(match.group(1)) not in CE_FOLDERS:
        raise Refusal(f"{ce_path[0]} is not a folder of this device")
    parts = (CE_FOLDERS[int(match.group(1))].split("\\")[1:] if match else [ce_path[0]]) + ce_path[1:]
    if any(part in ("", ".", "..") or re.search(r'[\\/:*?"<>|]', part) for part in parts):
        raise Refusal(f"the path {ce_path} is not a path of the device")
    return "\\" + "\\".join(parts), Path(device, *parts)


def place(host_path, ce_path, data, placed):
    """Writes one file of the device, refusing a path the CAB already wrote or that cannot be a file."""
    if host_path in placed:
        raise Refusal(f"two of the CAB's files and shortcuts are {ce_path}")
    placed.add(host_path)
    try:
        host_path.parent.mkdir(parents=True, exist_ok=True)
        host_path.write_bytes(data)
    except OSError as error:
        raise Refusal(f"{ce_path} cannot be written: {error.strerror}") from None


def install(cab, device, processor, ce_version):
    members = read_cabinet(cab)
    if not members or not members[0][0].endswith(".000"):
        raise Refusal(f"the first member is {members[0][0] if members else 'missing'}, not the setup file (.000)")
    setup = SetupFile(members[0][1])
    if setup.processor not in (ANY_PROCESSOR, processor):
        raise Refusal(f"the CAB is for processor {setup.processor}, not this device's {processor}")
    if ce_version:
        version, build = tuple(ce_version[:2]), (ce_version[2:] or [0])[0]
        high = setup.high if setup.high != (0, 0) else version
        if not setup.low <= version <= high or not setup.builds[0] <= build <= (setup.builds[1] or build):
            builds = ", builds %d to %d" % setup.builds if ce_version[2:] else ""
            raise Refusal("the CAB is for Windows CE %d.%d to %d.%d%s, not this device's %s"
                          % (*setup.low, *setup.high, builds, ".".join(map(str, ce_version))))

    numbered = {}
    for name, contents in members[1:]:
        match = re.search(r"\.(\d{3})$", name)
        if match and int(match.group(1)) in numbered:
            raise Refusal(f"two members are file {match.group(1)}")
        if match:
            numbered[int(match.group(1))] = contents
    installed, placed = {}, set()
    for number, (folder, name) in setup.files.items():
        if number not in numbered:
            raise Refusal(f"the setup file installs file {number:03d} ({name}), which the cabinet does not hold")
        if folder not in setup.dirs:
            raise Refusal(f"file {number:03d} ({name}) goes to directory {folder}, which the setup file lacks")
        ce_file, host_file = device_path(device, setup.dirs[folder] + [name])
        place(host_file, ce_file, numbered[number], placed)
        installed[number] = ce_file
    shortcuts = []
    for base, target, kind, name in setup.links:
        if kind != LINK_TO_FILE or target not in installed:
            raise Refusal(f"the shortcut {name} points to file {target} (type {kind}), which is not installed")
        ce_link, host_link = device_path(device, [f"%CE{base}%", *name])
        command = f'"{installed[target]}"'
        place(host_link, ce_link, f"{len(command)}#{command}".encode("ascii"), placed)
        shortcuts.append(host_link)
    return shortcuts


def program_of(device, link):
    """The program a shortcut this installer wrote starts: the quoted path after "N#"."""
    text = link.read_text(encoding="ascii")
    return Path(device, *text[text.index("#") + 1 :].strip('"').split("\\")[1:])


def ce_version(text):
    if not re.fullmatch(r"\d+\.\d+(\.\d+)?", text):
        raise argparse.ArgumentTypeError(f"{text!r} is not a version such as 4.20 or 5.1.14847")
    return [int(n) for n in text.split(".")]


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--processor", type=int, default=STRONGARM, metavar="TYPE")
    parser.add_argument("--ce-version", type=ce_version, metavar="MAJOR.MINOR[.BUILD]")
    parser.add_argument("--program")
    parser.add_argument("cab")
    parser.add_argument("device")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.command and not args.program:
        parser.error("a COMMAND runs a program by its shortcut: name the program with --program")
    try:
        shortcuts = install(args.cab, args.device, args.processor, args.ce_version)
        if args.command:
            started = {program_of(args.device, link).name: program_of(args.device, link) for link in shortcuts}
            if args.program not in started:
                raise Refusal(f"no shortcut to {args.program!r} was installed, only to {list(started)}")
            os.execvp(args.command[0], [*args.command, str(started[args.program])])
    except Refusal as refusal:
        sys.exit(f"cab_installer: {args.cab}: {refusal}")


if __name__ == "__main__":
    main()
