#!/usr/bin/python3
"""Round trip of the PE model on the fixture programs.

Our tool adds named RT_RCDATA resources to the PE32 and PE32+ fixture and
writes new programs. Then:
  interop  pefile (an outside reader) checks the result: RT_RCDATA is the
           last root id entry, the names stand in insertion order, each has
           one language entry (id 1) whose data equals the input, the other
           sections are where they were with the same bytes, the fixture's
           own resources are unchanged, the new resource section is padded
           with "X" to the section alignment;
  wine64   the PE32+ result runs under wine64 and reports what the loader
           sees of its resources;
  wine32   the same for the PE32 result under wine32 (one process); that
           result also gets a 24x24-first icon (--icon), and the loader
           must find the replaced group and icon and make a 24x24 icon.
"""
import os
import random
import subprocess
import sys

import pefile

from fixture_checks import check, main, make_ico, pe_add

RT_ICON, RT_DIALOG, RT_STRING, RT_ACCELERATOR, RT_RCDATA, RT_GROUP_ICON = 3, 5, 6, 9, 10, 14

def fnv1a(data):
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h


def make_inputs(work):
    rnd = random.Random(1234)
    payload = bytes(rnd.getrandbits(8) for _ in range(100_003))  # odd size: padding after it
    blob = bytes(range(256)) * 3 + b'\x00tail'
    with open(os.path.join(work, 'payload.zip'), 'wb') as f:
        f.write(payload)
    with open(os.path.join(work, 'caption.bin'), 'wb') as f:
        f.write(blob)
    return payload, blob


def build(tool, fixture, out, args):
    pe_add(tool, fixture, out, args)


def resource_map(pe):
    """{(type, name-or-id): [(lang, bytes), ...]} and the root id order."""
    out = {}
    root_ids = [e.id for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.name is None]
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        tkey = str(t.name) if t.name is not None else t.id
        for n in t.directory.entries:
            nkey = str(n.name) if n.name is not None else n.id
            langs = []
            for lang in n.directory.entries:
                d = lang.data.struct
                langs.append((lang.id, pe.get_data(d.OffsetToData, d.Size)))
            out[(tkey, nkey)] = langs
    return out, root_ids


def rcdata_names(pe):
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.name is None and t.id == RT_RCDATA:
            return [str(n.name) for n in t.directory.entries]
    return []


