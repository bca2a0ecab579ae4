#!/usr/bin/env python3
"""What the builder DLL carries, read by pefile: a PE32 DLL exporting the
four server entry points by name, its type library (TYPELIB 1), the
registration script (REGISTRY 102, the script file byte for byte), the
16 x 16 4-bit toolbox picture (BITMAP 101), string 100 "Tollan", the
version block and the PE32 stub as VARNOCK 218 (the stub file byte for
byte).

  tollan_resources.py --dll Tollan.dll --stub sfxstub.exe --script tollan_registry.txt
"""
import argparse
import os
import struct
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish  # noqa: E402
from pe_resources import exports, resource, string_resource, version_strings  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dll", required=True)
    ap.add_argument("--stub", required=True)
    ap.add_argument("--script", required=True)
    args = ap.parse_args()

    pe = pefile.PE(args.dll)
    check(pe.FILE_HEADER.Machine == 0x14C, "PE32 for i386", hex(pe.FILE_HEADER.Machine))
    check(pe.FILE_HEADER.Characteristics & 0x2000, "a DLL")
    names = exports(pe)
    check(names == ["DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"],
          "exports the four entry points by name", names)

    tlb = resource(pe, "TYPELIB", 1)
    check(tlb is not None and tlb[:4] == b"MSFT", "TYPELIB 1 is a type library")
    script = open(args.script, "rb").read()
    check(resource(pe, "REGISTRY", 102) == script, "REGISTRY 102 is the registration script")
    stub = open(args.stub, "rb").read()
    carried = resource(pe, "VARNOCK", 218)
    check(carried == stub, "VARNOCK 218 is the PE32 stub",
          "%s vs %d bytes" % (None if carried is None else len(carried), len(stub)))
    check(carried is not None and pefile.PE(data=carried).FILE_HEADER.Machine == 0x14C, "the stub is PE32")

    bmp = resource(pe, 2, 101)  # RT_BITMAP
    if bmp is None:
        check(False, "BITMAP 101")
    else:
        size, width, height, planes, bits = struct.unpack("<IiiHH", bmp[:16])
        check((size, width, abs(height), bits) == (40, 16, 16, 4), "BITMAP 101 is 16 x 16 with 4 bits per pixel",
              (size, width, height, bits))

    check(string_resource(pe, 100) == "Tollan", "string 100 is \"Tollan\"", string_resource(pe, 100))

    fixed = pe.VS_FIXEDFILEINFO[0]
    check((fixed.FileVersionMS, fixed.FileVersionLS) == (0x00010001, 0x00000001), "file version 1.1.0.1")
    check((fixed.ProductVersionMS, fixed.ProductVersionLS) == (0x00010001, 0x00000001), "product version 1.1.0.1")
    table = version_strings(pe)
    check(table.get("FileDescription") == "Tollan Module", "FileDescription", table.get("FileDescription"))
    check(table.get("OriginalFilename") == "Tollan.DLL", "OriginalFilename", table.get("OriginalFilename"))
    check("OLESelfRegister" in table, "the OLESelfRegister entry", sorted(table))

    return finish("all passed")


if __name__ == "__main__":
    sys.exit(main())
