#!/usr/bin/python3
"""Self-extractors signed with osslsigncode after `orvanta sfx build`.

A self-signed code-signing certificate and its key are made with openssl in
the work folder for each run.

interop (native tool), for a PE32 and an encrypted x86_64 self-extractor:
  - the signed file verifies against that certificate; a copy with one
    payload byte changed does not;
  - signing only appended the certificate table after the last section and
    touched the checksum and the certificate-table directory entry: every
    other byte of the unsigned file is still in place, so the resources
    (settings and archive) are the same bytes at the same offsets;
  - `orvanta sfx inspect --json` and `sfx extract` read the signed file as
    they read the unsigned one.
wine64: a signed x86_64 self-extractor in silent mode with a preset folder
  runs under wine64, exits with 1 and leaves the archive's files there.

    sfx_signing.py --tool orvanta --work DIR interop
    sfx_signing.py --tool orvanta --work DIR --wine-run RUN wine64
"""
import argparse
import json
import os
import shutil
import subprocess
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, run  # noqa: E402
from sfx_interop import make_zip, rcdata_entries, same_tree  # noqa: E402

SECURITY_DIR = 4  # index of the certificate table in the data directories


def make_cert(work):
    cert, key = os.path.join(work, "cert.pem"), os.path.join(work, "key.pem")
    rc, _, err = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                      "-days", "2", "-subj", "/CN=Orvanta test signing",
                      "-addext", "keyUsage=critical,digitalSignature",
                      "-addext", "extendedKeyUsage=codeSigning"])
    check(rc == 0, "openssl makes the test certificate", err)
    return cert, key


def sign(cert, key, exe, signed):
    rc, out, err = run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Orvanta test",
                        "-h", "sha256", "-in", exe, "-out", signed])
    return check(rc == 0 and os.path.exists(signed), "%s: osslsigncode signs it" % exe, out + err)


def verifies(cert, exe):
    rc, out, err = run(["osslsigncode", "verify", "-CAfile", cert, "-in", exe])
    return rc == 0 and "Signature verification: ok" in out, out + err


def header_fields(path):
    """File offsets of the checksum and the certificate-table entry, the
    entry itself and the end of the last section's raw data."""
    pe = pefile.PE(path, fast_load=True)
    checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    d = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY_DIR]
    entry = d.get_file_offset()
    end = max(s.PointerToRawData + s.SizeOfRawData for s in pe.sections)
    pe.close()
    return checksum, entry, (d.VirtualAddress, d.Size), end


def check_signed_layout(name, exe, signed):
    """Signing appended and patched, nothing more."""
    before, after = open(exe, "rb").read(), open(signed, "rb").read()
    checksum, entry, old_dir, end = header_fields(exe)
    _, _, (cert_at, cert_size), _ = header_fields(signed)
    check(old_dir == (0, 0), "%s: the built file has no certificate table" % name)
    check(end == len(before), "%s: nothing follows the last section in the built file" % name)
    check(cert_at >= len(before) and cert_at + cert_size == len(after),
          "%s: the certificate table (%d bytes at %d) follows the built file's end (%d)"
          % (name, cert_size, cert_at, len(before)))
    patched = set(range(checksum, checksum + 4)) | set(range(entry, entry + 8))
    moved = [i for i in range(len(before)) if i not in patched and before[i] != after[i]]
    check(not moved, "%s: only the checksum and the certificate entry changed (first other: %s)"
          % (name, moved[:4]))
    check(rcdata_entries(exe)[0] == rcdata_entries(signed)[0], "%s: the same resource entries" % name)


def interop(a, work, zip_path, unzipped):
    tool = os.path.abspath(a.tool)
    cert, key = make_cert(work)
    for name, extra, password in (("pe32", ["--title", "Signed"], None),
                                  ("x64", ["--x64", "--password", "pw"], "pw")):
        exe, signed = os.path.join(work, name + ".exe"), os.path.join(work, name + "-signed.exe")
        rc, _, err = run([tool, "sfx", "build", zip_path, exe] + extra)
        if not check(rc == 0, "%s: build" % name, err) or not sign(cert, key, exe, signed):
            continue
        ok, said = verifies(cert, signed)
        check(ok, "%s: the signed file verifies" % name, said[-1500:])
        ok, _ = verifies(cert, exe)
        check(not ok, "%s: the unsigned file does not verify" % name)

        # One byte of the archive changed after signing breaks the signature.
        data = bytearray(open(signed, "rb").read())
        zip_at = data.find(open(zip_path, "rb").read()[:64]) if password is None else -1
        at = zip_at + 40 if zip_at >= 0 else len(data) // 2
        data[at] ^= 0x55
        tampered = os.path.join(work, name + "-tampered.exe")
        open(tampered, "wb").write(bytes(data))
        ok, _ = verifies(cert, tampered)
        check(not ok, "%s: a changed byte fails verification" % name)

        check_signed_layout(name, exe, signed)

        infos = []
        for f in (exe, signed):
            rc, out, err = run([tool, "sfx", "inspect", "--json", f])
            if check(rc == 0, "%s: inspect %s" % (name, os.path.basename(f)), err):
                info = json.loads(out)
                del info["file"]
                infos.append(info)
        check(len(infos) == 2 and infos[0] == infos[1], "%s: inspect reads the signed file as the unsigned" % name)

        out_dir = os.path.join(work, name + "-out")
        rc, _, err = run([tool, "sfx", "extract", signed, "-d", out_dir] + (["-p", password] if password else []))
        check(rc == 0 and same_tree(out_dir, unzipped), "%s: extract of the signed file gives what unzip gives" % name,
              err)


def wine64(a, work, zip_path, unzipped):
    tool = os.path.abspath(a.tool)
    cert, key = make_cert(work)
    target = os.path.join(work, "silent-out")
    exe, signed = os.path.join(work, "silent64.exe"), os.path.join(work, "silent64-signed.exe")
    rc, _, err = run([tool, "sfx", "build", zip_path, exe, "--x64", "--silent",
                      "--unzip-dir", "Z:" + os.path.abspath(target).replace("/", "\\")])
    if not check(rc == 0, "build of the silent x64 self-extractor", err) or not sign(cert, key, exe, signed):
        return
    check(verifies(cert, signed)[0], "the signed silent self-extractor verifies")
    rc, out, err = run([os.path.abspath(a.wine_run), "64", signed], timeout=300)
    check(rc == 1, "the signed silent self-extractor exits with 1 under wine64 (got %s)" % rc, out + err)
    check(os.path.isdir(target) and same_tree(target, unzipped), "it unpacks the archive into its preset folder")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--wine-run")
    ap.add_argument("tier", choices=["interop", "wine64"])
    a = ap.parse_args()
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    zip_path = make_zip(a.work)
    unzipped = os.path.join(a.work, "unzipped")
    subprocess.run(["unzip", "-q", zip_path, "-d", unzipped], check=True)
    (interop if a.tier == "interop" else wine64)(a, a.work, zip_path, unzipped)
    return finish("sfx signing: all checks passed")


if __name__ == "__main__":
    sys.exit(main())
