#!/usr/bin/env python3
"""Fault scenarios: kqhost backs up or restores a small tree through a chain of proxies in front of Azurite,

    kqhost -> Toxiproxy (TCP faults) -> faultproxy.py (HTTP faults, and the trigger for TCP ones) -> Azurite

and each run must end in one of two states, within its time limit:
  * it succeeded, and what is stored (backup) or restored (restore) is byte-exact;
  * it failed cleanly: non-zero exit, each failed file named with the plug-in's code, nothing committed for a
    file whose backup failed, every committed object intact, no partial or failed file in the restore folder.

    run_faults.py --list | all | SCENARIO...

Environment: KQHOST, KQ_JAVA_LIB, KQ_REPO (set by CMake); TOXIPROXY (default KQ_REPO/.tools/bin/server);
KQ_FAULTS_ITEMS (library items appended to the connection string, e.g. "TryTimeout=10");
KQ_FAULTS_LIMIT (seconds; overrides every scenario's time limit); KQ_FAULTS_KEEP=1 keeps the work folder;
KQ_FAULTS_SKIP=1 skips, saying so.  Exit: 0 all passed, 1 some failed, 77 skipped (a missing tool).
"""

import filecmp
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request
from dataclasses import dataclass

# ---------------------------------------------------------------------------------------------------------------
# What the library is given and how long each kind of fault may take: the one place to change them.
# Short time limits keep a stalled scenario to a minute: a try may last TryTimeout + bytes / MinRate (at most 2 s + 4 s
# here), no data request outlives CallTimeout, and any other request ends after MaxTries such tries; five tries
# (back-off 0.5 + 1 + 2 + 4 s) outlast the few seconds a clearing fault lasts.
LIBRARY_ITEMS = os.environ.get("KQ_FAULTS_ITEMS", "TryTimeout=2;MinRate=1048576;CallTimeout=15;MaxTries=5")
LIMIT_QUICK = 60      # a few refused or failed requests: retries with back-off, then done
LIMIT_STALLED = 90    # a link that stops answering: every file still to go may wait out one CallTimeout
SIGINT_LIMIT = 2.0    # Ctrl-C ends the run this soon, whatever the network does
GRACE = 15            # beyond the limit, before the harness kills kqhost itself
BLOCK = "256K"        # small blocks, so that each file has several in flight
THREADS = "2"
# ---------------------------------------------------------------------------------------------------------------

DEV_KEY = "Eby8vdM02xNOcqFlqUwJPLlmEtlCDXJ1OUzFT50uSRZ6IFsuFq2UVErCz4I6tq/K1SZFPTOtr/KBHBeksoGMGw=="
HERE = os.path.dirname(os.path.abspath(__file__))
ERROR_LINE = re.compile(r"^kqhost: (?:backup|restore): (.+?): .*\bcode (\d+)", re.M)
# The tree: names -> sizes.  big.bin has 25 blocks, mid.bin 9, the small ones go up in one call.
TREE = {"big.bin": 25 * 262144 + 777, "sub/mid.bin": 9 * 262144, "sub/small.txt": 3000, "tiny.txt": 17}


def toxic(kind, stream="downstream", **attributes):
    return json.dumps({"type": kind, "stream": stream, "attributes": attributes}, separators=(",", ":"))


@dataclass
class Scenario:
    name: str
    op: str                 # backup | restore
    rules: list             # faultproxy rules; "{proxy}" is filled in
    limit: float = LIMIT_QUICK
    must_fail: bool = False  # a fault that never clears cannot end in success
    transient: bool = False  # a fault that clears again must be ridden out: success required
    sigint: bool = False     # send Ctrl-C a second after the first fault, expect exit 130 within SIGINT_LIMIT


def toxic_rule(match, toxic_json, skip, path="big.bin", lifetime=0):
    rule = f"kind=toxic,match={match},path={path},skip={skip},proxy={{proxy}},toxic={toxic_json}"
    return rule + (f",for={lifetime}" if lifetime else "")


