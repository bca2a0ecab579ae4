#!/usr/bin/python3
"""An archive over 4 GiB with an entry over 4 GiB: `orvanta zip` stores a
sparse 4.3 GiB file and a small file behind it (so both the entry's size
and the second entry's offset need ZIP64 fields); `unzip -t` and `7z t`
accept the archive; `orvanta unzip` extracts both byte-exact with its peak
memory at most 32 MiB. Uses the optimised tool of build/release (the
sanitizers' own memory would say nothing about ours). Reported as skipped
(77) where the disk has no room for the archive and its extraction.

  large_archive.py --tool ORVANTA --work DIR
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

from checks import check, finish, fresh, run

HUGE = (4 << 30) + (300 << 20) + 5
PEAK_LIMIT_KIB = 32 << 10


def peak_kib(args, cwd):
    """(exit code, peak resident KiB, output) of a command run under time -v."""
    r = subprocess.run(['/usr/bin/time', '-v'] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                       timeout=900)
    out = r.stdout.decode('utf-8', 'replace')
    m = re.search(r'Maximum resident set size \(kbytes\): (\d+)', out)
    return r.returncode, int(m.group(1)) if m else None, out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--tool', required=True)
    ap.add_argument('--work', required=True)
    a = ap.parse_args()
    if not os.path.isfile(a.tool):
        print('skipped: %s is not built (scripts/build builds it)' % a.tool)
        return 77
    os.makedirs(a.work, exist_ok=True)
    if shutil.disk_usage(a.work).free < 3 * HUGE:
        print('skipped: the disk has less than %d GiB free' % (3 * HUGE >> 30))
        return 77
    work = fresh(a.work)
    try:
        src = fresh(os.path.join(work, 'src'))
        with open(os.path.join(src, 'huge.bin'), 'wb') as f:
            f.truncate(HUGE - 5)  # sparse: reading it costs no disk
            f.seek(HUGE - 5)
            f.write(b'tail.')
        with open(os.path.join(src, 'after.txt'), 'wb') as f:
            f.write(b'the entry behind the 4 GiB mark\n')
        big = os.path.join(work, 'big.zip')
        rc, out, err = run([a.tool, 'zip', big, 'huge.bin', 'after.txt', '-l', '0'], cwd=src, timeout=900)
        if not check(rc == 0 and os.path.getsize(big) > 1 << 32, 'orvanta zip writes an archive over 4 GiB',
                     out + err):
            return finish('')
        rc, out, err = run(['unzip', '-t', big], timeout=900)
        check(rc == 0 and 'No errors detected' in out, 'unzip -t accepts it', out[-800:] + err[-800:])
        rc, out, err = run(['7z', 't', big], timeout=900)
        check(rc == 0 and 'Everything is Ok' in out, '7z t accepts it', out[-800:] + err[-800:])
        os.remove(os.path.join(src, 'huge.bin'))  # room for the extraction

        dest = fresh(os.path.join(work, 'out'))
        rc, peak, out = peak_kib([a.tool, 'unzip', big, '-d', dest], work)
        check(rc == 0, 'orvanta unzip extracts it', out[-1500:])
        check(peak is not None and peak <= PEAK_LIMIT_KIB, 'orvanta unzip peaks at %s KiB (at most %d)' %
              (peak, PEAK_LIMIT_KIB))
        huge = os.path.join(dest, 'huge.bin')
        ok = os.path.isfile(huge) and os.path.getsize(huge) == HUGE
        if ok:
            with open(huge, 'rb') as f:
                zero = bytes(1 << 20)
                left = HUGE - 5
                while ok and left:
                    chunk = f.read(min(left, 1 << 20))
                    ok = chunk == zero[:len(chunk)] and len(chunk) > 0
                    left -= len(chunk)
                ok = ok and f.read() == b'tail.'
        check(ok, 'huge.bin comes back byte-exact')
        with open(os.path.join(dest, 'after.txt'), 'rb') as f:
            check(f.read() == b'the entry behind the 4 GiB mark\n', 'after.txt comes back byte-exact')
        print('orvanta unzip of %d bytes: peak %s KiB' % (HUGE, peak))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return finish('an archive over 4 GiB: written, tested by unzip and 7z, extracted in bounded memory')


if __name__ == '__main__':
    sys.exit(main())
