#!/usr/bin/env python3
"""Fault scenarios: kqhost backs up or restores a small tree through a chain of proxies in front of Azurite,

    kqhost -> Toxiproxy (TCP faults) -> faultproxy.py (HTTP faults, and the trigger for TCP ones) -> Azurite

and each run must end, within its time limit, either in success with byte-exact data (stored or restored) or in
a clean failure: non-zero exit, each failed file named with the plug-in's code, nothing committed for it, every
committed object intact, no partial or failed file in the restore folder.

    run_faults.py --list | all | SCENARIO...

Environment: KQHOST, KQ_JAVA_LIB, KQ_REPO (set by CMake); TOXIPROXY (default KQ_REPO/.tools/bin/server);
KQ_FAULTS_ITEMS, KQ_FAULTS_KEEP, KQ_FAULTS_SKIP (README, "Fault tests"); KQ_FAULTS_LIMIT (seconds; overrides
every scenario's time limit).  Exit: 0 all passed, 1 some failed, 77 skipped (a missing tool).
"""

import fcntl
import filecmp
import json
import os
import random
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
    *[Scenario(f"{op}-{status}", op, [f"kind={status},match={match},path=big.bin,skip=1"], transient=True)
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


PORT_LOCKS = "/tmp/kq-ports"  # shared with reserve_port of scripts/lib/azurite.sh


def reserve_port(held):
    """A port nothing is bound to and no other harness holds.  A port that is merely free now may be handed to a
    scenario running beside this one before our server binds it, so each port taken is an flock on its file in
    PORT_LOCKS, kept open in `held` until the scenario ends.  Below the kernel's ephemeral range (32768-)."""
    os.makedirs(PORT_LOCKS, exist_ok=True)
    for _ in range(200):
        port = random.randrange(20000, 32000)
        lock = open(os.path.join(PORT_LOCKS, f"{port}.lock"), "a")
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", port))
        except OSError:
            lock.close()
            continue
        held.append(lock)
        return port
    raise RuntimeError("no free port")


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
    """The processes and ports of one scenario, and the checks on what it left behind."""

    def __init__(self, work):
        self.work = work
        self.processes, self.ports, self.failures = [], [], []
        self.sigint_seconds = None

    def start(self, argv, name, env=None, stdout=None):
        """Starts a process in its own session, output in NAME.log (or stdout and NAME.err)."""
        err = open(os.path.join(self.work, f"{name}.log" if stdout is None else f"{name}.err"), "w")
        process = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=stdout or err, stderr=err, env=env,
                                   start_new_session=True)
        self.processes.append(process)
        return process

    def stop_all(self):
        for process in self.processes:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        for lock in self.ports:
            lock.close()

    def fail(self, text):
        self.failures.append(text)

    def kq(self, name, port, *args, limit=LIMIT_QUICK, sigint=False):
        """Runs kqhost; returns (exit code or None if killed at the limit, seconds, stderr text)."""
        env = dict(os.environ, AZURE_STORAGE_CONNECTION_STRING=connection_string(port),
                   KQHOST_HOME=os.path.join(self.work, "home"))
        env.pop("KQHOST_CONTAINER", None)
        argv = [os.environ["KQHOST"], "-q", "--java-lib", os.environ["KQ_JAVA_LIB"], "--threads", THREADS,
                "--block-size", BLOCK, *args]
        started = time.monotonic()
        process = self.start(argv, name, env, open(os.path.join(self.work, f"{name}.out"), "w"))
        hard, sent, rc = limit + GRACE, None, None
        while time.monotonic() - started < hard and (rc := process.poll()) is None:
            if sigint and sent is None and self.fault_happened():
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
        with open(os.path.join(self.work, f"{name}.err"), errors="replace") as f:
            return rc, ended - started, f.read()

    def fault_happened(self):
        try:
            with open(os.path.join(self.work, "events.log")) as f:
                return any(line.split(" ", 1)[0] not in ("removed", "answered") for line in f)
        except FileNotFoundError:
            return False


