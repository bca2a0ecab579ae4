"""What the tests that run `orvanta pe` on the fixture programs share:
collected checks, test icons, running the tool, and the command line."""
import argparse
import os
import shutil
import struct
import subprocess
import sys

from checks import check, finish

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), 'fixture'))
from make_icon import image as dib_image  # noqa: E402  (a 32-bit DIB drawn from a formula)


def make_ico(path, sizes, seed=0x10):
    """A .ico file with one 32-bit image per size, in the order given.
    Returns the list of (size, image bytes)."""
    images = [(s, dib_image(s, (seed + i * 0x31) & 0xFF)) for i, s in enumerate(sizes)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack('<BBBBHHII', size & 0xFF, size & 0xFF, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    with open(path, 'wb') as f:
        f.write(out)
    return images


def pe_add(tool, fixture, out, args):
    """Runs `orvanta pe add`; checks that it succeeded. Returns its stderr."""
    r = subprocess.run([tool, 'pe', 'add', fixture, out] + args, capture_output=True, text=True)
    check(r.returncode == 0, f'orvanta pe add {os.path.basename(out)} exited {r.returncode}: {r.stderr.strip()}')
    return r.stderr


def main(modes, run):
    """Parses the common command line, makes a fresh work folder, calls
    run(args, work, mode) and prints the summary; returns the exit status."""
    ap = argparse.ArgumentParser()
    ap.add_argument('--tool', required=True)
    ap.add_argument('--fixture32', required=True)
    ap.add_argument('--fixture64', required=True)
    ap.add_argument('--wine-run', required=True)
    ap.add_argument('--work', required=True)
    ap.add_argument('mode', choices=modes)
    args = ap.parse_args()
    for f in (args.fixture32, args.fixture64, args.tool):
        if not os.path.exists(f):
            print(f'missing {f}: build all three trees first (scripts/build)')
            return 1
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    run(args, args.work, args.mode)
    return finish('all checks passed')
