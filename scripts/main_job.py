#!/usr/bin/env python3
"""The main job of scripts/run.sh, after set-up and build: packages the sample installer in its
two forms (carrying its Java runtime, and relying on one installed where the shipped search list
looks), runs each under wine64 with its progress dialog on the current X display with a real
Java VM (the shared fixtures' jvm.dll; the runtime double without them), and prints what
happened: each stage with its time, which VM ran, what the launcher handed it (from its log), what
the Java program printed, the exit code and the log. Exit status 0 only when every stage
succeeded.

The log has no timestamps, so each line is stamped as it appears (polled every millisecond);
times are from the start of the Wine process.
"""
import argparse
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "integration"))
sys.path.insert(0, str(ROOT / "bench"))

from conftest import BIN64, HOST_BIN, Wine  # noqa: E402
import java_runtime  # noqa: E402
from media import LogStamps  # noqa: E402

SAMPLE = ROOT / "samples" / "pathmere"
INSTALLED_HOME = r"C:\Program Files\Common Files\tsr_jres\1.6.0_21"
MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
CACHE_KEY = r"HKCU\SOFTWARE\harwell\nimbo\jvms"
INSTALLER_JAR = "tsrinstaller.jar"
# Handed to the installer like a user's own arguments: the launcher passes them on to the Java
# program after its own six.
USER_ARGUMENTS = ["sample-user-argument"]
# The sample's included pack200 files hold placeholders; each is replaced by a real archive of
# the shared fixtures, which the real unpack200.exe turns into a jar on the class path.
REAL_PACKS = {
    "tsrruntime.jar.pack": "pack200.pack.gz",
    "user.jar.pack": "HelloWorld.pack",
    "user/jdom.jar.pack": "annotations.pack.gz",
    "user/tsrcommon.jar.pack": "LargeClass.pack.gz",
}

# Stages as the log shows them: a name, the line that begins it and the line that ends it (None:
# the end of the process), matched as prefixes; a stage whose lines are missing did not happen.
STAGES = [
    ("start and set-up", "Started executable", "verifying integrity length"),
    ("verify (CRC-32)", "verifying integrity length", "extracting files"),
    ("extract included files", "extracting files", "extracting files done"),
    ("untar carried runtime", "extracting JRE", "untaring JRE was successful"),
    ("unpack carried runtime (unpack200)", "Unpacking JRE", "Unpacking JRE done"),
    ("search installed runtime", "Searching for a JVM", "Trying to load JVM-DLL"),
    ("load jvm.dll", "Trying to load JVM-DLL", "Loading of JVM-DLL successful"),
    ("unpack included .pack files (unpack200)", "unpacking ", "Unpacking included files done"),
    ("create VM, call main, end", "launching program", None),
]


class Failures:
    def __init__(self):
        self.items = []

    def add(self, text):
        self.items.append(text)
        print(f"FAILED: {text}")


def fixtures_dir():
    """The shared fixtures: PATHMERE_FIXTURES (environment or the win64 CMake cache), else the
    shared folder beside the checkout; None when there are none."""
    candidates = []
    if os.environ.get("PATHMERE_FIXTURES"):
        candidates.append(pathlib.Path(os.environ["PATHMERE_FIXTURES"]))
    cache = BIN64.parent / "CMakeCache.txt"
    if cache.exists():
        for line in cache.read_text(errors="replace").splitlines():
            if line.startswith("PATHMERE_FIXTURES:") and line.split("=", 1)[1]:
                candidates.append(pathlib.Path(line.split("=", 1)[1]))
    candidates += [ROOT.parent / "shared" / "fixtures", ROOT.parent.parent / "shared" / "fixtures"]
    for candidate in candidates:
        if (candidate / "pack200").is_dir() and (candidate / "unpack200-win64" / "unpack200.exe").exists():
            return candidate
    return None


def real_vm_dll(fixtures):
    """The real Java VM for x86-64 from the shared fixtures, or None."""
    if fixtures is None:
        return None
    path = fixtures / "java-vm" / "windows-x86_64" / "jvm.dll"
    return path if path.exists() else None


def compile_installer_program(work):
    """The sample Java installer program as a jar of class file version 50."""
    classes = work / "java-classes"
    shutil.rmtree(classes, ignore_errors=True)
    sources = sorted(str(p) for p in (SAMPLE / "java").rglob("*.java"))
    subprocess.run(["ecj", "-1.6", "-proc:none", "-d", str(classes), *sources], check=True,
                   capture_output=True, text=True)
    jar = work / INSTALLER_JAR
    jar.unlink(missing_ok=True)
    subprocess.run(["jar", "cf", str(jar), "-C", str(classes), "."], check=True)
    return jar


