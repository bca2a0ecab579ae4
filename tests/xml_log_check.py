#!/usr/bin/python3
"""Interop check of the saved activity logs: runs xml_log_sample, then reads
every log with a real XML parser (xml.etree.ElementTree) and checks that
the files are UTF-8 with CR LF line ends and that every logged string comes
back exactly.

    xml_log_check.py --tool xml_log_sample --work DIR
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

import checks

DECLARATION = b'<?xml version="1.0"  encoding="utf-8" standalone="yes" ?>\r\n'
DATE = re.compile(r'^\d\d/\d\d/\d\d\d\d \d\d:\d\d:\d\d$')

def expected_text(leaf):
    """What a reader must get back for a logged string."""
    if leaf['kind'] == 'data':
        return leaf['logged']
    # A message is split at CR and LF, empty pieces dropped, later lines
    # prefixed with two spaces; the lines come back joined by LF.
    pieces = [p for p in re.split(r'[\r\n]', leaf['logged']) if p]
    return '\n  '.join(pieces)


def leaves(elem, path):
    here = path + '/' + elem.tag if path else elem.tag
    children = list(elem)
    if not children:
        yield here, elem
    for c in children:
        yield from leaves(c, here)


def check(work, sample):
    name = sample['file']
    raw = open(os.path.join(work, name), 'rb').read()
    try:
        raw.decode('utf-8', errors='strict')
    except UnicodeDecodeError as e:
        checks.check(False, '%s: not valid UTF-8: %s' % (name, e))
    if not raw.startswith(DECLARATION):
        checks.check(False, '%s: does not start with the declaration and CR LF' % name)
    if re.search(rb'(?<!\r)\n', raw) or re.search(rb'\r(?!\n)', raw):
        checks.check(False, '%s: a line end is not CR LF' % name)
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as e:
        checks.check(False, '%s: not well-formed: %s' % (name, e))
        return
    if root.tag != 'VarnockLog':
        checks.check(False, '%s: root is %s' % (name, root.tag))
    if not sample['leaves']:
        if raw != DECLARATION + b'<VarnockLog>The log is empty</VarnockLog>':
            checks.check(False, '%s: empty log bytes differ: %r' % (name, raw))
        if root.text != 'The log is empty' or len(root):
            checks.check(False, '%s: empty log reads back as %r' % (name, root.text))
        return
    got = list(leaves(root, ''))
    want = sample['leaves']
    if len(got) != len(want):
        checks.check(False, '%s: %d leaf elements, expected %d' % (name, len(got), len(want)))
    for (path, elem), leaf in zip(got, want):
        text = elem.text or ''
        if path != leaf['path']:
            checks.check(False, '%s: element %s, expected %s' % (name, path, leaf['path']))
        if text != expected_text(leaf):
            checks.check(False, '%s: %s reads back as %r, logged %r' % (name, path, text, leaf['logged']))
        date = elem.get('date')
        if leaf['kind'] == 'message' and sample['dates']:
            if date is None or not DATE.match(date):
                checks.check(False, '%s: %s has date %r' % (name, path, date))
        elif date is not None:
            checks.check(False, '%s: %s has an unexpected date' % (name, path))
    print('%s: %d elements checked' % (name, len(got)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--tool', required=True)
    ap.add_argument('--work', required=True)
    a = ap.parse_args()
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    r = subprocess.run([a.tool, a.work])
    if r.returncode != 0:
        checks.check(False, 'xml_log_sample exited with %d' % r.returncode)
        return 1
    samples = json.load(open(os.path.join(a.work, 'manifest.json'), encoding='utf-8'))
    for s in samples:
        check(a.work, s)
    if len(samples) < 4:
        checks.check(False, 'only %d samples' % len(samples))
    return checks.finish('xml log: every sample read back')


if __name__ == '__main__':
    sys.exit(main())
