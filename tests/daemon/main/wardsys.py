"""The system on its Linux stand-ins, for the end-to-end tests and the demo:
hvod, kextsim, a reporter (hvoctl serving module 102) and appwardd, with the
preferences, profiles and fixtures they read, and readers of what they
write. Runs inside tests/ns-run.sh, which gives it a private
/usr/local/Vantrel."""
import json
import os
import signal
import subprocess
import sys
import time

DOMAIN = "com.vantrel.zrm.appprotection"
VAR = "/usr/local/Vantrel/AppProtection/var"
PID_FILE = VAR + "/.AppProtPid"
TRACE_FILE = VAR + "/appProt.trace"
TRACE_FLAGS = VAR + "/traceValues.xml"
PROFILE = VAR + "/profile.data"
HUB_SOCKET = "/usr/local/Vantrel/hvo/var/hvodsocket"
TOOLS = {
    "hvod": "platform/broker/hvod",
    "hvoctl": "platform/broker/hvoctl",
    "kextsim": "platform/kctl/kextsim",
    "prefsctl": "platform/settingstore/prefsctl",
    "appwardd": "daemon/main/appwardd",
    "mkprofile": "tests/daemon/main/mkprofile",
    "agentctl": "platform/agentbridge/agentctl",
    "alertclient": "tests/daemon/main/alertclient",
}
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


class Failure(Exception):
    pass


def check(actual, expected, what):
    if actual != expected:
        raise Failure("%s: got %r, wanted %r" % (what, actual, expected))
    print("ok  %s" % what, flush=True)


def check_true(value, what):
    check(bool(value), True, what)


def wait_for(what, predicate, seconds=5.0):
    end = time.monotonic() + seconds
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.02)


def read(path, mode="r"):
    try:
        with open(path, mode) as f:
            return f.read()
    except FileNotFoundError:
        return b"" if "b" in mode else ""


