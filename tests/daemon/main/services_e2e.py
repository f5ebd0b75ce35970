#!/usr/bin/env python3
"""appwardd's services end to end: hvod, kextsim, a reporter serving module
102 (hvoctl serve) and the daemon, as processes in a private namespace.

  services_e2e.py SCENARIO BUILD    as root: runs the scenario in tests/ns-run.sh
Scenarios: %s. Exit 0 when every check held; 1 with the first failed check."""
import hashlib
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import wardsys  # noqa: E402
from wardsys import Failure, HUB_SOCKET, PROFILE, System, wait_for  # noqa: E402

HEADER = "22 serialization::archive 18"
UNKNOWN_DENY = "Denied %s from executing because  unknown applications are blocked as per the settings"
VERSION_FILE = "/usr/local/Vantrel/hvo/config/AppProtection/HVKConfig.xml"
PREFS_DIR = "/usr/local/Vantrel/preferences"


def check(actual, expected, what):
    if actual != expected:
        raise Failure("%s: got %r, wanted %r" % (what, actual, expected))
    print("ok  %s" % what, flush=True)


def check_true(value, what):
    check(bool(value), True, what)


def rules_payload(rules):
    """The archive text of a vector of BasicAppRecord: (path, group, exec,
    network action, enabled) each."""
    out = "%s 0 0 %d 0" % (HEADER, len(rules))
    if rules:
        out += " 0 0"
    for i, (path, group, exec_, network, enabled) in enumerate(rules):
        collection = " 0 0 0 0" if i == 0 else " 0 0"
        out += " %d %s 0  %d %s %d" % (len(path), path, len(group), group, exec_)
        out += collection + " 0" + collection + " %d %d" % (enabled, network)
    return out


def strings_payload(items):
    out = "%s 0 0 %d 0" % (HEADER, len(items))
    for item in items:
        out += " %d %s" % (len(item), item)
    return out


class Services(System):
    """The system with a reporter whose answer can change."""

    def start_hvod(self):
        self.start("hvod", "--log", self.hub_log, "--health-interval", "0")
        wait_for("hvod", lambda: os.path.exists(HUB_SOCKET))

    def reporter(self, mode):
        """Replaces the reporter by one answering `mode`; its JSON lines go
        to a file of their own."""
        self.stop_102()
        path = os.path.join(self.work, "reporter-%s.jsonl" % mode)
        proc = self.start("hvoctl", "serve", "--as", "102", "--answer", mode, "--reply-file", path)
        wait_for("the reporter", lambda: any(l.split()[:2] == ["102", str(proc.pid)] for l in self.modules()))
        return path

    def stop_102(self):
        for name in ("hvoctl", "alertclient"):
            for p in self.procs.get(name, []):
                if p.poll() is None:
                    p.terminate()
                    p.wait(10)
            self.procs[name] = []
        wait_for("module 102 gone", lambda: not any(l.split()[:1] == ["102"] for l in self.modules()))

    def client(self, name, *script):
        """Replaces module 102 by alertclient answering by `script`; the
        (command, cookie) pairs it got, and "answered" lines, go to a file
        named by `name`."""
        self.stop_102()
        path = os.path.join(self.work, "client-%s.txt" % name)
        proc = self.start("alertclient", "--record", path, *script)
        wait_for("alertclient", lambda: any(l.split()[:2] == ["102", str(proc.pid)] for l in self.modules()))
        return path

    def client_lines(self, path, command=None):
        lines = [l.split() for l in wardsys.read(path).splitlines()]
        return [l for l in lines if command is None or l[0] == str(command)]

    def reporter_lines(self, path):
        return [json.loads(l) for l in wardsys.read(path).splitlines()]

    def command(self, cmd, payload=None, timeout=10):
        """(exit status, reply payload text) of hvoctl send --to 3."""
        argv = ["send", "--to", "3", "--cmd", str(cmd), "--timeout", str(timeout)]
        if payload is not None:
            path = os.path.join(self.work, "payload.txt")
            with open(path, "w") as f:
                f.write(payload)
            argv += ["--payload-text", path]
        result = self.run("hvoctl", *argv, check=False, timeout=timeout + 20)
        lines = result.stdout.decode("utf-8", "surrogateescape").splitlines()
        return result.returncode, (lines[1] if len(lines) > 1 else "")

    def ok(self, cmd, payload=None):
        rc, text = self.command(cmd, payload)
        check(rc, 0, "%d: a reply with both flags true" % cmd)
        return text

    def answer_bytes(self, cookie):
        """The 1,076 bytes kextsim got for `cookie`."""
        found = []
        for o in self.options(4):
            raw = bytes.fromhex(o["bytes"])
            if len(raw) >= 32 and struct.unpack_from("<i", raw, 28)[0] == cookie:
                found.append(raw)
        return found

    def records_after(self, text):
        """hvod's log records from the line `text` on."""
        records = self.hub_records()
        for i, r in enumerate(records):
            if r.get("kind") == "msg" and r["message"].encode("utf-8", "surrogateescape").decode(
                    "utf-8", "surrogateescape") == text:
                return records[i:]
        return []


