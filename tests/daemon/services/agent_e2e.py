#!/usr/bin/env python3
"""appwardd's management-agent services end to end: hvod, appwardd with
protection off (no kextsim) and agentctl playing the console, in a private
namespace.

  agent_e2e.py SCENARIO BUILD    as root: lays the scenario's files over /
                                 with tests/ns-run.sh --overlay and runs it
Scenarios: %s. Exit 0 when every check held; 1 with the first failed check."""
import fcntl
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "../main"))
import wardsys  # noqa: E402
from wardsys import Failure, PID_FILE, PROFILE, System, VAR, check, check_true, wait_for  # noqa: E402

AGENT_SOCKET = "/usr/local/Vantrel/hvo/var/agentsocket"
VERSION_FILE = "/usr/local/Vantrel/hvo/config/AppProtection/HVKConfig.xml"
PLUGIN_CHANGE = VAR + "/pluginChange"
PREFS_DIR = "/usr/local/Vantrel/preferences"
PLIST = PREFS_DIR + "/" + wardsys.DOMAIN + ".plist"


def agentctl(s, *args, stdin=None, timeout=60):
    """(exit status, standard output) of agentctl."""
    r = subprocess.run([s.path("agentctl")] + list(args), input=stdin, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=timeout)
    return r.returncode, r.stdout.decode("utf-8")


def policy_text(rows):
    return "".join("%s\t%s\t%s\n" % r for r in rows).encode("utf-8")


def policy(s, rows, *options):
    return agentctl(s, "policy", *options, "-", stdin=policy_text(rows))


def write_version_file(**values):
    os.makedirs(os.path.dirname(VERSION_FILE), exist_ok=True)
    body = "".join("<%s>%s</%s>" % (k, v, k) for k, v in values.items())
    with open(VERSION_FILE, "w") as f:
        f.write('<?xml version="1.0"?>\n<HVKConfiguration>%s</HVKConfiguration>\n' % body)


def plist_stamp():
    st = os.stat(PLIST)
    return (st.st_ino, st.st_mtime_ns)


def start(s, env=None, wait_registered=True):
    """hvod, then appwardd with EnableAppProtection false; waits for the agent."""
    s.pref("EnableAppProtection", "bool", "false")
    if "hvod" not in s.procs:
        s.start_hub()
    saved = dict(os.environ)
    os.environ.update(env or {})
    try:
        daemon = s.start_daemon(wait_registered=wait_registered)
    finally:
        os.environ.clear()
        os.environ.update(saved)
    return daemon


def stop(s, daemon):
    check(s.terminate(daemon), 0, "SIGTERM: exit 0")
    check(os.path.exists(AGENT_SOCKET), False, "the agent's socket is gone after the daemon")


def profile_tokens(path=PROFILE):
    text = subprocess.run(["iconv", "-f", "UCS-4BE", "-t", "UTF-8", path], check=True,
                          stdout=subprocess.PIPE).stdout.decode("utf-8")
    return text.split()


def make_bundle(root, name, source="int main(void) { return 0; }\n"):
    """NAME.app with one x86-64 executable linked by ld64.lld, no dylibs."""
    bundle = os.path.join(root, name + ".app")
    macos = os.path.join(bundle, "Contents/MacOS")
    os.makedirs(macos, exist_ok=True)
    work = tempfile.mkdtemp(prefix="ward-bundle.")
    with open(os.path.join(work, "foo.c"), "w") as f:
        f.write(source)
    subprocess.run(["clang", "-target", "x86_64-apple-macos10.15", "-c", os.path.join(work, "foo.c"), "-o",
                    os.path.join(work, "foo.o")], check=True)
    subprocess.run(["ld64.lld-14", "-arch", "x86_64", "-platform_version", "macos", "10.15", "10.15", "-e", "_main",
                    os.path.join(work, "foo.o"), "-o", os.path.join(macos, name)], check=True)
    shutil.rmtree(work)
    return bundle, os.path.join(macos, name)


RULES_TOKENS = ("0 0 0 0 0 1 0 0 2 0 0 0 167772160 10 10.0.0.0/8 53 53 8 2 1 102 3 DNS 1 0 6 ANY_IP 0 0 0 1 2 104 "
                "8 ANY_PORT 1 3").split()