def stage_sample(work, fixtures, installer_jar):
    """A copy of the sample's files and configuration: real pack200 archives for the placeholders
    (left out without fixtures) and the Java installer program added."""
    files = work / "files"
    shutil.rmtree(files, ignore_errors=True)
    shutil.copytree(SAMPLE / "files", files)
    config = json.loads((SAMPLE / "config.json").read_text(encoding="utf-8"))
    for name, fixture in REAL_PACKS.items():
        if fixtures:
            shutil.copyfile(fixtures / "pack200" / fixture, files / name)
        else:
            (files / name).unlink()
            config["files"].remove(name.replace("/", "\\"))
    shutil.copyfile(installer_jar, files / INSTALLER_JAR)
    config["files"].append(INSTALLER_JAR)
    # The packaging tool derives the file count and list from "files".
    config["narrow"].pop("2002", None)
    config["narrow"].pop("2003", None)
    return files, config


def package(pack, stub, config, files, out, jre=None):
    config_path = out.with_suffix(".json")
    config_path.write_text(json.dumps(config, indent=1), encoding="utf-8")
    command = [str(pack), "build", "--stub", str(stub), "--config", str(config_path), "--files", str(files),
               "-o", str(out)]
    if jre is not None:
        command += ["--jre", str(jre)]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"pathmere-pack build failed: {done.stderr.strip()}")
    verified = subprocess.run([str(pack), "verify", str(out)], capture_output=True, text=True)
    if verified.returncode != 0:
        raise RuntimeError(f"pathmere-pack verify failed: {verified.stdout.strip()} {verified.stderr.strip()}")
    return out


class Screenshot:
    """Takes one screenshot of the progress dialog, cropped to its window, once the run is past
    extraction (so the bar has moved), in a thread so that the log stamping goes on."""

    def __init__(self, caption, path):
        self.caption, self.path = caption, path
        self.thread, self.taken, self.error = None, False, None
        self.next_look = 0.0

    def _tool(self, *args, timeout=10):
        return subprocess.run(["timeout", str(timeout), *args], capture_output=True, text=True,
                              stdin=subprocess.DEVNULL)

    def _take(self, wid):
        geometry = dict(line.split("=", 1) for line in
                        self._tool("xdotool", "getwindowgeometry", "--shell", wid).stdout.split())
        crop = []
        if {"X", "Y", "WIDTH", "HEIGHT"} <= set(geometry):
            crop = ["-crop", f"{geometry['WIDTH']}x{geometry['HEIGHT']}+{geometry['X']}+{geometry['Y']}", "+repage"]
        done = self._tool("/usr/bin/import", "-window", "root", *crop, str(self.path), timeout=20)
        self.taken = done.returncode == 0 and self.path.exists()
        if not self.taken:
            self.error = f"import failed: {done.stderr.strip()}"

    def poll(self):
        """Called from the stamping loop when the moment has come; cheap once started."""
        if self.thread is not None or time.perf_counter() < self.next_look:
            return
        # A look costs an xdotool process: a few per second keep the stamping accurate.
        self.next_look = time.perf_counter() + 0.1
        found = self._tool("xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(self.caption)}$", timeout=2)
        ids = found.stdout.split()
        if ids:
            self.thread = threading.Thread(target=self._take, args=(ids[0],))
            self.thread.start()

    def finish(self):
        if self.thread is not None:
            self.thread.join(timeout=30)


def run_stamped(wine, installer, tmp, screenshot):
    """Runs the installer with its progress dialog; returns (exit code, {log line: seconds},
    log path, total seconds, standard output, standard error)."""
    env = {"TMP": wine.winpath(tmp), "NIMBO_LOG": "yes", "NIMBO_JAVA_HOME": None, "TESSAR_JAVA_HOME": None}
    start = time.perf_counter()
    # By its Windows path, as Explorer starts it: the launcher hands its own path on to Java.
    process = wine.start(wine.winpath(installer), USER_ARGUMENTS, env=env)
    log_stamps, log_path = LogStamps(start), None
    stamps = log_stamps.stamps
    deadline = start + 300
    while True:
        finished = not process.running()
        if log_path is None:
            logs = sorted(tmp.glob("tsr_nlog_*"))
            log_path = logs[0] if logs else None
        if log_path is not None:
            log_stamps.follow(log_path)
            if screenshot is not None and "extracting files done" in stamps:
                screenshot.poll()
        if finished:
            break
        if time.perf_counter() > deadline:
            process.kill()
            break
        time.sleep(0.001)
    total = time.perf_counter() - start
    result = process.wait(timeout=30)
    if screenshot is not None:
        screenshot.finish()
    return result.code, stamps, log_path, total, result.stdout, result.stderr


def first_stamp(stamps, prefix):
    """Seconds to the first log line that starts with prefix, or None."""
    times = [seconds for line, seconds in stamps.items() if line.startswith(prefix)]
    return min(times) if times else None


