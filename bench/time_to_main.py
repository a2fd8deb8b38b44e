#!/usr/bin/env python3
"""Time-to-main benchmark: the sample installer carrying a runtime-sized jre.tar.gz (about 270 MB
in about 1,000 files, about 40 MB compressed; its pack200 list holds real pack200 archives from
the shared fixtures, many segments each, as large as a real runtime's; its VM is the real one of
the shared fixtures' java-vm) is run under wine64 in quiet mode, from the start of the Wine
process to the end of the sample installer's main in that real VM (which prints that it was
reached). Each stage's share comes from the launcher's log, stamped as its lines appear.
Beside it, in the same run, the unavoidable parts alone: a bare Wine process start, GNU tar xzf
of the same archive on the host, and the same unpack200.exe calls (the runtime's and the
included files') on the untarred tree. The parts hold no VM, so the launcher is compared with them
on the same work: its time until it creates the VM (start, verification, extraction, untar,
unpack200, loading jvm.dll). The real VM's time from there to main, and main's own run, are
printed beside. Prints one line: the launcher's time; the sequential sum of the parts (goal: the
launcher at most 0.8 x of it); this machine's limit for the same work, Wine start + the longer of
the untar and the unpack200 calls spread over its processors (at most 4, longest first onto the
least loaded; goal: the launcher within 1.15 x of it); and a firmer floor beside it, which also
counts that the untar needs a processor too: Wine start + the longest of the untar, the spread
calls and all that work divided over the processors.
Each timing starts once the previous one's writes are on disk (sync); what the timed runs wrote
is removed only at the end (see Leftovers in media.py).

Run by hand (never in CI):  bench/time_to_main.py [--size-mib 270] [--files 1000] [--runs 3]
"""
import gzip
import json
import os
import pathlib
import random
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))
sys.path.insert(0, str(ROOT / "scripts"))

from conftest import BIN64, Wine  # noqa: E402
from main_job import (REAL_PACKS, compile_installer_program, first_stamp, fixtures_dir, stage_sample,  # noqa: E402
                      stage_times)
import java_runtime  # noqa: E402
from media import WINE64, Launcher, Leftovers, bench_parser, parse_bench_args, settle, wine_env  # noqa: E402

MIB = 1 << 20
MAIN_REACHED = "sample installer: main reached"
# The launcher runs as many unpack200 processes at once as there are processors, at most this many.
MAX_UNPACK_PROCESSES = 4
# pack200 segments of sql.pack.gz per archive of the pack200 list: about 27 MB packed, unpacking
# to about 70 MB of jars, as a Java 6 runtime's.
SEGMENTS = {"rt.jar": 150, "charsets.jar": 25, "deploy.jar": 15, "plugin.jar": 10, "ext/localedata.jar": 10,
            "jsse.jar": 5}


def parse_args():
    parser = bench_parser(__doc__, "bench-time-to-main", runs=3)
    parser.add_argument("--size-mib", type=int, default=270, help="uncompressed size of the runtime tree")
    parser.add_argument("--files", type=int, default=1000, help="number of files in the tree")
    return parse_bench_args(parser, BIN64 / "java_runtime" / "java.exe", BIN64 / "envrun.exe")