def check_denial_logged(s, path, what):
    """The unknown-deny line of `path` in hvod's log, then its three events.
    The report is sent after the kernel's answer: wait for it."""
    deadline = time.monotonic() + 10
    after = s.records_after(UNKNOWN_DENY % path)
    while len(after) < 4 and time.monotonic() < deadline:
        time.sleep(0.05)
        after = s.records_after(UNKNOWN_DENY % path)
    check_true(after, "%s: hvod logs the unknown-deny line" % what)
    check((after[0]["sender"], after[0]["component"], after[0]["type"], after[0]["level"]),
          (3, "AppProtection", 1, 3), "as sender 3, AppProtection, type 1, level 3")
    check([(r["kind"], r["sender"], r["type"], r["level"]) for r in after[1:4]],
          [("log", 3, 3, 1), ("log", 3, 7, 1), ("log", 3, 5, 1)], "then history, recent and console events")
    check(after[2]["detail"], "", "the recent event has no detail")
    check(after[1]["message"], after[3]["message"], "history and console share the summary")


def launch(pid, cookie, path, **extra):
    record = {"pid": pid, "type": 100, "cookie": cookie, "path": path, "networkAction": 4}
    record.update(extra)
    return record


def connection(pid, cookie):
    return {"pid": pid, "type": 103, "cookie": cookie, "protocol": 1, "port": 443, "addr": "10.0.0.5",
            "networkAction": 7}


# ---------------------------------------------------------------------------
# Scenarios

