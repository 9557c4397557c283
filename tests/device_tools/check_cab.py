#!/usr/bin/python3
"""Checks the release's installer CABs as cabextract and a device's installer read them: the setup
file (.000) first and every member intact; the setup file's fields read back, each CAB admitting
the devices its images are for, with no gap between the two; the ARMV4I CAB's _setup.xml saying the
same; and, installed by the installer stand-in, every image of the target's folder in place byte for
byte, with its Start-menu shortcut; and the README.txt naming the version, both CABs and the boxes'
texts as the end-to-end runs' EXPECTED files show them.

Usage: check_cab.py RELEASE VERSION EXPECTED INSTALLER PROGRAM=SHORTCUT... PROCESSOR=CAB...
INSTALLER is the installer stand-in; each PROGRAM=SHORTCUT, a program and its shortcut as the build
names them; each PROCESSOR=CAB, a processor's CAB.
"""
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # the checks' shared harness
from checks import check, finish

# The processor type each CAB names (Microsoft's: StrongARM for every ARM device, MIPS R4000, Hitachi
# SH3, which Pocket PC 2000's SH3 CABs name rather than 103), and the first system of its devices:
# Pocket PC 2000 (CE 3.0), Windows Mobile 2003 (CE 4.20). Never lower for MIPS: 4000 also matches
# the CE 2.x palm-size PCs, whose MIPS cannot run MIPS II code.
# The ARMV4I CAB must reach the last Windows Mobile, 6.5 (CE 5.2); builds are not restricted.
PROCESSOR = {"ARMV4": 2577, "ARMV4I": 2577, "MIPS": 4000, "SH3": 10003}
FIRST = {"ARMV4": (3, 0), "ARMV4I": (4, 20), "MIPS": (3, 0), "SH3": (3, 0)}
LAST_WINDOWS_MOBILE = (5, 2)
INSTALL_DIR = ("Program Files", "Display Diagnostics")
# Which device refuses which CAB, which image to copy, how to read the two VGA boxes, where a Pocket
# PC's About and Remove Programs are, and what each pitch is: the README's advice, wrong way round,
# sends a Pocket PC 2002 user to an image its CE 3.0 cannot load.
ADVICE = ("a Pocket PC 2002 refuses the ARMV4I CAB and a Windows Mobile 2003 device the ARMV4 one",
          "when unsure, ARMV4I on a Windows Mobile device, ARMV4 on an older one",
          "If the first says 240 by 320 and the second 480 by 640, old games get the emulation and aware ones",
          "Start, Settings, System, About", "Start, Settings, System, Remove Programs",
          "XPitch: bytes from one pixel to the next along a line YPitch: bytes from one line to the next")

release, version, expected_runs, installer, *pairs = sys.argv[1:]
SHORTCUTS = dict(pair.split("=", 1) for pair in pairs if not pair.endswith(".cab"))
CABS = dict(pair.split("=", 1) for pair in pairs if pair.endswith(".cab"))
def run(*command):
    return subprocess.run(command, capture_output=True, check=False)


def read_setup(data):
    """The header's fields, and the strings, directories, files and links, as the format lays them out."""
    fields = struct.unpack_from("<4s5I6I6H6I6H", data)
    header = dict(zip(["signature", "length", "processor"], [fields[0], fields[2], fields[5]]))
    header |= {"low": fields[6:8], "high": fields[8:10], "builds": fields[10:12], "fixed": (fields[1], fields[3], fields[4])}
    counts, offsets, names = fields[12:18], fields[18:24], fields[24:30]
    header["application"] = data[names[0]:names[0] + names[1]]
    header["provider"] = data[names[2]:names[2] + names[3]]

    def entries(at, count, layout):
        for _ in range(count):
            *head, size = struct.unpack_from(layout, data, at)
            at += struct.calcsize(layout) + size
            yield head, data[at - size:at]

    strings = {i: text.decode("latin-1") for (i,), text in entries(offsets[0], counts[0], "<HH")}

    def words(ids):
        return [strings.get(i, i) for i in struct.unpack(f"<{len(ids) // 2}H", ids)]

    dirs = {i: words(ids) for (i,), ids in entries(offsets[1], counts[1], "<HH")}
    files = {number: ((folder, again, flags), name.decode("latin-1")) for (number, folder, again, flags), name in
             entries(offsets[2], counts[2], "<HHHIH")}
    links = [(number, (zero, base), target, kind, words(ids)) for (number, zero, base, target, kind), ids in
             entries(offsets[5], counts[5], "<HHHHHH")]
    return header, dirs, files, links


