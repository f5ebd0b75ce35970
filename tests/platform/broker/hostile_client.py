#!/usr/bin/env python3
"""Plays module 102 on hvod's socket with socket and struct alone, sends one
hostile frame and reports whether the hub closed the connection.

    hostile_client.py CASE    prints "closed" or "open"
"""
import socket
import struct
import sys

SOCKET = "/usr/local/Vantrel/hvo/var/hvodsocket"
HELLO, COMMAND, REPLY, CONTROL = 1, 2, 3, 8
HELLO_OK = 1


def frame(kind, body=b""):
    payload = bytes([kind]) + body
    return struct.pack("<I", len(payload)) + payload


def header(cmd=1, w1=1, w2=-1, dest=3, flag=0, w3=-1):
    return struct.pack("<iIiiBi", cmd, w1, w2, dest, flag, w3)


def text(s):
    return struct.pack("<I", len(s)) + b"".join(struct.pack("<I", ord(c)) for c in s)


CASES = {
    # length field alone claims 4 GiB
    "huge-length": struct.pack("<I", 0xFFFFFFFF) + bytes([COMMAND]),
    # 100 bytes announced, 10 sent, then the write side closes
    "truncated": struct.pack("<I", 100) + bytes([COMMAND]) + b"\0" * 9,
    "unknown-kind": frame(99, b"abc"),
    # a text of 2^30 characters inside a frame of a few bytes
    "text-count": frame(COMMAND, header() + b"\0\0" + struct.pack("<I", 1 << 30) + b"\0\0\0\0"),
    "zero-length": struct.pack("<I", 0),
    # a well-formed reply to nothing: dropped, the connection stays
    "unrouted-reply": frame(REPLY, header(cmd=60001, w1=4242, w2=3, dest=102, w3=9999) + b"\1\1\0" + text("")),
}


def flood(s):
    """4,097 commands to itself that it never answers: the hub keeps 4,096."""
    s.sendall(b"".join(frame(COMMAND, header(cmd=60000, w1=i + 1, dest=102) + b"\0\0" + text(""))
                       for i in range(4097)))
    s.settimeout(1.0)
    got = 0
    want = 4097 * (4 + 1 + 21 + 2 + 4)
    try:
        while got < want:
            data = s.recv(65536)
            if not data:
                print("closed")
                return 0
            got += len(data)
    except socket.timeout:
        pass
    print("open" if got == want else "got %d of %d bytes" % (got, want))
    return 0


def main():
    case = sys.argv[1]
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(SOCKET)
    s.sendall(frame(HELLO, struct.pack("<iB", 102, 0)))
    answer = s.recv(64)
    if len(answer) < 6 or answer[4] != CONTROL or answer[5] != HELLO_OK:
        print("not registered")
        return 1
    if case == "flood":
        return flood(s)
    s.sendall(CASES[case])
    if case == "truncated":
        s.shutdown(socket.SHUT_WR)
    s.settimeout(1.5)
    try:
        data = s.recv(64)
        print("closed" if data == b"" else "open")
    except socket.timeout:
        print("open")
    except ConnectionResetError:
        print("closed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
