#!/usr/bin/env python3
"""Time-to-main benchmark: an installer carrying a runtime-sized jre.tar.gz (about 270 MB in
about 1,000 files, about 40 MB compressed; its pack200 list holds real pack200 archives from the
shared fixtures, many segments each, as large as a real runtime's) is run under wine64 in quiet
mode, from the start of the Wine process to the Java runtime double's scripted main, which ends
the process at once. Each stage's share comes from the launcher's log, stamped as its lines
appear. Beside it, in the same run, the unavoidable parts alone: a bare Wine process start,
GNU tar xzf of the same archive on the host, and the same unpack200.exe calls on the untarred
tree. Prints one line: the launcher's total, the parts, and the ratio of the two (goal: at most 1.2).

Run by hand (never in CI):  bench/time_to_main.py [--size-mib 270] [--files 1000] [--runs 3]
"""
import argparse
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

from conftest import BIN64, HOST_BIN, Wine  # noqa: E402
from main_job import fixtures_dir, stage_times  # noqa: E402
import java_runtime  # noqa: E402
from media import WINE64, Launcher, wine_env  # noqa: E402

MIB = 1 << 20
MAIN_EXIT = 7
# pack200 segments of sql.pack.gz per archive of the pack200 list: about 27 MB packed, unpacking
# to about 70 MB of jars, as a Java 6 runtime's.
SEGMENTS = {"rt.jar": 150, "charsets.jar": 25, "deploy.jar": 15, "plugin.jar": 10, "ext/localedata.jar": 10,
            "jsse.jar": 5}
INCLUDED_PACK = "installer.jar.pack"


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mib", type=int, default=270, help="uncompressed size of the runtime tree")
    parser.add_argument("--files", type=int, default=1000, help="number of files in the tree")
    parser.add_argument("--runs", type=int, default=3, help="runs per measurement (the fastest counts)")
    parser.add_argument("--pack", type=pathlib.Path, default=HOST_BIN / "pathmere-pack")
    parser.add_argument("--stub", type=pathlib.Path, default=BIN64 / "pathmere_setup.exe")
    parser.add_argument("--workdir", type=pathlib.Path, default=ROOT / "build" / "bench-time-to-main")
    return parser.parse_args()


def generate_runtime(root, total, count, fixtures, seed=11):
    """The runtime double (java.exe, jvm.dll, the real unpack200.exe) with the pack200 list as
    real archives, filled up with files that compress about ten times, as native code, fonts,
    time zone data and properties do (a few random bytes, then a text block repeated)."""
    segment = gzip.decompress((fixtures / "pack200" / "sql.pack.gz").read_bytes())
    lib_files = {name + ".pack": segment * segments for name, segments in SEGMENTS.items()}
    runtime = java_runtime.make_runtime(root, packed=True, lib_files=lib_files, observe=root.parent,
                                        script={"main": "exit", "exit_code": MAIN_EXIT})
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
    config = json.loads((ROOT / "samples" / "pathmere" / "config.json").read_text(encoding="utf-8"))
    for computed in ("2002", "2003", "151", "153"):
        config["narrow"].pop(computed, None)
    config["narrow"]["128"] = ""
    config["files"] = ["tsrparams.conf", INCLUDED_PACK]
    files = work / "files"
    files.mkdir(exist_ok=True)
    (files / "tsrparams.conf").write_bytes(b"param=1\r\n")
    shutil.copyfile(fixtures / "pack200" / "HelloWorld.pack", files / INCLUDED_PACK)
    (work / "config.json").write_text(json.dumps(config), encoding="utf-8")
    exe = work / "setup-time-to-main.exe"
    done = subprocess.run([str(pack), "build", "--stub", str(stub), "--config", str(work / "config.json"),
                           "--files", str(files), "--jre", str(tree), "-o", str(exe)], capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"bench: packaging failed: {done.stderr}")
    extracted = work / "extracted"
    shutil.rmtree(extracted, ignore_errors=True)
    subprocess.run([str(pack), "extract", str(exe), str(extracted)], check=True, capture_output=True)
    return exe, extracted / "jre.tar.gz", extracted / INCLUDED_PACK


