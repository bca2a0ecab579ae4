#!/usr/bin/python3
"""Two builds of the self-extractor stub give the same bytes: the stub is
built again, PE32 and x86_64, in fresh trees configured as scripts/build
configures the Windows trees, and compared byte for byte with the stubs of
those trees (which every self-extractor and Tollan.dll carry).

  reproducible_stub.py --source DIR --work DIR --stub32 FILE --stub64 FILE
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, fresh, run  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    for opt in ("--source", "--work", "--stub32", "--stub64"):
        ap.add_argument(opt, required=True)
    a = ap.parse_args()
    for arch, built in (("i686", a.stub32), ("x86_64", a.stub64)):
        tree = fresh(os.path.join(a.work, arch))
        toolchain = os.path.join(a.source, "cmake", "toolchain-%s-mingw.cmake" % arch)
        rc, out, err = run(["cmake", "-S", a.source, "-B", tree, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                            "-DCMAKE_TOOLCHAIN_FILE=" + toolchain], timeout=600)
        if not check(rc == 0, "%s: configure" % arch, out[-1500:] + err[-1500:]):
            continue
        rc, out, err = run(["cmake", "--build", tree, "--target", "sfxstub", "-j2"], timeout=1200)
        if not check(rc == 0, "%s: build the stub" % arch, out[-1500:] + err[-1500:]):
            continue
        again = os.path.join(tree, "bin", "sfxstub.exe")
        with open(again, "rb") as f1, open(built, "rb") as f2:
            first, second = f1.read(), f2.read()
        diff = next((i for i in range(min(len(first), len(second))) if first[i] != second[i]), None)
        if check(first == second, "%s: the stub built again differs from %s (sizes %d and %d, first difference at %s)"
                 % (arch, built, len(first), len(second), diff)):
            print("%s: %d bytes, the same in both trees" % (arch, len(second)))
    return finish("the stub builds byte for byte the same in a fresh tree")


if __name__ == "__main__":
    sys.exit(main())