def alerts(s):
    """Alerts answered as 102 chooses, and the failures that deny them."""
    fx = s.fixtures("/tmp/fx")
    apps = "/tmp/apps"
    os.makedirs(apps)
    for name in ("U", "D"):
        shutil.copy2(os.path.join(fx, name), apps)
    U, D = apps + "/U", apps + "/D"
    s.pref("UnknownAppAction", "int", 3)
    s.pref("PromptTimeout", "int", 60)
    s.start_hvod()
    s.reporter("none")
    s.start_kextsim()
    daemon = s.start_daemon()

    replies = s.reporter("allow")
    marked = dict(reserved1=0x11223344, reserved2=-7, padding=0x3C3C, protocol=0)
    check(s.send([launch(4242, 77, U, **marked)], wait=5), {77: (1, 2)}, "allow: the answer is 1,2")
    alerts_sent = [l for l in s.reporter_lines(replies) if l.get("command") == 60001]
    check(len(alerts_sent), 1, "module 102 got one 60001")
    check(alerts_sent[0]["reporter"], {"hvkId": 3, "alertType": 32}, "ReporterData {3, 32}")
    check(alerts_sent[0]["alert"], {"appName": U, "operation": 100, "action": "true", "port": 0,
                                    "address": "0.0.0.0", "protocol": 0, "timeout": 60, "cookie": 77,
                                    "always": False, "allowNetwork": False}, "the alert as 102 recorded it")
    raw = s.answer_bytes(77)
    check(len(raw), 1, "cookie 77 answered once")
    raw = raw[0]
    check(len(raw), 1076, "a 1,076-byte answer")
    check(struct.unpack_from("<i", raw, 0)[0], 1, "word 1 first")
    check(struct.unpack_from("<h", raw, 20)[0], 1, "result 1 at offset 20")
    check(struct.unpack_from("<i", raw, 1072)[0], 2, "network action 2 at 1072")
    check(struct.unpack_from("<iiiihHi", raw, 4), (4242, 0x11223344, -7, 100, 1, 0x3C3C, 0),
          "pid, reserved words, type and padding as sent")
    check(s.send([connection(4242, 701)]), {701: (2, 4)}, "allow: a 103 from 4242 is denied from the cache")

    s.reporter("allow-net")
    check(s.send([launch(4243, 78, U)], wait=5), {78: (1, 1)}, "allow-net: the answer is 1,1")
    check(s.send([connection(4243, 702)])[702][0], 1, "allow-net: a 103 from 4243 is allowed")

    replies = s.reporter("deny")
    check(s.send([launch(4244, 79, U)], wait=5), {79: (2, 2)}, "deny: the answer is 2,2")
    check_denial_logged(s, U, "deny")
    check([l for l in s.reporter_lines(replies) if l.get("command") == 60000], [], "deny: no 60000")

    replies = s.reporter("always-deny")
    purges = len(s.options(9))
    check(s.send([launch(4245, 80, U)], wait=5), {80: (2, 2)}, "always-deny: the answer is 2,2")
    md5 = hashlib.md5(open(U, "rb").read()).hexdigest()
    check(s.ok(20003), "%s 0 0 1 0 0 0 %d %s 32 %s %d %s 0 0 0 0 0 0 0 0 0 0 1 2" % (HEADER, len(U), U, md5, len(U), U),
          "20003 lists {U, U, exec false, network 2, enabled}")
    check_true(len(s.options(9)) > purges, "option 9 reaches kextsim")
    check(s.send([launch(4246, 81, U)], wait=5)[81][0], 2, "the next launch is denied")
    check(len([l for l in s.reporter_lines(replies) if l.get("command") == 60001]), 1, "with no alert")

    s.reporter("incomplete")
    lines = len(s.log_messages(UNKNOWN_DENY % D))
    check(s.send([launch(5000, 90, D), launch(5001, 91, D)], wait=5), {90: (2, 4), 91: (2, 4)},
          "incomplete: both alerts denied, network 4 as carried")
    check(len(s.log_messages(UNKNOWN_DENY % D)), lines, "and nothing logged")

    for p in s.procs["hvoctl"]:
        p.terminate()
        p.wait(10)
    wait_for("module 102 gone", lambda: not any(l.split()[:1] == ["102"] for l in s.modules()))
    check(s.send([launch(5002, 92, D)], wait=3), {92: (2, 4)}, "no module 102: denied at once")

    for p in s.procs["hvod"]:
        p.kill()
        p.wait(10)
    check(s.send([launch(5003, 93, D)], wait=3), {93: (2, 4)}, "hvod killed: denied at once")
    check(daemon.poll(), None, "the daemon runs on")
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")