def operations(document, folder):
    """Each file or shortcut that _setup.xml's operations in a folder name, with its operation and Source."""
    return {c.get("type"): (c.find("characteristic").get("type"), c.find("characteristic/parm").get("value")) for c in
            document.iterfind(f".//characteristic[@type='{folder}']/characteristic[@type!='MakeDir']")}


ranges, removed_as, shipped = {}, None, ["README.txt", *CABS.values()]
for target, cab in CABS.items():
    cab = f"{release}/{cab}"
    images = {path.name: path.read_bytes() for path in sorted(Path(release, target).glob("*.exe"))}
    listed = run("cabextract", "-l", cab)
    members = [line.rsplit(b"| ", 1)[1].decode() for line in listed.stdout.splitlines() if b" | " in line][1:]
    tested = run("cabextract", "-t", cab)
    check(listed.returncode == 0 and tested.returncode == 0,
          f"{cab}: cabextract: {(listed.stderr + tested.stderr).decode()}")
    check(members[:1] and members[0].endswith(".000"), f"{cab}: members {members}, the first not the setup file")
    # Fixed dates, so that the same images make the same CAB.
    dates = {line.split(b" | ")[1] for line in listed.stdout.splitlines()[3:] if b" | " in line}
    check(dates == {b"01.01.1980 00:00:00"}, f"{cab}: members dated {dates}")
    check(all(re.fullmatch(r"[A-Za-z0-9]{1,8}\.\d{3}", member) for member in members if member != "_setup.xml"),
          f"{cab}: members {members}, not all 8.3 names numbered as files")
    setup = run("cabextract", "-p", "-F", members[0] if members else "", cab).stdout
    header, dirs, files, links = read_setup(setup)
    ranges[target] = header["low"], header["high"]
    check(header["signature"] == b"MSCE" and header["length"] == len(setup) and header["processor"] == PROCESSOR[target]
          and header["fixed"] == (0, 0, 1),  # the words around the length: 0, the length, 0, 1
          f"{cab}: signature, length, processor and fixed words {header['signature'], header['length'], header['processor']}"
          f" {header['fixed']}"
          f" of a setup file of {len(setup)} bytes")
    check(header["low"] == FIRST[target] and header["builds"][0] == 0 and header["builds"][1] >= 0xE0000000
          and header["application"] == b"Display Diagnostics\0",
          f"{cab}: from CE {header['low']}, builds {header['builds']}, application {header['application']}")
    check(dirs == {1: ["%CE1%\0", "Display Diagnostics\0", 0]}, f"{cab}: directories {dirs}")
    numbers = {name[:-1]: number for number, (_, name) in files.items()}
    shipped += [f"{target}/{name}" for name in numbers]
    numbered = {int(member[-3:]) for member in members[1:] if member[-3:].isdigit()}
    check({name for _, name in files.values()} == {f"{name}\0" for name in images} and set(files) == numbered
          and all(fields == (1, number, 0) for number, (fields, _) in files.items()),  # directory, number, flags
          f"{cab}: files {files}, members {members}, images {list(images)}")
    shortcuts = {tuple(name): file for _, base, file, kind, name in links if base == (0, 11) and kind == 1}
    expected = {(f"{SHORTCUTS[name]}.lnk\0",): number for name, number in numbers.items() if name in SHORTCUTS}
    check([link[0] for link in links] == list(range(1, len(images) + 1)) and shortcuts == expected,
          f"{cab}: links {links}")

    with tempfile.TemporaryDirectory() as device:
        for name, image in images.items():
            program = Path(device, *INSTALL_DIR, name)
            installed = run(sys.executable, installer, "--processor", str(PROCESSOR[target]), "--program", name, cab,
                            device, "echo")
            check(installed.returncode == 0 and installed.stdout.decode() == f"{program}\n",
                  f"{cab}: the installer, asked to run {name!r}, ran {installed.stdout.decode()!r},"
                  f" status {installed.returncode}: {installed.stderr.decode().strip()}")
            check(program.is_file() and program.read_bytes() == image, f"{cab}: {program} is not the image {name}")
            link = Path(device, "Windows", "Start Menu", "Programs", f"{SHORTCUTS.get(name)}.lnk")
            command = '"\\%s\\%s"' % ("\\".join(INSTALL_DIR), name)
            check(link.is_file() and link.read_text() == f"{len(command)}#{command}",
                  f"{cab}: {link} holds {link.read_text() if link.is_file() else None!r}, not a shortcut to {command}")

        # Every other processor's device refuses it.
        for other in set(PROCESSOR.values()) - {PROCESSOR[target]}:
            refused = run(sys.executable, installer, "--processor", str(other), cab, device)
            check(refused.returncode != 0 and b"not this device's" in refused.stderr,
                  f"{cab}: a device of processor {other}: status {refused.returncode}, {refused.stderr.strip()}")

    xml = run("cabextract", "-p", "-F", "_setup.xml", cab).stdout
    check((target == "ARMV4I") == bool(xml), f"{cab}: _setup.xml of {len(xml)} bytes")
    if xml:
        document = ElementTree.fromstring(xml)
        install = {p.get("name"): p.get("value") for p in document.find("characteristic[@type='Install']")}
        removed_as = install.get("AppName")  # what Remove Programs lists
        said = [install.get(name) for name in ("InstallPhase", "OSVersionMin", "OSVersionMax", "BuildNumberMin",
                                               "BuildNumberMax", "NumDirs", "NumFiles", "NumShortcuts", "AppName",
                                               "InstallDir")]
        app_name = b" ".join(header[name].rstrip(b"\0") for name in ("provider", "application")).decode()
        check(said == ["install", "%d.%d" % header["low"], "%d.%d" % header["high"], *map(str, header["builds"]), str(len(dirs)),
                       str(len(files)), str(len(links)), app_name, "\\".join(dirs[1][:-1]).replace("\0", "")],
              f"{cab}: _setup.xml says {said}")
        folders = document.findall("characteristic[@type='FileOperation']/characteristic")
        unmade = [f.get("type") for f in folders if f.find("characteristic[@type='MakeDir']") is None]
        check(folders and not unmade, f"{cab}: _setup.xml makes no folder {unmade} of {len(folders)}")
        sources = operations(document, "%InstallDir%")
        check({name: (kind, int(member[-3:])) for name, (kind, member) in sources.items()}
              == {name: ("Extract", number) for name, number in numbers.items()}, f"{cab}: _setup.xml extracts {sources}")
        targets = operations(document, "%CE11%")
        check(targets == {f"{SHORTCUTS[name]}.lnk": ("Shortcut", f"%InstallDir%\\{name}") for name in images},
              f"{cab}: _setup.xml's shortcuts {targets}")
        # Every folder and path it names must be expanded (%CE1%, %InstallDir%) when it installs.
        unexpanded = [e.attrib for e in document.iter() if "%" in e.get("type", "") + e.get("value", "")
                      and e.get("translation") != "install"]
        check(not unexpanded, f"{cab}: _setup.xml's paths not expanded on installing: {unexpanded}")

