#!/usr/bin/env python3
"""Media benchmark: packages payloads of 16, 128 and 512 MiB onto the win64 launcher stub with
pathmere-pack, runs the launcher under wine64 and prints one summary line.

The launcher's log has no timestamps, so the bench tails it while the launcher runs and stamps
each line when it appears (resolution about a millisecond): verify runs from "verifying integrity
length" to "checksums:", extraction from "extracting files" to "extracting files done"; the
fastest of several runs counts. Beside them: zlib's crc32 on the same bytes in this process,
and a plain `cp` of the same bytes on the same file system. Peak memory is the maximum resident
set of the launcher's process (under Wine the Windows program is the child process itself).
Everything runs from the page cache: the bench compares code paths, not disks.

Run by hand (never in CI):  bench/media.py [--sizes 16,128,512] [--runs 5]
"""
import argparse
import collections
import json
import os
import pathlib
import shutil
import subprocess
import sys
import time
import zlib

ROOT = pathlib.Path(__file__).resolve().parents[1]
WINE64 = "/usr/lib/wine/wine64"
MIB = 1 << 20


def bench_parser(doc, workdir, runs):
    """The options every bench takes: runs per measurement, the packaging tool, the win64 stub and
    a work directory below build/. Each bench adds its own."""
    host = pathlib.Path(os.environ.get("PATHMERE_BUILD_HOST", ROOT / "build" / "host")) / "bin"
    win64 = pathlib.Path(os.environ.get("PATHMERE_BUILD_WIN64", ROOT / "build" / "win64")) / "bin"
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--runs", type=int, default=runs, help="runs per measurement (the fastest counts)")
    parser.add_argument("--pack", type=pathlib.Path, default=host / "pathmere-pack")
    parser.add_argument("--stub", type=pathlib.Path, default=win64 / "pathmere_setup.exe")
    parser.add_argument("--workdir", type=pathlib.Path, default=ROOT / "build" / workdir)
    return parser


def parse_bench_args(parser, *needed):
    """The parsed options; ends the bench when the packaging tool, the stub or another build output
    it needs is missing."""
    args = parser.parse_args()
    for path in (args.pack, args.stub, *needed):
        if not path.exists():
            raise SystemExit(f"bench: {path} is missing; build the host and win64 presets first")
    return args


def parse_args():
    parser = bench_parser(__doc__, "bench-media", runs=5)
    parser.add_argument("--sizes", default="16,128,512", help="payload sizes in MiB")
    return parse_bench_args(parser)


def wine_env():
    """The shared test prefix with its persistent wineserver, as the test scripts set it up."""
    subprocess.run(["bash", "-c", f"source '{ROOT}/scripts/wine-env.sh'; wine_prefix_ready"], check=True,
                   stdin=subprocess.DEVNULL, timeout=900)
    prefix = os.environ.get("PATHMERE_WINEPREFIX", str(ROOT / "build" / "wine" / "prefix"))
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", NIMBO_LOG="yes")
    if pathlib.Path("/proc/sys/fs/binfmt_misc/qemu-i386").exists():
        # 32-bit Wine under qemu-i386 starts only with the whole 32-bit address space reserved.
        env.setdefault("QEMU_RESERVED_VA", "0xffff0000")
    return env


# One quiet installer run: exit code, seconds to its end, {log line: seconds since start}, peak
# resident memory in KiB and the whole log.
Run = collections.namedtuple("Run", "returncode seconds stamps peak_rss_kib log")


class LogStamps:
    """Follows a launcher log as it grows and stamps each complete line with the seconds since
    `start` at which this process first saw it (the log itself has no timestamps). Each look
    reads and splits only what was appended since the last: the follower shares the processors
    with the launcher it times."""

    def __init__(self, start):
        self.start = start
        self.size = 0
        self.partial = b""
        self.stamps = {}

    def follow(self, log_path):
        with open(log_path, "rb") as log:
            log.seek(self.size)
            appended = log.read()
        if not appended:
            return
        now = time.perf_counter() - self.start
        self.size += len(appended)
        *complete, self.partial = (self.partial + appended).split(b"\n")
        for line in complete:
            self.stamps.setdefault(line.decode("latin-1").rstrip("\r"), now)


