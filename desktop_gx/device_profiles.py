#!/usr/bin/python3
"""The device profiles of device_profiles.txt, in the forms the builds and the docs take.

  device_profiles.py cpp TABLE OUT.inc   the previewable rows, as C++ initializers of DeviceProfile
                                         (written only when they change)
  device_profiles.py markdown TABLE      the table of docs/devices.md

A row that is not ten columns, a value that is not a number of its field's 32 bits (decimal with no
leading zero, or 0x hexadecimal) or "?", a DRAM answer that is not yes, no or ?, or a name used twice
is refused, naming the line.
"""
import re
import sys
from pathlib import Path

NUMBER = re.compile(r"-?(0x[0-9A-Fa-f]+|0|[1-9][0-9]*)")
# Each value's range: width and height unsigned, the pitches and bits per pixel signed, the format
# unsigned, as GXDisplayProperties holds them.
UNSIGNED, SIGNED = range(0, 2**32), range(-2**31, 2**31)
RANGES = [UNSIGNED, UNSIGNED, SIGNED, SIGNED, SIGNED, UNSIGNED]
NAME = re.compile(r"[a-z][a-z0-9-]*")
DRAM = {"yes": 1, "no": 0, "?": None}


def read(path):
    """Each row as (name, device, values or None for "?", evidence); values end in the DRAM flag."""
    rows = []
    for number, line in enumerate(Path(path).read_text(encoding="utf-8").splitlines(), 1):
        if line.startswith("#") or not line.strip():
            continue
        cells = [cell.strip() for cell in line.split(" | ")]
        if (len(cells) != 10 or not NAME.fullmatch(cells[0]) or cells[8] not in DRAM
                or any(c != "?" and not (NUMBER.fullmatch(c) and int(c, 0) in r) for c, r in zip(cells[2:8], RANGES))):
            sys.exit(f"device_profiles: {path}:{number} is not a row of the table: {line}")
        if cells[0] in (row[0] for row in rows):
            sys.exit(f"device_profiles: {path}:{number} names {cells[0]} again")
        values = [None if c == "?" else int(c, 0) for c in cells[2:8]] + [DRAM[cells[8]]]
        rows.append((cells[0], cells[1], values, cells[9]))
    return rows


def cpp(rows):
    lines = ["// Made by device_profiles.py from device_profiles.txt: the profiles that can be previewed."]
    for name, _, values, _ in rows:
        if None not in values:
            lines.append(f'{{"{name}", {{{{{", ".join(map(str, values[:6]))}}}, {values[6]}}}}},')
    return "\n".join(lines) + "\n"


def markdown(rows):
    def shown(value, hexadecimal=False):
        return "?" if value is None else (f"0x{value:X}" if hexadecimal else str(value).replace("-", "−"))

    lines = ["| profile | device | W | H | x pitch | y pitch | bpp | ffFormat | DRAM | evidence |",
             "| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |"]
    for name, device, values, evidence in rows:
        *numbers, dram = values
        profile = f"`{name}`" if None not in values else f"{name} (no preview)"
        cells = [shown(v, i == 5) for i, v in enumerate(numbers)] + [{1: "yes", 0: "no", None: "?"}[dram]]
        lines.append(f"| {profile} | {device} | {' | '.join(cells)} | {evidence} |")
    return "\n".join(lines)


def main(args):
    if len(args) == 3 and args[0] == "cpp":
        text, out = cpp(read(args[1])), Path(args[2])
        if not out.exists() or out.read_text() != text:
            out.write_text(text)
    elif len(args) == 2 and args[0] == "markdown":
        print(markdown(read(args[1])))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
