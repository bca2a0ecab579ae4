#!/usr/bin/env python3
"""The built stub's file, read with pefile: a GUI program that imports only
DLLs the system always loads from its own folder, its resource section
last, and exactly the resources the self-extractor needs (icon group 137
and its images, dialogs 129, 130 and 138 with their controls, strings 103
and 109, manifest 1, nothing of type RT_RCDATA, which the builder adds).
With --tool, self-extractors built from a small folder with either stub
keep the manifest.

  stub_resources.py [--tool ORVANTA --work DIR] STUB.exe...
"""
import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from checks import check, finish, fresh, run  # noqa: E402

RT_ICON, RT_DIALOG, RT_STRING, RT_RCDATA, RT_GROUP_ICON, RT_MANIFEST = 3, 5, 6, 10, 14, 24
DS_SETFONT, DS_MODALFRAME, DS_CENTER = 0x40, 0x80, 0x800
WS_VISIBLE, WS_CAPTION, WS_SYSMENU, WS_POPUP = 0x10000000, 0x00C00000, 0x00080000, 0x80000000
BS_DEFPUSHBUTTON, ES_PASSWORD, ES_AUTOHSCROLL = 0x1, 0x20, 0x80
ATOMS = {0x80: 'Button', 0x81: 'Edit', 0x82: 'Static'}
# Static imports only of DLLs that the system always loads from its own
# folder (its KnownDLLs): the loader resolves static imports before the stub
# can restrict the search, and would look beside the program first for any
# other. The common controls are not among them; the stub loads them itself.
SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'shell32.dll', 'ole32.dll',
               'oleaut32.dll', 'msvcrt.dll', 'advapi32.dll'}

# id -> (title, width, height, {control id: (class, text, style bits wanted, style bits refused)})
FONT = (8, 'MS Sans Serif')
DIALOGS = {
    129: ('Varnock Tollan', 338, 94, {
        1001: ('Button', 'Unzip', BS_DEFPUSHBUTTON, 0),
        2: ('Button', 'Close', 0, BS_DEFPUSHBUTTON),
        1003: ('Edit', '', ES_AUTOHSCROLL, ES_PASSWORD),
        1004: ('Button', 'Browse', 0, BS_DEFPUSHBUTTON),
        1008: ('msctls_progress32', '', 0, 0),
        1009: ('Static', '', 0, 0),
    }),
    130: ('Enter Password', None, None, {
        1: ('Button', 'OK', BS_DEFPUSHBUTTON, 0),
        2: ('Button', 'Cancel', 0, BS_DEFPUSHBUTTON),
        1007: ('Edit', '', 0, ES_PASSWORD),
    }),
    138: ('Varnock TOLLAN - Unzipping', None, None, {
        1011: ('Static', 'Decrypt Progress:', 0, 0),
        1010: ('msctls_progress32', '', 0, 0),
        1012: ('Static', 'Unzip Progress:', 0, 0),
        1008: ('msctls_progress32', '', 0, 0),
    }),
}
# Labels without an id (-1), in any order.
LABELS = {
    129: ['To unzip all files to the specified folder, press the Unzip button.', 'Unzip to folder:'],
    130: ['This self-extracting EXE is encrypted. Enter a password to unzip:'],
    138: [],
}
STRINGS = {103: 'TOLLAN', 109: 'SELFEXTRACT'}


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def u16(self):
        v, = struct.unpack_from('<H', self.data, self.at)
        self.at += 2
        return v

    def u32(self):
        v, = struct.unpack_from('<I', self.data, self.at)
        self.at += 4
        return v

    def i16(self):
        v, = struct.unpack_from('<h', self.data, self.at)
        self.at += 2
        return v

    def wstr(self):
        end = self.at
        while self.data[end:end + 2] != b'\0\0':
            end += 2
        s = self.data[self.at:end].decode('utf-16-le')
        self.at = end + 2
        return s

    def sz_or_ord(self):
        if self.data[self.at:self.at + 2] == b'\xff\xff':
            self.at += 2
            return self.u16()
        return self.wstr()

    def align(self):
        self.at = (self.at + 3) & ~3


