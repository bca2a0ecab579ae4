#!/usr/bin/env python3
"""What the file-system helper DLL carries, read by pefile, for the PE32
and the x86_64 build: the four server entry points exported by name, the
type library (TYPELIB 1, the library identifier and the help string in
it), the registration script (REGISTRY 102, the file byte for byte),
strings 100 and 1001, and the version block (language 0x0409, Unicode).

  qvfilesys_resources.py --script qvfilesys_registry.txt DLL32 DLL64
"""
import argparse
import os
import sys
import uuid

import pefile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish  # noqa: E402
from pe_resources import exports, resource, string_resource, version_strings  # noqa: E402

LIBRARY_ID = uuid.UUID("AC1ECC53-3AA9-11D2-9889-204C4F4F5020")
VERSION = {"CompanyName": "Quiver", "FileDescription": "ActiveX File System Helper Object",
           "FileVersion": "1.0.24", "InternalName": "QVFILESYS", "OriginalFilename": "QVFILESYS.DLL",
           "ProductVersion": "1.0", "OLESelfRegister": ""}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--script", required=True)
    ap.add_argument("dlls", nargs=2)
    args = ap.parse_args()
    script = open(args.script, "rb").read()

    for path, machine in zip(args.dlls, (0x14C, 0x8664)):
        name = "%s (%s)" % (os.path.basename(path), "PE32" if machine == 0x14C else "x86_64")
        pe = pefile.PE(path)
        check(pe.FILE_HEADER.Machine == machine and pe.FILE_HEADER.Characteristics & 0x2000,
              name + ": a DLL for its processor", hex(pe.FILE_HEADER.Machine))
        names = exports(pe)
        check(names == ["DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer"],
              name + ": exports the four entry points by name", names)
        tlb = resource(pe, "TYPELIB", 1) or b""
        check(tlb[:4] == b"MSFT" and LIBRARY_ID.bytes_le in tlb and b"Quiver File System Helpers" in tlb,
              name + ": TYPELIB 1 is the QVFileSys library", tlb[:16])
        check(resource(pe, "REGISTRY", 102) == script, name + ": REGISTRY 102 is the registration script")
        strings = (string_resource(pe, 100), string_resource(pe, 1001))
        check(strings == ("QVFileSys", "Failed to create items collection"), name + ": strings 100 and 1001",
              strings)
        fixed = pe.VS_FIXEDFILEINFO[0]
        check((fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS) == (0x10000, 24, 0x10000),
              name + ": fixed file version 1.0.0.24, product version 1.0")
        table = version_strings(pe)
        check(table == VERSION, name + ": the version texts, OLESelfRegister among them", table)
        translations = [v for info in pe.FileInfo[0] if getattr(info, "Key", b"") == b"VarFileInfo"
                        for var in info.Var for v in var.entry.values()]
        check(translations == ["0x0409 0x04b0"], name + ": language 0x0409, Unicode", translations)
    return finish("all passed")


if __name__ == "__main__":
    sys.exit(main())
