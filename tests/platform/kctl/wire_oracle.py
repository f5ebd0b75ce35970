#!/usr/bin/env python3
"""The kernel link's wire, read and written with python's struct module only,
so that a layout mistake the C++ ends share cannot pass unseen.

  wire_oracle.py kernel SOCKET   listen at SOCKET as the kernel extension:
      send three requests and a 100-byte tail in one datagram, then expect,
      in this order, three answers (option 4), option 5 with 60 (refused
      with EINVAL) and option 8 with "/opt/ex" (accepted), then the close.
      Each answer must be its request, byte for byte, but for result
      (1 + pid % 2) and networkAction (type * 10000 + path length).
  wire_oracle.py daemon SOCKET   connect to SOCKET as the daemon: print the
      fields of every record of the first datagram, one line each, and
      answer each as above.

Prints "listening" / "linked" when ready, "ok" at the end; exits 1 with a
message on the first mistake."""
import os
import socket
import stat
import struct
import sys

REQUEST = struct.Struct("<iiiihhii1024s16si")  # pid, 2 reserved, type, result, padding, protocol, cookie, path, peer, networkAction
HELLO = struct.Struct("<III")                  # magic, version, channel
OPTION = struct.Struct("<iI")                  # option, length
REPLY = struct.Struct("<ii")                   # rc, errno
WORD = struct.Struct("<i")
CRED = struct.Struct("<iII")                   # SO_PEERCRED: pid, uid, gid
MAGIC, VERSION = 0x4C54434B, 1
DATA, CONTROL = 0, 1
EINVAL = 22
assert REQUEST.size == 1072


def fail(message):
    sys.stderr.write("wire_oracle: " + message + "\n")
    sys.exit(1)


def sockaddr_in(port, address):
    # This platform's struct sockaddr_in: family, the port as a plain
    # number, the address in network order, 8 zero bytes.
    return struct.pack("<HH4s8x", socket.AF_INET, port, socket.inet_aton(address))


REQUESTS = [
    (4242, 0x11223344, -7, 100, 0x5A5A, -4370, 0, 1001, b"/usr/bin/true", bytes(range(16)), 7),
    (17, -1, 0, 103, -1, 1, 1, -5, b"x" * 1024, sockaddr_in(8080, "10.1.2.3"), 7),
    (99, 0, 0x7FFFFFFF, 102, 0, 0, 2, 0x7FFFFFFF, b"/tmp/e x\xc3\xa9", sockaddr_in(443, "192.168.0.1"), 0),
]


def path_length(path_field):
    return len(path_field.split(b"\0", 1)[0])


def answered(record):
    """The request with the daemon's answer filled in."""
    fields = list(REQUEST.unpack(record))
    pid, rtype = fields[0], fields[3]
    out = bytearray(record)
    struct.pack_into("<h", out, 16, 1 + pid % 2)
    struct.pack_into("<i", out, 1068, rtype * 10000 + path_length(fields[8]))
    return bytes(out)


def check_peer_is_root(conn):
    pid, uid, _ = CRED.unpack(conn.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, CRED.size))
    if uid != 0:
        fail("peer pid %d is uid %d, not root" % (pid, uid))


def recv(conn, what):
    data = conn.recv(70000)
    if not data:
        fail("connection closed while waiting for " + what)
    return data


def kernel(path):
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    try:
        if stat.S_ISSOCK(os.lstat(path).st_mode):
            os.unlink(path)
    except FileNotFoundError:
        pass
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    listener.bind(path)
    listener.listen(4)
    listener.settimeout(10)
    print("listening", flush=True)
    conns = {}
    for expected in (DATA, CONTROL):
        conn, _ = listener.accept()
        conn.settimeout(10)
        check_peer_is_root(conn)
        hello = recv(conn, "a hello")
        if len(hello) != HELLO.size:
            fail("hello of %d bytes" % len(hello))
        magic, version, channel = HELLO.unpack(hello)
        if (magic, version, channel) != (MAGIC, VERSION, expected):
            fail("hello %#x %d %d, wanted channel %d" % (magic, version, channel, expected))
        conn.send(HELLO.pack(MAGIC, VERSION, channel))
        conns[channel] = conn
    data, control = conns[DATA], conns[CONTROL]

    requests = {}
    for fields in REQUESTS:
        record = REQUEST.pack(*fields)
        requests[fields[7]] = record
    data.send(b"".join(requests.values()) + b"\xee" * 100)

    for _ in REQUESTS:
        message = recv(control, "an answer")
        option, length = OPTION.unpack_from(message)
        if (option, length, len(message)) != (4, 1076, 8 + 1076):
            fail("answer: option %d, length %d, %d bytes" % (option, length, len(message)))
        if WORD.unpack_from(message, 8)[0] != 1:
            fail("answer word %d" % WORD.unpack_from(message, 8)[0])
        record = message[12:]
        cookie = REQUEST.unpack(record)[7]
        if cookie not in requests:
            fail("answer for cookie %d, which was never asked" % cookie)
        want = answered(requests.pop(cookie))
        if record != want:
            diff = [i for i in range(len(want)) if record[i] != want[i]]
            fail("answer for cookie %d differs at offsets %s" % (cookie, diff[:16]))
        control.send(REPLY.pack(0, 0))

    for option, payload, reply in ((5, WORD.pack(60), (-1, EINVAL)), (8, b"/opt/ex", (0, 0))):
        message = recv(control, "option %d" % option)
        if message != OPTION.pack(option, len(payload)) + payload:
            fail("option %d came as %s" % (option, message.hex()))
        control.send(REPLY.pack(*reply))

    if data.recv(16) != b"" or control.recv(16) != b"":
        fail("more came before the close")
    os.unlink(path)
    print("ok", flush=True)


def daemon(path):
    conns = []
    for channel in (DATA, CONTROL):
        conn = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        conn.settimeout(10)
        conn.connect(path)
        check_peer_is_root(conn)
        conn.send(HELLO.pack(MAGIC, VERSION, channel))
        if recv(conn, "the hello") != HELLO.pack(MAGIC, VERSION, channel):
            fail("the kernel side's hello is not ours")
        conns.append(conn)
    data, control = conns
    print("linked", flush=True)
    datagram = recv(data, "requests")
    for offset in range(0, len(datagram) - REQUEST.size + 1, REQUEST.size):
        record = datagram[offset:offset + REQUEST.size]
        f = REQUEST.unpack(record)
        print(" ".join(str(v) for v in f[:8]), f[8].hex(), f[9].hex(), f[10], flush=True)
        control.send(OPTION.pack(4, 1076) + WORD.pack(1) + answered(record))
        if REPLY.unpack(recv(control, "a reply")) != (0, 0):
            fail("the answer for cookie %d was refused" % f[7])
    print("ok", flush=True)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("kernel", "daemon"):
        fail("usage: wire_oracle.py kernel|daemon SOCKET")
    (kernel if sys.argv[1] == "kernel" else daemon)(sys.argv[2])


if __name__ == "__main__":
    main()
