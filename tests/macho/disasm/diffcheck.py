#!/usr/bin/env python3
"""The differential check: our records against an oracle's, on the same raw
bytes. Fails on any difference no exception entry names, and on any entry in
scope that named nothing.

diffcheck.py --check NAME --stream TOOL --family FAMILY --file BYTES --oracle ORACLE
             --exceptions LIST [--bits 32|64] [--addr HEX] [--slots N] [--agree ORACLE]

An exception list has one entry a line, fields separated by tabs:
    CHECKS  ORACLE  OUR_PATTERN  THEIR_PATTERN  REASON
CHECKS is a comma list of check names (or *), ORACLE an oracle name (or *);
the patterns are Python regular expressions searched in the normalised texts
(an invalid decoding reads as "(bad)" and a different length adds " [len N]").
"""

import argparse
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import normalise  # noqa: E402
import oracles  # noqa: E402


class Entry:
    def __init__(self, line_no, fields):
        self.line_no = line_no
        self.checks = fields[0].split(",")
        self.oracle = fields[1]
        self.ours = re.compile(fields[2])
        self.theirs = re.compile(fields[3])
        self.reason = fields[4]
        self.used = 0

    def applies(self, check, oracle):
        return ("*" in self.checks or check in self.checks) and self.oracle in ("*", oracle)


def load_exceptions(path):
    entries = []
    for n, line in enumerate(open(path, encoding="utf-8"), 1):
        line = line.rstrip("\n")
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split("\t")
        if len(fields) != 5:
            sys.exit("%s:%d: want 5 tab-separated fields, got %d" % (path, n, len(fields)))
        entries.append(Entry(n, fields))
    return entries


def shown(text, length, other_length):
    t = "(bad)" if text is None else text
    return t + (" [len %d]" % length if length != other_length else "")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--check", required=True)
    ap.add_argument("--stream", help="disasm_stream (raw byte files)")
    ap.add_argument("--wardmacho", help="wardmacho: FILE is a Mach-O object, compared with llvm-objdump --macho -d")
    ap.add_argument("--family", required=True)
    ap.add_argument("--file", required=True)
    ap.add_argument("--oracle", required=True, choices=sorted(oracles.ORACLES))
    ap.add_argument("--agree", choices=sorted(oracles.ORACLES))
    ap.add_argument("--exceptions", required=True)
    ap.add_argument("--bits", type=int, default=32)
    ap.add_argument("--addr", type=lambda s: int(s, 16), default=0)
    ap.add_argument("--slots", type=int, default=0)
    ap.add_argument("--show", type=int, default=60)
    a = ap.parse_args()

    norm = normalise.FAMILIES[a.family]
    if a.wardmacho:
        theirs_list = oracles.llvm_macho(a.file)
        end = theirs_list[-1][0] + theirs_list[-1][1] if theirs_list else 0
        mine = {r[0]: r for r in oracles.with_lengths(oracles.ours_macho(a.wardmacho, a.file), end)}
        theirs = {r[0]: r for r in theirs_list}
    else:
        mine = {r[0]: r for r in oracles.ours(a.stream, a.family, a.file, a.bits, a.addr, a.slots)}
        theirs = {r[0]: r for r in oracles.ORACLES[a.oracle](a.file, a.bits, a.addr)}
    second = {r[0]: r for r in oracles.ORACLES[a.agree](a.file, a.bits, a.addr)} if a.agree else None
    entries = [e for e in load_exceptions(a.exceptions) if e.applies(a.check, a.oracle)]

    if a.slots:
        offsets = sorted(mine)
        missing = [o for o in offsets if o not in theirs]
        if missing:
            sys.exit("%s: the oracle does not start an instruction at slot offsets %s" %
                     (a.check, ", ".join("%x" % o for o in missing[:10])))
    else:
        offsets = sorted(set(mine) | set(theirs))

    compared = 0
    unexplained = []
    for off in offsets:
        m = mine.get(off)
        t = theirs.get(off)
        if a.slots and second is not None:
            s = second.get(off)
            # only where both oracles decode the same valid instruction
            if t[2] is None or s is None or s[2] is None or s[1] != t[1]:
                continue
        if a.slots and t[2] is None:
            continue
        compared += 1
        if m is None or t is None:
            ours_text = "(no instruction here)" if m is None else shown(norm(m[2], a.oracle), m[1], -1)
            their_text = "(no instruction here)" if t is None else shown(norm(t[2], a.oracle), t[1], -1)
        else:
            mn = norm(m[2], a.oracle)
            tn = norm(t[2], a.oracle)
            if m[1] == t[1] and tn is not None and normalise.same_text(mn, tn):
                continue
            ours_text = shown(mn, m[1], t[1])
            their_text = shown(tn, t[1], m[1])
        hit = None
        for e in entries:
            if e.ours.search(ours_text) and e.theirs.search(their_text):
                hit = e
                break
        if hit is not None:
            hit.used += 1
        else:
            unexplained.append((off, ours_text, their_text))

    unused = [e for e in entries if e.used == 0]
    print("%s: %d instructions compared with %s, %d differences unexplained, %d exception entries unused" %
          (a.check, compared, a.oracle, len(unexplained), len(unused)))
    for off, o, t in unexplained[:a.show]:
        print("  %08x  ours: %-45s %s: %s" % (off, o, a.oracle, t))
    for e in unused:
        print("  unused exception entry at line %d: %s" % (e.line_no, e.reason))
    return 1 if unexplained or unused else 0


if __name__ == "__main__":
    sys.exit(main())
