#!/usr/bin/env python3
"""tlb_helpstrings.py on a type library widl wrote: the same bytes on every
run, a clear refusal of every help list it cannot apply (with nothing
written), and no crash on any truncated or altered library.

  tlb_helpstrings_test.py WIDL_TLB HELP_TXT WORK_DIR
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests"))
sys.path.insert(0, HERE)
from checks import check, finish, fresh, run  # noqa: E402
import tlb_helpstrings  # noqa: E402

TOOL = [sys.executable, os.path.join(HERE, "tlb_helpstrings.py")]

# (help list, words of the refusal)
REFUSED = [
    ("FileAttributes.qvfNoSuch\tx\n", "has no member named qvfNoSuch"),
    ("NoSuchEnum.qvfArchive\tx\n", "no enumeration named NoSuchEnum"),
    ("IItem.Name\tx\n", "IItem is not an enumeration"),
    ("FileAttributes.qvfArchive x\n", "expected 'Enum.member<TAB>help string'"),
    ("FileAttributes.qvfArchive\t\n", "must not be empty"),
    ("FileAttributes.qvfArchive\tone\nfileattributes.QVFARCHIVE\ttwo\n", "listed twice"),
    ("FileAttributes.qvfArchive\tcaf\xe9\n", "only printable ASCII"),
    ("# nothing but a comment\n", "no help strings listed"),
]


def write(path, text):
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def main():
    source, help_file, work = sys.argv[1:4]
    work = fresh(work)
    first, second = os.path.join(work, "first.tlb"), os.path.join(work, "second.tlb")
    for out in (first, second):
        code, _, err = run(TOOL + [source, help_file, out])
        check(code == 0, "the real help list is applied: %s" % err)
    with open(source, "rb") as f:
        original = f.read()
    with open(first, "rb") as f:
        patched = f.read()
    with open(second, "rb") as f:
        check(f.read() == patched, "two runs give the same bytes")
    check(len(patched) > len(original), "the library grew by the help strings")

    # Applying the list again finds the help strings already there.
    code, _, err = run(TOOL + [first, help_file, os.path.join(work, "again.tlb")])
    check(code == 1 and "has a help string already" in err, "a second pass is refused: %s" % err)

    for n, (listing, words) in enumerate(REFUSED):
        out = os.path.join(work, "refused%d.tlb" % n)
        code, _, err = run(TOOL + [source, write(os.path.join(work, "help%d.txt" % n), listing), out])
        check(code == 1 and words in err, "%r refused with %r: %s" % (listing, words, err))
        check(not os.path.exists(out) and not os.path.exists(out + ".tmp"), "%r: nothing written" % listing)

    # Every truncation and every single altered byte: a clean refusal or
    # a library that still lays out, never another exception.
    entries = tlb_helpstrings.read_help_file(help_file)
    variants = [original[:n] for n in range(len(original))]
    variants += [original[:i] + bytes([original[i] ^ 0xFF]) + original[i + 1:] for i in range(len(original))]
    crashes = []
    for data in variants:
        try:
            lib = tlb_helpstrings.parse(data)
            if tlb_helpstrings.serialize(lib) == data:
                tlb_helpstrings.add_member_help(lib, entries)
                tlb_helpstrings.parse(tlb_helpstrings.serialize(lib))
        except tlb_helpstrings.TlbError:
            pass
        except Exception as e:  # noqa: BLE001 - any other exception is the fault looked for
            crashes.append("%s: %s" % (type(e).__name__, e))
    check(not crashes, "%d of %d damaged libraries crash the tool, e.g. %s" %
          (len(crashes), len(variants), crashes[:3]))
    return finish("tlb_helpstrings: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