def parse_dialog(data):
    """A DLGTEMPLATE and its DLGITEMTEMPLATEs (the classic layout)."""
    r = Reader(data)
    d = {'style': r.u32(), 'exstyle': r.u32()}
    count = r.u16()
    d['x'], d['y'], d['cx'], d['cy'] = r.i16(), r.i16(), r.i16(), r.i16()
    d['menu'], d['class'], d['title'] = r.sz_or_ord(), r.sz_or_ord(), r.wstr()
    if d['style'] & DS_SETFONT:
        d['font'] = (r.u16(), r.wstr())
    d['items'] = []
    for _ in range(count):
        r.align()
        item = {'style': r.u32(), 'exstyle': r.u32()}
        item['x'], item['y'], item['cx'], item['cy'] = r.i16(), r.i16(), r.i16(), r.i16()
        item['id'] = r.u16()
        cls = r.sz_or_ord()
        item['class'] = ATOMS.get(cls, cls) if isinstance(cls, int) else cls
        text = r.sz_or_ord()
        item['text'] = text if isinstance(text, str) else '#%d' % text
        extra = r.u16()
        r.at += extra
        d['items'].append(item)
    return d


def leaves(pe, type_id):
    """{resource id: (language, bytes)} of one type."""
    out = {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != type_id:
            continue
        for e in t.directory.entries:
            for lang in e.directory.entries:
                rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                out[e.id if e.id is not None else str(e.name)] = (lang.id, pe.get_data(rva, size))
    return out


ASM1, ASM3 = '{urn:schemas-microsoft-com:asm.v1}', '{urn:schemas-microsoft-com:asm.v3}'
WS2005, WS2016 = '{http://schemas.microsoft.com/SMI/2005/WindowsSettings}', \
    '{http://schemas.microsoft.com/SMI/2016/WindowsSettings}'


def check_manifest(pe, expect):
    """Manifest 1: runs as invoker, with common controls 6 and per-monitor DPI awareness."""
    manifests = leaves(pe, RT_MANIFEST)
    expect(list(manifests) == [1], 'manifests %s' % list(manifests))
    if 1 not in manifests:
        return
    try:
        root = ET.fromstring(manifests[1][1])
    except ET.ParseError as e:
        expect(False, 'manifest is not XML: %s' % e)
        return
    levels = [e.get('level') for e in root.iter(ASM3 + 'requestedExecutionLevel')]
    expect(levels == ['asInvoker'], 'execution levels %s' % levels)
    comctl = [e.attrib for e in root.iter(ASM1 + 'assemblyIdentity')
              if e.get('name') == 'Microsoft.Windows.Common-Controls']
    expect(len(comctl) == 1 and comctl[0].get('version') == '6.0.0.0'
           and comctl[0].get('processorArchitecture') == '*', 'common controls dependency %s' % comctl)
    aware = [(e.text or '').strip() for e in root.iter(WS2005 + 'dpiAware')]
    awareness = [(e.text or '').strip() for e in root.iter(WS2016 + 'dpiAwareness')]
    expect(aware == ['true/PM'], 'dpiAware %s' % aware)
    expect(awareness == ['PerMonitorV2,PerMonitor'], 'dpiAwareness %s' % awareness)


def check_built(tool, work):
    """The builder rewrites the resource section: what it writes keeps the manifest."""
    src = fresh(os.path.join(work, 'folder'))
    with open(os.path.join(src, 'a.txt'), 'w') as f:
        f.write('a')
    for extra in ([], ['--x64']):
        exe = os.path.join(work, 'built%s.exe' % ''.join(extra))
        rc, out, err = run([tool, 'sfx', 'build', src, exe] + extra)
        if not check(rc == 0, 'orvanta sfx build %s' % extra, out + err):
            continue
        check_manifest(pefile.PE(exe), lambda ok, what: check(ok, '%s: %s' % (exe, what)))


def check_stub(path):
    def expect(ok, what):
        check(ok, '%s: %s' % (path, what))

    pe = pefile.PE(path)
    expect(pe.OPTIONAL_HEADER.Subsystem == 2, 'not a GUI program')
    names = [s.Name.rstrip(b'\0').decode() for s in pe.sections]
    expect(names and names[-1] == '.rsrc', 'resource section is not last: %s' % names)
    dlls = {i.dll.decode().lower() for i in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', [])}
    expect(dlls <= SYSTEM_DLLS, 'imports DLLs outside the allow-list: %s' % sorted(dlls - SYSTEM_DLLS))

    if not hasattr(pe, 'DIRECTORY_ENTRY_RESOURCE'):
        expect(False, 'no resources')
        return
    types = sorted(t.id for t in pe.DIRECTORY_ENTRY_RESOURCE.entries)
    expect(RT_RCDATA not in types, 'carries RT_RCDATA resources of its own')
    expect(types == [RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_MANIFEST], 'resource types %s' % types)
    check_manifest(pe, expect)

    groups = leaves(pe, RT_GROUP_ICON)
    icons = leaves(pe, RT_ICON)
    expect(list(groups) == [137], 'icon groups %s' % list(groups))
    expect(1 in icons, 'no icon 1')
    if 137 in groups:
        g = groups[137][1]
        count, = struct.unpack_from('<H', g, 4)
        ids = [struct.unpack_from('<H', g, 6 + 14 * k + 12)[0] for k in range(count)]
        sizes = [g[6 + 14 * k] for k in range(count)]
        expect(ids and ids[0] == 1, 'first group entry is not icon 1: %s' % ids)
        expect(sorted(ids) == sorted(icons), 'group names %s, images %s' % (ids, sorted(icons)))
        expect(sizes == [32], 'icon sizes %s' % sizes)

    dialogs = leaves(pe, RT_DIALOG)
    expect(sorted(dialogs) == sorted(DIALOGS), 'dialogs %s' % sorted(dialogs))
    for did, (title, cx, cy, controls) in DIALOGS.items():
        if did not in dialogs:
            continue
        d = parse_dialog(dialogs[did][1])
        where = 'dialog %d' % did
        expect(d['title'] == title, '%s title %r' % (where, d['title']))
        expect(d.get('font') == FONT, '%s font %r' % (where, d.get('font')))
        want = DS_SETFONT | DS_CENTER | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
        expect(d['style'] & want == want, '%s style %#x' % (where, d['style']))
        expect(not d['style'] & WS_VISIBLE, '%s is visible before it is set up' % where)
        if cx is not None:
            expect((d['cx'], d['cy']) == (cx, cy), '%s size %dx%d' % (where, d['cx'], d['cy']))
        by_id = {}
        for item in d['items']:
            if item['id'] != 0xFFFF:
                expect(item['id'] not in by_id, '%s: id %d twice' % (where, item['id']))
                by_id[item['id']] = item
        expect(set(by_id) == set(controls), '%s control ids %s' % (where, sorted(by_id)))
        for cid, (cls, text, need, refuse) in controls.items():
            item = by_id.get(cid)
            if not item:
                continue
            expect(item['class'].lower() == cls.lower(), '%s control %d class %r' % (where, cid, item['class']))
            expect(item['text'] == text, '%s control %d text %r' % (where, cid, item['text']))
            expect(item['style'] & need == need, '%s control %d lacks style %#x' % (where, cid, need))
            expect(not item['style'] & refuse, '%s control %d has style %#x' % (where, cid, refuse))
        labels = sorted(i['text'] for i in d['items'] if i['id'] == 0xFFFF)
        expect(labels == sorted(LABELS[did]), '%s labels %r' % (where, labels))

    # Strings live in blocks of 16: block n + 1 holds ids 16n to 16n + 15,
    # each a u16 length and that many UTF-16 units.
    blocks = leaves(pe, RT_STRING)
    found = {}
    for block, (_, data) in blocks.items():
        at = 0
        for k in range(16):
            n, = struct.unpack_from('<H', data, at)
            at += 2
            if n:
                found[(block - 1) * 16 + k] = data[at:at + 2 * n].decode('utf-16-le')
            at += 2 * n
    expect(found == STRINGS, 'strings %r' % found)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--tool')
    ap.add_argument('--work')
    ap.add_argument('stubs', nargs='+')
    args = ap.parse_args()
    for path in args.stubs:
        check_stub(path)
        print('checked', path)
    if args.tool:
        check_built(args.tool, args.work)
    return finish('the stubs carry what the self-extractor needs')


if __name__ == '__main__':
    sys.exit(main())