def check_scenario(run, s, work, toxiproxy_bin):
    azurite_port, fault_port, api_port, link_port = (reserve_port(run.ports) for _ in range(4))
    api = f"http://127.0.0.1:{api_port}"
    rules = sum((["--rule", r.replace("{proxy}", "link")] for r in s.rules), [])
    for port, name, argv in (
            (azurite_port, "Azurite", [f"{os.environ['KQ_REPO']}/node_modules/.bin/azurite-blob", "--blobHost",
                                       "127.0.0.1", "--blobPort", str(azurite_port), "--inMemoryPersistence",
                                       "--skipApiVersionCheck", "--disableTelemetry", "--silent"]),
            (api_port, "Toxiproxy", [toxiproxy_bin, "-host", "127.0.0.1", "-port", str(api_port)]),
            (fault_port, "faultproxy", [sys.executable, os.path.join(HERE, "faultproxy.py"), "--listen",
                                        str(fault_port), "--upstream", str(azurite_port), "--events",
                                        os.path.join(work, "events.log"), "--toxiproxy", api, *rules])):
        wait_port(port, run.start(argv, name.lower()), name)
    body = json.dumps({"name": "link", "listen": f"127.0.0.1:{link_port}",
                       "upstream": f"127.0.0.1:{fault_port}", "enabled": True}).encode()
    urllib.request.urlopen(urllib.request.Request(f"{api}/proxies", data=body, method="POST"), timeout=10).read()

    src, dst = os.path.join(work, "src"), os.path.join(work, "dst")
    for name, size in TREE.items():
        os.makedirs(os.path.dirname(os.path.join(src, name)), exist_ok=True)
        with open(os.path.join(src, name), "wb") as f:
            f.write(os.urandom(size))
    direct = azurite_port
    if s.op == "restore":
        rc, _, err = run.kq("setup", direct, "backup", src, "--prefix", "t")
        if rc != 0:
            return [f"the fault-free backup failed ({rc}): {err.strip()[-400:]}"]
    # The scenario's run, through the proxies.
    rc, seconds, err = run.kq(s.op, link_port, s.op, src if s.op == "backup" else dst, "--prefix", "t",
                              limit=s.limit, sigint=s.sigint)
    took = f"{seconds:.1f}s"
    if not run.fault_happened():
        run.fail("no fault was injected (the rule matched nothing)")
    if rc is None:
        run.fail(f"Ctrl-C: still running {run.sigint_seconds:.0f}s after it (limit {SIGINT_LIMIT}s); killed"
                 if run.sigint_seconds is not None else
                 f"still running after {seconds:.0f}s (limit {s.limit:.0f}s); killed")
        return run.failures + [f"({took})"]
    if s.sigint:
        if rc != 130:
            run.fail(f"Ctrl-C: exit {rc}, expected 130")
        if run.sigint_seconds is None or run.sigint_seconds > SIGINT_LIMIT:
            run.fail(f"Ctrl-C: exit took {run.sigint_seconds or 0:.1f}s (limit {SIGINT_LIMIT}s)")
    elif seconds > s.limit:
        run.fail(f"took {took}, limit {s.limit:.0f}s")
    named = {m.group(1).removeprefix("t/") for m in ERROR_LINE.finditer(err)}
    if rc == 0 and s.must_fail:
        run.fail("succeeded although the fault never cleared")
    elif rc != 0 and not s.sigint:
        if s.transient:
            run.fail(f"a fault that cleared again failed the run (exit {rc}): {err.strip()[-300:]}")
        if not named:
            run.fail(f"exit {rc} without a line naming a file and its code: {err.strip()[-400:]}")
    # What is in storage, looked at directly, never through the proxies.
    if run.kq("ls", direct, "ls", "t/")[0] != 0:
        run.fail("listing the container directly failed")
    if s.op == "backup":
        with open(os.path.join(work, "ls.out")) as f:
            present = {line.split()[-1][len("t/"):] for line in f if line.startswith("t/")}
        if s.sigint and "big.bin" in present:
            run.fail("big.bin was committed although Ctrl-C came while its upload hung")
        # Every committed object must restore intact.
        copy, what, where = os.path.join(work, "check"), "committed object", "was committed"
        if present and (check := run.kq("check", direct, "restore", copy, "--prefix", "t"))[0] != 0:
            run.fail(f"a committed object does not restore intact: {check[2].strip()[-400:]}")
    else:
        present = {n for n in TREE if os.path.exists(os.path.join(dst, n))}
        parts = [os.path.join(d, f) for d, _, files in os.walk(dst) for f in files if f.endswith(".kqhost-part")]
        if parts:
            run.fail(f"partial files left: {parts}")
        copy, what, where = dst, "restored", "is in the restore folder"
    for name in sorted(named & present):
        run.fail(f"t/{name} failed but {where}")
    if rc == 0 and present != set(TREE):
        run.fail(f"succeeded but only {sorted(present)} {where}")
    for name in sorted(present):
        if not os.path.exists(os.path.join(copy, name)):
            run.fail(f"{what} {name} missing")
        elif not filecmp.cmp(os.path.join(src, name), os.path.join(copy, name), shallow=False):
            run.fail(f"{what} {name} differs")
    print(f"  {s.name}: {'succeeded' if rc == 0 else f'exit {rc}'} in {took}" +
          (f", Ctrl-C exit in {run.sigint_seconds:.1f}s" if run.sigint_seconds is not None else ""), flush=True)
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
    failed = []
    for name in wanted:
        s = by_name[name]
        if limit := os.environ.get("KQ_FAULTS_LIMIT"):
            s.limit = float(limit)
        work = tempfile.mkdtemp(prefix=f"kq-faults-{name}.")
        run = Run(work)
        try:
            problems = check_scenario(run, s, work, toxiproxy_bin)
        finally:
            run.stop_all()
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
