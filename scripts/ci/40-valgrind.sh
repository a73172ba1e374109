#!/usr/bin/env bash
# The whole test suite under valgrind's memcheck: no invalid read or write,
# no use of uninitialised memory, no leaked block (definitely or indirectly
# lost). Builds at RelWithDebInfo into build-ci, so reports name lines.
#
# CTest's own description of the suite decides what runs how:
#  - a test whose command is a program of this build runs under memcheck;
#  - a test that hands programs of this build to a driver (the example's
#    shell check, the command-line tests' Python driver) runs the driver
#    as it is, with each such program replaced by a shim that starts it
#    under memcheck, so every process of ours is checked and the driver's
#    own verdict still counts;
#  - fixture set-up and clean-up tests (installing the tool into the build
#    tree, removing it) run as they are, before and after the rest.
# Left out, each with its reason printed:
#  - Python hosts that load the shipped library into the interpreter
#    (ctypes): memcheck would check CPython, which never frees much of what
#    it allocates at start-up, so every run reports hundreds of lost blocks
#    that are not ours; the exports they call are the ones the compiled
#    tests run under memcheck here;
#  - tests that run no program of this build at all: compile-only header
#    checks, symbol and start-up-code checks that read the binary with nm and
#    readelf, the install-and-consume build of a separate project;
#  - tests whose verdict is not their exit code (WILL_FAIL, pass/fail
#    expressions), which a memcheck error could not fail;
#  - tests labelled cycle_counter: they read rdtscp, which memcheck does not
#    emulate (the program dies of SIGILL).
#   KELDO_BUILD_DIR  build directory (default build-ci)
#   KELDO_VALGRIND_JOBS  tests run at once (default: number of cores)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${KELDO_BUILD_DIR:-$top/build-ci}
"$top/scripts/bootstrap" test hardening
KELDO_BUILD_DIR=$build "$top/scripts/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ctest --test-dir "$build" --show-only=json-v1 >"$work/tests.json"

status=0
/usr/bin/python3 - "$build" "$work" "${KELDO_VALGRIND_JOBS:-$(nproc)}" <<'PY' || status=$?
import concurrent.futures
import json
import os
import re
import struct
import subprocess
import sys
import time

build, work, jobs = os.path.realpath(sys.argv[1]), sys.argv[2], int(sys.argv[3])
MEMCHECK = ["valgrind", "--tool=memcheck", "--error-exitcode=99", "--leak-check=full",
            # Tests that count the heap define malloc themselves: leave those
            # definitions in place (they forward to the C library, which
            # memcheck still replaces).
            "--soname-synonyms=somalloc=nouserintercepts",
            "--errors-for-leak-kinds=definite,indirect",
            "--show-leak-kinds=definite,indirect", "--num-callers=30"]
TIMEOUT = 1800  # per test; memcheck is some 20 to 50 times slower than native

tests = json.load(open(os.path.join(work, "tests.json")))["tests"]


def props(t):
    return {p["name"]: p["value"] for p in t.get("properties", [])}


def is_elf_program(path):
    """An ELF executable of this build (one with a program interpreter, so
    not a shared library)."""
    try:
        path = os.path.realpath(path)
        if not path.startswith(build + os.sep) or not os.path.isfile(path):
            return False
        with open(path, "rb") as f:
            head = f.read(64)
            if len(head) < 64 or head[:4] != b"\x7fELF" or head[4] != 2:  # ELF64
                return False
            phoff, = struct.unpack_from("<Q", head, 32)
            phentsize, phnum = struct.unpack_from("<HH", head, 54)
            for i in range(phnum):
                f.seek(phoff + i * phentsize)
                if struct.unpack("<I", f.read(4))[0] == 3:  # PT_INTERP
                    return True
    except (OSError, struct.error):
        pass
    return False


def log_dir(name):
    d = os.path.join(work, "logs", name)
    os.makedirs(d, exist_ok=True)
    return d


def memcheck(name, program):
    log = os.path.join(log_dir(name), os.path.basename(program))
    return MEMCHECK + ["--log-file=" + log + ".%p"]


def shim(name, program):
    path = os.path.join(work, "shims", name, os.path.basename(program))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write("#!/bin/sh\nexec " + " ".join("'%s'" % a for a in memcheck(name, program)) +
                " '%s' \"$@\"\n" % os.path.realpath(program))
    os.chmod(path, 0o755)
    return path


