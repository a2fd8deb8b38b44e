"""Fixtures of the black-box tests: the Wine prefix, running Windows programs, the registry,
and an X display with xdotool helpers. Every wait is bounded."""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
# Build trees can be moved (PATHMERE_BUILD_WIN64 and friends) so that two checkouts' builds coexist.
BIN64 = pathlib.Path(os.environ.get("PATHMERE_BUILD_WIN64", ROOT / "build" / "win64")) / "bin"
BIN32 = pathlib.Path(os.environ.get("PATHMERE_BUILD_WIN32", ROOT / "build" / "win32")) / "bin"
HOST_BIN = pathlib.Path(os.environ.get("PATHMERE_BUILD_HOST", ROOT / "build" / "host")) / "bin"
WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"
SCREEN = "1024x768x24"
BINFMT = pathlib.Path("/proc/sys/fs/binfmt_misc")
# Wine's 32-bit loader under qemu-i386 stops at once ("failed to map the shared user data")
# unless qemu reserves the whole 32-bit address space; lower values do not work.
QEMU_RESERVED_VA = "0xffff0000"


def pytest_collection_modifyitems(config, items):
    """PATHMERE_TIER=i686 keeps only the cases that run 32-bit programs (those use the wine32
    fixture), PATHMERE_TIER=64 only the others: scripts/test.sh runs the slow 32-bit tier beside
    the rest, in a prefix of its own."""
    tier = os.environ.get("PATHMERE_TIER")
    if tier not in ("i686", "64"):
        return
    keep, dropped = [], []
    for item in items:
        (keep if ("wine32" in getattr(item, "fixturenames", ())) == (tier == "i686") else dropped).append(item)
    if dropped:
        config.hook.pytest_deselected(items=dropped)
        items[:] = keep


class Result:
    def __init__(self, code, stdout, stderr):
        self.code, self.stdout, self.stderr = code, stdout, stderr

    def __repr__(self):
        return f"Result(code={self.code}, stdout={self.stdout!r}, stderr={self.stderr!r})"


class Process:
    """A started Windows program; its output goes to files so that Wine's helpers, which keep
    inherited pipes open for seconds, cannot delay the wait."""

    def __init__(self, popen, out_path, err_path, workdir):
        self.popen, self._out, self._err, self._workdir = popen, out_path, err_path, workdir

    def wait(self, timeout=120):
        try:
            code = self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise
        result = Result(code, self._out.read_bytes().decode("latin-1"), self._err.read_bytes().decode("latin-1"))
        shutil.rmtree(self._workdir, ignore_errors=True)
        return result

    def running(self):
        return self.popen.poll() is None

    def kill(self):
        if self.popen.poll() is None:
            self.popen.kill()
            self.popen.wait(timeout=10)


class Wine:
    def __init__(self, prefix):
        self.prefix = pathlib.Path(prefix)

    def env(self, extra=None):
        env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all")
        if (BINFMT / "qemu-i386").exists():
            env.setdefault("QEMU_RESERVED_VA", QEMU_RESERVED_VA)
        for name, value in (extra or {}).items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = value
        return env

    def start(self, exe, args=(), env=None, cwd=None, bits=64):
        """Starts a program. Wine resets TMP and TEMP of a program started from Linux, so those
        two are set from the Windows side by envrun.exe (which also starts 32-bit programs)."""
        workdir = pathlib.Path(tempfile.mkdtemp(prefix="pm-run-"))
        out_path, err_path = workdir / "stdout", workdir / "stderr"
        env = dict(env or {})
        windows_side = {name: env.pop(name) for name in ("TMP", "TEMP") if name in env}
        command = [WINE64 if bits == 64 else WINE32, str(exe), *map(str, args)]
        if windows_side:
            assignments = [f"{name}={value or ''}" for name, value in windows_side.items()]
            command = [WINE64, str(BIN64 / "envrun.exe"), *assignments, "--", str(exe), *map(str, args)]
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            popen = subprocess.Popen(command, stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=err, env=self.env(env), cwd=cwd)
        return Process(popen, out_path, err_path, workdir)

    def run(self, exe, args=(), env=None, cwd=None, timeout=120, bits=64):
        """Runs to the end; the exit code is the Windows code modulo 256."""
        return self.start(exe, args, env=env, cwd=cwd, bits=bits).wait(timeout)

    def find_box(self, title=None, press=None, wait=30, text=None, check_fit=False, rect=None):
        """The first visible dialog box ("caption|texts…") matching the caption (and containing
        text), pressing a button id when asked (1 OK, 2 Cancel, 6 Yes, 7 No); None when none
        appears within wait seconds. Runs in the same Wine session as the programs under test."""
        args = ["--wait", str(wait)]
        if title is not None:
            args += ["--title", title]
        if text is not None:
            args += ["--text", text]
        if press is not None:
            args += ["--press", str(press)]
        if check_fit:
            args += ["--check-fit", "1"]
        if rect is not None:
            args += ["--rect", str(rect)]
        result = self.run(BIN64 / "boxes.exe", args, timeout=wait + 60)
        return result.stdout.replace("\r\n", "\n").strip() if result.code == 0 else None

    @staticmethod
    def winpath(path):
        return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")

    def unixpath(self, winpath):
        drive, rest = winpath[0].lower(), winpath[2:].replace("\\", "/").lstrip("/")
        if drive == "z":
            return pathlib.Path("/") / rest
        return self.prefix / f"drive_{drive}" / rest

    @property
    def temp_dir(self):
        """What GetTempPathA answers in the prefix."""
        return self.prefix / "drive_c" / "users" / os.environ.get("USER", "root") / "Temp"

    def _reg(self, *args, timeout=60):
        # Wine now and then fails to start reg.exe at all ("ShellExecuteEx failed"): that is no
        # answer of the registry, so the call is made again.
        for attempt in range(3):
            done = subprocess.run([WINE64, "reg", *args], stdin=subprocess.DEVNULL, capture_output=True,
                                  env=self.env(), timeout=timeout)
            if b"ShellExecuteEx failed" not in done.stdout + done.stderr:
                break
            time.sleep(1)
        return done

    def reg_query(self, key, value):
        """The data of a value as reg prints it (DWORDs as int), or None when it is missing."""
        done = self._reg("query", key, "/v", value)
        if done.returncode != 0:
            return None
        for line in done.stdout.decode("latin-1").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[0] == value and parts[1].startswith("REG_"):
                data = parts[2] if len(parts) == 3 else ""
                return int(data, 16) if parts[1] == "REG_DWORD" else data
        return None

    def reg_add(self, key, value, data, kind="REG_SZ"):
        assert self._reg("add", key, "/v", value, "/t", kind, "/d", str(data), "/f").returncode == 0

    def reg_delete(self, key, value=None):
        args = ["delete", key] + (["/v", value] if value else []) + ["/f"]
        self._reg(*args)


