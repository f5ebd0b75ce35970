#!/usr/bin/env python3
"""AppWardPane in wardhost as module 102, end to end: hvod, kextsim and
appwardd as processes in a private namespace; wardhost runs a script and
records what it did. PortWardPane in wardhost on hvod, fwservice and the
ipfw stand-in: the user's steps, the service's commands and the kernel list.

  pane_e2e.py SCENARIO BUILD    as root: runs the scenario in tests/ns-run.sh
Scenarios: %s. Exit 0 when every check held; 1 with the first failed check."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.join(SOURCE, "tests/daemon/main"))
import wardsys  # noqa: E402
from wardsys import Failure, HUB_SOCKET, System, wait_for  # noqa: E402

wardsys.TOOLS["wardhost"] = "platform/host/wardhost/wardhost"
wardsys.TOOLS["fwservice"] = "platform/host/fwservice/fwservice"
BUNDLE = "panes/application/AppWardPane.bundle"
FW_BUNDLE = "panes/firewall/PortWardPane.bundle"
RULES_BIN = "/usr/local/Vantrel/ipfw/rules.bin"
KERNEL_LIST = os.path.join(SOURCE, "tests/platform/host/fwservice/kernel_list.py")
UNKNOWN_DENY = "Denied %s from executing because  unknown applications are blocked as per the settings"
HEADER = "22 serialization::archive 18"


def check(actual, expected, what):
    if actual != expected:
        raise Failure("%s: got %r, wanted %r" % (what, actual, expected))
    print("ok  %s" % what, flush=True)


def check_true(value, what):
    check(bool(value), True, what)


def launch(pid, cookie, path):
    return {"pid": pid, "type": 100, "cookie": cookie, "path": path, "networkAction": 4}


class Pane(System):
    """The system with wardhost as module 102."""

    @staticmethod
    def of(system):
        system.__class__ = Pane
        os.environ["GNUSTEP_CONFIG_FILE"] = os.path.join(system.build, "gnustep-home/GNUstep.conf")
        os.environ["LSAN_OPTIONS"] = "suppressions=" + os.path.join(SOURCE, "tests/panes/lsan.supp")
        return system

    def programs(self, *names):
        """Unknown Mach-O executables outside the special folders, one
        fingerprint each."""
        fx = self.fixtures("/tmp/fx")
        apps = "/tmp/apps"
        os.makedirs(apps, exist_ok=True)
        paths = []
        for name, source in zip(names, ("U", "M", "R", "D", "M2")):
            shutil.copy2(os.path.join(fx, source), os.path.join(apps, name))
            paths.append(os.path.join(apps, name))
        return paths

    def host(self, name, script, headless=True, env=None, bundles=(BUNDLE,), defaults=()):
        """Starts wardhost with `script`; answers (process, record path)."""
        stop = [p for p in self.procs.get("wardhost", []) if p.poll() is None]
        for p in stop:
            p.terminate()
            p.wait(10)
        path = os.path.join(self.work, "script-" + name)
        with open(path, "w") as f:
            f.write("\n".join(script) + "\n")
        record = os.path.join(self.work, "record-%s.jsonl" % name)
        args = []
        for b in bundles:
            args += ["--bundle", os.path.join(self.build, b)]
        args += ["--script", path, "--record", record, "--trace", os.path.join(self.work, "wardhost-%s.trace" % name)]
        args += list(defaults)
        if headless:
            args.append("--headless")
        if env is not None:
            os.environ.update(env)
        proc = self.start("wardhost", *args)
        wait_for("wardhost", lambda: any(l.split()[:2] == ["102", str(proc.pid)] for l in self.modules()), 10)
        return proc, record

    def record(self, path):
        return [json.loads(l) for l in wardsys.read(path).splitlines()]

    def events(self, path, *names):
        return [e for e in self.record(path) if e["event"] in names]

    def finish(self, proc, seconds=20):
        check(proc.wait(seconds), 0, "wardhost ends its script with status 0")

    def rules(self):
        result = self.run("hvoctl", "send", "--to", "3", "--cmd", "20003", "--timeout", "10", check=False)
        lines = result.stdout.decode("utf-8", "surrogateescape").splitlines()
        return lines[1] if len(lines) > 1 else ""


def start(s, unknown_action, timeout):
    s.pref("UnknownAppAction", "int", unknown_action)
    s.pref("PromptTimeout", "int", timeout)
    s.start("hvod", "--log", s.hub_log, "--health-interval", "0")
    wait_for("hvod", lambda: os.path.exists(HUB_SOCKET))
    s.start_kextsim()
    return s.start_daemon()


def slot(event, ident="1"):
    return {"event": event, "module": 3, "id": ident}


def headless(s):
    """The table of the headless cases, one program and one host each."""
    s = Pane.of(s)
    allow, refuse, late, denied = s.programs("Allowed", "Refused", "Late", "Denied")
    start(s, 3, 30)

    # choose 1, authorize yes, click always: allowed without network, and a
    # rule stored.
    host, rec = s.host("always", ["wait alert 10", "choose 1", "authorize yes", "click always", "sleep 1", "quit"])
    check(s.send([launch(5001, 501, allow)], wait=10), {501: (1, 2)}, "always, choice 1: allow for the cookie")
    s.finish(host)
    check(s.events(rec, "AddAlert", "DeleteAlert"), [slot("AddAlert"), slot("DeleteAlert")],
          "always: the slot added and deleted")
    check([e["answer"] for e in s.events(rec, "AuthorizeUser")], [1], "always: one authorisation, granted")
    rules = s.rules()
    entry = " %d %s 1 " % (len(allow), allow)  # the group, then execution allowed
    check_true(entry in rules, "20003 lists the program, execution allowed (%s)" % rules)
    check_true(rules.rstrip().endswith(" 1 2"), "with network action 2 (enabled 1)")

    # authorize no, click always: nothing goes back, the slot stays.
    host, rec = s.host("refused", ["wait alert 10", "authorize no", "click always", "sleep 5", "quit"])
    check(s.send([launch(5002, 502, refuse)], wait=3), {}, "refused: no answer for the cookie")
    s.finish(host)
    check(s.events(rec, "AddAlert", "DeleteAlert"), [slot("AddAlert")], "refused: the slot stays")
    check([e["answer"] for e in s.events(rec, "AuthorizeUser")], [0], "refused: one authorisation, refused")

    # PromptTimeout 2 and no click: the pane's timer denies.
    s.pref("PromptTimeout", "int", 2)
    host, rec = s.host("timeout", ["wait alert 10", "sleep 4", "quit"])
    began = time.time()
    check(s.send([launch(5003, 503, late)], wait=8), {503: (2, 2)}, "time-out 2: deny for the cookie")
    took = time.time() - began
    check_true(1.5 <= took <= 5, "the answer after about 2 s (%.1f s)" % took)
    s.finish(host)
    check(s.events(rec, "AddAlert", "DeleteAlert"), [slot("AddAlert"), slot("DeleteAlert")],
          "time-out: the slot deleted")

    # UnknownAppAction 2: denied at once, a notification with the name.
    s.pref("UnknownAppAction", "int", 2)
    host, rec = s.host("notification", ["wait notification 10", "sleep 0.5", "click ok", "sleep 0.5", "quit"])
    check(s.send([launch(5004, 504, denied)], wait=3), {504: (2, 2)}, "action 2: deny at once")
    s.finish(host)
    check(s.events(rec, "AddNotification", "DeleteNotification", "AddAlert"),
          [slot("AddNotification"), slot("DeleteNotification")], "the notification added, then deleted by OK")
    texts = [e["text"] for e in s.events(rec, "notificationString")]
    check_true(texts and "Denied" in texts[0], "the notification names the program (%r)" % texts)
    rows = [e for e in s.events(rec, "recent") if (e["subject"] or "").endswith("Denied")]
    check_true(rows, "a recent-events row for the program")
    check(len(s.log_messages(UNKNOWN_DENY % denied)), 1, "hvod logs the unknown-deny line once")


def start_display(s):
    """An X server of the scenario's own (inside the namespace)."""
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24", "-nolisten", "tcp"],
                            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    s.procs.setdefault("Xvfb", []).append(proc)
    os.environ["DISPLAY"] = ":" + number.decode().strip()
    return proc


