#!/usr/bin/python3
"""The installer under Wine, in as few 32-bit processes as it takes: a
silent install (/S) puts every file into Program Files and the Start menu
entry in place and registers both COM DLLs, so a 32-bit VBScript creates
both ProgIDs; a silent uninstall removes the files, the entry and the
ProgID keys. Where i386 programs go through qemu-i386 (minutes each) it is
reported as skipped unless ORVANTA_WINE32_SLOW=1.

  installer_wine.py --release SCRIPT --win32 DIR --win64 DIR --tool FILE --wine-run RUN --prefix DIR --work DIR
"""
import argparse
import glob
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, fresh, i386_emulated, run  # noqa: E402

INSTALLED = ["orvanta.exe", "orvantarun.exe", "orvantahelp.chm", "ads.html", "sfxstub.exe", "Tollan.dll",
             "qvFileSys.dll", "README-windows.txt", "uninstall.exe", "x64/orvanta.exe", "icons/ov.ico"]
PROGIDS = ["Tollan.Tollan", "QVFileSys.Enumerator"]


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    ap = argparse.ArgumentParser()
    for opt in ("--release", "--win32", "--win64", "--tool", "--wine-run", "--prefix", "--work"):
        ap.add_argument(opt, required=True)
    a = ap.parse_args()
    if i386_emulated() and os.environ.get("ORVANTA_WINE32_SLOW") != "1":
        print("skipped: i386 programs run through qemu-i386 on this machine (ORVANTA_WINE32_SLOW=1 runs it anyway)")
        return 77
    work = fresh(a.work)
    rc, out, err = run([a.release, "--out", work, "--win32", a.win32, "--win64", a.win64, "--tool", a.tool],
                       timeout=300)
    setups = glob.glob(os.path.join(work, "orvanta-*-setup.exe"))
    if not check(rc == 0 and len(setups) == 1, "scripts/release writes the installer", out + err):
        return finish("")
    folder = os.path.join(a.prefix, "drive_c", "Program Files (x86)", "Orvanta")
    link = os.path.join(a.prefix, "drive_c", "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                        "Orvanta", "Orvanta.lnk")
    wine = lambda bits, *args: run([a.wine_run, bits] + list(args), timeout=1200)  # noqa: E731

    def progids():
        """The ProgIDs whose keys exist, in either registry view."""
        found = []
        for progid in PROGIDS:
            if any(wine("64", "reg.exe", "query", "HKCR\\" + progid, view)[0] == 0 for view in ("/reg:32", "/reg:64")):
                found.append(progid)
        return found

    started = time.time()
    rc, out, err = wine("32", win(setups[0]), "/S")
    check(rc == 0, "the silent install ends with 0", out + err)
    missing = [f for f in INSTALLED if not os.path.isfile(os.path.join(folder, f))]
    check(not missing, "installed: everything but %s" % missing)
    check(os.path.isfile(link), "the Start menu entry " + link)
    check(progids() == PROGIDS, "both ProgIDs registered")

    script = os.path.join(work, "create.vbs")
    with open(script, "w", newline="\r\n") as f:
        f.write('Set t = CreateObject("Tollan.Tollan")\nSet e = CreateObject("QVFileSys.Enumerator")\n'
                'WScript.Echo "created " & TypeName(t) & " " & TypeName(e)\n')
    rc, out, err = wine("32", "cscript.exe", "//nologo", win(script))
    check(rc == 0 and out.strip().startswith("created "), "a VBScript creates both ProgIDs", out + err)

    # The uninstaller runs a copy of itself from the temporary folder and
    # returns at once; the copy removes the folder.
    rc, out, err = wine("32", "C:\\Program Files (x86)\\Orvanta\\uninstall.exe", "/S")
    check(rc == 0, "the silent uninstall starts", out + err)
    deadline = time.time() + 900
    while os.path.exists(folder) and time.time() < deadline:
        time.sleep(5)
    left = [os.path.relpath(os.path.join(d, f), folder) for d, _, fs in os.walk(folder) for f in fs]
    check(not os.path.exists(folder), "the install folder is gone (left: %s)" % left)
    check(not os.path.exists(os.path.dirname(link)), "the Start menu folder is gone")
    check(progids() == [], "no ProgID key left")
    print("install, script and uninstall took %.0f s" % (time.time() - started))
    return finish("installer: silent install, ProgIDs created, silent uninstall")


if __name__ == "__main__":
    sys.exit(main())
