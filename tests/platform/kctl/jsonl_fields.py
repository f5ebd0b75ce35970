#!/usr/bin/env python3
"""Reads JSON lines (kextsim's log, or what `kextsim send` prints) with
python's own json module and prints each as `key=value` words: nested keys
joined by dots, lists by commas, and every string as the hex of its bytes
(kextsim writes each byte as the character of the same value), except
"bytes", which is hex already. A line that is not JSON ends the run with
status 1."""
import json
import sys


def flatten(prefix, value, out):
    if isinstance(value, dict):
        for key, inner in value.items():
            flatten(prefix + "." + key if prefix else key, inner, out)
    elif isinstance(value, list):
        out.append(prefix + "=" + ",".join(str(v) for v in value))
    elif isinstance(value, str) and prefix.split(".")[-1] == "bytes":
        out.append(prefix + "=" + value)
    elif isinstance(value, str):
        out.append(prefix + "=" + value.encode("latin-1").hex())
    else:
        out.append(prefix + "=" + str(value))


def main():
    with open(sys.argv[1], "rb") as f:
        for number, raw in enumerate(f, 1):
            try:
                record = json.loads(raw.decode("ascii"))
            except (UnicodeDecodeError, ValueError) as e:
                sys.stderr.write("line %d is not ASCII JSON: %s\n" % (number, e))
                return 1
            words = []
            flatten("", record, words)
            print(" ".join(words))
    return 0


if __name__ == "__main__":
    sys.exit(main())