STALL = toxic("timeout", timeout=0)
TRICKLE = toxic("slicer", average_size=1, size_variation=0, delay=1000000)
SCENARIOS = [
    # Refusals the service sends under load: one of each, on a block upload and on a ranged read.
    *[Scenario(f"{op}-{status}", op, [f"kind={status},match={match},path=big.bin,skip=1,retry=1"], transient=True)
      for op, match in (("backup", "put-block"), ("restore", "get-range")) for status in ("503", "500", "429")],
    # A bit flipped in every fifth block on its way up must never end in a committed corrupt object.
    Scenario("backup-flip", "backup", ["kind=flip,match=put-block,every=5,count=0"]),
    # Bits flipped on the way down, in a range checked by its MD5 and in one of whole blocks checked by their
    # sums: each is caught and fetched again.
    Scenario("restore-damage", "restore", ["kind=damage,match=get-range,path=big.bin,skip=1,count=2"],
             transient=True),
    # One block fails for good while the blocks after it are still in flight.
    Scenario("backup-block-fails", "backup", ["kind=503,match=put-block,path=big.bin,skip=2,count=0"],
             must_fail=True),
    # The last block fails for good: the close races the failing upload, and must not commit.
    Scenario("backup-last-block-fails", "backup", ["kind=500,match=put-block,path=big.bin,skip=25,count=0"],
             must_fail=True),
    Scenario("backup-commit-fails", "backup", ["kind=500,match=put-blocklist,path=big.bin,count=0"],
             must_fail=True),
    # TCP faults, switched on when the named request passes: on the way up for a backup, down for a restore.
    *[Scenario(f"{op}-{name}", op, [toxic_rule(match, toxic(kind, stream, **attributes), skip, lifetime=lifetime)],
               transient=True)
      for op, match, skip, stream in (("backup", "put-block", 4, "upstream"), ("restore", "get-range", 1, "downstream"))
      for name, kind, attributes, lifetime in (("reset", "reset_peer", {"timeout": 0}, 2),
                                               ("cut", "limit_data", {"bytes": 100000}, 3))],
    *[Scenario(f"{op}-stall", op, [toxic_rule(match, STALL, skip)], limit=LIMIT_STALLED, must_fail=True)
      for op, match, skip in (("backup", "put-block", 4), ("restore", "get-range", 1))],
    Scenario("restore-trickle", "restore", [toxic_rule("get-range", TRICKLE, 1)], limit=LIMIT_STALLED,
             must_fail=True),
    # Ctrl-C while a request hangs.
    Scenario("backup-sigint-stall", "backup", [toxic_rule("put-block", STALL, 4)], sigint=True),
    Scenario("restore-sigint-stall", "restore", [toxic_rule("get-range", STALL, 1)], sigint=True),
]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, process, what, seconds=60):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if process.poll() is not None:
            raise RuntimeError(f"{what} exited with {process.returncode}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.1)
    raise RuntimeError(f"{what} did not listen on {port} within {seconds}s")


def connection_string(port):
    items = f"{LIBRARY_ITEMS.strip(';')};" if LIBRARY_ITEMS.strip(";") else ""
    return (f"DefaultEndpointsProtocol=http;AccountName=devstoreaccount1;AccountKey={DEV_KEY};"
            f"BlobEndpoint=http://127.0.0.1:{port}/devstoreaccount1;{items}")


class Run:
    """The processes of one scenario and the checks on what it left behind."""

    def __init__(self, scenario, work):
        self.s = scenario
        self.work = work
        self.processes = []
        self.failures = []
        self.kqhost = os.environ["KQHOST"]
        self.javalib = os.environ["KQ_JAVA_LIB"]

    def start(self, argv, name):
        log = open(os.path.join(self.work, f"{name}.log"), "w")
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                   start_new_session=True)
        self.processes.append(process)
        return process

    def stop_all(self):
        for process in self.processes:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()

    def fail(self, text):
        self.failures.append(text)

    def kq(self, name, port, *args, limit=None, sigint_after_event=False):
        """Runs kqhost; returns (exit code or None if killed at the limit, seconds, stderr text)."""
        env = dict(os.environ, AZURE_STORAGE_CONNECTION_STRING=connection_string(port),
                   KQHOST_HOME=os.path.join(self.work, "home"))
        env.pop("KQHOST_CONTAINER", None)
        out = open(os.path.join(self.work, f"{name}.out"), "w")
        err_path = os.path.join(self.work, f"{name}.err")
        argv = [self.kqhost, "-q", "--java-lib", self.javalib, "--threads", THREADS, "--block-size", BLOCK, *args]
        started = time.monotonic()
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=open(err_path, "w"),
                                   env=env, start_new_session=True)
        hard = (limit or LIMIT_QUICK) + GRACE
        sent = None
        rc = None
        while time.monotonic() - started < hard:
            rc = process.poll()
            if rc is not None:
                break
            if sigint_after_event and sent is None and self.fault_happened():
                time.sleep(1.0)
                sent = time.monotonic()
                os.kill(process.pid, signal.SIGINT)
                hard = min(hard, sent - started + SIGINT_LIMIT + GRACE)
            time.sleep(0.05)
        ended = time.monotonic()
        if rc is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        if sent is not None:
            self.sigint_seconds = ended - sent
        with open(err_path, errors="replace") as f:
            return rc, ended - started, f.read()

    def fault_happened(self):
        try:
            with open(os.path.join(self.work, "events.log")) as f:
                return any(line.split(" ", 1)[0] not in ("removed", "answered") for line in f)
        except FileNotFoundError:
            return False


