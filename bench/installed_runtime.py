#!/usr/bin/env python3
"""Installed-runtime benchmark: the sample installer without a carried runtime finds a runtime
registered the way an OpenJDK vendor's MSI package registers it (search list "M"; the real VM of
the shared fixtures as bin\\server\\jvm.dll, the double's java.exe, which answers the version
probe, and a release file), under wine64 in quiet mode, from the start of the Wine process to the
end of the sample's main in that real VM. Each scheme of version comparison (entry 163) is timed
on a first start (the version cache emptied) and on a second start (the cache as the first left
it): with 0 the first start runs java.exe -version, with 1 the release file gives the version.
Prints one line: the medians per scheme and start, and the first start's ratio to the second
(goal: with scheme 1 at most 1.05).

Run by hand (never in CI):  bench/installed_runtime.py [--runs 5]
"""
import json
import pathlib
import statistics
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))
sys.path.insert(0, str(ROOT / "scripts"))

from conftest import BIN64, Wine  # noqa: E402
from main_job import compile_installer_program, fixtures_dir, stage_sample  # noqa: E402
import java_runtime  # noqa: E402
from media import WINE64, Leftovers, bench_parser, parse_bench_args, settle, wine_env  # noqa: E402
from time_to_main import launcher_to_main  # noqa: E402

REGISTRY_KEY = r"HKLM\SOFTWARE\Eclipse Adoptium"
VERSION_CACHE = r"HKCU\SOFTWARE\harwell\nimbo\jvms"
BOUNDS = {0: "1.6", 1: "8"}


def reg(env, *args):
    subprocess.run([WINE64, "reg", *args], env=env, check=False, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    parser = bench_parser(__doc__, "bench-installed-runtime", runs=5)
    args = parse_bench_args(parser, BIN64 / "java_runtime" / "java.exe")
    fixtures = fixtures_dir()
    if fixtures is None:
        raise SystemExit("bench: the shared fixtures' real VM is needed")
    work = args.workdir
    work.mkdir(parents=True, exist_ok=True)
    env = wine_env()
    runtime = java_runtime.make_runtime(work / "jdk-17", vm_type="server", observe=work,
                                        script={"version_line": 'openjdk version "17.0.10" 2024-01-16'})
    (runtime.home / "bin" / "server" / "jvm.dll").write_bytes(
        (fixtures / "java-vm" / "windows-x86_64" / "jvm.dll").read_bytes())
    (runtime.home / "release").write_text('JAVA_VERSION="17.0.10"\nJAVA_VERSION_DATE="2024-01-16"\n')
    files, config = stage_sample(work, None, compile_installer_program(work))
    installers = {}
    for scheme, minimum in BOUNDS.items():
        config["narrow"].update({"128": "M", "163": str(scheme), "126": minimum, "127": ""})
        (work / "config.json").write_text(json.dumps(config), encoding="utf-8")
        installers[scheme] = work / f"setup-scheme{scheme}.exe"
        subprocess.run([str(args.pack), "build", "--stub", str(args.stub), "--config", str(work / "config.json"),
                        "--files", str(files), "-o", str(installers[scheme])], check=True, capture_output=True)
    reg(env, "add", REGISTRY_KEY + r"\JDK\17.0.10.7\hotspot\MSI", "/v", "Path", "/d",
        Wine.winpath(runtime.home) + "\\", "/f")
    leftovers = Leftovers()
    times = {(scheme, start): [] for scheme in BOUNDS for start in ("first", "second")}
    try:
        for _ in range(args.runs):
            for scheme, exe in installers.items():
                reg(env, "delete", VERSION_CACHE, "/f")
                for start in ("first", "second"):
                    settle()
                    seconds, stamps = launcher_to_main(env, exe, work, leftovers)
                    probed = any(line.startswith("Exit Code") for line in stamps)
                    if probed != (scheme == 0 and start == "first"):
                        raise SystemExit(f"bench: scheme {scheme}, {start} start: probe run {probed}")
                    times[(scheme, start)].append(seconds)
    finally:
        reg(env, "delete", REGISTRY_KEY, "/f")
        leftovers.remove()
    median = {key: statistics.median(values) for key, values in times.items()}
    parts = []
    for scheme in BOUNDS:
        first, second = median[(scheme, "first")], median[(scheme, "second")]
        parts.append(f"scheme {scheme}: first {first:.2f} s, second {second:.2f} s, ratio {first / second:.3f}")
    ratio = median[(1, "first")] / median[(1, "second")]
    verdict = "goal met" if ratio <= 1.05 else "goal missed"
    print(f"installed runtime to main, medians of {args.runs}: " + "; ".join(parts) +
          f" (goal: scheme 1 ratio <= 1.05: {verdict})")


if __name__ == "__main__":
    main()
