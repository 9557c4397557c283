"""What the Python checks share: each failed check is kept, saying what it got, and at the end every
failure is printed and the check fails; only a check that failed nothing says it passed."""
import struct
import sys

failures = []


def check(ok, what, *got):
    """Keeps `what` as a failure unless ok, followed by what it got, where that is given apart."""
    if not ok:
        failures.append(f"{what}: got {got[0]!r}" if got else what)


def icon_group(found):
    """The icons the first icon group of a {type: {id: data}} resource map lists, each as (width,
    height, colours, bits) when its own header agrees, else as what is wrong with it."""
    groups = found.get(14, {})  # RT_GROUP_ICON
    first = min(groups, key=lambda key: (isinstance(key, int), str(key) if isinstance(key, str) else key), default=None)
    data = groups[first] if groups else bytes(6)  # a loader's first: names before numbers, in order
    icons = []
    for index in range(struct.unpack_from("<4xH", data)[0]):
        width, height, colours, _, _, bits, size, number = struct.unpack_from("<BBBBHHIH", data, 6 + 14 * index)
        icon = found.get(3, {}).get(number)  # RT_ICON
        header = struct.unpack_from("<4xiiHH", icon) if icon and len(icon) >= 16 else None
        if header != (width, 2 * height, 1, bits) or len(icon) != size:
            icons.append(f"icon {number} of {width}x{height} at {bits} bits in {size} bytes is {header}, "
                         f"{len(icon or b'')} bytes")
        else:
            icons.append((width, height, colours, bits))
    return icons


def finish(passed="", about=""):
    """Prints each failure, naming `about`, and exits 1; or prints `passed` and exits 0."""
    for failure in failures:
        print(f"FAIL: {about}{failure}")
    if failures:
        sys.exit(1)
    if passed:
        print(passed)