def resident_peak_kib(pid):
    """The high-water mark of a running process's resident memory in KiB (0 once it has gone).
    Read from /proc rather than taken from wait4: the kernel's figure there keeps the high-water
    mark of the forking Python process, whatever it holds, across the exec."""
    try:
        with open(f"/proc/{pid}/status", "rb") as status:
            for line in status:
                if line.startswith(b"VmHWM:"):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return 0


def settle():
    """Each timing starts once what the one before wrote is on disk: the write-back of one
    measurement's files (a few hundred MB) must not be charged to the next."""
    os.sync()
    time.sleep(1)


class Leftovers:
    """What timed runs wrote, removed only once the bench has ended. On ext4 without a journal
    (this machine's root file system) every new inode skips the inodes deleted in the last minute,
    one by one: removing one run's thousand files just before the next is timed makes each file
    the next run creates slower, and the next run is charged for the removal."""

    def __init__(self):
        self.paths = []

    def add(self, path):
        self.paths.append(pathlib.Path(path))
        return self.paths[-1]

    def remove(self):
        for path in self.paths:
            if path.is_dir():
                shutil.rmtree(path, ignore_errors=True)
            else:
                path.unlink(missing_ok=True)
        self.paths.clear()


class Launcher:
    """Runs installers in the shared prefix and times their phases from their own log, which the
    launcher appends to line by line: each line is stamped when this process first sees it. What a
    run leaves in the shared temp directory is removed after it, or handed to `leftovers`."""

    POLL_SECONDS = 0.001

    def __init__(self, env, leftovers=None):
        self.env = env
        self.leftovers = leftovers
        self.temp = pathlib.Path(env["WINEPREFIX"]) / "drive_c" / "users" / os.environ.get("USER", "root") / "Temp"

    def _find_log(self, before, marker):
        for candidate in set(self.temp.glob("tsr_nlog_*")) - before:
            try:
                with open(candidate, "rb") as log:
                    if log.read(len(marker)) == marker:
                        return candidate
            except OSError:
                pass
        return None

    def follow(self, exe, *args, stdout=subprocess.DEVNULL):
        """Runs the installer quietly and stamps each log line when it first appears (its standard
        output to `stdout`). Returns a Run; removes what the run left in the shared temp
        directory, found through its own log."""
        marker = ("Started executable Z:" + str(exe).replace("/", "\\")).encode("latin-1")
        before = set(self.temp.glob("tsr_nlog_*"))
        start = time.perf_counter()
        popen = subprocess.Popen([WINE64, str(exe), "-q", *args], stdin=subprocess.DEVNULL,
                                 stdout=stdout, stderr=subprocess.DEVNULL, env=self.env)
        log_path, stamps = None, LogStamps(start)
        peak, looks = 0, 0
        while True:
            if looks % 5 == 0:
                peak = max(peak, resident_peak_kib(popen.pid))
            looks += 1
            pid, status = os.waitpid(popen.pid, os.WNOHANG)
            if pid:
                seconds = time.perf_counter() - start
            if log_path is None:
                log_path = self._find_log(before, marker)
            if log_path is not None:
                stamps.follow(log_path)
            if pid:
                break
            time.sleep(self.POLL_SECONDS)
        returncode = os.waitstatus_to_exitcode(status)
        if log_path is None:
            raise SystemExit(f"bench: no log of {exe} {args} in {self.temp} (exit {returncode})")
        log = log_path.read_text(encoding="latin-1")
        leftovers = self.leftovers if self.leftovers is not None else Leftovers()
        for line in log.splitlines():
            if line.startswith("tempFile is "):
                name = line.rstrip("\r").rsplit("\\", 1)[-1]
                leftovers.add(self.temp / name)
                leftovers.add(self.temp / (name + "_dir"))
        if self.leftovers is None:
            leftovers.remove()
        log_path.unlink()
        return Run(returncode, seconds, stamps.stamps, peak, log)

    def run(self, exe, *args):
        """Runs the installer quietly; returns ({log line: seconds since start}, peak RSS in KiB)."""
        run = self.follow(exe, *args)
        if run.returncode not in (0, 83) or "extracting files done" not in run.stamps or not any(
                line.startswith("checksums:") for line in run.stamps):
            raise SystemExit(f"bench: {exe} {' '.join(args)} exited {run.returncode}:\n{run.log}")
        return run.stamps, run.peak_rss_kib