def make_tree(root):
    for name, size in TREE.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(os.urandom(size))


def tree_problems(src, dst, only=None):
    """Differences between the source tree and what was restored (only the files in `only`, when given)."""
    problems = []
    for name in TREE if only is None else only:
        a, b = os.path.join(src, name), os.path.join(dst, name)
        if not os.path.exists(b):
            problems.append(f"{name} missing")
        elif not filecmp.cmp(a, b, shallow=False):
            problems.append(f"{name} differs")
    return problems


def leftovers(dst):
    found = []
    for root, _, files in os.walk(dst):
        found += [os.path.join(root, f) for f in files if f.endswith(".kqhost-part")]
    return found


def run_scenario(s, work, toxiproxy_bin):
    run = Run(s, work)
    try:
        return check_scenario(run, s, work, toxiproxy_bin)
    finally:
        run.stop_all()


def check_scenario(run, s, work, toxiproxy_bin):
    repo = os.environ["KQ_REPO"]
    azurite_port, fault_port, api_port, link_port = (free_port() for _ in range(4))
    azurite = run.start([f"{repo}/node_modules/.bin/azurite-blob", "--blobHost", "127.0.0.1", "--blobPort",
                         str(azurite_port), "--inMemoryPersistence", "--skipApiVersionCheck", "--disableTelemetry",
                         "--silent"], "azurite")
    toxi = run.start([toxiproxy_bin, "-host", "127.0.0.1", "-port", str(api_port)], "toxiproxy")
    api = f"http://127.0.0.1:{api_port}"
    rules = [r.replace("{proxy}", "link") for r in s.rules]
    proxy = run.start([sys.executable, os.path.join(HERE, "faultproxy.py"), "--listen", str(fault_port),
                       "--upstream", str(azurite_port), "--events", os.path.join(work, "events.log"),
                       "--toxiproxy", api, *sum((["--rule", r] for r in rules), [])], "faultproxy")
    wait_port(azurite_port, azurite, "Azurite")
    wait_port(api_port, toxi, "Toxiproxy")
    wait_port(fault_port, proxy, "faultproxy")
    body = json.dumps({"name": "link", "listen": f"127.0.0.1:{link_port}",
                       "upstream": f"127.0.0.1:{fault_port}", "enabled": True}).encode()
    urllib.request.urlopen(urllib.request.Request(f"{api}/proxies", data=body, method="POST"), timeout=10).read()

    src, dst = os.path.join(work, "src"), os.path.join(work, "dst")
    make_tree(src)
    direct = azurite_port
    if s.op == "restore":
        rc, _, err = run.kq("setup", direct, "backup", src, "--prefix", "t")
        if rc != 0:
            return [f"the fault-free backup failed ({rc}): {err.strip()[-400:]}"]
    # The scenario's run, through the proxies.
    args = ["backup", src, "--prefix", "t"] if s.op == "backup" else ["restore", dst, "--prefix", "t"]
    rc, seconds, err = run.kq(s.op, link_port, *args, limit=s.limit, sigint_after_event=s.sigint)
    took = f"{seconds:.1f}s"
    if not run.fault_happened():
        run.fail("no fault was injected (the rule matched nothing)")
    if rc is None:
        if hasattr(run, "sigint_seconds"):
            run.fail(f"Ctrl-C: still running {run.sigint_seconds:.0f}s after it (limit {SIGINT_LIMIT}s); killed")
        else:
            run.fail(f"still running after {seconds:.0f}s (limit {s.limit:.0f}s); killed")
        return run.failures + [f"({took})"]
    if s.sigint:
        if rc != 130:
            run.fail(f"Ctrl-C: exit {rc}, expected 130")
        if getattr(run, "sigint_seconds", 99) > SIGINT_LIMIT:
            run.fail(f"Ctrl-C: exit took {getattr(run, 'sigint_seconds', 0):.1f}s (limit {SIGINT_LIMIT}s)")
    elif seconds > s.limit:
        run.fail(f"took {took}, limit {s.limit:.0f}s")
    named = {m.group(1) for m in ERROR_LINE.finditer(err)}
    if rc == 0:
        if s.must_fail:
            run.fail("succeeded although the fault never cleared")
    elif not s.sigint:
        if s.transient:
            run.fail(f"a fault that cleared again failed the run (exit {rc}): {err.strip()[-300:]}")
        if not named:
            run.fail(f"exit {rc} without a line naming a file and its code: {err.strip()[-400:]}")
    # What is in storage, looked at directly, never through the proxies.
    ls_rc, _, _ = run.kq("ls", direct, "ls", "t/")
    with open(os.path.join(work, "ls.out")) as f:
        stored = {line.split()[-1][len("t/"):] for line in f if line.startswith("t/")}
    if ls_rc != 0:
        run.fail("listing the container directly failed")
    if s.op == "backup":
        if s.sigint and "big.bin" in stored:
            run.fail("big.bin was committed although Ctrl-C came while its upload hung")
        for name in named:
            if name.removeprefix("t/") in stored:
                run.fail(f"{name} failed but was committed")
        if rc == 0 and stored != set(TREE):
            run.fail(f"succeeded but stored {sorted(stored)}")
        if stored:
            check = os.path.join(work, "check")
            vrc, _, verr = run.kq("check", direct, "restore", check, "--prefix", "t")
            if vrc != 0:
                run.fail(f"a committed object does not restore intact: {verr.strip()[-400:]}")
            for problem in tree_problems(src, check, only=sorted(stored)):
                run.fail(f"committed object {problem}")
    else:
        parts = leftovers(dst) if os.path.isdir(dst) else []
        if parts:
            run.fail(f"partial files left: {parts}")
        if rc == 0:
            for problem in tree_problems(src, dst):
                run.fail(f"restored {problem}")
        else:
            done = [n for n in TREE if os.path.exists(os.path.join(dst, n))]
            for name in named:
                if os.path.exists(os.path.join(dst, name.removeprefix("t/"))):
                    run.fail(f"{name} failed but is in the restore folder")
            for problem in tree_problems(src, dst, only=done):
                run.fail(f"restored {problem}")
    outcome = "succeeded" if rc == 0 else f"exit {rc}"
    print(f"  {s.name}: {outcome} in {took}" + (f", Ctrl-C exit in {run.sigint_seconds:.1f}s"
                                                  if hasattr(run, "sigint_seconds") else ""), flush=True)
    return run.failures