def click(x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], check=True)
    subprocess.run(["xdotool", "mousedown", "1"], check=True)
    time.sleep(0.15)
    subprocess.run(["xdotool", "mouseup", "1"], check=True)


def centre(frame):
    return frame["x"] + frame["w"] // 2, frame["y"] + frame["h"] // 2


def frames_of(rec):
    """wardhost's recorded control frames by title (the last of each)."""
    events = (json.loads(l) for l in wardsys.read(rec).splitlines())
    return {e["title"]: e for e in events if e["event"] == "frame"}


def deny_once_on_screen(rec, shot, choices_shot=None):
    """The shown alert as a user meets it: photographed (`import -window
    root`), "Deny execution" picked from the choices' pop-up, then "Once"
    clicked. Answers the number of colours in the area of the controls."""
    popup = lambda: [f for t, f in frames_of(rec).items()  # noqa: E731
                     if t.startswith("Allow execution with full")]
    wait_for("the alert's controls", popup, 15)
    time.sleep(0.5)
    frames = frames_of(rec)
    subprocess.run(["import", "-window", "root", shot], check=True)
    left = min(f["x"] for f in frames.values())
    top = min(f["y"] for f in frames.values())
    right = max(f["x"] + f["w"] for f in frames.values())
    bottom = max(f["y"] + f["h"] for f in frames.values())
    colours = subprocess.run(["convert", shot, "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top),
                              "-format", "%k", "info:"], stdout=subprocess.PIPE, check=True).stdout.decode()

    # The choices' pop-up opens over the button with the shown choice
    # first; "Deny execution" is the third item: press, drag, release.
    choices = popup()[0]
    x, y = centre(choices)
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], check=True)
    subprocess.run(["xdotool", "mousedown", "1"], check=True)
    time.sleep(0.7)
    if choices_shot:
        subprocess.run(["import", "-window", "root", choices_shot], check=True)
    subprocess.run(["xdotool", "mousemove", str(x), str(y + 2 * choices["h"])], check=True)
    time.sleep(0.3)
    subprocess.run(["xdotool", "mouseup", "1"], check=True)
    time.sleep(0.5)
    click(*centre(frames["Once"]))
    return int(colours)