def generate_runtime(root, total, count, fixtures, seed=11):
    """The real VM as bin\\client\\jvm.dll beside the double's java.exe and the real
    unpack200.exe, with the pack200 list as real archives, filled up with files that compress
    about ten times, as native code, fonts, time zone data and properties do (a few random bytes,
    then a text block repeated)."""
    segment = gzip.decompress((fixtures / "pack200" / "sql.pack.gz").read_bytes())
    lib_files = {name + ".pack": segment * segments for name, segments in SEGMENTS.items()}
    runtime = java_runtime.make_runtime(root, packed=True, lib_files=lib_files, observe=root.parent)
    shutil.copyfile(fixtures / "java-vm" / "windows-x86_64" / "jvm.dll", root / "bin" / "client" / "jvm.dll")
    used = sum(path.stat().st_size for path in root.rglob("*") if path.is_file())
    have = sum(1 for path in root.rglob("*") if path.is_file())
    rng = random.Random(seed)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(900)]
    dirs = ["bin", "lib", "lib/ext", "lib/fonts", "lib/security", "lib/images/cursors", "lib/cmm", "lib/zi/Europe",
            "lib/zi/America", "lib/zi/Asia", "lib/management", "lib/i386", "lib/audio"]
    small = max(1, count - have)
    each = max(1, (total - used) // small)
    for i in range(small):
        directory = root / dirs[i % len(dirs)]
        directory.mkdir(parents=True, exist_ok=True)
        size = max(64, int(each * rng.uniform(0.2, 1.8)))
        block = b" ".join(rng.choice(words) for _ in range(1500))[:8192]
        head = rng.randbytes(size // 11)
        data = head + (block * (size // len(block) + 1))[: size - len(head)]
        (directory / f"file{i:04}.dat").write_bytes(data)
    return runtime


def package(pack, stub, tree, work, fixtures):
    """The sample installer (its files with real pack200 archives, its Java program) carrying the tree."""
    files, config = stage_sample(work, fixtures, compile_installer_program(work))
    for computed in ("151", "153"):
        config["narrow"].pop(computed, None)
    (work / "config.json").write_text(json.dumps(config), encoding="utf-8")
    exe = work / "setup-time-to-main.exe"
    done = subprocess.run([str(pack), "build", "--stub", str(stub), "--config", str(work / "config.json"),
                           "--files", str(files), "--jre", str(tree), "-o", str(exe)], capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"bench: packaging failed: {done.stderr}")
    extracted = work / "extracted"
    shutil.rmtree(extracted, ignore_errors=True)
    subprocess.run([str(pack), "extract", str(exe), str(extracted)], check=True, capture_output=True)
    return exe, extracted / "jre.tar.gz", [extracted / name for name in REAL_PACKS]


def launcher_to_main(env, exe, work, leftovers):
    """Runs the installer quietly; returns (seconds to the end of main, {log line: seconds})."""
    output = work / "launcher-stdout.txt"
    with open(output, "wb") as stdout:
        run = Launcher(env, leftovers).follow(exe, stdout=stdout)
    printed = output.read_text(encoding="latin-1")
    if run.returncode != 0 or MAIN_REACHED not in printed:
        raise SystemExit(f"bench: the launcher did not reach main in the real VM (exit code {run.returncode}):\n"
                         f"{printed[-2000:]}\n{run.log[-3000:]}")
    return run.seconds, run.stamps


def timed(command, check=True, **kwargs):
    start = time.perf_counter()
    subprocess.run(command, check=check, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - start


def parts_alone(env, archive, included_packs, target):
    """(bare Wine process start, tar xzf, [each unpack200.exe call]) in seconds; the tree is
    written to target, a new directory."""
    # envrun.exe without arguments prints its usage and ends: a process start and nothing else.
    settle()
    bare = timed([WINE64, str(BIN64 / "envrun.exe")], env=env, check=False)
    target.mkdir()
    settle()
    tar = timed(["tar", "xzf", str(archive), "-C", str(target)])
    unpack200 = str(target / "bin" / "unpack200.exe")
    packs = [target / "lib" / (name + ".pack") for name in SEGMENTS]
    for included in included_packs:
        packs.append(target / "included" / included.name)
        packs[-1].parent.mkdir(exist_ok=True)
        shutil.copyfile(included, packs[-1])
    unpack = []
    settle()
    for pack in packs:
        jar = pack.with_suffix("")
        unpack.append(timed([WINE64, unpack200, "-r", Wine.winpath(pack), Wine.winpath(jar)], env=env))
        if not jar.exists():
            raise SystemExit(f"bench: unpack200.exe did not write {jar}")
    return bare, tar, unpack


def spread(durations, processors):
    """The time the calls take spread over the processors, longest first onto the least loaded."""
    loads = [0.0] * processors
    for duration in sorted(durations, reverse=True):
        loads[loads.index(min(loads))] += duration
    return max(loads)


def main():
    args = parse_args()
    fixtures = fixtures_dir()
    if fixtures is None or not (fixtures / "java-vm" / "windows-x86_64" / "jvm.dll").exists():
        raise SystemExit("bench: no shared fixtures (real pack200 archives, unpack200.exe, the real VM); "
                         "set PATHMERE_FIXTURES")
    os.environ["PATHMERE_FIXTURES"] = str(fixtures)
    work = args.workdir.resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    env = dict(wine_env(), NIMBO_LOG="yes")
    env.pop("NIMBO_JAVA_HOME", None)
    env.pop("TESSAR_JAVA_HOME", None)

    tree = work / "runtime" / "jre"
    generate_runtime(tree, args.size_mib * MIB, args.files, fixtures)
    files = [path for path in tree.rglob("*") if path.is_file()]
    uncompressed = sum(path.stat().st_size for path in files)
    exe, archive, included_packs = package(args.pack, args.stub, tree, work, fixtures)
    processors = min(os.cpu_count() or 1, MAX_UNPACK_PROCESSES)

    runs = []
    leftovers = Leftovers()
    for number in range(1, args.runs + 1):
        settle()
        total, stamps = launcher_to_main(env, exe, work, leftovers)
        to_vm, to_main = first_stamp(stamps, "Creating JVM"), first_stamp(stamps, "calling main")
        if to_vm is None or to_main is None:
            raise SystemExit("bench: the launcher's log shows no VM creation or no call of main")
        bare, tar, unpack = parts_alone(env, archive, included_packs, leftovers.add(work / f"tar-target-{number}"))
        sequential = bare + tar + sum(unpack)
        limit = bare + max(tar, spread(unpack, processors))
        floor = bare + max(tar, spread(unpack, processors), (tar + sum(unpack)) / processors)
        runs.append((to_vm, sequential, limit, floor, stamps, total, to_main))
        print(f"run {number}: launcher to the VM {to_vm:.2f} s (real VM: main called {to_main - to_vm:.2f} s later, "
              f"ended {total - to_main:.2f} s after that) | sequential parts {sequential:.2f} s (Wine start "
              f"{bare:.2f} + tar {tar:.2f} + unpack200 {sum(unpack):.2f} in {len(unpack)} calls, longest "
              f"{max(unpack):.2f}) | limit {limit:.2f} s | floor {floor:.2f} s | {to_vm / sequential:.2f} x "
              f"sequential, {to_vm / limit:.2f} x limit, {to_vm / floor:.2f} x floor", file=sys.stderr)
    to_vm, _, _, _, stamps, total, to_main = min(runs, key=lambda run: run[0])
    sequential = min(run[1] for run in runs)
    limit = min(run[2] for run in runs)
    floor = min(run[3] for run in runs)
    shares = ", ".join(f"{name} {seconds:.2f} s" for name, seconds in stage_times(stamps, total) if seconds >= 0.005)
    print(f"time-to-main bench | {uncompressed / MIB:.0f} MiB in {len(files)} files, "
          f"{archive.stat().st_size / MIB:.0f} MiB compressed, {len(SEGMENTS) + len(included_packs)} pack200 "
          f"archives, real VM, {processors} processors, best of {args.runs}: launcher under wine64 to the VM "
          f"{to_vm:.2f} s, to main {to_main:.2f} s, to main's end {total:.2f} s [{shares}] | sequential parts "
          f"{sequential:.2f} s | limit {limit:.2f} s | floor {floor:.2f} s | {to_vm / sequential:.2f} x sequential "
          f"(goal <= 0.8), {to_vm / limit:.2f} x limit (goal <= 1.15), {to_vm / floor:.2f} x floor")
    leftovers.remove()
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
