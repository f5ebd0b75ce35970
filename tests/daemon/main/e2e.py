#!/usr/bin/env python3
"""appwardd end to end: hvod, kextsim (or a kernel side written here with
python's struct module), a reporter serving module 102 and the daemon, as
processes in a private namespace.

  e2e.py SCENARIO BUILD    as root: lays the scenario's fake programs over /
                           with tests/ns-run.sh --overlay and runs it there
Scenarios: %s. Exit 0 when every check held; 1 with the first failed check."""
import hashlib
import os
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "../../platform/kctl"))
import wardsys  # noqa: E402
from wardsys import Failure, PID_FILE, PROFILE, System, TRACE_FILE, VAR, check, check_true, wait_for  # noqa: E402
import wire_oracle  # noqa: E402

ABORT = "AppProtectionController::main -  Create PID file returned false. Aborting start"
NO_KEXTLOAD = "Could not load kext. Maybe its already loaded"
ENABLED = "Application Protection has been enabled"
DISABLED = "Application Protection has been disabled"

FAKE_KEXTLOAD = "#!/bin/sh\nexit 0\n"
FAKE_CODESIGN = "#!/bin/sh\nprintf '%s\\0' \"$@\" >> /tmp/codesign.args\nprintf '\\n' >> /tmp/codesign.args\nexit 1\n"


def launch(pid, cookie, path):
    return {"pid": pid, "type": 100, "cookie": cookie, "path": path, "networkAction": 7}


def connection(pid, cookie, type_=103):
    return {"pid": pid, "type": type_, "cookie": cookie, "protocol": 1, "port": 80, "addr": "10.1.2.3",
            "networkAction": 7}