def xvfb(s):
    """The alert on a display: shown, photographed, answered by clicks."""
    s = Pane.of(s)
    (program,) = s.programs("Prompted")
    name = os.path.basename(program)
    start(s, 3, 30)
    start_display(s)
    artifacts = os.path.join(s.build, "test-artifacts/pane_e2e")
    os.makedirs(artifacts, exist_ok=True)
    host, rec = s.host("xvfb", ["wait alert 20", "sleep 12", "view AppProtection_View", "about", "sleep 1", "quit"],
                       headless=False)
    answers = {}
    sender = threading.Thread(target=lambda: answers.update(s.send([launch(6001, 601, program)], wait=20)))
    sender.start()
    colours = deny_once_on_screen(rec, os.path.join(artifacts, "appward-alert.png"),
                                  os.path.join(artifacts, "appward-choices.png"))
    check_true(colours > 1, "the alert area is drawn (%d colours)" % colours)
    sender.join()
    check(s.events(rec, "AddAlert"), [slot("AddAlert")], "AddAlert(3, 1)")
    texts = [e["text"] for e in s.events(rec, "alertString")]
    check(texts, ["%s is trying to execute" % name], "the alert names the program")
    check(answers, {601: (2, 2)}, "kextsim gets deny for the cookie")
    s.finish(host, 30)
    check(s.events(rec, "AddAlert", "DeleteAlert", "AddNotification"), [slot("AddAlert"), slot("DeleteAlert")],
          "the slot deleted, no notification")
    lines = s.log_messages(UNKNOWN_DENY % program)
    check([(r["sender"], r["type"], r["level"]) for r in lines], [(3, 1, 3)],
          "hvod logs one activity line at level 3")
    rows = [e for e in s.events(rec, "recent") if (e["subject"] or "").endswith(name)]
    check_true(rows, "a recent-events row ends in the program's name")
    check([e["view"] for e in s.events(rec, "view")], [True], "the preference view is shown")
    tabs = frames_of(rec)
    check_true("Rules" in tabs and "Exclusions" in tabs, "the view's tabs have frames")
    check_true(s.events(rec, "about"), "about lines")


# The firewall pane's steps as wardhost's script: show the view, unlock,
# choose deny, add "web" (tcp, destination port 80) through the rule sheet.
# Each step ends in a pause; its last line is the step's marker.
FW_TCP = 1301
FW_DENY_MODE = 1001
FW_STEPS = [
    ("show the view (fresh state), unlock",
     ["view FWPreferene_view", "authorize yes", "unlock"], ("unlock", None)),
    ("choose deny",
     ["set PreferenceRules allowDenyCustom %d" % FW_DENY_MODE], ("set", "allowDenyCustom")),
    ("add web, tcp, destination port 80",
     ["action PreferenceRules AddRulesButtonClicked:",
      "set PreferenceRules rulesObject.rulesNameAsString web",
      "set PreferenceRules rulesObject.protocolAsInt %d" % FW_TCP,
      "set PreferenceRules rulesObject.portDestination 80",
      "action PreferenceRules AddNewCreatlyRules:"], ("action", "AddNewCreatlyRules:")),
]
# Sheets and error panels without a modal loop, so the script goes on.
FW_DEFAULTS = ("-FWPModelessPanels", "YES")


def firewall_script(pause=2, shot=None):
    """The steps' lines with a pause after each; `shot` then takes the window."""
    lines = []
    for _, step, _ in FW_STEPS:
        lines += step + ["sleep %g" % pause]
    if shot:
        lines += ["shot " + shot]
    return lines


def step_done(events, marker):
    kind, key = marker
    for e in events:
        if e["event"] == kind and (key is None or key in (e.get("path"), e.get("selector"))):
            return True
    return False