def main(argv):
    if argv[:1] == ["--list"]:
        for s in SCENARIOS:
            print(s.name)
        return 0
    if os.environ.get("KQ_FAULTS_SKIP") == "1":
        print("SKIPPED: KQ_FAULTS_SKIP=1")
        return 77
    for var in ("KQHOST", "KQ_JAVA_LIB", "KQ_REPO"):
        if not os.environ.get(var):
            print(f"{var} is not set", file=sys.stderr)
            return 2
    repo = os.environ["KQ_REPO"]
    toxiproxy_bin = os.environ.get("TOXIPROXY", os.path.join(repo, ".tools/bin/server"))
    for path, fix in ((toxiproxy_bin, "run scripts/setup.sh"),
                      (f"{repo}/node_modules/.bin/azurite-blob", "run 'npm ci'"),
                      (f"{os.environ['KQ_JAVA_LIB']}/KQAzurePlugIn.jar", "build java/azure")):
        if not os.path.exists(path):
            print(f"SKIPPED: {path} is missing ({fix})")
            return 77
    wanted = [s.name for s in SCENARIOS] if argv in ([], ["all"]) else argv
    by_name = {s.name: s for s in SCENARIOS}
    unknown = [n for n in wanted if n not in by_name]
    if unknown:
        print(f"unknown scenario(s) {unknown}; --list shows them", file=sys.stderr)
        return 2
    limit = os.environ.get("KQ_FAULTS_LIMIT")
    failed = []
    for name in wanted:
        s = by_name[name]
        if limit:
            s.limit = float(limit)
        work = tempfile.mkdtemp(prefix=f"kq-faults-{name}.")
        problems = run_scenario(s, work, toxiproxy_bin)
        if problems:
            failed.append(name)
            print(f"FAIL {name}: " + "; ".join(problems), flush=True)
        else:
            print(f"ok   {name}", flush=True)
        if os.environ.get("KQ_FAULTS_KEEP") == "1":
            print(f"  work folder kept: {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    print(f"{len(wanted) - len(failed)} of {len(wanted)} scenario(s) passed" +
          (f"; failed: {' '.join(failed)}" if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
