#!/usr/bin/python3
"""Icon replacement on the fixture programs, judged by outside readers.

`orvanta pe add IN OUT ... --icon X.ico` gives the fixture the first image
of X.ico. The first icon group then lists one entry per image of the file,
every entry describing image 0 and naming icon id 1, and icon 1 holds image
0's bytes; every other resource stays. Modes:
  interop  wrestool (icoutils) extracts the group (type 14) and the icon
           (type 3) of PE32 and PE32+ results; their bytes must be the ones
           prescribed. Icon files that cannot be used (empty, no images,
           missing, cut short, pointing past their end) leave the
           fixture's icon, with a warning and exit status 0.
  wine64   the PE32+ result with a 48x48-first icon starts under wine64, and
           LoadImageA and ExtractIconExA find an icon of the expected size.
"""
import os
import shutil
import struct
import subprocess
import sys

from fixture_checks import check, main, make_ico, pe_add


def expected_group(images):
    """GRPICONDIR with one entry per image, each describing image 0, icon id 1."""
    size, data = images[0]
    entry = struct.pack('<BBBBHHIH', size & 0xFF, size & 0xFF, 0, 0, 1, 32, len(data), 1)
    return struct.pack('<HHH', 0, 1, len(images)) + entry * len(images)


def build(tool, fixture, out, args, want_warning=False):
    err = pe_add(tool, fixture, out, args)
    warned = 'warning: icon not replaced' in err
    check(warned == want_warning, f'{os.path.basename(out)}: warning {"missing" if want_warning else "unexpected"}: '
                                  f'{err.strip()!r}')
    check(os.path.exists(out), f'{os.path.basename(out)} was not written')


def wrestool(exe, work, rtype, name=None):
    """{(name, language): bytes} of every raw resource of one type."""
    dest = os.path.join(work, f'wres-{os.path.basename(exe)}-{rtype}')
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    cmd = ['wrestool', '-x', '-R', f'--type={rtype}', '-o', dest, exe]
    if name is not None:
        cmd.insert(4, f'--name={name}')
    r = subprocess.run(cmd, capture_output=True, text=True)
    check(r.returncode == 0, f'wrestool {" ".join(cmd[1:-1])} {os.path.basename(exe)}: {r.stderr.strip()}')
    out = {}
    prefix = f'{os.path.basename(exe)}_{rtype}_'
    for fn in sorted(os.listdir(dest)):
        # wrestool names raw files <exe>_<type>_<name>[_<language>][.ico]
        check(fn.startswith(prefix), f'wrestool wrote an unexpected file {fn}')
        key = fn[len(prefix):].split('.')[0]
        with open(os.path.join(dest, fn), 'rb') as f:
            out[key] = f.read()
    return out


def icon_resources(exe, work):
    return wrestool(exe, work, 14), wrestool(exe, work, 3)