def _ensure_prefix():
    subprocess.run(["bash", "-c", f"source '{ROOT}/scripts/wine-env.sh'; wine_prefix_ready"], check=True,
                   timeout=900, stdin=subprocess.DEVNULL)


@pytest.fixture(scope="session")
def wine():
    _ensure_prefix()
    return Wine(os.environ.get("PATHMERE_WINEPREFIX", ROOT / "build" / "wine" / "prefix"))


@pytest.fixture
def tmp_win_dir(tmp_path):
    """A fresh directory with its Windows path."""
    return tmp_path, Wine.winpath(tmp_path)


class Display:
    def __init__(self, name):
        self.name = name

    def _tool(self, *args, timeout=10):
        return subprocess.run(["timeout", str(timeout), *args], capture_output=True, text=True,
                              env=dict(os.environ, DISPLAY=self.name), stdin=subprocess.DEVNULL)

    def find_window(self, title, timeout=30):
        """The id of a visible window whose whole title is `title`; fails after timeout seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self._tool("xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(title)}$")
            ids = found.stdout.split()
            if ids:
                return ids[0]
            time.sleep(0.2)
        raise AssertionError(f"no visible window titled {title!r} within {timeout} s")

    def window_gone(self, wid, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self._tool("xdotool", "getwindowname", wid).returncode != 0:
                return True
            visible = self._tool("xdotool", "search", "--onlyvisible", "--name", ".").stdout.split()
            if wid not in visible:
                return True
            time.sleep(0.2)
        return False

    def visible_windows(self):
        return self._tool("xdotool", "search", "--onlyvisible", "--name", ".*").stdout.split()

    def press_key(self, wid, key):
        self._tool("xdotool", "windowfocus", "--sync", wid)
        self._tool("xdotool", "key", key)

    def screenshot(self, path):
        done = self._tool("/usr/bin/import", "-window", "root", str(path), timeout=20)
        return done.returncode == 0 and pathlib.Path(path).exists()


@pytest.fixture(scope="session")
def display():
    """The X display of the run: the one scripts/test.sh started, or an own Xvfb."""
    existing = os.environ.get("DISPLAY")
    if existing:
        yield Display(existing)
        return
    for number in range(90, 140):
        if not pathlib.Path(f"/tmp/.X11-unix/X{number}").exists() and not pathlib.Path(f"/tmp/.X{number}-lock").exists():
            break
    name = f":{number}"
    xvfb = subprocess.Popen(["Xvfb", name, "-screen", "0", SCREEN, "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + 15
    while not pathlib.Path(f"/tmp/.X11-unix/X{number}").exists():
        assert time.monotonic() < deadline, "Xvfb did not start"
        time.sleep(0.1)
    os.environ["DISPLAY"] = name
    try:
        yield Display(name)
    finally:
        xvfb.terminate()
        xvfb.wait(timeout=10)


def i686_tier_missing(binfmt_dir=BINFMT, wine32_loader=pathlib.Path(WINE32)):
    """What keeps the 32-bit tier from running on this machine, or None when nothing does: 32-bit
    Windows programs need Wine's i386 loader, which this kernel starts only through qemu-i386."""
    if not (binfmt_dir / "register").exists():
        return f"binfmt_misc is not mounted at {binfmt_dir}"
    entry = binfmt_dir / "qemu-i386"
    if not entry.exists():
        return "qemu-i386 is not registered with binfmt_misc"
    if not entry.read_text().startswith("enabled"):
        return "qemu-i386 is registered with binfmt_misc but disabled"
    if not wine32_loader.exists():
        return f"wine32:i386 is not installed (no {wine32_loader})"
    return None


@pytest.fixture
def wine32(request, record_property):
    """The same prefix for 32-bit programs, which run through qemu-user (about a minute each).
    Without wine32:i386 the tier is skipped with the reason; with it, anything else that keeps
    the tier from starting is a failure, so that a broken tier cannot pass as a skipped one."""
    # The test summary counts every case that uses this fixture in the tier.
    record_property("tier", "i686")
    missing = i686_tier_missing()
    if missing and not pathlib.Path(WINE32).exists():
        pytest.skip(f"32-bit tier skipped: {missing}")
    if missing:
        pytest.fail(f"32-bit tier cannot start although wine32:i386 is installed: {missing}")
    wine = request.getfixturevalue("wine")
    if not (wine.prefix / "drive_c" / "windows" / "syswow64" / "kernel32.dll").exists():
        pytest.fail(f"32-bit tier cannot start: the prefix {wine.prefix} has no 32-bit system DLLs")
    return wine