def launcher_to_main(env, exe, runtime):
    """Runs the installer quietly; returns (seconds to the end of main, {log line: seconds})."""
    runtime.reset_observations()
    run = Launcher(env).follow(exe)
    trace = runtime.trace()
    reached = trace is not None and "CallStaticVoidMethod" in [e["call"] for e in trace["events"]]
    if run.returncode != MAIN_EXIT or not reached:
        raise SystemExit(f"bench: the launcher did not reach main (exit code {run.returncode}):\n{run.log[-3000:]}")
    return run.seconds, run.stamps


def timed(command, check=True, **kwargs):
    start = time.perf_counter()
    subprocess.run(command, check=check, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, **kwargs)
    return time.perf_counter() - start


def parts_alone(env, archive, included_pack, work):
    """(bare Wine process start, tar xzf, the unpack200.exe calls) in seconds."""
    # envrun.exe without arguments prints its usage and ends: a process start and nothing else.
    bare = timed([WINE64, str(BIN64 / "envrun.exe")], env=env, check=False)
    target = work / "tar-target"
    shutil.rmtree(target, ignore_errors=True)
    target.mkdir()
    tar = timed(["tar", "xzf", str(archive), "-C", str(target)])
    unpack200 = str(target / "bin" / "unpack200.exe")
    shutil.copyfile(included_pack, target / INCLUDED_PACK)
    packs = [target / "lib" / (name + ".pack") for name in SEGMENTS] + [target / INCLUDED_PACK]
    unpack = 0.0
    for pack in packs:
        jar = pack.with_suffix("")
        unpack += timed([WINE64, unpack200, "-r", Wine.winpath(pack), Wine.winpath(jar)], env=env)
        if not jar.exists():
            raise SystemExit(f"bench: unpack200.exe did not write {jar}")
    shutil.rmtree(target)
    return bare, tar, unpack


def main():
    args = parse_args()
    for needed in (args.pack, args.stub, BIN64 / "java_runtime" / "jvm.dll", BIN64 / "envrun.exe"):
        if not needed.exists():
            raise SystemExit(f"bench: {needed} is missing; build the host and win64 presets first")
    fixtures = fixtures_dir()
    if fixtures is None:
        raise SystemExit("bench: no shared fixtures (real pack200 archives, unpack200.exe); set PATHMERE_FIXTURES")
    os.environ["PATHMERE_FIXTURES"] = str(fixtures)
    work = args.workdir.resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    env = dict(wine_env(), NIMBO_LOG="yes")
    env.pop("NIMBO_JAVA_HOME", None)
    env.pop("TESSAR_JAVA_HOME", None)

    tree = work / "runtime" / "jre"
    runtime = generate_runtime(tree, args.size_mib * MIB, args.files, fixtures)
    files = [path for path in tree.rglob("*") if path.is_file()]
    uncompressed = sum(path.stat().st_size for path in files)
    exe, archive, included_pack = package(args.pack, args.stub, tree, work, fixtures)

    best = None
    parts = []
    for _ in range(args.runs):
        total, stamps = launcher_to_main(env, exe, runtime)
        if best is None or total < best[0]:
            best = (total, stamps)
        parts.append(parts_alone(env, archive, included_pack, work))
    total, stamps = best
    bare, tar, unpack = (min(values) for values in zip(*parts))
    alone = bare + tar + unpack
    shares = ", ".join(f"{name} {seconds:.2f} s ({100 * seconds / total:.0f}%)"
                       for name, seconds in stage_times(stamps, total) if seconds >= 0.005)
    print(f"time-to-main bench | {uncompressed / MIB:.0f} MiB in {len(files)} files, "
          f"{archive.stat().st_size / MIB:.0f} MiB compressed, {len(SEGMENTS) + 1} pack200 archives: "
          f"launcher under wine64 {total:.2f} s [{shares}] | alone: Wine start {bare:.2f} s + GNU tar xzf {tar:.2f} s "
          f"+ unpack200.exe {unpack:.2f} s = {alone:.2f} s | ratio {total / alone:.2f} (goal <= 1.2)")
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
