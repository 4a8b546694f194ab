#!/usr/bin/env python3
"""Damage campaign: damaged .vdb and .f3d files through a host process.

Makes COUNT damaged files of each format from base files written by the real
libraries (.vdb by OpenVDB, through fuzz/campaign/damage_host.cpp; .f3d from
the sample files of tests/data/f3d, both encodings), by truncation, byte
flips, large 64-bit fields and bit flips in the data, and opens each as a
renderer would (channel names, default mapping, newIKor, every channel)
through the shared library and the real modules of BUILD, which must be a
sanitizer build with the modules (e.g. -DKOR_SANITIZE=address,undefined
-DKOR_BUILD_PLUGINS=ON). Prints the crashes, sanitizer reports and hangs;
exits 1 when there is any.

  fuzz/damage_campaign.py BUILD [--count 2000] [--seed 1] [--out DIR]
"""
import argparse
import glob
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BATCH = 100
LEAK_SUPPRESSIONS = "leak:libopenvdb.so\nleak:libhdf5_serial.so\nleak:libtbb\n"


def build_host(build, work):
    host = os.path.join(work, "damage_host")
    lib = os.path.join(build, "lib")
    cmd = ["g++", "-std=c++20", "-O1", "-g", "-fsanitize=address,undefined", "-fno-sanitize=alignment",
           "-fno-sanitize-recover=all", os.path.join(ROOT, "fuzz/campaign/damage_host.cpp"),
           "-I", os.path.join(ROOT, "include"), "-L", lib, "-lkorloader", "-lopenvdb", "-ltbb",
           "-lImath-3_1", "-pthread", "-Wl,-rpath," + lib, "-o", host]
    subprocess.run(cmd, check=True)
    return host


def damage(data, rng):
    """One damaged copy of data, and the kind of damage."""
    b = bytearray(data)
    kind = rng.choice(["truncate", "flip", "large", "bits"])
    if kind == "truncate":
        return bytes(b[:rng.randrange(len(b))]), kind
    if kind == "flip":
        for _ in range(rng.randint(1, 8)):
            b[rng.randrange(len(b))] = rng.randrange(256)
    elif kind == "large":
        for _ in range(rng.randint(1, 3)):
            at = rng.randrange(len(b) - 8)
            value = rng.choice([2**63 - 1, -1, -2**63, 2**40, -2**40, 2**31, -2**31 - rng.randrange(1 << 20),
                                rng.randrange(-2**63, 2**63)])
            b[at:at + 8] = struct.pack("<q", value)
    else:  # bit flips in the data, past the headers
        for _ in range(rng.randint(1, 4)):
            at = rng.randrange(len(b) // 3, len(b))
            b[at] ^= 1 << rng.randrange(8)
    return bytes(b), kind


def run(host, build, files):
    """Runs files through the host in batches; returns (findings, batches whose leak check failed)."""
    env = dict(os.environ)
    supp = os.path.join(os.path.dirname(files[0]), "..", "lsan.supp")
    with open(supp, "w") as f:
        f.write(LEAK_SUPPRESSIONS)
    env["ASAN_OPTIONS"] = "detect_leaks=1:abort_on_error=0:exitcode=86"
    env["LSAN_OPTIONS"] = "suppressions=" + os.path.abspath(supp)
    env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1:exitcode=87"
    module_dir = os.path.join(build, "lib", "korloader")
    suffix = os.path.basename(glob.glob(os.path.join(module_dir, "vdbplug_*.so"))[0])[len("vdbplug_"):-3]
    findings, tool_failures = [], []
    pending = list(files)
    while pending:
        batch, pending = pending[:BATCH], pending[BATCH:]
        p = subprocess.run([host, module_dir, suffix] + batch, env=env, capture_output=True, text=True,
                           errors="replace")
        lines = p.stdout.splitlines()
        opened = [l[5:] for l in lines if l.startswith("FILE ")]
        if p.returncode == 0 and lines and lines[-1] == "DONE":
            continue
        if lines and lines[-1] == "DONE" and "LeakSanitizer has encountered a fatal error" in p.stderr:
            # Every file was opened; the leak checker itself failed at exit
            # (its tracer thread crashed), which says nothing of the files.
            tool_failures.append(batch[0])
            continue
        last = opened[-1] if opened else batch[0]
        if "HANG" in lines:
            what = "hang"
        elif "ERROR: LeakSanitizer" in p.stderr:
            what = "leak report"
        elif "Sanitizer" in p.stderr or "runtime error" in p.stderr:
            what = "sanitizer report"
        else:
            what = "crash (status %d)" % p.returncode
        report = [l for l in p.stderr.splitlines() if "ERROR" in l or "runtime error" in l or "SUMMARY" in l]
        findings.append((what, last, report[:3]))
        if "leak" not in what:
            # Go on after the file that ended the process.
            done = batch.index(last) + 1 if last in batch else len(batch)
            pending = batch[done:] + pending
    return findings, tool_failures


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("build")
    ap.add_argument("--count", type=int, default=2000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--out", help="keep the damaged files here")
    a = ap.parse_args()
    work = a.out or tempfile.mkdtemp(prefix="kor_damage_")
    os.makedirs(work, exist_ok=True)
    host = build_host(os.path.abspath(a.build), work)
    bases_dir = os.path.join(work, "bases")
    os.makedirs(bases_dir, exist_ok=True)
    subprocess.run([host, "--bases", bases_dir], check=True,
                   env=dict(os.environ, ASAN_OPTIONS="detect_leaks=0"))
    bases = {
        "vdb": sorted(glob.glob(os.path.join(bases_dir, "*.vdb"))),
        "f3d": sorted(glob.glob(os.path.join(ROOT, "tests/data/f3d/*.f3d")) +
                      glob.glob(os.path.join(ROOT, "tests/data/f3d/hdf5/*.f3d"))),
    }
    rng = random.Random(a.seed)
    failed = False
    for ext, sources in bases.items():
        out = os.path.join(work, ext)
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        contents = [open(s, "rb").read() for s in sources]
        files, kinds = [], {}
        for i in range(a.count):
            data, kind = damage(rng.choice(contents), rng)
            path = os.path.join(out, "%05d_%s.%s" % (i, kind, ext))
            with open(path, "wb") as f:
                f.write(data)
            files.append(path)
            kinds[kind] = kinds.get(kind, 0) + 1
        findings, tool_failures = run(host, os.path.abspath(a.build), files)
        print("%s: %d damaged files from %d bases (%s): %d findings" %
              (ext, len(files), len(sources), ", ".join("%s %d" % kv for kv in sorted(kinds.items())), len(findings)))
        if tool_failures:
            print("  the leak checker failed at exit in %d of %d batches (all files opened)" %
                  (len(tool_failures), (len(files) + BATCH - 1) // BATCH))
        for what, path, report in findings:
            print("  %s: %s" % (what, path))
            for line in report:
                print("    " + line)
        failed = failed or bool(findings)
    if not a.out:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