def stage_times(stamps, total):
    """[(stage, seconds)] for the stages the log shows, in the order of the table."""
    rows = []
    if stamps:
        rows.append(("Wine process start (to the first log line)", min(stamps.values())))
    for name, begin, end in STAGES:
        started = first_stamp(stamps, begin)
        if started is None:
            continue
        ended = first_stamp(stamps, end) if end else total
        if ended is None or ended < started:
            ended = total
        rows.append((name, ended - started))
    return rows


def describe_log(log):
    """What the launcher handed the VM, from its log: (properties, options, class path, launcher
    class, argument array)."""
    properties, options, class_path, main_class, args = [], [], "", None, []
    for line in log.replace("\r\n", "\n").splitlines():
        vmoption = re.match(r"vmoption \d+: (.*)$", line)
        param = re.match(r"param \d+: (.*)$", line)
        if vmoption:
            option = vmoption.group(1)
            if option.startswith("-Djava.class.path="):
                class_path = option.split("=", 1)[1]
            elif option.startswith("-D"):
                properties.append(option)
            else:
                options.append(option)
        elif param:
            args.append(param.group(1))
        elif line.startswith("main class: "):
            main_class = line[len("main class: "):]
    return properties, options, class_path, main_class, args


def java_output(stdout, error_log):
    """What the Java program printed: its standard output (the process's, not redirected in the
    sample) and its error stream (entry 103's file beside the installer)."""
    lines = [line for line in stdout.replace("\r\n", "\n").splitlines() if line.strip()]
    if error_log.exists():
        lines += [f"(error.log) {line}" for line in error_log.read_text(errors="replace").splitlines() if line.strip()]
    return lines


def show_form(title, vm, code, stamps, log_path, total, java_lines, stderr, keep_dir):
    print(f"\n=== {title}")
    print(f"the VM: {vm}")
    print("stages (seconds from the Wine process start, stamped as the log lines appeared):")
    for name, seconds in stage_times(stamps, total):
        print(f"  {name:<42} {seconds:7.3f} s")
    print(f"  {'total (process start to exit)':<42} {total:7.3f} s")
    packs = [line[len("unpacking "):] for line in stamps if line.startswith("unpacking ")]
    if packs:
        print(f"included files unpacked by unpack200.exe: {', '.join(packs)}")
    log = log_path.read_text(errors="replace") if log_path and log_path.exists() else ""
    properties, options, class_path, main_class, args = describe_log(log)
    if main_class is None:
        print("what the VM was given: the log shows no call of main")
    else:
        print("what the VM was given (from the launcher's log):")
        print("  launch properties:")
        for item in properties:
            print(f"    {item}")
        print(f"  other options: {' '.join(options) if options else '(none)'}")
        print("  class path:")
        for item in class_path.split(";"):
            if item:
                print(f"    {item}")
        print(f"  launcher class: {main_class}")
        print(f"  argument array ({len(args)}):")
        for index, arg in enumerate(args):
            print(f"    [{index}] {arg!r}")
    # Standard output is shared with the launcher's own console lines ("Preparing JRE ...").
    print("what the Java program printed (standard output, error.log):" if java_lines
          else "what the Java program printed: nothing")
    for line in java_lines:
        print(f"  | {line}")
    print(f"installer exit code: {code}")
    print(f"log: {log_path} (kept in {keep_dir})" if log_path else "log: none written")
    if stderr.strip():
        print(f"standard error: {stderr.strip()}")