def check_output(label, fixture, out, expected):
    """expected: list of (name, bytes) in insertion order."""
    src = pefile.PE(fixture)
    dst = pefile.PE(out)
    check(not dst.get_warnings() or all('Suspicious' not in w for w in dst.get_warnings()),
          f'{label}: pefile warnings {dst.get_warnings()}')
    # Sections: same names, addresses and file positions; same bytes except .rsrc.
    check(len(src.sections) == len(dst.sections), f'{label}: section count')
    data_src = open(fixture, 'rb').read()
    data_dst = open(out, 'rb').read()
    sa = src.OPTIONAL_HEADER.SectionAlignment
    for s, d in zip(src.sections, dst.sections):
        name = s.Name.rstrip(b'\0').decode()
        check(s.Name == d.Name, f'{label}: section name {name}')
        check(s.VirtualAddress == d.VirtualAddress, f'{label}: {name} moved in memory')
        if s.PointerToRawData:
            check(s.PointerToRawData == d.PointerToRawData, f'{label}: {name} moved in the file')
        if name != '.rsrc':
            a, n = s.PointerToRawData, s.SizeOfRawData
            check(data_src[a:a + n] == data_dst[a:a + n], f'{label}: {name} bytes changed')
    rsrc = dst.sections[-1]
    check(rsrc.Name.rstrip(b'\0') == b'.rsrc', f'{label}: resource section is not last')
    check(rsrc.SizeOfRawData % sa == 0, f'{label}: resource section raw size not aligned')
    check(rsrc.Misc_VirtualSize % 8 == 0, f'{label}: resource VirtualSize not a multiple of 8')
    check(rsrc.PointerToRawData + rsrc.SizeOfRawData == len(data_dst), f'{label}: bytes after the resource section')
    tail = data_dst[rsrc.PointerToRawData + rsrc.Misc_VirtualSize:rsrc.PointerToRawData + rsrc.SizeOfRawData]
    check(set(tail) <= {0, ord('X')} and tail.endswith(b'X') or rsrc.Misc_VirtualSize == rsrc.SizeOfRawData,
          f'{label}: resource section not padded with X')
    check(dst.OPTIONAL_HEADER.SizeOfImage == rsrc.VirtualAddress + ((rsrc.Misc_VirtualSize + sa - 1) // sa) * sa,
          f'{label}: SizeOfImage')
    # Resources.
    src_map, _ = resource_map(src)
    dst_map, root_ids = resource_map(dst)
    for key, langs in src_map.items():
        check(dst_map.get(key) == langs, f'{label}: fixture resource {key} changed')
    if expected:
        check(root_ids and root_ids[-1] == RT_RCDATA, f'{label}: RT_RCDATA is not the last root id entry: {root_ids}')
        check(rcdata_names(dst) == [n for n, _ in expected],
              f'{label}: names {rcdata_names(dst)} not in insertion order {[n for n, _ in expected]}')
        for name, data in expected:
            langs = dst_map.get((RT_RCDATA, name))
            check(langs is not None and len(langs) == 1 and langs[0][0] == 1,
                  f'{label}: "{name}" should have one language entry with id 1, has {langs and [l for l, _ in langs]}')
            if langs:
                check(langs[0][1] == data, f'{label}: "{name}" data differs ({len(langs[0][1])} vs {len(data)} bytes)')


def interop(args, work):
    payload, blob = make_inputs(work)
    zip_path = os.path.join(work, 'payload.zip')
    cap_path = os.path.join(work, 'caption.bin')
    for bits in ('32', '64'):
        fixture = getattr(args, 'fixture' + bits)
        label = f'PE{"32+" if bits == "64" else "32"}'
        # Unchanged round trip.
        plain = os.path.join(work, f'plain{bits}.exe')
        build(args.tool, fixture, plain, [])
        check_output(label + ' unchanged', fixture, plain, [])
        # Three resources, the last one file-backed.
        out = os.path.join(work, f'added{bits}.exe')
        build(args.tool, fixture, out, ['--text', 'appTitle=Orvanta demo', '--bytes', f'progressCaption={cap_path}',
                                        '--file', f'zip={zip_path}'])
        expected = [('appTitle', b'Orvanta demo\0'), ('progressCaption', blob), ('zip', payload)]
        check_output(label, fixture, out, expected)
        # Insertion order is kept, not sorted; "zip" replaced by a later add after a remove.
        out2 = os.path.join(work, f'unsorted{bits}.exe')
        build(args.tool, out, out2, ['--remove', 'zip', '--text', 'noInterface=yes', '--text', 'autorun=setup.exe',
                                     '--file', f'zip={cap_path}'])
        check_output(label + ' unsorted', fixture, out2,
                     [('appTitle', b'Orvanta demo\0'), ('progressCaption', blob), ('noInterface', b'yes\0'),
                      ('autorun', b'setup.exe\0'), ('zip', blob)])
        # Our own reader agrees.
        r = subprocess.run([args.tool, 'pe', 'get', out2, 'autorun'], capture_output=True)
        check(r.returncode == 0 and r.stdout == b'setup.exe\0', f'{label}: orvanta pe get autorun gave {r.stdout!r}')


def wine(args, work, bits):
    payload, blob = make_inputs(work)
    fixture = getattr(args, 'fixture' + bits)
    out = os.path.join(work, f'added{bits}.exe')
    icon_args, icon_images = [], None
    if bits == '32':
        # The one PE32 process also checks icon replacement.
        icon_images = [d for _, d in make_ico(os.path.join(work, 'icon24.ico'), [24, 48, 16])]
        icon_args = ['--icon', os.path.join(work, 'icon24.ico')]
    build(args.tool, fixture, out, ['--text', 'appTitle=Orvanta demo', '--bytes',
                                    f'progressCaption={os.path.join(work, "caption.bin")}',
                                    '--file', f'zip={os.path.join(work, "payload.zip")}'] + icon_args)
    expected = [('appTitle', b'Orvanta demo\0'), ('progressCaption', blob), ('zip', payload)]
    report = os.path.join(work, f'report{bits}.txt')
    if os.path.exists(report):
        os.remove(report)
    r = subprocess.run([args.wine_run, bits, out, report], capture_output=True, text=True)
    check(r.returncode == 0, f'wine{bits}: the written program exited with {r.returncode}: {r.stdout} {r.stderr}')
    lines = open(report).read().splitlines() if os.path.exists(report) else []
    print('\n'.join(lines))
    src = pefile.PE(fixture)
    src_map, _ = resource_map(src)
    group_size = len(src_map[(RT_GROUP_ICON, 137)][0][1])
    icon_size = len(src_map[(RT_ICON, 1)][0][1])
    if icon_images:
        # The replaced group lists one entry per image; icon 1 is image 0,
        # which the loader makes at its own size; ExtractIconExA scales it
        # to the system's large and small sizes.
        group_size = 6 + 14 * len(icon_images)
        icon_size = len(icon_images[0])
        check('icon-size 137 24 24' in lines, f'wine{bits}: the replaced icon is not 24x24')
        check('extract-icon 32 32 16 16' in lines, f'wine{bits}: ExtractIconExA did not find the replaced icon')
    check(f'icon-group 137 {group_size} loaded' in lines, f'wine{bits}: icon group not found or not loadable')
    check(f'icon 1 {icon_size}' in lines, f'wine{bits}: icon 1')
    check(f'dialog 129 {len(src_map[(RT_DIALOG, 129)][0][1])}' in lines, f'wine{bits}: dialog 129')
    check('string 103 FIXTURE' in lines and 'string 109 PEMODEL' in lines, f'wine{bits}: string table')
    check(f'accelerators 200 {len(src_map[(RT_ACCELERATOR, 200)][0][1])}' in lines, f'wine{bits}: accelerators')
    walked = [l for l in lines if l.startswith('walk ')]
    want = [f'walk {n} {len(d)} {fnv1a(d):08x} lang 1' for n, d in expected]
    check(walked == want, f'wine{bits}: the loaded image holds {walked}, expected {want}')
    # The loader's FindResourceA binary-searches each directory level. The
    # model appends the RT_RCDATA type after the fixture's types, group icon
    # (14) among them, and keeps names in insertion order, as the
    # self-extractor format wants; so the search may miss the new entries
    # (our stub reads them through the model). What it does find must be
    # exactly the bytes we wrote.
    found = [l for l in lines if l.startswith('find ')]
    check(len(found) == len(expected), f'wine{bits}: FindResourceA was not asked for every name: {found}')
    for line, (n, d) in zip(found, expected):
        check(line in (f'find {n} missing', f'find {n} {len(d)} {fnv1a(d):08x}'),
              f'wine{bits}: FindResourceA found wrong bytes: {line}')
    check(lines[-1:] == ['end'], f'wine{bits}: report incomplete')


if __name__ == '__main__':
    sys.exit(main(['interop', 'wine64', 'wine32'],
                  lambda args, work, mode: interop(args, work) if mode == 'interop' else wine(args, work, mode[4:])))