def lockf_fails(path):
    import fcntl
    with open(path, "a") as f:
        try:
            fcntl.lockf(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            return True
    return False


# ---------------------------------------------------------------------------
# Scenarios

def startup(s):
    """The PID file, the module, a second daemon and a foreign lock."""
    s.trace_flags(appControlFlow=1)
    s.start_hub()
    s.start_kextsim()
    first = s.start_daemon()
    check_true(s.registered(first.pid), "hvoctl modules lists module 3 with the daemon's pid")
    check(wardsys.read(PID_FILE), str(first.pid), "the PID file holds the pid, no newline")
    check_true(NO_KEXTLOAD in s.trace(), "without /sbin/kextload the load failure is traced")
    check_true(lockf_fails(PID_FILE), "lockf on the PID file fails while the daemon runs")

    started = time.monotonic()
    second = s.start_daemon(wait_registered=False)
    check(second.wait(5), 0, "a second daemon exits 0")
    check_true(time.monotonic() - started < 2, "within 2 s")
    check_true(ABORT in s.trace(), "it traces the abort line")
    check(wardsys.read(PID_FILE), str(first.pid), "the PID file keeps the first pid")
    check(sum("registered module 3 " in r["message"] for r in s.hub_records()), 1, "module 3 registers once")
    check(s.terminate(first), 0, "the first daemon exits 0 on SIGTERM")
    check(os.path.exists(PID_FILE), False, "its PID file is gone")

    # A lock held by a process that is no daemon at all.
    import fcntl
    with open(PID_FILE, "w") as f:
        f.write("777")
    with open(PID_FILE, "a") as holder:
        fcntl.lockf(holder, fcntl.LOCK_EX)
        third = s.start_daemon(wait_registered=False)
        check(third.wait(5), 0, "under python's lock the daemon exits 0")
    check(s.trace().count(ABORT), 2, "and traces the abort line")
    check(wardsys.read(PID_FILE), "777", "the locked file is left as it was")


def tables(s):
    """The launch and connection tables through kextsim, then SIGTERM with
    protection on."""
    fx = s.fixtures("/tmp/fx")
    apps = "/tmp/apps"
    os.makedirs(apps)
    for name in ("R", "D", "U", "M"):
        shutil.copy2(os.path.join(fx, name), apps)
    shutil.copy2("/bin/true", "/tmp/truecopy")
    os.makedirs("/usr/local/VantrelX")
    shutil.copy2(os.path.join(fx, "U"), "/usr/local/VantrelX/u")
    s.profile(apps + "/R:1:3", apps + "/D:0:2", apps + "/M:1:1")
    s.pref("Exclusions", "array", "", "/opt/ex")  # the empty entry matches nothing
    s.trace_flags(appControlFlow=1)
    s.start_hub()
    s.start_kextsim()
    daemon = s.start_daemon()
    check(s.pref_get("AllowAppleSignedApps"), "false", "without codesign AllowAppleSignedApps reads false")
    check(NO_KEXTLOAD in s.trace(), False, "a kextload that exits 0 leaves no load failure traced")

    rows = [
        ("/usr/bin/true (special folder)", "/usr/bin/true", 2, (1, 1)),
        ("/tmp copy of /bin/true (not Mach-O)", "/tmp/truecopy", 2, (1, 1)),
        ("/tmp script (not Mach-O)", fx + "/script", 2, (1, 1)),
        ("R (allowed, network 3)", apps + "/R", 2, (1, 3)),
        ("D (denied, network 2)", apps + "/D", 2, (2, 7)),
        ("unknown U, action 1", apps + "/U", 1, (1, 1)),
        ("unknown U, action 2", apps + "/U", 2, (2, 2)),
        ("unknown U, action 0", apps + "/U", 0, (2, 2)),
        ("unknown U, action 7", apps + "/U", 7, (2, 2)),
        ("U under /usr/local/VantrelX (byte prefix)", "/usr/local/VantrelX/u", 2, (1, 1)),
        ("M (allowed, network 1)", apps + "/M", 2, (1, 1)),
        ("/nonexistent/x (exception)", "/nonexistent/x", 2, (1, 7)),
    ]
    for cookie, (name, path, action, expected) in enumerate(rows, 1):
        s.pref("UnknownAppAction", "int", action)
        check(s.send([launch(1000 + cookie, cookie, path)]), {cookie: expected}, "launch " + name)
    check(s.send([connection(1000 + len(rows), 50)]), {50: (1, 1)}, "the exception left its pid uncached")

    s.pref("UnknownAppAction", "int", 3)
    check(s.send([launch(4343, 60, apps + "/U")], wait=2), {}, "launch U under action 3: no answer in 2 s")

    # M changes on disk and the kernel says so.
    shutil.copy2(os.path.join(fx, "M2"), apps + "/M")
    check_true(s.send_none([{"pid": 1, "type": 101, "cookie": 61, "path": apps + "/M"}]), "a 101 gets no answer")
    s.pref("UnknownAppAction", "int", 2)
    check(s.send([launch(62, 62, apps + "/M")]), {62: (2, 4)}, "launch M after it changed")

    check(s.send([connection(777, 70)]), {70: (1, 1)}, "connection of an uncached pid")
    check_true(s.send_none([{"pid": 4242, "type": 105, "cookie": 71, "path": apps + "/D"}]), "a 105 gets no answer")
    check(s.send([connection(4242, 72)]), {72: (2, 2)}, "connection after 105 (4242, D)")
    s.pref("UnknownAppAction", "int", 3)
    check(s.send([connection(4343, 73)]), {73: (2, 4)}, "connection of U asked under action 3")
    s.send_none([{"pid": 4444, "type": 105, "cookie": 74, "path": "/opt/ex/tool"}])
    check(s.send([connection(4444, 75)]), {75: (1, 1)}, "connection of an excluded program")
    check_true(s.send_none([connection(4242, 76, 106)], 1), "a 106 gets no answer")
    check_true(s.send_none([connection(4242, 77, 104)], 1), "a 104 gets no answer")
    check_true("handleNetworkAccessRequest - %s/D (pid 4242, type 102)" % apps in s.trace(),
               "the 106 is decided as a 102")

    before = len(s.kext_events())
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")
    after = [e for e in s.kext_events()[before:] if e.get("event") in ("option", "hangup")]
    seen = [(e["event"], e.get("option"), e.get("record", {}).get("cookie"), e.get("record", {}).get("result"),
             e.get("record", {}).get("networkAction")) for e in after if e.get("option") not in (6, 9)]  # periodic ping and purge
    check(seen, [("option", 2, None, None, None), ("option", 4, 60, 1, 4), ("hangup", None, None, None, None)],
          "kextsim sees option 2, the pending cookie allowed with network 4, the hang-up")
    logged = s.log_messages(DISABLED)
    check([(r["type"], r["level"]) for r in logged], [(1, 3)], "hvod logs the disable once, type 1 level 3")
    md5 = hashlib.md5(open(fx + "/M2", "rb").read()).hexdigest()
    text = subprocess.run(["iconv", "-f", "UCS-4BE", "-t", "UTF-8", PROFILE], stdout=subprocess.PIPE,
                          check=True).stdout.decode()
    check_true(md5 in text, "the profile holds M's new md5sum")
    check(os.path.exists(PID_FILE), False, "no PID file")
    check_true("handleAppExecutionRequest - %s/R: code 1, allow, networkAction 3" % apps in s.trace(),
               "decisions are traced at appControlFlow 1")


def options(s):
    """What kextsim sees at enable, and after preference changes."""
    s.pref("Exclusions", "array", "/opt/ex", "", "/tmp/e x")
    s.start_hub()
    s.start_kextsim()
    s.start_daemon()
    opts = s.options()
    first = [(o["option"], o["length"], bytes(o["bytes"], "ascii")) for o in opts]
    hook = [i for i, o in enumerate(opts) if o["option"] == 1][0]
    before_hook = [(o, l, b) for o, l, b in first[:hook] if o in (7, 8)]
    check(before_hook, [(7, 0, b""), (8, 7, b"/opt/ex".hex().encode()), (8, 8, b"/tmp/e x".hex().encode())],
          "7 (length 0), 8 /opt/ex, 8 '/tmp/e x', before 1")
    check([o for o in s.options(8) if o["length"] == 0], [], "no empty exclusion")
    t1 = opts[hook]["time"]
    time.sleep(1.2)
    early = [o for o in s.options() if o["time"] < t1 + 1]
    check([o["bytes"] for o in early if o["option"] == 5], ["3c000000"], "one option 5 of 60 in the first second")
    check(len([o for o in early if o["option"] == 6]), 1, "one ping in the first second")

    s.pref("PromptTimeout", "int", 90)
    wait_for("option 5 of 90", lambda: [o for o in s.options(5) if o.get("timeout") == 90], 1.0)
    check(len(s.options(5)), 2, "PromptTimeout 90 gives one option 5 within 1 s")

    s.pref("Exclusions", "array", "/new/a", "/new/b")
    s.pref("ExclusionsChanged", "bool", "true")
    wait_for("the new exclusions", lambda: len(s.options(7)) == 2 and len(s.options(8)) == 4, 1.5)
    check([bytes.fromhex(o["bytes"]).decode() for o in s.options(8)[2:]], ["/new/a", "/new/b"],
          "ExclusionsChanged pushes 7 and the new 8s")
    check(wait_for("the flag cleared", lambda: s.pref_get("ExclusionsChanged") == "false", 1.0), True,
          "ExclusionsChanged reads false again")


def wire(s):
    """The answers' bytes, read with python's struct module only."""
    R, HELLO, OPTION, REPLY = wire_oracle.REQUEST, wire_oracle.HELLO, wire_oracle.OPTION, wire_oracle.REPLY
    path = "/usr/local/Vantrel/AppProtection/var/kctl/com.vantrel.kext.AppProtection"
    os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    listener.bind(path)
    listener.listen(4)
    listener.settimeout(10)
    s.start_hub()
    s.start_daemon(wait_registered=False)
    conns = {}
    for channel in (wire_oracle.DATA, wire_oracle.CONTROL):
        conn, _ = listener.accept()
        wire_oracle.check_peer_is_root(conn)
        magic, version, ch = HELLO.unpack(conn.recv(64))
        conn.send(HELLO.pack(magic, version, ch))
        conns[ch] = conn
    data, control = conns[wire_oracle.DATA], conns[wire_oracle.CONTROL]
    answers = []
    lock = threading.Lock()
    stop = threading.Event()

    def serve():
        while not stop.is_set():
            if not select.select([control], [], [], 0.05)[0]:
                continue
            message = control.recv(70000)
            if not message:
                return
            option, length = OPTION.unpack_from(message)
            if option == 4:
                with lock:
                    answers.append(message)
            control.send(REPLY.pack(0, 0))

    server = threading.Thread(target=serve)
    server.start()

    def record(i, path_bytes):
        return R.pack(500 + i, 0x11223344 + i, -7 - i, 100, 0x5A5A, 0x3C3C, 1, 9000 + i, path_bytes,
                      bytes(range(16)), 7)

    def answered(req, result, network):
        out = bytearray(req)
        struct.pack_into("<h", out, 16, result)
        struct.pack_into("<i", out, 1068, network)
        return bytes(out)

    requests = [record(0, b"/usr/bin/true"), record(1, b"x" * 1024), record(2, b"/bin/true")]
    data.send(b"".join(requests) + b"\xee" * 100)
    wait_for("three answers", lambda: len(answers) >= 3, 5)
    time.sleep(0.3)
    with lock:
        got = list(answers)
    check(len(got), 3, "a datagram of 3 x 1,072 + 100 bytes gives 3 answers")
    by_cookie = {}
    for message in got:
        check((OPTION.unpack_from(message), len(message)), ((4, 1076), 8 + 1076), "one option 4 of 1,076 bytes")
        check(message[8:12], b"\x01\x00\x00\x00", "the answer starts 01 00 00 00")
        by_cookie[R.unpack(message[12:])[7]] = message[12:]
    check(by_cookie[9000], answered(requests[0], 1, 1), "/usr/bin/true: every byte the request's but 16 and 1068")
    check(by_cookie[9001], answered(requests[1], 1, 7), "a path without NUL is read as its 1,024 bytes")
    check(by_cookie[9002], answered(requests[2], 1, 1), "/bin/true: the same")

    with lock:
        answers.clear()
    data.send(b"".join(record(10 + i, b"/usr/bin/true") for i in range(12)))
    wait_for("ten answers", lambda: len(answers) >= 10, 5)
    time.sleep(0.5)
    check(len(answers), 10, "a datagram of 12 records gives 10 answers")
    stop.set()
    server.join()
    data.close()
    control.close()
    listener.close()


def sighup(s):
    """SIGHUP re-reads the levels and recreates the trace file."""
    s.trace_flags(appControlFlow=3, kextIfFlow=5)
    s.start_hub()
    s.start_kextsim()
    daemon = s.start_daemon()
    check_true("KextInterface::getRequestsFromKext - Entry" in s.trace(), "kextIfFlow 5 traces entries")
    os.unlink(TRACE_FILE)
    s.trace_flags(appControlFlow=3, kextIfFlow=3)
    daemon.send_signal(signal.SIGHUP)
    wait_for("the trace file again", lambda: "reloaded tracing" in s.trace())
    check_true("AppProtectionController::reloadHandler  - reloaded tracing" in s.trace(),
               "SIGHUP recreates the removed trace file")
    s.send([launch(5, 5, "/usr/bin/true")])
    s.pref("PromptTimeout", "int", 90)
    s.pref("Exclusions", "array", "/opt/x")
    s.pref("ExclusionsChanged", "bool", "true")
    wait_for("the exclusions pushed", lambda: "KextInterface::pushExclusions - Exclusions pushed" in s.trace())
    trace = s.trace()
    check_true("KextInterface::updateTimeout - Sending timeout 90" in trace, "a threshold 1 line is written")
    check_true("KextInterface::pushExclusions - Exclusions pushed" in trace, "a threshold 2 line is written")
    check("KextInterface::pushExclusions - Exclusion /opt/x" in trace, False, "no threshold 3 line")
    check("KextInterface::getRequestsFromKext - Received" in trace, False, "no threshold 4 line")
    check("KextInterface::sendResponseToKext - Sent answer" in trace, False, "no threshold 4 answer line")
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")


def protection_off(s):
    """SIGTERM with protection off."""
    s.pref("EnableAppProtection", "bool", "false")
    s.start_hub()
    s.start_kextsim()
    daemon = s.start_daemon()
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")
    check(s.log_messages(DISABLED), [], "no disabled line")
    check([e for e in s.kext_events() if e.get("event") == "link"], [], "the kernel side was never linked")
    check(os.path.exists(PID_FILE), False, "no PID file")


def no_kext(s):
    """The kernel link cannot be brought up: the daemon leaves."""
    s.trace_flags(appControlFlow=1)
    s.start_hub()
    cases = [
        ("no kextsim", None, [], "Unable to connect to kext"),
        ("option 1 fails", ["--fail", "1"], [], "Unable to start hooking"),
        ("option 7 fails", ["--fail", "7"], [], "Error in flushing kext exclusions"),
        ("option 8 fails", ["--fail", "8"], ["/opt/ex"], "Error in setting kext exclusions"),
    ]
    for name, args, exclusions, message in cases:
        if args is not None:
            s.start_kextsim(*args)
        s.pref("Exclusions", "array", *exclusions)
        daemon = s.start_daemon(wait_registered=False)
        check(daemon.wait(10), 0, name + ": exit 0")
        check_true(message in s.trace(), name + ": traces " + message)
        check(os.path.exists(PID_FILE), False, name + ": no PID file")
        for p in s.procs.get("kextsim", []):
            if p.poll() is None:
                p.terminate()
                p.wait()
    check([r for r in s.hub_records() if "registered module 3 " in r["message"]], [], "module 3 never registered")


def drop(s):
    """The kernel side hangs up."""
    s.trace_flags(kextIfFlow=1)
    s.start_hub()
    s.start_kextsim()
    daemon = s.start_daemon()
    s.run("kextsim", "drop")
    wait_for("the disable", lambda: s.log_messages(DISABLED))
    check_true("Why is kext giving EBADF(9)?" in s.trace(), "the hang-up is traced")
    check(s.run("hvoctl", "health", "3").stdout.decode().strip(), "true", "hvoctl health 3 prints true")
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")
    check(len(s.log_messages(DISABLED)), 1, "no second disabled line")


def term_during_enable(s):
    """SIGTERM while option 1 waits for its answer."""
    s.start_hub()
    s.start_kextsim("--delay", "1:3")
    daemon = s.start_daemon(wait_registered=False)
    wait_for("option 7", lambda: s.options(7), 5)
    time.sleep(0.3)
    daemon.send_signal(signal.SIGTERM)
    check(daemon.wait(15), 0, "exit 0")
    check(os.path.exists(PID_FILE), False, "no PID file")


def codesign(s):
    """A codesign tool at /usr/bin/codesign: run directly, once per path."""
    fx = s.fixtures("/tmp/fx")
    weird_dir = '/tmp/a"b$(touch /tmp/PWNED)c`touch /tmp/PWNED2`d\\e'
    os.makedirs(weird_dir)
    weird = weird_dir + "/U copy"
    shutil.copy2(fx + "/U", weird)
    s.pref("UnknownAppAction", "int", 2)
    s.start_hub()
    s.start_kextsim()
    daemon = s.start_daemon()
    check(s.pref_get("AllowAppleSignedApps") != "false", True, "with codesign AllowAppleSignedApps is not switched off")
    log = os.path.join(s.work, "strace.log")
    tracer = subprocess.Popen(["strace", "-f", "-qq", "-s", "4096", "-e", "trace=execve", "-o", log,
                               "-p", str(daemon.pid)])
    time.sleep(1)
    for cookie, path in enumerate([weird, weird, fx + "/U", fx + "/U"], 1):
        check(s.send([launch(cookie, cookie, path)]), {cookie: (2, 2)}, "launch %d of an unsigned U" % cookie)
    tracer.send_signal(signal.SIGINT)
    tracer.wait(10)
    calls = [c.split("\0") for c in wardsys.read("/tmp/codesign.args").split("\0\n") if c]
    check(calls, [["-v", "-R=anchor apple", weird], ["-v", "-R=anchor apple", fx + "/U"]],
          "codesign runs once per path, the path as one argument")
    execs = [l for l in wardsys.read(log).splitlines() if "execve(" in l and "codesign" in l]
    check(len(execs), 2, "two execs of the tool")
    check_true(all('execve("/usr/bin/codesign", ["/usr/bin/codesign", "-v", "-R=anchor apple", ' in l
                   for l in execs), "each runs /usr/bin/codesign directly, no shell")
    check(os.path.exists("/tmp/PWNED") or os.path.exists("/tmp/PWNED2"), False, "nothing in the path ran")
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")


SCENARIOS = {
    "startup": (startup, {}),
    "tables": (tables, {"usr/sbin/kextload": FAKE_KEXTLOAD}),
    "options": (options, {}),
    "wire": (wire, {}),
    "sighup": (sighup, {}),
    "protection-off": (protection_off, {}),
    "no-kext": (no_kext, {}),
    "drop": (drop, {}),
    "term-during-enable": (term_during_enable, {}),
    "codesign": (codesign, {"usr/bin/codesign": FAKE_CODESIGN}),
}
__doc__ = __doc__ % ", ".join(SCENARIOS)


if __name__ == "__main__":
    wardsys.scenario_main(SCENARIOS, os.path.abspath(__file__), __doc__)