def plan(t):
    """Returns (command, None) to run, or (None, reason) to leave out."""
    p = props(t)
    cmd = t.get("command") or []
    name = t["name"]
    if not cmd or p.get("DISABLED"):
        return None, "disabled"
    if p.get("WILL_FAIL") or p.get("PASS_REGULAR_EXPRESSION") or p.get("FAIL_REGULAR_EXPRESSION"):
        return None, "its verdict is not its exit code"
    if "cycle_counter" in (p.get("LABELS") or []):
        return None, "reads the cycle counter (rdtscp), which memcheck does not emulate"
    if is_elf_program(cmd[0]):
        return memcheck(name, cmd[0]) + cmd, None
    shimmed = [shim(name, a) if is_elf_program(a) else a for a in cmd[1:]]
    if shimmed != cmd[1:]:
        return [cmd[0]] + shimmed, None
    if os.path.basename(cmd[0]).startswith("python") and any(
            os.path.realpath(a).startswith(build + os.sep) and ".so" in os.path.basename(a)
            for a in cmd[1:]):
        return None, "Python host loading the shipped library (CPython's own blocks are never freed)"
    return None, "runs no program of this build (%s)" % os.path.basename(cmd[0])


def run(t, cmd):
    p = props(t)
    env = dict(os.environ)
    # Lets drivers leave out what only measures speed or memory natively.
    env["KELDO_UNDER_MEMCHECK"] = "1"
    for kv in p.get("ENVIRONMENT", []):
        k, _, v = kv.partition("=")
        env[k] = v
    cwd = p.get("WORKING_DIRECTORY", build)
    start = time.monotonic()
    try:
        r = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=TIMEOUT)
        rc, out = r.returncode, r.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired as e:
        rc, out = -1, (e.stdout or b"").decode(errors="replace") + "\n(timed out)"
    return rc, out, time.monotonic() - start


def memcheck_errors(name):
    """The memcheck logs of a test that report errors, with their text."""
    bad = []
    d = os.path.join(work, "logs", name)
    for f in sorted(os.listdir(d)) if os.path.isdir(d) else []:
        text = open(os.path.join(d, f), errors="replace").read()
        m = re.search(r"ERROR SUMMARY: (\d+) errors", text)
        if m is None or int(m.group(1)) > 0:  # no summary: the process died under memcheck
            bad.append((f, text))
    return bad


setup = [t for t in tests if props(t).get("FIXTURES_SETUP")]
cleanup = [t for t in tests if props(t).get("FIXTURES_CLEANUP")]
fixtures = {t["name"] for t in setup + cleanup}
failed = []

for t in setup:
    rc, out, _ = run(t, t["command"])
    print("%-28s set-up, run natively: %s" % (t["name"], "ok" if rc == 0 else "FAILED"))
    if rc != 0:
        print(out[-4000:])
        failed.append(t["name"])

planned = []
for t in tests:
    if t["name"] in fixtures:
        continue
    cmd, reason = plan(t)
    if cmd is None:
        print("%-28s left out: %s" % (t["name"], reason))
    else:
        planned.append((t, cmd))
# Drivers that start many processes take longest: start them first.
planned.sort(key=lambda tc: 0 if os.path.join(work, "shims") in " ".join(tc[1]) else 1)

total = time.monotonic()
with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
    futures = {pool.submit(run, t, cmd): t for t, cmd in planned}
    for fut in concurrent.futures.as_completed(futures):
        t = futures[fut]
        rc, out, secs = fut.result()
        errors = memcheck_errors(t["name"])
        d = os.path.join(work, "logs", t["name"])
        processes = len(os.listdir(d)) if os.path.isdir(d) else 0
        if rc == 0 and not errors and processes > 0:
            print("%-28s memcheck clean   %6.1f s, %d process(es)" % (t["name"], secs, processes))
            continue
        if processes == 0:
            print("%-28s ran no process under memcheck" % t["name"])
        failed.append(t["name"])
        print("%-28s FAILED (exit %d)  %6.1f s" % (t["name"], rc, secs))
        for f, text in errors:
            # From the first report on: that is where the fault is.
            m = re.search(r"^==\d+== (Invalid|Conditional|Use of|Syscall|Mismatched|Source and|"
                          r"Argument|.*(definitely|indirectly) lost in)", text, re.M)
            print("---- %s" % f)
            print(text[m.start() if m else 0:][:10000])
        if not errors:
            print(out[-4000:])

for t in cleanup:
    run(t, t["command"])

print("memcheck: %d tests in %.0f s, %d failed" % (len(planned), time.monotonic() - total,
                                                  len(failed)))
sys.exit(1 if failed else 0)
PY
exit $status
