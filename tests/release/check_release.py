"""The Windows release as a user downloads it: the zip's files, read from the zip itself.

The program imports GX.dll's four functions by the decorated names in GX_DEF, GX.dll exports exactly
those (sorted, as the loader's binary search needs), and neither needs anything but system DLLs.
Both are stripped binaries for the build's processor, with a version resource naming their file,
type and VERSION; the program is a GUI program with its application manifest as resource 1. The
README gives the caption, failure text and exit statuses the end-to-end runs' EXPECTED files show.

Usage: check_release.py ZIP BITS VERSION GX_DEF EXPECTED
"""

import re
import sys
import xml.etree.ElementTree as ElementTree
import zipfile
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # the checks' shared harness
from checks import check, finish, icon_group

zip_path, bits, version, gx_def_path, expected = sys.argv[1:]
# What each pitch is and how the words are written: wrong, a user previewing a handheld gets its
# pitches the wrong way round, or a refusal.
PHRASES = ("XPitch: bytes from one pixel to the next along a line YPitch: bytes from one line to the next",
           "then the DRAM-buffer flag, separated by commas:")
MACHINE_AND_MAGIC = {"32": (0x014C, 0x10B), "64": (0x8664, 0x20B)}  # i386 PE32, AMD64 PE32+
MANIFEST_PROCESSOR = {"32": "x86", "64": "amd64"}
# Windows reads a manifest's elements only in their namespaces.
NAMESPACES = {"asm.v1": "urn:schemas-microsoft-com:asm.v1", "asm.v3": "urn:schemas-microsoft-com:asm.v3",
              "compatibility.v1": "urn:schemas-microsoft-com:compatibility.v1",
              "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
              "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
ALLOWED_IMPORTS = {
    "DisplayDiagnostics.exe": {"kernel32.dll", "user32.dll", "msvcrt.dll", "gx.dll"},
    "GX.dll": {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"},
}
FILE_TYPE = {"DisplayDiagnostics.exe": 1, "GX.dll": 2}  # VFT_APP, VFT_DLL
RT_VERSION, RT_MANIFEST = pefile.RESOURCE_TYPE["RT_VERSION"], pefile.RESOURCE_TYPE["RT_MANIFEST"]
RT_ICON, RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_ICON"], pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
SUPPORTED_OS = {  # Vista, 7, 8, 8.1, 10 and 11
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}

with open(gx_def_path, encoding="ascii") as gx_def:
    gx_names = sorted(re.findall(r"==\s*(\S+)", gx_def.read()))

release = zipfile.ZipFile(zip_path)
folder = zip_path.rsplit("/", 1)[-1].removesuffix(".zip")
check(folder == f"DisplayDiagnostics-{version}-win{bits}", "the release's name", folder)
files = sorted(name.removeprefix(folder + "/") for name in release.namelist() if not name.endswith("/"))
check(files == ["DisplayDiagnostics.exe", "GX.dll", "README.txt"], f"{folder}/ holds", files)

readme = release.read(f"{folder}/README.txt")
line_feeds, line_ends = readme.count(b"\n"), readme.count(b"\r\n")
check(0 < line_feeds == line_ends, "README.txt's line ends are all CRLF", f"{line_ends} of {line_feeds} line feeds")
text = readme.decode("ascii")
words = " ".join(text.split())
for run, said in [("handheld_screen.txt", '"{caption}"'),
                  ("handheld_screen.txt", "Press OK and it closes the display and ends (exit status {exit status})"),
                  ("malformed_simulation.txt", '"{text}" instead and ends with exit status {exit status}')]:
    said = said.format_map(dict(re.findall(r'^(caption|text|exit status): "?(.*?)"?$', Path(expected, run).read_text(), re.M)))
    check(said in words, f"README.txt says {said!r}", re.findall(r"[^.]*exit status \d+", words))
box = re.search(r'^text: "(.*)"$', Path(expected, "handheld_screen.txt").read_text(), re.M).group(1)
labels = [line.split(":")[0] + ":" for line in box.split("\\n") if line]  # the box's heading and labels
direct = box.split("\\n")[-1].replace("\\t", " ")  # a PC's display, as our GX.dll reports it
check(all(phrase in words for phrase in [*labels, *PHRASES, f'"{direct}"']),
      f"README.txt names the box's {labels}, {PHRASES!r} and {direct!r}", words[:400])
# Its order of GX_SIMULATED_DISPLAY's words, applied to its example, gives the box the rotated case expects.
order = re.search(r"^ *(width,.*?)\r?$", text, re.M).group(1).split(",")
example = re.search(r"GX_SIMULATED_DISPLAY=(\S+)", text).group(1).split(",")
rotated = Path(expected, "simulated_rotated.txt").read_text()
shown = {"width": "Width", "height": "Height", "x pitch": "XPitch", "y pitch": "YPitch", "bits per pixel": "BPP"}
wrong = [name for name in shown if name not in order] + [
    name for name, value in zip(order, example) if name in shown and not re.search(rf"{shown[name]}:(\\t)+{value} ", rotated)]
check(not wrong, f"README.txt's order {order}, given {example}, describes {rotated!r}", wrong)


def resources(pe):
    """{type: {id: data}} from the resource directory."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []:
        for entry in kind.directory.entries:
            language = entry.directory.entries[0].data.struct
            found.setdefault(kind.id, {})[entry.id] = pe.get_data(language.OffsetToData, language.Size)
    return found


def version_strings(pe):
    """The strings, and the (language, code page) pairs of their tables and of Translation, as 040904B0."""
    strings, tables, translations = {}, [], []
    for info in pe.FileInfo[0] if hasattr(pe, "FileInfo") else []:
        for table in getattr(info, "StringTable", []):
            strings.update({key.decode(): value.decode() for key, value in table.entries.items()})
            tables.append(table.LangID.decode().upper())
        for var in getattr(info, "Var", []):
            translations += ["".join(word[2:] for word in var.entry.get(b"Translation", "").split()).upper()]
    return strings, tables, translations


def name_pointer_table(pe):
    exports = pe.DIRECTORY_ENTRY_EXPORT.struct
    return [pe.get_string_at_rva(pe.get_dword_at_rva(exports.AddressOfNames + 4 * i)).decode()
            for i in range(exports.NumberOfNames)]


for name in ("DisplayDiagnostics.exe", "GX.dll"):
    pe = pefile.PE(data=release.read(f"{folder}/{name}"))
    machine, magic = MACHINE_AND_MAGIC[bits]
    check(pe.FILE_HEADER.Machine == machine, f"{name}'s machine", hex(pe.FILE_HEADER.Machine))
    check(pe.OPTIONAL_HEADER.Magic == magic, f"{name}'s optional-header magic", hex(pe.OPTIONAL_HEADER.Magic))
    check(pe.FILE_HEADER.NumberOfSymbols == 0, f"{name} is stripped: its symbols", pe.FILE_HEADER.NumberOfSymbols)
    imports = {entry.dll.decode().lower(): entry for entry in pe.DIRECTORY_ENTRY_IMPORT}
    check(set(imports) <= ALLOWED_IMPORTS[name], f"{name} imports only system DLLs", sorted(imports))

    fixed = pe.VS_FIXEDFILEINFO[0]
    for kind in ("File", "Product"):
        words = (getattr(fixed, f"{kind}VersionMS"), getattr(fixed, f"{kind}VersionLS"))
        numeric = (words[0] >> 16, words[0] & 0xFFFF, words[1] >> 16, words[1] & 0xFFFF)
        check(numeric == (*map(int, version.split(".")), 0), f"{name}'s {kind.upper()}VERSION", numeric)
    flags = tuple(hex(getattr(fixed, word)) for word in ("FileFlagsMask", "FileFlags", "FileOS", "FileSubtype"))
    check(flags == ("0x3f", "0x0", "0x40004", "0x0"),  # VS_FFI_FILEFLAGSMASK, none, VOS_NT_WINDOWS32, VFT2_UNKNOWN
          f"{name}'s FILEFLAGSMASK, FILEFLAGS, FILEOS and FILESUBTYPE", flags)
    check(fixed.FileType == FILE_TYPE[name], f"{name}'s file type", fixed.FileType)
    strings, tables, translations = version_strings(pe)
    check(tables == translations == ["040904B0"], f"{name}'s string tables and Translation", (tables, translations))
    for key, expected in (("FileVersion", version), ("ProductVersion", version), ("ProductName", "Display Diagnostics"),
                          ("OriginalFilename", name), ("InternalName", name.rsplit(".", 1)[0])):
        check(strings.get(key) == expected, f"{name}'s {key}", strings.get(key))
    # What the binary is, after the product's name: Explorer shows it as the file's description.
    check(strings.get("FileDescription", "").startswith("Display Diagnostics") and
          strings.get("FileDescription") != strings.get("ProductName"), f"{name}'s FileDescription",
          strings.get("FileDescription"))

    found = resources(pe)
    if name == "GX.dll":
        check(set(found) == {RT_VERSION}, "GX.dll's resource types", sorted(found))
        check(name_pointer_table(pe) == gx_names, "GX.dll's exports, in the order of its name table",
              name_pointer_table(pe))
        continue
    check(pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
          f"{name}'s subsystem", pe.OPTIONAL_HEADER.Subsystem)
    gx_imports = sorted(i.name.decode() for i in imports["gx.dll"].imports) if "gx.dll" in imports else []
    check(gx_imports == gx_names, f"{name}'s imports from GX.dll", gx_imports)
    check(set(found) == {RT_VERSION, RT_MANIFEST, RT_ICON, RT_GROUP_ICON}, f"{name}'s resource types", sorted(found))
    # The program's icon, its first group: 16 and 32 pixels at 16 colours, 48 at 32 bits for Explorer.
    check(icon_group(found) == [(16, 16, 16, 4), (32, 32, 16, 4), (48, 48, 0, 32)] and
          sorted(found.get(RT_ICON, {})) == [1, 2, 3], f"{name}'s icons", icon_group(found))
    # Windows reads an exe's manifest only as resource 1.
    manifests = found.get(RT_MANIFEST, {})
    check(list(manifests) == [1], f"{name}'s manifest resource IDs", list(manifests))
    manifest = ElementTree.fromstring(manifests.get(1, b"<none/>"))
    check((manifest.tag, manifest.attrib) == (f"{{{NAMESPACES['asm.v1']}}}assembly", {"manifestVersion": "1.0"}),
          f"{name}'s manifest root", (manifest.tag, manifest.attrib))

    def attributes(path):
        element = manifest.find(path, NAMESPACES)
        return None if element is None else element.attrib

    # The program's identity, its rights, and the one dependency, whose identity must resolve exactly.
    for path, expected in (
            ("asm.v1:assemblyIdentity", {"type": "win32", "name": "DisplayDiagnostics", "version": f"{version}.0",
                                         "processorArchitecture": MANIFEST_PROCESSOR[bits]}),
            ("asm.v3:trustInfo/asm.v3:security/asm.v3:requestedPrivileges/asm.v3:requestedExecutionLevel",
             {"level": "asInvoker", "uiAccess": "false"}),
            ("asm.v1:dependency/asm.v1:dependentAssembly/asm.v1:assemblyIdentity",
             {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
              "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"})):
        check(attributes(path) == expected, f"{name}'s manifest {path}", attributes(path))
    settings = "asm.v3:application/asm.v3:windowsSettings/"
    for path, expected in ((settings + "ws2005:dpiAware", "true/pm"),
                           (settings + "ws2016:dpiAwareness", "PerMonitorV2, PerMonitor")):
        check(manifest.findtext(path, None, NAMESPACES) == expected, f"{name}'s manifest {path}",
              manifest.findtext(path, None, NAMESPACES))
    supported = [(element.tag, element.attrib) for element in
                 manifest.iterfind("compatibility.v1:compatibility/compatibility.v1:application/*", NAMESPACES)]
    check(sorted(supported, key=str) == [(f"{{{NAMESPACES['compatibility.v1']}}}supportedOS", {"Id": os_id})
                                         for os_id in sorted(SUPPORTED_OS)],
          f"{name}'s manifest supportedOS", supported)

finish(f"{folder}.zip: {', '.join(files)}; imports, exports, version resources and manifest as released")