def client(s):
    """Alerts answered by a C++ module-102 client: replies hvoctl serve
    cannot give."""
    fx = s.fixtures("/tmp/fx")
    apps = "/tmp/apps"
    os.makedirs(apps)
    for name in ("U", "D", "M", "M2"):
        shutil.copy2(os.path.join(fx, name), apps)
    U, D, M, M2 = (apps + "/" + n for n in ("U", "D", "M", "M2"))
    s.pref("UnknownAppAction", "int", 3)
    s.pref("PromptTimeout", "int", 60)
    s.start_hvod()
    s.reporter("none")
    s.start_kextsim()
    daemon = s.start_daemon()

    def answered(cookie):
        return [(struct.unpack_from("<i", raw, 4)[0], struct.unpack_from("<h", raw, 20)[0],
                 struct.unpack_from("<i", raw, 1072)[0]) for raw in s.answer_bytes(cookie)]

    got = s.client("code3", "--action", "3")
    check(s.send([launch(4242, 70, U)], wait=5), {70: (2, 2)}, "action code 3: the answer is 2,2")
    check(s.client_lines(got, 60001), [["60001", "70"]], "action code 3: module 102 got the alert")
    check(answered(70), [(4242, 2, 2)], "cookie 70 answered once")
    check_denial_logged(s, U, "action code 3")
    check(s.client_lines(got, 60000), [], "action code 3: no 60000")

    got = s.client("always-net", "--action", "1", "--allow-network", "1", "--always", "1")
    check(s.send([launch(4243, 71, D)], wait=5), {71: (1, 1)}, "true, true, true: the answer is 1,1")
    check(s.send([launch(4244, 72, D)], wait=5), {72: (1, 1)}, "the next launch is allowed, net 1")
    check(len(s.client_lines(got, 60001)), 1, "with no alert")

    s.client("other-app", "--action", "1", "--always", "1", "--app", "/tmp/other")
    check(s.send([launch(4245, 77, M)], wait=5), {77: (1, 2)}, "another appName: answered as its flags, 1,2")
    check(answered(77), [(4245, 1, 2)], "cookie 77 answered once")
    rules = s.ok(20003)
    check((" %d %s " % (len(M), M) in rules, "/tmp/other" in rules), (True, False),
          "the always rule names the alert's application, not the reply's")

    got = s.client("cookie6", "--action", "1", "--cookie", "6")
    check(s.send([launch(4246, 78, M2)], wait=2), {}, "an answer for cookie 6: nothing answered")
    check(s.client_lines(got)[-1], ["answered", "6"], "the client did answer, for cookie 6")
    check((answered(78), answered(6)), ([], []), "neither 78 nor 6 reached kextsim")

    lines = len(s.log_messages(UNKNOWN_DENY % U)) + len(s.log_messages(UNKNOWN_DENY % M2))
    s.client("unreadable", "--unreadable")
    check(s.send([launch(4247, 79, U)], wait=5), {79: (2, 4)}, "an unreadable complete reply: denied, net 4")
    wait_for("the alert left pending denied", lambda: answered(78))
    check((answered(78), answered(79)), ([(4246, 2, 4)], [(4247, 2, 4)]),
          "every pending alert denied once: 78 too")
    check(len(s.log_messages(UNKNOWN_DENY % U)) + len(s.log_messages(UNKNOWN_DENY % M2)), lines,
          "and nothing logged")

    got = s.client("cookie5", "--action", "2", "--after", "2")
    check(s.send([launch(6001, 5, U)], wait=1), {}, "the first alert on cookie 5 waits")
    check(s.send([launch(6002, 5, U)], wait=5), {5: (2, 2)}, "the second alert on cookie 5: one answer")
    time.sleep(0.5)
    check(answered(5), [(6001, 2, 2)], "the answer settled the first only")
    check(s.client_lines(got, 60001), [["60001", "5"], ["60001", "5"]], "module 102 got both alerts")
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")
    check(answered(5), [(6001, 2, 2), (6002, 1, 4)], "the second answered with 1 before the link closed")


def version_file(body):
    os.makedirs(os.path.dirname(VERSION_FILE), exist_ok=True)
    if body is None:
        if os.path.exists(VERSION_FILE):
            os.unlink(VERSION_FILE)
        return
    with open(VERSION_FILE, "w") as f:
        f.write("<HVKConfiguration>%s</HVKConfiguration>" % body)