def run_form(wine, title, vm, installer, runtime, work, failures, screenshot=None):
    tmp = work / "tmp"
    shutil.rmtree(tmp, ignore_errors=True)
    tmp.mkdir(parents=True)
    error_log = installer.parent / "error.log"
    error_log.unlink(missing_ok=True)
    runtime.reset_observations()
    wine.reg_delete(MARKER_KEY, "InstallStarted")
    code, stamps, log_path, total, stdout, stderr = run_stamped(wine, installer, tmp, screenshot)
    wine.reg_delete(MARKER_KEY, "InstallStarted")
    java_lines = java_output(stdout, error_log)
    show_form(title, vm, code, stamps, log_path, total, java_lines, stderr, tmp)
    if code != 0:
        failures.add(f"{title}: the installer ended with exit code {code}")
    if runtime.trace() is not None:
        # The runtime double plays the VM: its trace shows whether main was called.
        if "CallStaticVoidMethod" not in [e["call"] for e in runtime.trace().get("events", [])]:
            failures.add(f"{title}: the Java launcher class's main was not called")
    elif f"sample installer: main reached with {len(USER_ARGUMENTS)} argument(s)" not in java_lines:
        failures.add(f"{title}: the sample installer program did not report its main")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pack", type=pathlib.Path, default=HOST_BIN / "pathmere-pack")
    parser.add_argument("--work", type=pathlib.Path, default=ROOT / "build" / "sample")
    args = parser.parse_args()
    failures = Failures()
    work = args.work.resolve()
    work.mkdir(parents=True, exist_ok=True)
    wine = Wine(os.environ.get("WINEPREFIX", ROOT / "build" / "wine" / "prefix"))
    stub = BIN64 / "pathmere_setup.exe"
    for needed in (args.pack, stub, BIN64 / "java_runtime" / "jvm.dll", BIN64 / "envrun.exe"):
        if not needed.exists():
            print(f"main job: {needed} is missing; build the host and win64 presets first")
            return 1

    fixtures = fixtures_dir()
    if fixtures is None:
        print("main job: no shared fixtures found (PATHMERE_FIXTURES, ../shared/fixtures): the stage "
              "'unpack200.exe on real pack200 archives' is SKIPPED; the runtimes are plain and the sample's "
              "placeholder .pack files are left out")
    else:
        os.environ["PATHMERE_FIXTURES"] = str(fixtures)
        print(f"main job: real pack200 archives and unpack200.exe from {fixtures} (copied)")
    real_vm = real_vm_dll(fixtures)
    if real_vm is None:
        vm = "the runtime double's jvm.dll (no real Java VM in the shared fixtures: the Java program does not run)"
    else:
        vm = f"the real Java VM (Avian), jvm.dll from {real_vm}; java.exe is the runtime double (version probe)"
    print(f"main job: {vm}")
    installer_jar = compile_installer_program(work)
    files, config = stage_sample(work, fixtures, installer_jar)
    caption = config["wide"]["20013"]
    screenshot_path = work / "progress_dialog.png"
    screenshot_path.unlink(missing_ok=True)

    # Carrying the runtime: a packed runtime travels as jre.tar.gz and is unpacked.
    carried_dir = work / "carried"
    shutil.rmtree(carried_dir, ignore_errors=True)
    carried_dir.mkdir()
    carried_runtime = java_runtime.make_runtime(carried_dir / "runtime-tree", observe=carried_dir,
                                                packed=fixtures is not None, real_vm=real_vm is not None)
    carried_config = json.loads(json.dumps(config))
    carried_config["narrow"].pop("151", None)
    carried_config["narrow"].pop("153", None)
    carried = package(args.pack, stub, carried_config, files, carried_dir / "pathmere_setup.exe",
                      jre=carried_runtime.home)
    print(f"packaged (carrying its runtime): {carried} ({carried.stat().st_size} bytes)")

    # Relying on an installed runtime, where the shipped search list names it.
    installed_dir = work / "installed"
    shutil.rmtree(installed_dir, ignore_errors=True)
    installed_dir.mkdir()
    home = wine.unixpath(INSTALLED_HOME)
    shutil.rmtree(home, ignore_errors=True)
    installed_runtime = java_runtime.make_runtime(home, observe=installed_dir, unpack200=fixtures is not None,
                                                  real_vm=real_vm is not None)
    try:
        installed = package(args.pack, stub, config, files, installed_dir / "pathmere_setup.exe")
        print(f"packaged (relying on an installed runtime): {installed} ({installed.stat().st_size} bytes)")
        print(f"installed the runtime at {INSTALLED_HOME} ({home})")

        screenshot = Screenshot(caption, screenshot_path)
        run_form(wine, "carrying its runtime (jre.tar.gz, packed with pack200)"
                 if fixtures else "carrying its runtime (jre.tar.gz)",
                 vm, carried, carried_runtime, carried_dir, failures, screenshot)
        if not screenshot.taken:
            backup = Screenshot(caption, screenshot_path)
            run_form(wine, "relying on the installed runtime", vm, installed, installed_runtime, installed_dir,
                     failures, backup)
            screenshot = backup
        else:
            run_form(wine, "relying on the installed runtime", vm, installed, installed_runtime, installed_dir,
                     failures)
        if screenshot.taken:
            print(f"\nscreenshot of the progress dialog mid-run: {screenshot_path}")
        else:
            failures.add(f"no screenshot of the progress dialog ({screenshot.error or 'the dialog was not seen'})")
    finally:
        # The prefix is the test suite's too, whose tests expect no runtime installed and none
        # remembered in the version cache.
        shutil.rmtree(home.parent, ignore_errors=True)
        wine.reg_delete(CACHE_KEY)
        print(f"\nremoved the runtime from {INSTALLED_HOME}")

    if failures.items:
        print(f"main job: {len(failures.items)} stage(s) failed:")
        for item in failures.items:
            print(f"  - {item}")
        return 1
    if fixtures is None:
        print("main job: every stage that ran succeeded; unpack200.exe on real pack200 archives was SKIPPED "
              "(no shared fixtures)")
    else:
        print("main job: every stage succeeded")
    return 0


if __name__ == "__main__":
    sys.exit(main())