def rules_policy(bundle):
    return [("Rules", "zUV_NoOfRules", "1"), ("Rules", "zUV_AppName_1", bundle), ("Rules", "zUV_AppStatus_1", "3"),
            ("Rules", "zUV_AppDetailsNum_1", "2"), ("Rules", "zUV_AppDetails_1_1", "2,10.0.0.0/8,DNS,1,1"),
            ("Rules", "zUV_AppDetails_1_2", "1,ANY_IP,ANY_PORT,3,0")]


def tokens_after_group(tokens, group):
    """The tokens after the (last) occurrence of `group`."""
    for i in range(len(tokens) - 1, -1, -1):
        if tokens[i] == group:
            return tokens[i + 1:]
    return None


# ---------------------------------------------------------------------------
# Scenarios

def collect(s):
    """Status, the collected properties and the socket's mode."""
    write_version_file(HVKVersion="8.0", BuildNumber="123", ServicePack=" ", PatchVersion="P1", Hotfixes="HF2")
    s.pref("UnknownAppAction", "int", 3)
    s.pref("PromptTimeout", "int", 60)
    daemon = start(s)
    rc, out = agentctl(s, "status", "--wait", "5")
    check(rc, 0, "agentctl status exits 0")
    lines = dict(l.split(" ", 1) for l in out.splitlines())
    check(lines["software"], "QELVNMAC1100", "software identifier")
    check(lines["agent"], "ZOVOVORU3700RUZA", "agent identifier")
    check(lines["pid"], wardsys.read(PID_FILE), "the pid is the PID file's content")
    check_true(re.fullmatch(r"[a-z]{6}[0-9]{58}", lines["access"]), "access string of six letters and 58 digits")
    check(lines["logdir"], "/var/tmp", "log directory")
    check((lines["property"], lines["policy"]), ("registered", "registered"), "both services registered")
    mode = os.stat(AGENT_SOCKET).st_mode
    check((stat.S_ISSOCK(mode), mode & 0o7777), (True, 0o600), "the control socket has mode 0600")
    rc, out = agentctl(s, "collect")
    check(out, "General\tszProductVer\t 8.0.123\nGeneral\tszHotfix\tP1,HF2\n"
               "General\tzUV_AppProtectionEnabled\tDisabled\nGeneral\tzUV_AllowAppleBinariesEnabled\tDisabled\n"
               "General\tzUV_UnknownApplications\tPrompt\nGeneral\tzUV_UnknownAppPromptTime\t60\ntrue\n",
          "agentctl collect prints the properties in order, then true")
    check(rc, 0, "and exits 0")
    stop(s, daemon)


