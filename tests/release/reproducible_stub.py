#!/usr/bin/python3
"""Two builds give the same bytes: the self-extractor stub is built again,
PE32 and x86_64, in fresh trees configured as scripts/build configures the
Windows trees, and compared byte for byte with the stubs of those trees
(which every self-extractor and Tollan.dll carry). With --all, the fresh
trees also build every deliverable and compare each with the same file
beside the given stub.

  reproducible_stub.py --source DIR --work DIR --stub32 FILE --stub64 FILE [--all]
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, fresh, run  # noqa: E402

# (target, file in bin/); the stub first: the other modules carry it.
DELIVERABLES = (("sfxstub", "sfxstub.exe"), ("Tollan", "Tollan.dll"), ("qvFileSys", "qvFileSys.dll"),
                ("orvantarun", "orvantarun.exe"), ("orvanta", "orvanta.exe"))


def main():
    ap = argparse.ArgumentParser()
    for opt in ("--source", "--work", "--stub32", "--stub64"):
        ap.add_argument(opt, required=True)
    ap.add_argument("--all", action="store_true", help="every deliverable, not the stub alone")
    a = ap.parse_args()
    wanted = DELIVERABLES if a.all else DELIVERABLES[:1]
    # Each fresh tree takes the other one's stub (sfxstub/CMakeLists.txt), as the two Windows trees do.
    trees = {arch: fresh(os.path.join(a.work, arch)) for arch in ("i686", "x86_64")}
    built = {"i686": a.stub32, "x86_64": a.stub64}
    for arch, tree in trees.items():
        toolchain = os.path.join(a.source, "cmake", "toolchain-%s-mingw.cmake" % arch)
        rc, out, err = run(["cmake", "-S", a.source, "-B", tree, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                            "-DCMAKE_TOOLCHAIN_FILE=" + toolchain, "-DORVANTA_WIN32_DIR=" + trees["i686"],
                            "-DORVANTA_WIN64_DIR=" + trees["x86_64"]], timeout=600)
        if not check(rc == 0, "%s: configure" % arch, out[-1500:] + err[-1500:]):
            del built[arch]
    # Both stubs first, then the modules that carry them.
    for targets in (wanted[:1], wanted[1:]):
        for arch in list(built) if targets else []:
            rc, out, err = run(["cmake", "--build", trees[arch], "-j2", "--target"] + [t for t, _ in targets],
                               timeout=3600)
            if not check(rc == 0, "%s: build %s" % (arch, " ".join(t for t, _ in targets)), out[-1500:] + err[-1500:]):
                del built[arch]
    for arch, stub in built.items():
        for _, name in wanted:
            theirs = os.path.join(os.path.dirname(stub), name)
            with open(os.path.join(trees[arch], "bin", name), "rb") as f1, open(theirs, "rb") as f2:
                first, second = f1.read(), f2.read()
            same = first == second
            diff = None if same else next((i for i, (x, y) in enumerate(zip(first, second)) if x != y), None)
            if check(same, "%s: %s built again differs from %s (sizes %d and %d, first difference at %s)"
                     % (arch, name, theirs, len(first), len(second), diff)):
                print("%s: %s, %d bytes, the same in both trees" % (arch, name, len(second)))
    return finish("the %s build byte for byte the same in a fresh tree" % ("deliverables" if a.all else "stubs"))


if __name__ == "__main__":
    sys.exit(main())