def commands(s):
    """Every served command by hvoctl send from an unregistered connection."""
    fx = s.fixtures("/tmp/fx")
    apps = "/tmp/apps"
    os.makedirs(apps)
    for name in ("R", "U"):
        shutil.copy2(os.path.join(fx, name), apps)
    F = apps + "/R"
    s.pref("EnableAppProtection", "bool", "false")
    s.start_hub()
    s.start_kextsim()
    daemon = s.start_daemon()
    status = HEADER + " 0 0 3 0 0 1 0 0 0 33 APPLICATION_PROTECTION_STATUS_KEY 0 0 "
    check(s.ok(1003), status + "15 DISABLED_STRING 2", "1003, preference off")

    cases = [
        ("1004", "<HVKVersion>8.0</HVKVersion><BuildNumber>123</BuildNumber><ServicePack> </ServicePack>"
                 "<Hotfixes>HF2</Hotfixes>",
         " 0 0 3 0 0 2 0 0 0 25 Application_Protection_HF 3 HF2 30 Application_Protection_Version 9 8.0 (123)"),
        ("1004 with PatchVersion P1", "<HVKVersion>8.0</HVKVersion><BuildNumber>123</BuildNumber>"
                                      "<PatchVersion>P1</PatchVersion><ServicePack> </ServicePack>",
         " 0 0 3 0 0 2 0 0 0 25 Application_Protection_HF 0  30 Application_Protection_Version 12 8.0 P1 (123)"),
        ("1004 without the file", None,
         " 0 0 3 0 0 3 0 0 0 25 Application_Protection_HF 0  32 Application_Protection_SPVersion 0  30 "
         "Application_Protection_Version 3  ()"),
        ("1004, a 150-character version", "<HVKVersion>%s</HVKVersion><ServicePack> </ServicePack>" % ("v" * 150),
         " 0 0 3 0 0 2 0 0 0 25 Application_Protection_HF 0  30 Application_Protection_Version 99 " + "v" * 99),
    ]
    for what, body, expected in cases:
        version_file(body)
        check(s.ok(1004), HEADER + expected, what)

    rc, _ = s.command(1010, HEADER + " 12345", timeout=2)
    check(rc != 0, True, "1010: no reply")
    check(s.ok(20004), HEADER + " 0 0 60 1 0 0 0", "20004 at start (AllowAppleSignedApps forced off)")

    check(s.ok(20000, rules_payload([(F, F, 0, 2, 1), ("/nonexistent", "/nonexistent", 0, 2, 1), (F, F, 0, 2, 1)])),
          HEADER + " 0 0 3 0 20000 20020 20014", "20000 [F, /nonexistent, F]")
    check(s.ok(20003).count(" %d %s " % (len(F), F)), 2, "20003 lists F once (path and group)")
    profile_text = lambda: subprocess.run(["iconv", "-f", "UCS-4BE", "-t", "UTF-8", PROFILE],  # noqa: E731
                                          stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")
    check(F in profile_text(), False, "the profile file lacks the rule just added")
    check(s.run("hvoctl", "health", "3").stdout.decode().strip(), "true", "hvoctl health 3 prints true")
    check(F in profile_text(), True, "then the profile file holds it")
    check(s.ok(20001, rules_payload([(apps + "/U", apps + "/U", 0, 2, 1)])), HEADER + " 0 0 1 0 20015",
          "20001 of an unstored Mach-O")

    check(s.ok(20007, strings_payload(["/opt/a"])), HEADER + " 20000", "20007 [/opt/a]")
    check(s.ok(20006), HEADER + " 0 0 1 0 6 /opt/a", "20006")

    check(s.ok(20005, HEADER + " 0 0 30 4 0 0 1"), HEADER + " 20003", "20005 with UnknownAppAction 4")
    check((s.pref_get("PromptTimeout"), s.pref_get("UnknownAppAction"), s.pref_get("CustomNwFallBackAction")),
          ("30", "", "1"), "PromptTimeout 30, UnknownAppAction not stored, CustomNwFallBackAction 1")
    check(s.ok(20004), HEADER + " 0 0 30 1 0 0 1", "20004 then")
    before = os.stat(PREFS_DIR + "/com.vantrel.zrm.appprotection.plist").st_mtime_ns
    rc, text = s.command(20005, HEADER + " 0 0 45")
    check((rc, text), (1, ""), "20005 with an unreadable payload: a failure reply without payload")
    check(os.stat(PREFS_DIR + "/com.vantrel.zrm.appprotection.plist").st_mtime_ns, before, "nothing stored")

    s.pref("EnableAppProtection", "bool", "true")
    check(s.ok(1003), status + "11 RISK_STRING 1", "1003, on (by prefsctl) but not running")
    check(s.ok(20005, HEADER + " 0 0 30 1 0 1 1"), HEADER + " 20000", "20005 enabling protection")
    wait_for("protection on", lambda: s.options(1), 10)
    check(s.ok(1003), status + "14 ENABLED_STRING 0", "1003, running")

    count = len(s.options())
    check(s.ok(20007, strings_payload(["/opt/b", "/opt/c"])), HEADER + " 20000", "20007 while running")
    pushed = [(o["option"], bytes.fromhex(o["bytes"]).decode()) for o in s.options()[count:]
              if o["option"] in (7, 8)]
    check(pushed, [(7, ""), (8, "/opt/b"), (8, "/opt/c")], "options 7 and 8 reached kextsim before the reply")
    count = len(s.options())
    check(s.ok(20010, strings_payload(["/Applications"])), HEADER + " 20000", "20010 while running")
    time.sleep(0.5)
    check([o for o in s.options()[count:] if o["option"] == 9], [], "no option 9")

    subprocess.run(["mount", "--bind", PREFS_DIR, PREFS_DIR], check=True)
    subprocess.run(["mount", "-o", "remount,ro,bind", PREFS_DIR], check=True)
    try:
        check(s.ok(20005, HEADER + " 0 0 45 1 0 1 1"), HEADER + " 20022", "20005 on a read-only store")
    finally:
        subprocess.run(["umount", PREFS_DIR], check=True)
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")


SCENARIOS = {"alerts": alerts, "client": client, "commands": commands}
__doc__ = __doc__ % ", ".join(SCENARIOS)


def inside(name, build):
    s = Services(build, tempfile.mkdtemp(prefix="ward-services."))
    try:
        SCENARIOS[name](s)
    except Failure as e:
        print("FAILED %s: %s" % (name, e), flush=True)
        for f in sorted(os.listdir(s.work)):
            print("--- %s" % f)
            print(wardsys.read(os.path.join(s.work, f))[-4000:])
        print("--- trace")
        print(s.trace()[-6000:])
        return 1
    finally:
        s.stop_all()
        shutil.rmtree(s.work, ignore_errors=True)
    print("passed %s" % name)
    return 0


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--inside":
        sys.exit(inside(sys.argv[2], sys.argv[3]))
    if len(sys.argv) != 3 or sys.argv[1] not in SCENARIOS:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[2])
    ns_run = os.path.join(wardsys.SOURCE, "tests/ns-run.sh")
    # An empty overlay over /: what the scenario writes (/tmp included)
    # stays in the namespace.
    overlay = tempfile.mkdtemp(prefix="ward-services-overlay.")
    try:
        env = dict(os.environ, WARD_BUILD_DIR=build)
        sys.exit(subprocess.run([ns_run, "--overlay", overlay, sys.executable, os.path.abspath(__file__), "--inside",
                                 sys.argv[1], build], env=env).returncode)
    finally:
        shutil.rmtree(overlay, ignore_errors=True)


if __name__ == "__main__":
    main()