def settings(s):
    """General keys read back with prefsctl; "no write" keeps the plist's inode and mtime."""
    s.trace_flags(zuvFlow=1)
    s.pref("UnknownAppAction", "int", 1)
    s.pref("PromptTimeout", "int", 60)
    daemon = start(s)
    agentctl(s, "status", "--wait", "5")
    before = plist_stamp()
    time.sleep(0.05)
    check(policy(s, [("QELVNMAC1100", "EnforcePolicy", "0"), ("General", "zUV_UnknownApplications", "2")]),
          (0, "true\n"), "EnforcePolicy 0: true")
    check(plist_stamp(), before, "EnforcePolicy 0: no write")
    check(s.pref_get("UnknownAppAction"), "1", "EnforcePolicy 0: UnknownAppAction unchanged")
    for enforce in ("1", None):
        s.pref("UnknownAppAction", "int", 1)
        rows = [("General", "zUV_UnknownApplications", "2")]
        if enforce:
            rows.insert(0, ("QELVNMAC1100", "EnforcePolicy", enforce))
        check(policy(s, rows), (0, "true\n"), "EnforcePolicy %s: true" % enforce)
        check(s.pref_get("UnknownAppAction"), "2", "EnforcePolicy %s: UnknownAppAction 2" % enforce)
    for value, want in (("4", "2"), ("0", "2"), ("3", "3")):
        policy(s, [("General", "zUV_UnknownApplications", value)])
        check(s.pref_get("UnknownAppAction"), want, "zUV_UnknownApplications %s" % value)
    s.pref("AllowAppleSignedApps", "bool", "true")
    policy(s, [("General", "zUV_AllowAppleBinariesEnabled", "1")])
    check(s.pref_get("AllowAppleSignedApps"), "false", "zUV_AllowAppleBinariesEnabled 1 without codesign: false")
    for value, want in ((" 42", "42"), ("+3", "3"), ("3abc", "3"), ("abc", "0"), ("-1", "-1"), ("99999999999", "-1")):
        check(policy(s, [("General", "zUV_UnknownAppPromptTime", value)]), (0, "true\n"),
              "zUV_UnknownAppPromptTime %r: true" % value)
        check(s.pref_get("PromptTimeout"), want, "zUV_UnknownAppPromptTime %r: %s" % (value, want))
    check_true("zUV_UnknownAppPromptTime out of range, ignored" in s.trace(), "the out-of-range number is traced")

    # A read-only preferences folder.
    subprocess.run(["mount", "--bind", PREFS_DIR, PREFS_DIR], check=True)
    subprocess.run(["mount", "-o", "remount,ro,bind", PREFS_DIR], check=True)
    try:
        rc, out = policy(s, [("General", "zUV_UnknownApplications", "1")])
        check((rc, out), (1, "false\n"), "read-only preferences: the policy returns false, agentctl exits 1")
    finally:
        subprocess.run(["umount", PREFS_DIR], check=True)
    stop(s, daemon)


def settings_codesign(s):
    """With a file at /usr/bin/codesign the flag is stored true."""
    daemon = start(s)
    agentctl(s, "status", "--wait", "5")
    s.pref("AllowAppleSignedApps", "bool", "false")
    check(policy(s, [("General", "zUV_AllowAppleBinariesEnabled", "1")]), (0, "true\n"), "policy: true")
    check(s.pref_get("AllowAppleSignedApps"), "true", "zUV_AllowAppleBinariesEnabled 1 with codesign: true")
    stop(s, daemon)


def exclusions(s):
    """Multiset comparison and the changed flag."""
    daemon = start(s)
    agentctl(s, "status", "--wait", "5")
    long_path = "/" + "p" * 299
    cases = [
        ("same entries in another order", ["/b", "/a"], None, "false"),
        ("one replaced", ["/a", "/c"], "/a\n/c", "true"),
        ("none", [], "", "true"),
        ("a repeated entry", ["/a", "/a"], "/a\n/a", "true"),
        ("a 300-character path", [long_path], long_path, "true"),
    ]
    for what, entries, stored, changed in cases:
        s.pref("Exclusions", "array", "/a", "/b")
        s.pref("ExclusionsChanged", "bool", "false")
        before = plist_stamp()
        time.sleep(0.05)
        rows = [("Exclusions", "zUV_NoOfApplications", str(len(entries)))]
        rows += [("Exclusions", "zUV_App_%d" % (i + 1), e) for i, e in enumerate(entries)]
        check(policy(s, rows), (0, "true\n"), what + ": true")
        if stored is None:
            check(plist_stamp(), before, what + ": no write")
        else:
            check(s.pref_get("Exclusions"), stored, what + ": stored")
        check(s.pref_get("ExclusionsChanged"), changed, what + ": ExclusionsChanged")
    s.pref("Exclusions", "array", "/a", "/b")
    check(policy(s, [("Exclusions", "zUV_NoOfApplications", "3"), ("Exclusions", "zUV_App_1", "/a"),
                     ("Exclusions", "zUV_App_3", "/c")]), (0, "true\n"), "n = 3 without zUV_App_2: true")
    check(s.pref_get("Exclusions"), "/a\n/c", "the absent entry is skipped")
    stop(s, daemon)