def start_firewall(s, record):
    """fwservice --record on hvod, the ipfw stand-in first on PATH."""
    bin_dir = tempfile.mkdtemp(prefix="ward-ipfw-")
    os.symlink(os.path.join(s.build, "platform/ipfw/ipfw"), os.path.join(bin_dir, "ipfw"))
    os.environ["PATH"] = bin_dir + ":" + os.environ.get("PATH", "/usr/bin:/bin")
    proc = s.start("fwservice", "--record", record)
    wait_for("fwservice's module 4", lambda: any(l.split()[:2] == ["4", str(proc.pid)] for l in s.modules()), 10)
    return proc


def kernel_list():
    """The kernel list of rules.bin as "NUMBER ACTION PORTS" lines (struct, not our decoder)."""
    return subprocess.run([sys.executable, KERNEL_LIST, RULES_BIN], stdout=subprocess.PIPE,
                          check=True).stdout.decode()


class ServiceRecord:
    """fwservice's record read in pieces: the ids since the last look, with
    the payload of 10209 after a colon and ":false" for a refusal."""

    def __init__(self, path):
        self.path, self.seen = path, 0

    def since(self):
        lines = wardsys.read(self.path).splitlines()
        new, self.seen = lines[self.seen:], len(lines)
        out = []
        for line in map(json.loads, new):
            entry = str(line["id"])
            if line["id"] == 10209:
                entry += ":" + line["payload"].split(HEADER + " ", 1)[1]
            if not line["status"]:
                entry += ":false"
            out.append(entry)
        return out


# The steps' expected commands and kernel lists, in FW_STEPS' order.
FW_EXPECTED = [
    (["10205", "10205", "10212"], "5002 allow -\n65535 allow -\n"),
    (["10209:0 0 0 0 0 1"], "5002 allow -\n65535 allow -\n"),
    (["10204", "10211", "10205"], "5002 allow -\n5122 allow 80\n65535 allow -\n"),
]


def follow_firewall_steps(rec, service, seconds=20):
    """Waits for each step's marker in wardhost's record, then answers
    [(step, commands, kernel list)] as fwservice and rules.bin show them."""
    seen = []
    for what, _, marker in FW_STEPS:
        wait_for(what, lambda: step_done([json.loads(l) for l in wardsys.read(rec).splitlines()], marker), seconds)
        time.sleep(0.5)
        seen.append((what, service.since(), kernel_list()))
    return seen


def firewall(s):
    """PortWardPane in wardhost on a display: the script's steps reach
    fwservice and the kernel list."""
    s = Pane.of(s)
    s.start("hvod", "--log", s.hub_log, "--health-interval", "0")
    wait_for("hvod", lambda: os.path.exists(HUB_SOCKET))
    service_record = os.path.join(s.work, "fwservice.jsonl")
    start_firewall(s, service_record)
    service = ServiceRecord(service_record)
    start_display(s)
    artifacts = os.path.join(s.build, "test-artifacts/pane_e2e")
    os.makedirs(artifacts, exist_ok=True)
    shot = os.path.join(artifacts, "portward-rules.png")
    host, rec = s.host("firewall", firewall_script() + ["quit"], headless=False, bundles=(FW_BUNDLE,),
                       defaults=FW_DEFAULTS)
    for (what, commands, kernel), (expected_commands, expected_kernel) in zip(
            follow_firewall_steps(rec, service), FW_EXPECTED):
        check(commands, expected_commands, what + ": the service's commands")
        check(kernel, expected_kernel, what + ": the kernel list")
    subprocess.run(["import", "-window", "root", shot], check=True)
    colours = subprocess.run(["identify", "-format", "%k", shot], stdout=subprocess.PIPE,
                             check=True).stdout.decode()
    check_true(int(colours) > 1, "the screen shows the pane (%s colours)" % colours.strip())
    s.finish(host, 30)
    outcome = {"view": "view", "unlock": "granted", "action": "sent", "set": "done"}
    events = [(e["event"], e[outcome[e["event"]]]) for e in s.record(rec) if e["event"] in outcome]
    check(events, [("view", True), ("unlock", True), ("set", True), ("action", True), ("set", True), ("set", True),
                   ("set", True), ("action", True)], "wardhost showed the view, unlocked and reached the controllers")
    check(s.events(rec, "AddAlert", "AddNotification"), [], "no alert or notification")


SCENARIOS = {
    "headless": (headless, {}),
    "xvfb": (xvfb, {}),
    "firewall": (firewall, {}),
}

if __name__ == "__main__":
    wardsys.scenario_main(SCENARIOS, os.path.abspath(__file__), __doc__ % ", ".join(sorted(SCENARIOS)))
