#!/usr/bin/env python3
"""Runtime download benchmark: a quiet installer that finds no runtime downloads a runtime-sized
archive (40 MiB of random bytes) from a local server throttled to a satellite link's pace (2 MB/s)
under wine64, once with a clean link and once with the connection dropped at 60 % of the body,
which the launcher resumes with a range request after its first retry pause. Prints one summary
line with both times and their ratio (goal: at most 1.1).

The archive's digest is configured, so both times include its check over the whole file. The
time to a complete file runs from the log line "Downloading JRE" to "download successful",
stamped as the lines appear (the log has no timestamps); the fastest of the runs counts. The
served bytes are no runtime, so each run ends after the download with the corrupted-runtime
error (exit code 1), which is fine here.

Run by hand (never in CI):  bench/runtime_download.py [--size-mib 40] [--rate-mb 2] [--runs 1]
"""
import hashlib
import json
import pathlib
import random
import subprocess
import sys

from media import Launcher, bench_parser, parse_bench_args, wine_env

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))
from download_server import DownloadServer  # noqa: E402

MIB = 1 << 20
DROP_AT = 0.6


def parse_args():
    parser = bench_parser(__doc__, "bench-download", runs=1)
    parser.add_argument("--size-mib", type=int, default=40, help="size of the served archive")
    parser.add_argument("--rate-mb", type=float, default=2.0, help="the server's pace in MB (10^6 bytes) a second")
    return parse_bench_args(parser)


def package(pack, stub, url, digest, work):
    config = json.loads((ROOT / "samples" / "pathmere" / "config.json").read_text(encoding="utf-8"))
    for computed in ("2002", "2003", "151", "153"):
        config["narrow"].pop(computed, None)
    config["narrow"]["150"] = url
    config["narrow"]["157"] = "1"
    config["narrow"]["162"] = digest
    config["files"] = ["tsrparams.conf"]
    files = work / "files"
    files.mkdir(exist_ok=True)
    (files / "tsrparams.conf").write_bytes(b"param=1\r\n")
    (work / "config.json").write_text(json.dumps(config), encoding="utf-8")
    exe = work / "setup-download.exe"
    done = subprocess.run([str(pack), "build", "--stub", str(stub), "--config", str(work / "config.json"),
                           "--files", str(files), "-o", str(exe)], capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"bench: packaging failed: {done.stderr}")
    return exe


def download_seconds(env, args, work, archive, behaviour):
    """Seconds from "Downloading JRE" to "download successful" (the fastest run) and the retries seen."""
    best, retries = None, 0
    for _ in range(args.runs):
        with DownloadServer(archive, behaviour, drop_fraction=DROP_AT, rate=int(args.rate_mb * 1e6)) as server:
            exe = package(args.pack, args.stub, server.url, hashlib.sha256(archive).hexdigest(), work)
            run = Launcher(env).follow(exe)
        if "download successful" not in run.stamps:
            raise SystemExit(f"bench: the download did not complete ({behaviour}):\n{run.log[-3000:]}")
        seconds = run.stamps["download successful"] - run.stamps["Downloading JRE"]
        best = seconds if best is None else min(best, seconds)
        retries = max(retries, sum(line.startswith("retry ") for line in run.stamps))
    return best, retries


def main():
    args = parse_args()
    work = args.workdir.resolve()
    work.mkdir(parents=True, exist_ok=True)
    env = dict(wine_env(), NIMBO_LOG="yes", no_proxy="127.0.0.1", NO_PROXY="127.0.0.1")
    for name in ("NIMBO_JAVA_HOME", "TESSAR_JAVA_HOME", "http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY",
                 "PATHMERE_TEST_RETRY_PAUSE_MS", "PATHMERE_TEST_RECEIVE_TIMEOUT_MS"):
        env.pop(name, None)
    archive = random.Random(25).randbytes(args.size_mib * MIB)
    clean, _ = download_seconds(env, args, work, archive, "normal")
    dropped, retries = download_seconds(env, args, work, archive, "drop_once")
    if retries != 1:
        raise SystemExit(f"bench: expected one retry with the drop, saw {retries}")
    ratio = dropped / clean
    print(f"runtime download: {args.size_mib} MiB at {args.rate_mb:.1f} MB/s: {clean:.2f} s on a clean link, "
          f"{dropped:.2f} s with one drop at {DROP_AT:.0%} resumed; ratio {ratio:.3f} (goal <= 1.1)"
          f"{'' if ratio <= 1.1 else ' MISSED'}")


if __name__ == "__main__":
    main()