def rules(s):
    """A policy's rules replace the profile's; the shutdown persists them."""
    apps = "/tmp/apps"
    bundle, exe = make_bundle(apps, "Foo")
    check(subprocess.run(["llvm-objdump-14", "--macho", "--dylibs-used", exe], stdout=subprocess.PIPE,
                         check=True).stdout.decode().strip().endswith(":"), True, "Foo links no dylib")
    other, other_exe = make_bundle(apps, "Old", "int main(void) { return 1; }\n")
    s.profile(other_exe + ":1:1")
    daemon = start(s)
    agentctl(s, "status", "--wait", "5")
    check(policy(s, rules_policy(bundle)), (0, "true\n"), "the rules policy: true")
    stop(s, daemon)
    tokens = profile_tokens()
    check(other_exe in tokens, False, "the group stored before and not named is gone")
    after = tokens_after_group(tokens, bundle)
    check_true(after is not None, "the profile holds group Foo.app")
    check(after[:len(RULES_TOKENS)], RULES_TOKENS, "the tokens after its group")
    check(exe in tokens, True, "its record is the executable")


def startup_window(s):
    """appwardd held at step 6 by python's lock on the profile: services registered, policies wait."""
    apps = "/tmp/apps"
    bundle, exe = make_bundle(apps, "Foo")
    other, other_exe = make_bundle(apps, "Old", "int main(void) { return 1; }\n")
    s.profile(other_exe + ":1:1")
    s.pref("PromptTimeout", "int", 60)
    with open(PROFILE, "r+b") as holder:
        fcntl.lockf(holder, fcntl.LOCK_EX)
        daemon = start(s, wait_registered=False)
        rc, out = agentctl(s, "status", "--wait", "5")
        check((rc, "property registered" in out, "policy registered" in out), (0, True, True),
              "agentctl status shows both services while step 6 waits")
        check(any(l.split()[:1] == ["3"] for l in s.modules()), False, "hvoctl modules: no module 3")
        result = {}
        rows = [("General", "zUV_UnknownAppPromptTime", "45")] + rules_policy(bundle)
        worker = threading.Thread(target=lambda: result.update(r=policy(s, rows)))
        worker.start()
        time.sleep(1)
        check(worker.is_alive(), True, "the policy has not returned after 1 s")
        check(s.pref_get("PromptTimeout"), "60", "PromptTimeout is still 60")
    worker.join(30)
    check(result.get("r"), (0, "true\n"), "after the release the policy returns true")
    check(s.pref_get("PromptTimeout"), "45", "PromptTimeout 45")
    wait_for("module 3", lambda: s.registered(daemon.pid), 10)
    stop(s, daemon)
    check(tokens_after_group(profile_tokens(), bundle)[:len(RULES_TOKENS)], RULES_TOKENS, "the rule is in place")


def registration(s):
    """AGENTBRIDGE_FAIL against agentctl status and the daemon."""
    s.trace_flags(appControlFlow=1)
    cases = [
        ("create", 3, None),
        ("property", 0, ("refused", "never offered")),
        ("policy", 0, ("registered", "refused")),
        ("throw", 3, None),
    ]
    for value, status_rc, states in cases:
        daemon = start(s, env={"AGENTBRIDGE_FAIL": value})
        check_true(s.registered(daemon.pid), value + ": the daemon runs, module 3 registers")
        rc, out = agentctl(s, "status")
        check(rc, status_rc, value + ": agentctl status exit")
        if states:
            lines = dict(l.split(" ", 1) for l in out.splitlines())
            check((lines["property"], lines["policy"]), states, value + ": service states")
        if value == "policy":
            check(agentctl(s, "collect")[0], 0, "policy refused: collect works")
            check(policy(s, [("General", "zUV_UnknownApplications", "2")])[0], 3, "policy refused: policy exits 3")
        if value == "throw":
            check_true("property-collection registration failed" in s.trace(), "throw: the exception is traced")
        check(s.terminate(daemon), 0, value + ": SIGTERM: exit 0")


