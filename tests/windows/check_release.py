"""The Windows release as a user downloads it: the zip's files, read from the zip itself.

The program imports GX.dll's four functions by the decorated names in GX_DEF, GX.dll exports exactly
those (sorted, as the loader's binary search needs), and neither needs anything but system DLLs.
Both are stripped binaries for the build's processor, with a version resource naming their file,
type and VERSION; the program is a GUI program with its application manifest as resource 1.

Usage: check_release.py ZIP BITS VERSION GX_DEF
"""

import re
import sys
import xml.etree.ElementTree as ElementTree
import zipfile

import pefile

zip_path, bits, version, gx_def_path = sys.argv[1:]
failures = []


def check(condition, what, got):
    if not condition:
        failures.append(f"{what}: got {got!r}")


MACHINE_AND_MAGIC = {"32": (0x014C, 0x10B), "64": (0x8664, 0x20B)}  # i386 PE32, AMD64 PE32+
MANIFEST_PROCESSOR = {"32": "x86", "64": "amd64"}
ALLOWED_IMPORTS = {
    "DisplayDiagnostics.exe": {"kernel32.dll", "user32.dll", "msvcrt.dll", "gx.dll"},
    "GX.dll": {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"},
}
FILE_TYPE = {"DisplayDiagnostics.exe": 1, "GX.dll": 2}  # VFT_APP, VFT_DLL
RT_VERSION, RT_MANIFEST = pefile.RESOURCE_TYPE["RT_VERSION"], pefile.RESOURCE_TYPE["RT_MANIFEST"]
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
files = sorted(name.removeprefix(folder + "/") for name in release.namelist() if not name.endswith("/"))
check(files == ["DisplayDiagnostics.exe", "GX.dll", "README.txt"], f"{folder}/ holds", files)

readme = release.read(f"{folder}/README.txt")
line_feeds, line_ends = readme.count(b"\n"), readme.count(b"\r\n")
check(0 < line_feeds == line_ends, "README.txt's line ends are all CRLF", f"{line_ends} of {line_feeds} line feeds")


def resources(pe):
    """{type: {id: data}} from the resource directory."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []:
        for entry in kind.directory.entries:
            language = entry.directory.entries[0].data.struct
            found.setdefault(kind.id, {})[entry.id] = pe.get_data(language.OffsetToData, language.Size)
    return found


def version_strings(pe):
    strings = {}
    for info in pe.FileInfo[0] if hasattr(pe, "FileInfo") else []:
        for table in getattr(info, "StringTable", []):
            strings.update({key.decode(): value.decode() for key, value in table.entries.items()})
    return strings


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
    numeric = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16)
    check(".".join(map(str, numeric)) == version, f"{name}'s FILEVERSION", numeric)
    check(fixed.FileType == FILE_TYPE[name], f"{name}'s file type", fixed.FileType)
    strings = version_strings(pe)
    for key, expected in (("FileVersion", version), ("ProductVersion", version), ("ProductName", "Display Diagnostics"),
                          ("OriginalFilename", name)):
        check(strings.get(key) == expected, f"{name}'s {key}", strings.get(key))

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
    check(set(found) == {RT_VERSION, RT_MANIFEST}, f"{name}'s resource types", sorted(found))
    # Windows reads an exe's manifest only as resource 1.
    manifests = found.get(RT_MANIFEST, {})
    check(list(manifests) == [1], f"{name}'s manifest resource IDs", list(manifests))
    manifest = list(ElementTree.fromstring(manifests.get(1, b"<none/>")).iter())
    # Tags carry their namespace, {urn:...}name; the program's own identity comes first.
    elements = {}
    for element in manifest:
        elements.setdefault(element.tag.rsplit("}", 1)[-1], element)
    for tag, key, expected in (("assemblyIdentity", "processorArchitecture", MANIFEST_PROCESSOR[bits]),
                               ("requestedExecutionLevel", "level", "asInvoker")):
        got = elements[tag].get(key) if tag in elements else None
        check(got == expected, f"{name}'s manifest {tag} {key}", got)
    texts = {tag: (element.text or "").strip() for tag, element in elements.items()}
    check(texts.get("dpiAware") == "true/pm", f"{name}'s manifest dpiAware", texts.get("dpiAware"))
    check("PerMonitorV2" in texts.get("dpiAwareness", ""), f"{name}'s manifest dpiAwareness", texts.get("dpiAwareness"))
    supported = {element.get("Id") for element in manifest if element.tag.endswith("}supportedOS")}
    check(supported == SUPPORTED_OS, f"{name}'s manifest supportedOS", sorted(supported))
    identities = [element.get("name") for element in manifest if element.tag.endswith("}assemblyIdentity")]
    check("Microsoft.Windows.Common-Controls" in identities, f"{name}'s manifest dependencies", identities)

for failure in failures:
    print(f"FAIL: {failure}")
if not failures:
    print(f"{folder}.zip: {', '.join(files)}; imports, exports, version resources and manifest as released")
sys.exit(1 if failures else 0)
