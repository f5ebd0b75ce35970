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


def host_record(path):
    """wardhost's record: its events in order."""
    return [json.loads(l) for l in wardsys.read(path).splitlines()]


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
        return host_record(path)

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


def deny_once_on_screen(rec, shot, choices_shot=None):
    """The shown alert as a user meets it: photographed (`import -window
    root`), "Deny execution" picked from the choices' pop-up, then "Once"
    clicked. Answers the number of colours in the area of the controls."""
    popup = lambda: [f for f in frames_of(rec) if f["title"].startswith("Allow execution with full")]  # noqa: E731
    wait_for("the alert's controls", popup, 15)
    time.sleep(0.5)
    frames = frames_of(rec)
    subprocess.run(["import", "-window", "root", shot], check=True)
    left = min(f["x"] for f in frames)
    top = min(f["y"] for f in frames)
    right = max(f["x"] + f["w"] for f in frames)
    bottom = max(f["y"] + f["h"] for f in frames)
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
    click(*centre(titled(frames, "Once")))
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
    tabs = [f["title"] for f in view_frames(rec, "AppProtection_View")]
    check_true("Rules" in tabs and "Exclusions" in tabs, "the view's tabs have frames (%s)" % tabs)
    check_true(s.events(rec, "about"), "about lines")


# The firewall pane's steps as wardhost's script, with the service's
# commands and the kernel list each step leaves. Each step ends in a pause;
# the end of its last line is the step's marker in wardhost's record. Row indices count
# the rules table's rows at that point: 5002, then the rules in number order.
FW_TCP = 1301
FW_DENY = 1200
FW_DENY_MODE = 1001
FW_RULE = "PreferenceRules rulesObject."
FRESH = "5002 allow -\n65535 allow -\n"
WITH_WEB = "5002 allow -\n5122 allow 80\n65535 allow -\n"


def fw_add(name, port):
    return ["action PreferenceRules AddRulesButtonClicked:", "set %srulesNameAsString %s" % (FW_RULE, name),
            "set %sprotocolAsInt %d" % (FW_RULE, FW_TCP), "set %sportDestination %s" % (FW_RULE, port),
            "action PreferenceRules AddNewCreatlyRules:"]


FW_STEPS = [
    ("show the view (fresh state), unlock", ["view FWPreferene_view", "authorize yes", "unlock"],
     ["10205", "10205", "10212"], FRESH),
    ("choose deny", ["set PreferenceRules allowDenyCustom %d" % FW_DENY_MODE],
     ["10209:0 0 0 0 0 1"], FRESH),
    ("add web, tcp, destination port 80", fw_add("web", 80),
     ["10204", "10211", "10205"], WITH_WEB),
    ("add Caf\u00e9, tcp, port 22", fw_add("Caf\u00e9", 22),
     ["10204", "10211", "10205"], "5002 allow -\n5122 allow 80\n5123 allow 22\n65535 allow -\n"),
    ("move Caf\u00e9 up", ["set PreferenceRules rulesController.selectionIndex 2",
                          "action PreferenceRules MoveSelectedRulesUp:"],
     ["10207:2 0 5123 5122"], "5002 allow -\n5122 allow 22\n5123 allow 80\n65535 allow -\n"),
    ("edit web: deny, port 8080", ["action PreferenceRules editRow: 2",
                                   "set %srulesActionAsInt %d" % (FW_RULE, FW_DENY),
                                   "set %sportDestination 8080" % FW_RULE,
                                   "action PreferenceRules AddNewCreatlyRules:",
                                   "get PreferenceRules rulesController.arrangedObjects.rulesNameAsString"],
     ["10206", "10210"], "5002 allow -\n5122 allow 22\n5123 deny 8080\n65535 allow -\n"),
    ("delete Caf\u00e9 (5122)", ["set PreferenceRules rulesController.selectionIndex 1",
                                "action PreferenceRules DeleteRulesButtonClicked:"],
     ["10208:1 0 5122"], "5002 allow -\n5123 deny 8080\n65535 allow -\n"),
    ("add with port 70000", fw_add("bad", 70000),
     ["10204", "10211:false"], "5002 allow -\n5123 deny 8080\n65535 allow -\n"),
]
# Sheets and error panels without a modal loop, so the script goes on.
FW_DEFAULTS = ("-FWPModelessPanels", "YES")
RULE_STORE = "/usr/local/Vantrel/Firewall/var/QyvRules"