def interop(args, work):
    three = make_ico(os.path.join(work, 'three.ico'), [16, 32, 48])
    one = make_ico(os.path.join(work, 'one.ico'), [32], seed=0x77)
    for bits in ('32', '64'):
        fixture = getattr(args, 'fixture' + bits)
        label = f'PE{"32+" if bits == "64" else "32"}'
        groups0, icons0 = icon_resources(fixture, work)
        check(len(groups0) == 1 and len(icons0) >= 2, f'{label}: fixture icons {list(groups0)} {list(icons0)}')
        gname = next(iter(groups0))
        first_icon = min(icons0, key=lambda k: int(k.split('_')[0]))
        for ico, images in (('three.ico', three), ('one.ico', one)):
            out = os.path.join(work, f'{ico[:-4]}{bits}.exe')
            build(args.tool, fixture, out, ['--text', 'appTitle=Icon test', '--icon', os.path.join(work, ico)])
            groups, icons = icon_resources(out, work)
            want = expected_group(images)
            check(list(groups) == [gname], f'{label} {ico}: group ids {list(groups)}')
            got = groups.get(gname, b'')
            check(got == want, f'{label} {ico}: group data {got.hex()} expected {want.hex()}')
            check(len(got) == 6 + 14 * len(images), f'{label} {ico}: group size {len(got)}')
            check(list(icons) == list(icons0), f'{label} {ico}: icon ids {list(icons)} expected {list(icons0)}')
            check(icons.get(first_icon) == images[0][1],
                  f'{label} {ico}: icon {first_icon} is not image 0 ({len(icons.get(first_icon, b""))} bytes, '
                  f'expected {len(images[0][1])})')
            for key, data in icons0.items():
                if key != first_icon:
                    check(icons.get(key) == data, f'{label} {ico}: icon {key} changed')
            # wrestool's own reading of the group: an .ico whose directory
            # repeats image 0 once per entry.
            dest = os.path.join(work, f'group-{ico[:-4]}{bits}.ico')
            r = subprocess.run(['wrestool', '-x', '--type=14', '-o', dest, out], capture_output=True, text=True)
            listing = subprocess.run(['icotool', '-l', dest], capture_output=True, text=True).stdout.split('\n')
            size = images[0][0]
            lines = [l for l in listing if l.strip()]
            check(r.returncode == 0 and len(lines) == len(images) and
                  all(f'--width={size} --height={size}' in l for l in lines),
                  f'{label} {ico}: icotool -l of the group: {lines}')
        # Files that cannot be used: the fixture's icon stays, the rest is written.
        bad = {}
        good = open(os.path.join(work, 'three.ico'), 'rb').read()
        bad['empty'] = b''
        bad['count0'] = struct.pack('<HHH', 0, 1, 0)
        bad['truncated'] = good[:len(good) - 1]
        bad['entries-past-end'] = good[:4] + struct.pack('<H', 200) + good[6:]
        bad['offset-past-end'] = good[:6 + 12] + struct.pack('<I', len(good) + 1) + good[6 + 16:]
        bad['size-past-end'] = good[:6 + 8] + struct.pack('<I', len(good)) + good[6 + 12:]
        cases = [(name, os.path.join(work, f'bad-{name}.ico')) for name in bad]
        for name, path in cases:
            with open(path, 'wb') as f:
                f.write(bad[name])
        cases.append(('missing', os.path.join(work, 'no-such.ico')))
        for name, path in cases:
            out = os.path.join(work, f'bad-{name}{bits}.exe')
            build(args.tool, fixture, out, ['--text', 'appTitle=Icon test', '--icon', path], want_warning=True)
            groups, icons = icon_resources(out, work)
            check(groups == groups0 and icons == icons0, f'{label} {name}: the fixture icon changed')
            r = subprocess.run([args.tool, 'pe', 'get', out, 'appTitle'], capture_output=True)
            check(r.stdout == b'Icon test\0', f'{label} {name}: the other additions were lost')


def wine64(args, work):
    images = make_ico(os.path.join(work, 'big-first.ico'), [48, 32, 16])
    out = os.path.join(work, 'icon64.exe')
    build(args.tool, args.fixture64, out, ['--text', 'appTitle=Icon test',
                                           '--icon', os.path.join(work, 'big-first.ico')])
    report = os.path.join(work, 'report64.txt')
    r = subprocess.run([args.wine_run, '64', out, report], capture_output=True, text=True)
    check(r.returncode == 0, f'wine64: the written program exited with {r.returncode}: {r.stdout} {r.stderr}')
    lines = open(report).read().splitlines() if os.path.exists(report) else []
    print('\n'.join(lines))
    check(f'icon-group 137 {6 + 14 * len(images)} loaded' in lines, 'wine64: icon group not found or not loadable')
    check(f'icon 1 {len(images[0][1])}' in lines, 'wine64: icon 1 is not image 0')
    # At its own size the icon is the file's first image, 48x48.
    check('icon-size 137 48 48' in lines, 'wine64: LoadImageA did not make a 48x48 icon')
    # ExtractIconExA scales to the system's large and small icon sizes.
    check('extract-icon 32 32 16 16' in lines, 'wine64: ExtractIconExA did not find the icon')
    check(lines[-1:] == ['end'], 'wine64: report incomplete')


if __name__ == '__main__':
    sys.exit(main(['interop', 'wine64'],
                  lambda args, work, mode: interop(args, work) if mode == 'interop' else wine64(args, work)))