readme = Path(release, "README.txt").read_text(encoding="ascii")
words = " ".join(readme.split())  # as the README's lines wrap
named = [f"{cab} For Windows CE %d.%d" % ranges[target][0] for target, cab in CABS.items()]
named += [f'"{s}"' for s in SHORTCUTS.values()] + list(ADVICE)
named += [re.search(f'^{field}: (".*")$', Path(expected_runs, case).read_text(), re.M).group(1)
          for case, field in [("handheld_screen.txt", "caption"), ("malformed_simulation.txt", "text")]]
box = re.search(r'^text: "(.*)"$', Path(expected_runs, "handheld_screen.txt").read_text(), re.M).group(1)
named += [line.split(":")[0] + ":" for line in box.split("\\n") if line]  # the box's heading and labels
named += [f"{target}\\{path.name}" for target in ranges for path in Path(release, target).glob("*.exe")]
check(f" {version} " in readme.splitlines()[0] and "\\".join(INSTALL_DIR) in readme and f'"{removed_as}"' in readme
      and all(f in words for f in named),
      f"README.txt names version {version}, {INSTALL_DIR}, {removed_as!r} and {named}? It begins {readme[:60]!r}")

# The project README's device table is the one the processor rows make.
table = subprocess.run([sys.executable, Path(__file__).parents[2] / "device_tools/processors.py", "readme-table"],
                       capture_output=True, text=True, check=True).stdout
check(table in (Path(__file__).parents[2] / "README.md").read_text(), f"README.md lacks the device table:\n{table}")

# Exactly the README, the CABs and what they install: nothing left from an earlier build.
released = sorted(str(path.relative_to(release)) for path in Path(release).rglob("*") if path.is_file())
check(released == sorted(shipped), f"the release holds {released}, not {sorted(shipped)}")

# No version of Windows CE that neither CAB admits, between them.
check(ranges["ARMV4"][1] == (FIRST["ARMV4I"][0], FIRST["ARMV4I"][1] - 1) and ranges["ARMV4I"][1] >= LAST_WINDOWS_MOBILE,
      f"the CE versions each CAB admits: {ranges}")

finish(f"the CABs {', '.join(CABS)} install what they are for")
