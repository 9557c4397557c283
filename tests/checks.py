"""What the Python checks share: each failed check is kept, saying what it got, and at the end every
failure is printed and the check fails; only a check that failed nothing says it passed."""
import sys

failures = []


def check(ok, what, *got):
    """Keeps `what` as a failure unless ok, followed by what it got, where that is given apart."""
    if not ok:
        failures.append(f"{what}: got {got[0]!r}" if got else what)


def finish(passed="", about=""):
    """Prints each failure, naming `about`, and exits 1; or prints `passed` and exits 0."""
    for failure in failures:
        print(f"FAIL: {about}{failure}")
    if failures:
        sys.exit(1)
    if passed:
        print(passed)