def firewall_script(steps=FW_STEPS, pause=2):
    """The steps' lines with a pause after each."""
    lines = []
    for _, step, _, _ in steps:
        lines += step + ["sleep %g" % pause]
    return lines


def marker(step):
    """The record event that ends a step's last line: (event, selector or
    path); an action's is written when it returned."""
    words = step[-1].split()
    kind = "returned" if words[0] == "action" else words[0]
    return kind, words[2] if words[0] in ("action", "set", "get") and len(words) > 2 else None


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
    the payload of 10207, 10208 and 10209 after a colon and ":false" for a
    refusal."""

    def __init__(self, path):
        self.path, self.seen = path, 0

    def since(self):
        lines = wardsys.read(self.path).splitlines()
        new, self.seen = lines[self.seen:], len(lines)
        out = []
        for line in map(json.loads, new):
            entry = str(line["id"])
            if line["id"] in (10207, 10208, 10209):
                entry += ":" + line["payload"].split(HEADER + " ", 1)[1]
            if not line["status"]:
                entry += ":false"
            out.append(entry)
        return out

    def until(self, last, seconds=20):
        """The ids since the last look, read until `last` is among them or
        the time is up (fwservice records a command once it has answered)."""
        seen = []
        try:
            wait_for("fwservice's " + last, lambda: seen.extend(self.since()) or last in seen, seconds)
        except Failure:
            pass
        return seen


def follow_firewall_steps(rec, service, steps=FW_STEPS, seconds=20):
    """Waits for each step's marker in wardhost's record (after the last
    step's), then answers [(step, commands, kernel list, rule store)] as
    fwservice, rules.bin and the rule store show them."""
    seen, start = [], 0
    for what, step, _, _ in steps:
        kind, key = marker(step)
        found = []

        def reached():
            events = host_record(rec)
            for i in range(start, len(events)):
                e = events[i]
                if e["event"] == kind and (key is None or key in (e.get("path"), e.get("selector"))):
                    found.append(i)
                    return True
            return False

        wait_for(what, reached, seconds)
        start = found[0] + 1
        time.sleep(0.5)
        seen.append((what, service.since(), kernel_list(), wardsys.read(RULE_STORE, "rb")))
    return seen


def firewall_started(s):
    """hvod, fwservice --record and a display; answers fwservice's record."""
    s.start("hvod", "--log", s.hub_log, "--health-interval", "0")
    wait_for("hvod", lambda: os.path.exists(HUB_SOCKET))
    service_record = os.path.join(s.work, "fwservice.jsonl")
    start_firewall(s, service_record)
    start_display(s)
    return ServiceRecord(service_record)


def frames_of(rec, window=None):
    """The recorded control frames, of one window when given."""
    return [e for e in host_record(rec) if e["event"] == "frame" and window in (None, e["window"])]


def view_frames(rec, identifier):
    """The control frames recorded when the view was last shown."""
    events = host_record(rec)
    shown = [i for i, e in enumerate(events) if e["event"] == "view" and e["id"] == identifier]
    frames = []
    for e in events[shown[-1] + 1:] if shown else []:
        if e["event"] != "frame":
            break
        frames.append(e)
    return frames


def panels(rec):
    return [e for e in host_record(rec) if e["event"] == "panel"]


def titled(frames, title):
    found = [f for f in frames if f["title"] == title]
    if not found:
        raise Failure("no control titled %r among %r" % (title, [f["title"] for f in frames]))
    return found[0]


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "50", text], check=True)


def add_rule_by_clicks(rec, name, port, seconds=20):
    """Adds a rule as the user does: the rules tab's Add ("+"), the name, tcp
    from the protocol pop-up, the destination port, and the modal sheet's
    OK, all by xdotool at the places wardhost recorded."""
    before = len(panels(rec))
    click(*centre(titled(view_frames(rec, "FWPreferene_view"), "+")))
    wait_for("the rule sheet", lambda: len(panels(rec)) > before, seconds)
    sheet = panels(rec)[before]["window"]
    wait_for("the rule sheet's controls", lambda: titled(frames_of(rec, sheet), "OK"), seconds)
    controls = frames_of(rec, sheet)
    fields = sorted((f for f in controls if f["editable"]), key=lambda f: (f["y"], f["x"]))
    name_field, destination = fields[0], fields[-1]  # the name on top; the ports' right one
    click(*centre(name_field))
    type_text(name)
    protocol = titled(controls, "ip")
    x, y = centre(protocol)
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], check=True)
    subprocess.run(["xdotool", "mousedown", "1"], check=True)
    time.sleep(0.5)
    subprocess.run(["xdotool", "mousemove", str(x), str(y + protocol["h"])], check=True)  # tcp, below ip
    time.sleep(0.3)
    subprocess.run(["xdotool", "mouseup", "1"], check=True)
    time.sleep(0.3)
    click(*centre(destination))
    type_text(str(port))
    click(*centre(titled(controls, "OK")))