class System:
    def __init__(self, build, work):
        self.build = os.path.abspath(build)
        self.work = work
        os.makedirs(work, exist_ok=True)
        os.makedirs(VAR, exist_ok=True)
        self.hub_log = os.path.join(work, "hvod.jsonl")
        self.kext_log = os.path.join(work, "kextsim.jsonl")
        self.procs = {}

    def path(self, name):
        return os.path.join(self.build, TOOLS[name])

    def run(self, name, *args, check=True, timeout=30):
        result = subprocess.run([self.path(name)] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise Failure("%s %s: exit %d: %s" % (name, " ".join(args), result.returncode,
                                                   result.stderr.decode(errors="replace")))
        return result

    # Fixtures, preferences and profiles.

    def fixtures(self, folder):
        subprocess.run([sys.executable, os.path.join(SOURCE, "tests/fixtures/daemon_fixtures.py"), folder],
                       check=True)
        return folder

    def pref(self, key, kind, *values):
        self.run("prefsctl", "set", DOMAIN, key, "-" + kind, *[str(v) for v in values])

    def pref_get(self, key):
        return self.run("prefsctl", "get", DOMAIN, key, check=False).stdout.decode().strip()

    def profile(self, *rules):
        self.run("mkprofile", PROFILE, *rules)

    def trace_flags(self, **levels):
        body = "".join("<%s>%d</%s>" % (k, v, k) for k, v in levels.items())
        with open(TRACE_FLAGS, "w") as f:
            f.write("<TraceValues>%s</TraceValues>\n" % body)

    # Processes.

    def start(self, name, *args, prefix=()):
        out = open(os.path.join(self.work, name + ".out"), "ab")
        proc = subprocess.Popen(list(prefix) + [self.path(name)] + list(args), stdout=out, stderr=subprocess.STDOUT)
        self.procs.setdefault(name, []).append(proc)
        return proc

    def start_hub(self):
        self.start("hvod", "--log", self.hub_log, "--health-interval", "0")
        wait_for("hvod", lambda: os.path.exists(HUB_SOCKET))
        self.start("hvoctl", "serve", "--as", "102", "--answer", "none")
        wait_for("the reporter", lambda: any(l.split()[:1] == ["102"] for l in self.modules()))

    def start_kextsim(self, *args):
        self.start("kextsim", "serve", "--log", self.kext_log, *args)
        wait_for("kextsim", lambda: any(e.get("event") == "listening" for e in self.kext_events()))

    def start_daemon(self, wait_registered=True, prefix=()):
        proc = self.start("appwardd", prefix=prefix)
        if wait_registered:
            wait_for("appwardd's module 3", lambda: self.registered(proc.pid), 10)
        return proc

    def registered(self, pid):
        return any(l.split()[:2] == ["3", str(pid)] for l in self.modules())

    def modules(self):
        return self.run("hvoctl", "modules", check=False).stdout.decode().splitlines()

    def stop_all(self):
        for procs in self.procs.values():
            for p in procs:
                if p.poll() is None:
                    p.kill()
                    p.wait()

    # What the system writes.

    def kext_events(self):
        events = []
        for line in read(self.kext_log, "rb").splitlines():
            events.append(json.loads(line.decode("ascii")))
        return events

    def options(self, number=None):
        return [e for e in self.kext_events()
                if e.get("event") == "option" and (number is None or e["option"] == number)]

    def hub_records(self):
        return [json.loads(line.decode("ascii")) for line in read(self.hub_log, "rb").splitlines()]

    def log_messages(self, text):
        return [r for r in self.hub_records() if r.get("kind") == "msg" and r.get("message") == text]

    def trace(self):
        return read(TRACE_FILE, "rb").decode("utf-8", errors="replace")

    # Requests through kextsim.

    def send(self, records, wait=2.0):
        """Passes one datagram of `records` (dicts of kextsim's fields);
        {cookie: (result, networkAction)} of the answers that came."""
        argv = ["send", "--wait", str(wait)]
        for i, record in enumerate(records):
            if i:
                argv.append("+")
            argv += ["%s=%s" % (k, v) for k, v in record.items()]
        result = self.run("kextsim", *argv, check=False)
        answers = {}
        for line in result.stdout.decode("ascii").splitlines():
            a = json.loads(line)
            answers[a["cookie"]] = (a["result"], a["networkAction"])
        return answers

    def send_none(self, records, seconds=0.3):
        argv = ["send", "--expect-none", str(seconds)]
        for i, record in enumerate(records):
            if i:
                argv.append("+")
            argv += ["%s=%s" % (k, v) for k, v in record.items()]
        return self.run("kextsim", *argv, check=False).returncode == 0

    def terminate(self, proc, seconds=10):
        proc.send_signal(signal.SIGTERM)
        return proc.wait(seconds)


def scenario_main(scenarios, script, usage):
    """SCRIPT SCENARIO BUILD: runs scenarios[SCENARIO] = (function, {path: text})
    inside tests/ns-run.sh --overlay, with the texts as executable files at
    their paths under /; prints the work folder and the trace on a failure."""
    import shutil
    import tempfile
    if len(sys.argv) == 4 and sys.argv[1] == "--inside":
        name, build = sys.argv[2], sys.argv[3]
        s = System(build, tempfile.mkdtemp(prefix="ward-e2e."))
        try:
            scenarios[name][0](s)
        except Failure as e:
            print("FAILED %s: %s" % (name, e), flush=True)
            for f in sorted(os.listdir(s.work)):
                print("--- %s" % f)
                print(read(os.path.join(s.work, f))[-4000:])
            print("--- trace")
            print(s.trace()[-6000:])
            sys.exit(1)
        finally:
            s.stop_all()
        print("passed %s" % name)
        sys.exit(0)
    if len(sys.argv) != 3 or sys.argv[1] not in scenarios:
        sys.exit(usage)
    name, build = sys.argv[1], os.path.abspath(sys.argv[2])
    overlay = tempfile.mkdtemp(prefix="ward-e2e-overlay.")
    try:
        for relative, text in scenarios[name][1].items():
            target = os.path.join(overlay, relative)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "w") as f:
                f.write(text)
            os.chmod(target, 0o755)
        ns_run = os.path.join(SOURCE, "tests/ns-run.sh")
        env = dict(os.environ, WARD_BUILD_DIR=build)
        sys.exit(subprocess.run([ns_run, "--overlay", overlay, sys.executable, script, "--inside", name, build],
                                env=env).returncode)
    finally:
        shutil.rmtree(overlay, ignore_errors=True)