def phase_seconds(stamps, first, last):
    """Seconds between the first log line starting with `first` and the one starting with `last`."""
    def when(prefix):
        return min(t for line, t in stamps.items() if line.startswith(prefix))
    return when(last) - when(first)


def write_payload(directory, size):
    directory.mkdir(parents=True, exist_ok=True)
    path = directory / "payload.bin"
    if not path.exists() or path.stat().st_size != size:
        with open(path, "wb") as out:
            for _ in range(size // MIB):
                out.write(os.urandom(MIB))
    return path


def package(pack, stub, config, files_dir, out):
    done = subprocess.run([str(pack), "build", "--stub", str(stub), "--config", str(config), "--files",
                           str(files_dir), "-o", str(out)], capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"bench: packaging failed: {done.stderr}")


def crc_seconds(path, runs):
    """zlib crc32 over the file's bytes in 1 MiB blocks, reading excluded from the time."""
    best = None
    for _ in range(runs):
        spent, crc = 0.0, 0
        with open(path, "rb") as source:
            while block := source.read(MIB):
                start = time.perf_counter()
                crc = zlib.crc32(block, crc)
                spent += time.perf_counter() - start
        best = spent if best is None else min(best, spent)
    return best


def cp_seconds(path, target, runs):
    times = []
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run(["cp", str(path), str(target)], check=True)
        times.append(time.monotonic() - start)
        target.unlink()
    return min(times)


def main():
    args = parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    work = args.workdir.resolve()
    work.mkdir(parents=True, exist_ok=True)
    launcher = Launcher(wine_env())

    config = json.loads((ROOT / "samples" / "pathmere" / "config.json").read_text(encoding="utf-8"))
    for computed in ("2002", "2003"):
        config["narrow"].pop(computed, None)
    config["files"] = ["payload.bin"]
    (work / "payload.json").write_text(json.dumps(config), encoding="utf-8")

    parts = []
    for size_mib in sizes:
        size = size_mib * MIB
        files_dir = work / f"files-{size_mib}"
        payload = write_payload(files_dir, size)
        exe = work / f"setup-{size_mib}.exe"
        start = time.monotonic()
        package(args.pack, args.stub, work / "payload.json", files_dir, exe)
        pack_s = time.monotonic() - start

        verify, extract, peak = [], [], 0
        for _ in range(args.runs):
            stamps, rss = launcher.run(exe)
            verify.append(phase_seconds(stamps, "verifying integrity length", "checksums:"))
            extract.append(phase_seconds(stamps, "extracting files", "extracting files done"))
            peak = max(peak, rss)
        verify_s, extract_s = max(min(verify), 1e-6), max(min(extract), 1e-6)
        crc_s = crc_seconds(payload, args.runs)
        cp_s = cp_seconds(payload, work / "cp-target.bin", args.runs)
        mb = size / 1e6
        parts.append(f"{size_mib} MiB: verify {mb / verify_s:.0f} MB/s (crc32 {mb / crc_s:.0f}, "
                     f"{crc_s / verify_s:.2f}x) extract {mb / extract_s:.0f} MB/s (cp {mb / cp_s:.0f}, "
                     f"{extract_s / cp_s:.2f}x time) peak {peak / 1024:.0f} MiB pack {mb / pack_s:.0f} MB/s")
        exe.unlink()
        shutil.rmtree(files_dir)
    print("media bench | " + " | ".join(parts))


if __name__ == "__main__":
    sys.exit(main())