def keep_screen(s, name):
    """The screen in the test's artifacts; checks that something is drawn."""
    artifacts = os.path.join(s.build, "test-artifacts/pane_e2e")
    os.makedirs(artifacts, exist_ok=True)
    shot = os.path.join(artifacts, name)
    subprocess.run(["import", "-window", "root", shot], check=True)
    colours = subprocess.run(["identify", "-format", "%k", shot], stdout=subprocess.PIPE, check=True).stdout.decode()
    check_true(int(colours) > 1, "the screen shows the pane (%s colours)" % colours.strip())


def firewall_clicks(s):
    """PortWardPane in wardhost on a display with its real modal sheet: the
    script unlocks and chooses deny, xdotool adds a rule through the sheet,
    the rule reaches the kernel; the screen is kept."""
    s = Pane.of(s)
    service = firewall_started(s)
    done = os.path.join(s.work, "clicks-done")
    steps = FW_STEPS[:2]
    host, rec = s.host("firewall-clicks", firewall_script(steps) + ["wait file 60 " + done, "quit"],
                       headless=False, bundles=(FW_BUNDLE,))
    for (what, commands, kernel, _), (_, _, expected_commands, expected_kernel) in zip(
            follow_firewall_steps(rec, service, steps), steps):
        check(commands, expected_commands, what + ": the service's commands")
        check(kernel, expected_kernel, what + ": the kernel list")
    add_rule_by_clicks(rec, "web", 80)
    wait_for("the rule in the kernel", lambda: kernel_list() == WITH_WEB, 20)
    check(service.until("10205"), ["10204", "10211", "10205"], "the clicks: the service's commands")
    keep_screen(s, "portward-clicks.png")
    with open(done, "w"):
        pass
    s.finish(host, 30)


def firewall(s):
    """PortWardPane in wardhost on a display: the script's steps reach
    fwservice and the kernel list."""
    s = Pane.of(s)
    service = firewall_started(s)
    host, rec = s.host("firewall", firewall_script() + ["quit"], headless=False, bundles=(FW_BUNDLE,),
                       defaults=FW_DEFAULTS)
    seen = follow_firewall_steps(rec, service)
    keep_screen(s, "portward-rules.png")
    for (what, commands, kernel, _), (_, _, expected_commands, expected_kernel) in zip(seen, FW_STEPS):
        check(commands, expected_commands, what + ": the service's commands")
        check(kernel, expected_kernel, what + ": the kernel list")
    store = {what: rule_store for what, _, _, rule_store in seen}
    check_true(b"5 Caf\xc3\xa9" in store["edit web: deny, port 8080"], "before the delete the rule store holds Caf\u00e9 in UTF-8")
    s.finish(host, 30)
    names = [e["value"] for e in s.events(rec, "get")]
    check(len(names), 1, "one read of the rows' names")
    check(names[0][1:], ["Caf\u00e9", "web"], "the rows after the edit read Caf\u00e9 (5122), web (5123)")
    outcome = {"view": "view", "unlock": "granted", "action": "sent", "set": "done"}
    done = [(e["event"], e[outcome[e["event"]]]) for e in s.record(rec) if e["event"] in outcome]
    lines = [line.split()[0] for _, step, _, _ in FW_STEPS for line in step]
    check(done, [(verb, True) for verb in lines if verb in outcome],
          "wardhost showed the view, unlocked and reached the controllers")
    logged = [l for l in wardsys.read(os.path.join(s.work, "wardhost.out")).splitlines() if "FWP panel: " in l]
    check([l.split("FWP panel: ", 1)[1] for l in logged], ["Invalid dest port for setting"],
          "the refused port shows one error panel")
    check(s.events(rec, "AddAlert", "AddNotification"), [], "no alert or notification")


SCENARIOS = {
    "headless": (headless, {}),
    "xvfb": (xvfb, {}),
    "firewall": (firewall, {}),
    "firewall_clicks": (firewall_clicks, {}),
}

if __name__ == "__main__":
    wardsys.scenario_main(SCENARIOS, os.path.abspath(__file__), __doc__ % ", ".join(sorted(SCENARIOS)))
