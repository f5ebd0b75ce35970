#!/usr/bin/env python3
"""Writes the fuzz targets' seed inputs that come from the tests.

usage: seeds.py SOURCE_DIR OUT_DIR

OUT_DIR/<target>/ receives the Mach-O fixtures (fuzz_macho; fuzz_printers
gets them and a small object of each disassembler's family under a few
option sets) and the ipfw rule lists (fuzz_ipfw) from the tests' fixture
generators, and the golden texts written as string literals in the tests:
archive texts for the rule file, the payloads (once per payload type, as the
target's first byte picks it) and the profile (four big-endian bytes a
character), XML and property lists. The targets add their own seeds
(WARD_FUZZ_SEEDS).
"""
import hashlib
import os
import random
import re
import shutil
import subprocess
import struct
import sys
import tempfile

MAX_SEED = 1 << 20  # the sparse 512 MiB fixture and the like stay out
PAYLOAD_TYPES = 25  # kTypes in PayloadFuzz.cpp

# A run of adjacent string literals (L/u8 prefixes), with blanks and
# comments between them: the compiler joins them into one text.
LITERAL = r'(?:L|u8)?"(?:[^"\\\n]|\\.)*"'
RUN = re.compile(r'%s(?:(?:\s|//[^\n]*\n)*%s)*' % (LITERAL, LITERAL))
ONE = re.compile(LITERAL)
ESCAPE = re.compile(r'\\(x[0-9a-fA-F]+|[0-7]{1,3}|u[0-9a-fA-F]{4}|U[0-9a-fA-F]{8}|.)', re.S)
SIMPLE = {'n': 10, 't': 9, 'r': 13, '0': 0, 'a': 7, 'b': 8, 'f': 12, 'v': 11}


def decode(literal):
    """The bytes of one literal: narrow escapes are bytes, wide ones
    characters (written as UTF-8)."""
    wide = literal.startswith('L')
    body = literal[literal.index('"') + 1:-1]
    out = bytearray()
    pos = 0
    for m in ESCAPE.finditer(body):
        out += body[pos:m.start()].encode('utf-8')
        e = m.group(1)
        universal = e[0] in 'uU'  # a character in any literal
        if e[0] == 'x' or universal:
            value = int(e[1:], 16)
        elif e[0].isdigit() and e not in SIMPLE:
            value = int(e, 8)
        else:
            value = SIMPLE.get(e, ord(e))
        if wide or universal or value > 0xFF:
            out += chr(value).encode('utf-8', 'surrogatepass')
        else:
            out.append(value)
        pos = m.end()
    out += body[pos:].encode('utf-8')
    return bytes(out)


def literals(source_dir):
    for root, _, files in os.walk(os.path.join(source_dir, 'tests')):
        for name in sorted(files):
            if not name.endswith(('.cpp', '.h')):
                continue
            text = open(os.path.join(root, name), encoding='utf-8', errors='replace').read()
            for run in RUN.finditer(text):
                yield b''.join(decode(m.group(0)) for m in ONE.finditer(run.group(0)))


def put(out_dir, target, data):
    folder = os.path.join(out_dir, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'golden-' + hashlib.sha1(data).hexdigest()[:16]), 'wb') as f:
        f.write(data)


def fixtures(source_dir, out_dir, script, target):
    folder = os.path.join(out_dir, target)
    os.makedirs(folder, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([sys.executable, os.path.join(source_dir, 'tests', 'fixtures', script), tmp],
                       check=True, stdout=subprocess.DEVNULL)
        for name in sorted(os.listdir(tmp)):
            path = os.path.join(tmp, name)
            if os.path.isfile(path) and not os.path.islink(path) and os.path.getsize(path) <= MAX_SEED:
                shutil.copyfile(path, os.path.join(folder, name))


# Option sets for the printers' target (its input's first four bytes, one bit
# per option in PrintersFuzz.cpp's order: a S h l r T M R I H t i d o c v V X
# f W Z, then -s __TEXT __text).
PRINTER_OPTIONS = {
    'all': 0x3fffff,
    'tvV': (1 << 10) | (1 << 15) | (1 << 16),
    'ov': (1 << 13) | (1 << 15),
    'hlv': (1 << 2) | (1 << 3) | (1 << 15),
    'rIHd': (1 << 4) | (1 << 8) | (1 << 9) | (1 << 12),
}


# The processor families with a disassembler of their own, by CPU type.
DISASM_CPUS = {'m68k': 6, 'i386': 7, 'hppa': 11, 'm88k': 13, 'sparc': 14, 'i860': 15, 'ppc': 18}


def text_object(cputype, big_endian, code):
    """A 32-bit Mach-O object with one section, __TEXT,__text, holding `code`."""
    e = '>' if big_endian else '<'
    header_size, segment_size, section_size = 28, 56, 68
    offset = header_size + segment_size + section_size
    header = struct.pack(e + '7I', 0xfeedface, cputype, 0, 1, 1, segment_size + section_size, 0)
    segment = struct.pack(e + '2I16s8I', 1, segment_size + section_size, b'', 0, len(code), offset, len(code),
                          7, 7, 1, 0)
    section = struct.pack(e + '16s16s9I', b'__text', b'__TEXT', 0, len(code), offset, 2, 0, 0,
                          0x80000400, 0, 0)
    return header + segment + section + code


def printers(out_dir):
    """The Mach-O fixtures and a small object of each disassembler's family,
    under each option set of PRINTER_OPTIONS."""
    source = os.path.join(out_dir, 'fuzz_macho')
    folder = os.path.join(out_dir, 'fuzz_printers')
    os.makedirs(folder, exist_ok=True)
    files = {name: open(os.path.join(source, name), 'rb').read() for name in sorted(os.listdir(source))}
    rng = random.Random(7)
    code = bytes(rng.randrange(256) for _ in range(512))
    for family, cputype in DISASM_CPUS.items():
        files['text_' + family] = text_object(cputype, family != 'i386', code)
    for name, data in files.items():
        for label, mask in PRINTER_OPTIONS.items():
            with open(os.path.join(folder, label + '-' + name), 'wb') as f:
                f.write(mask.to_bytes(4, 'little') + data)


def main():
    if len(sys.argv) != 3:
        sys.exit('usage: seeds.py SOURCE_DIR OUT_DIR')
    source_dir, out_dir = sys.argv[1:]
    fixtures(source_dir, out_dir, 'macho_fixtures.py', 'fuzz_macho')
    fixtures(source_dir, out_dir, 'ipfw_records.py', 'fuzz_ipfw')
    printers(out_dir)
    for text in set(literals(source_dir)):
        if b'serialization::archive' in text:
            put(out_dir, 'fuzz_rulefile', text)
            put(out_dir, 'fuzz_profile', text.decode('utf-8', 'replace').encode('utf-32-be'))
            for selector in range(PAYLOAD_TYPES):
                put(out_dir, 'fuzz_payload', bytes([selector]) + text)
        if b'<plist' in text or b'<dict' in text:
            put(out_dir, 'fuzz_plist', text)
        if text.lstrip().startswith(b'<'):
            put(out_dir, 'fuzz_xml', text)


if __name__ == '__main__':
    main()
