#!/usr/bin/env python3
"""Prints the kernel rule list of the ipfw stand-in's rules.bin, read with
struct alone (not the project's decoder): one line per record,
"NUMBER ACTION PORTS", ACTION "allow" (opcode 44), "deny" (45) or the last
opcode's number, PORTS the destination-port pairs (opcode 10) as "lo" or
"lo-hi" joined by commas, "-" when there are none.

usage: kernel_list.py RULES_BIN
"""
import struct
import sys

HEADER = 64


def main():
    data = open(sys.argv[1], "rb").read()
    off = 0
    while off + HEADER <= len(data):
        cmd_len, num = struct.unpack_from("<HH", data, off + 18)
        body = data[off + HEADER: off + HEADER + 4 * cmd_len]
        if len(body) != 4 * cmd_len:
            sys.exit("truncated record at %d" % off)
        pos, last, ports = 0, None, []
        while pos < len(body):
            op, flen = body[pos], body[pos + 1] & 0x3F
            if flen == 0:
                sys.exit("zero-length instruction in rule %d" % num)
            if op == 10:
                for p in range(pos + 4, pos + 4 * flen, 4):
                    lo, hi = struct.unpack_from("<HH", body, p)
                    ports.append(str(lo) if lo == hi else "%d-%d" % (lo, hi))
            last = op
            pos += 4 * flen
        action = {44: "allow", 45: "deny"}.get(last, str(last))
        print(num, action, ",".join(ports) or "-")
        off += HEADER + 4 * cmd_len
    if off != len(data):
        sys.exit("%d stray bytes" % (len(data) - off))


main()
