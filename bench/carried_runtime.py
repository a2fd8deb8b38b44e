#!/usr/bin/env python3
"""Carried runtime benchmark: a generated runtime-sized tree (about 270 MB in about 1,000 files,
jar-like incompressible archives and compressible native and text files) is packaged with
pathmere-pack --jre onto the win64 launcher stub; the launcher untars its jre.tar.gz under
wine64, and GNU tar xzf unpacks the same archive on the host in the same run. Prints one summary
line with both times, their ratio (goal: at most 1.2) and the launcher's peak memory for the full
archive and for a tenth of it (flat when the two are close).

The launcher's time runs from its log line "extracting JRE" to "untaring JRE was successful",
stamped as the lines appear (the log has no timestamps); the fastest of several runs counts.
Peak memory is the maximum resident set of the launcher's process. No runtime double is carried,
so each run ends after the untar with "Could not use bundled JRE" (exit code 1), which is fine here.
Each timing starts once the previous one's writes are on disk (sync); what the timed runs wrote
is removed only at the end (see Leftovers in media.py).

Run by hand (never in CI):  bench/carried_runtime.py [--size-mib 270] [--files 1000] [--runs 3]
"""
import json
import pathlib
import random
import shutil
import subprocess
import sys
import time

from media import Launcher, Leftovers, bench_parser, parse_bench_args, settle, wine_env

ROOT = pathlib.Path(__file__).resolve().parents[1]
MIB = 1 << 20


def parse_args():
    parser = bench_parser(__doc__, "bench-runtime", runs=3)
    parser.add_argument("--size-mib", type=int, default=258, help="uncompressed size of the runtime tree")
    parser.add_argument("--files", type=int, default=1000, help="number of files in the tree")
    return parse_bench_args(parser)


def generate_tree(root, total, count, seed=7):
    """A runtime-like tree: a few large jar-like files (random bytes: jars are already deflated)
    hold about half of the bytes; the rest are native and text files that compress 3 to 4 times."""
    rng = random.Random(seed)
    words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(600)]
    text = b" ".join(rng.choice(words) for _ in range(200000))
    dirs = ["bin", "bin/server", "lib", "lib/ext", "lib/fonts", "lib/security", "lib/images", "lib/images/cursors",
            "lib/cmm", "lib/zi", "lib/zi/Europe", "lib/zi/America", "lib/zi/Asia", "lib/management"]
    for directory in dirs:
        (root / directory).mkdir(parents=True, exist_ok=True)
    large = [("lib/rt.jar", 0.22), ("lib/charsets.jar", 0.07), ("lib/deploy.jar", 0.05), ("lib/plugin.jar", 0.03),
             ("lib/ext/localedata.jar", 0.04), ("lib/jsse.jar", 0.02), ("bin/server/jvm.dll", 0.04),
             ("lib/resources.jar", 0.03)]
    written = 0
    for name, share in large:
        size = int(total * share)
        (root / name).write_bytes(rng.randbytes(size))
        written += size
    small = count - len(large)
    each = (total - written) // small
    for i in range(small):
        directory = dirs[i % len(dirs)]
        size = max(1, int(each * rng.uniform(0.2, 1.8)))
        if i % 3 == 0:
            data = rng.randbytes(size // 4) + text[: size - size // 4]
        else:
            start = rng.randrange(0, len(text) - size) if size < len(text) else 0
            data = (text * (size // len(text) + 1))[start:start + size]
        (root / directory / f"file{i:04}.dat").write_bytes(data)


def package(pack, stub, tree, work):
    config = json.loads((ROOT / "samples" / "pathmere" / "config.json").read_text(encoding="utf-8"))
    for computed in ("2002", "2003", "151", "153"):
        config["narrow"].pop(computed, None)
    config["files"] = ["tsrparams.conf"]
    files = work / "files"
    files.mkdir(exist_ok=True)
    (files / "tsrparams.conf").write_bytes(b"param=1\r\n")
    (work / "config.json").write_text(json.dumps(config), encoding="utf-8")
    exe = work / f"setup-{tree.name}.exe"
    done = subprocess.run([str(pack), "build", "--stub", str(stub), "--config", str(work / "config.json"),
                           "--files", str(files), "--jre", str(tree), "-o", str(exe)], capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"bench: packaging failed: {done.stderr}")
    extracted = work / f"extract-{tree.name}"
    shutil.rmtree(extracted, ignore_errors=True)
    subprocess.run([str(pack), "extract", str(exe), str(extracted)], check=True, capture_output=True)
    return exe, extracted / "jre.tar.gz"


def launcher_untar(env, exe, leftovers):
    """Runs the installer quietly; returns (untar seconds, peak RSS in KiB) from its own log."""
    settle()
    run = Launcher(env, leftovers).follow(exe)
    if "extracting JRE" not in run.stamps or "untaring JRE was successful" not in run.stamps:
        raise SystemExit(f"bench: the launcher did not untar {exe}:\n{run.log[-3000:]}")
    return run.stamps["untaring JRE was successful"] - run.stamps["extracting JRE"], run.peak_rss_kib


def tar_seconds(archive, target):
    target.mkdir()
    settle()
    start = time.perf_counter()
    subprocess.run(["tar", "xzf", str(archive), "-C", str(target)], check=True)
    return time.perf_counter() - start


def main():
    args = parse_args()
    work = args.workdir.resolve()
    work.mkdir(parents=True, exist_ok=True)
    for stale in work.glob("tar-target*"):
        shutil.rmtree(stale)
    env = dict(wine_env(), NIMBO_LOG="yes")
    env.pop("NIMBO_JAVA_HOME", None)
    env.pop("TESSAR_JAVA_HOME", None)

    results = {}
    for label, size, count in (("full", args.size_mib * MIB, args.files),
                               ("tenth", args.size_mib * MIB // 10, max(10, args.files // 10))):
        # Named by what was asked for: a tree made for other sizes is not reused.
        tree = work / f"tree-{size}-{count}"
        if not tree.exists():
            generate_tree(tree, size, count)
        exe, archive = package(args.pack, args.stub, tree, work)
        launcher, tar, peak = [], [], 0
        leftovers = Leftovers()
        for number in range(args.runs):
            seconds, rss = launcher_untar(env, exe, leftovers)
            launcher.append(seconds)
            peak = max(peak, rss)
            tar.append(tar_seconds(archive, leftovers.add(work / f"tar-target-{number}")))
        leftovers.remove()
        results[label] = (min(launcher), min(tar), peak, archive.stat().st_size)
        exe.unlink()

    full_launcher, full_tar, full_peak, compressed = results["full"]
    tenth_peak = results["tenth"][2]
    print(f"carried runtime bench | {args.size_mib} MiB in {args.files} files, {compressed / MIB:.0f} MiB compressed: "
          f"launcher under wine64 {full_launcher:.2f} s, GNU tar xzf {full_tar:.2f} s, "
          f"ratio {full_launcher / full_tar:.2f} (goal <= 1.2) | peak RSS {full_peak / 1024:.0f} MiB "
          f"(a tenth of the archive: {tenth_peak / 1024:.0f} MiB)")


if __name__ == "__main__":
    sys.exit(main())