def sigusr2(s):
    """The plug-in change file's first word, counted by the agent."""
    daemon = start(s)
    agentctl(s, "status", "--wait", "5")

    def counts():
        rc, out = agentctl(s, "counts")
        check(rc, 0, "agentctl counts")
        return tuple(int(l.split()[1]) for l in out.splitlines())

    cases = [("RELOAD\n", (1, 0)), ("  RELOAD extra", (1, 0)), ("reload", (0, 1)), ("RELOADX", (0, 1)),
             ("UNLOAD", (0, 1)), ("", (0, 1)), (None, (0, 0))]
    for content, (reloads, unloads) in cases:
        if content is None:
            os.unlink(PLUGIN_CHANGE)
        else:
            with open(PLUGIN_CHANGE, "w") as f:
                f.write(content)
        before = counts()
        daemon.send_signal(signal.SIGUSR2)
        want = (before[0] + reloads, before[1] + unloads)
        if content is None:
            time.sleep(0.3)
            check(counts(), want, "missing file: nothing")
        else:
            wait_for("the counts", lambda: counts() == want)
            check(counts(), want, "%r: reload +%d, unload +%d" % (content, reloads, unloads))

    with open(PLUGIN_CHANGE, "w") as f:
        f.write("RELOAD")
    stop_flag = []

    def policies():
        while not stop_flag:
            policy(s, [("General", "zUV_UnknownAppPromptTime", "30")])

    worker = threading.Thread(target=policies)
    worker.start()
    before = counts()
    for _ in range(200):
        daemon.send_signal(signal.SIGUSR2)
        time.sleep(0.002)
    stop_flag.append(1)
    worker.join(30)
    check(daemon.poll(), None, "200 SIGUSR2 during policies: the daemon lives")
    wait_for("the reloads", lambda: counts()[0] > before[0])
    stop(s, daemon)


def agent_log(s):
    """agentctl log through agentLogger into the trace file."""
    s.trace_flags(zuvFlow=4)
    daemon = start(s)
    agentctl(s, "status", "--wait", "5")
    check(agentctl(s, "log", "2", "agent café")[0], 0, "agentctl log exits 0")
    check_true("agent café\n" in s.trace(), "zuvFlow 4: the text and a newline in the trace, UTF-8")
    s.trace_flags(zuvFlow=3)
    daemon.send_signal(signal.SIGHUP)
    time.sleep(0.5)
    agentctl(s, "log", "2", "second line")
    check("second line" in s.trace(), False, "zuvFlow 3: nothing")
    s.trace_flags(zuvFlow=4)
    daemon.send_signal(signal.SIGHUP)
    time.sleep(0.5)
    agentctl(s, "log", "2", "third line")
    check_true("third line\n" in s.trace(), "after the flag file is edited and SIGHUP: the line")
    stop(s, daemon)


def shutdown(s):
    """SIGTERM while a policy on a 256 MiB executable runs."""
    apps = "/tmp/apps"
    bundle, exe = make_bundle(apps, "Big")
    subprocess.run(["truncate", "-s", "256M", exe], check=True)
    daemon = start(s)
    agentctl(s, "status", "--wait", "5")
    result = {}
    worker = threading.Thread(target=lambda: result.update(r=policy(s, rules_policy(bundle))))
    worker.start()
    time.sleep(0.3)
    check(s.terminate(daemon, 120), 0, "SIGTERM during the policy: exit 0")
    worker.join(60)
    rc, out = result.get("r", (None, None))
    print("    agentctl: %r %r" % (rc, out))
    if out == "true\n":
        check(tokens_after_group(profile_tokens(), bundle) is not None, True, "agentctl said true: the rule is there")
    check(os.path.exists(AGENT_SOCKET), False, "the socket is gone")


SCENARIOS = {
    "collect": (collect, {}),
    "settings": (settings, {}),
    "settings-codesign": (settings_codesign, {"usr/bin/codesign": "#!/bin/sh\nexit 1\n"}),
    "exclusions": (exclusions, {}),
    "rules": (rules, {}),
    "startup-window": (startup_window, {}),
    "registration": (registration, {}),
    "sigusr2": (sigusr2, {}),
    "agent-log": (agent_log, {}),
    "shutdown": (shutdown, {}),
}
__doc__ = __doc__ % ", ".join(SCENARIOS)

if __name__ == "__main__":
    wardsys.scenario_main(SCENARIOS, os.path.abspath(__file__), __doc__)
