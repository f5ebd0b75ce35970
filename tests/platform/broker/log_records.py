#!/usr/bin/env python3
"""Prints each record of hvod's JSON log as
kind|sender|type|level|component|message hex|detail hex, decoding the
message the way the system's bytes went in (UTF-8, lone bytes as
surrogate escapes)."""
import json
import sys

for line in open(sys.argv[1], encoding="ascii"):
    r = json.loads(line)
    msg = r["message"].encode("utf-8", "surrogateescape").hex()
    det = r["detail"].encode("utf-8", "surrogateescape").hex()
    print("|".join(str(x) for x in (r["kind"], r["sender"], r["type"], r["level"], r["component"], msg, det)))
