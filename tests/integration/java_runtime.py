"""Lays out Java runtime trees made of the runtime double (tests/doubles/java_runtime), or with
the real Java VM of the shared fixtures, for the launcher's black-box tests, and reads back what
the double observed. See the double's README."""
import io
import json
import os
import pathlib
import shutil
import subprocess
import tarfile

import pytest

from conftest import BIN32, BIN64, ROOT, Wine

SCRIPT_NAME = "runtime_double.cfg"
DEFAULT_VERSION_LINE = 'java version "1.6.0_21"'


def fixtures_dir():
    """The shared third-party fixtures (unpack200.exe, pack200 archives)."""
    if os.environ.get("PATHMERE_FIXTURES"):
        return pathlib.Path(os.environ["PATHMERE_FIXTURES"])
    for base in (ROOT.parent, ROOT.parent.parent):
        candidate = base / "shared" / "fixtures"
        if candidate.is_dir():
            return candidate
    pytest.skip("the shared third-party fixtures (unpack200.exe, pack200 archives) are not beside "
                "this checkout (../shared/fixtures); set PATHMERE_FIXTURES to run these cases")


def double_dir(bits=64):
    return (BIN64 if bits == 64 else BIN32) / "java_runtime"


def _copy(source, target):
    target.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(source, target)
    target.chmod(0o755)


class JavaRuntime:
    """A runtime tree on disk. `home` is the directory a launcher would call the runtime's home;
    `observe` is where the double writes its trace and run count (absolute Windows paths go into
    the script, so they stay valid when the tree travels as jre.tar.gz)."""

    def __init__(self, root, observe, jdk, script):
        self.root = pathlib.Path(root)
        self.observe = pathlib.Path(observe)
        self.jdk = jdk
        self.script = dict(script)

    @property
    def home(self):
        return self.root

    @property
    def java_exe(self):
        """The executable the launcher's search settles on (a kit's embedded jre\\bin\\java.exe)."""
        return self.root / ("jre/bin/java.exe" if self.jdk else "bin/java.exe")

    @property
    def trace_path(self):
        return self.observe / "jvm_trace.json"

    @property
    def runs_path(self):
        return self.observe / "java_runs.txt"

    def write_script(self, **changes):
        """Changes scripted behaviour; a value of None removes the key."""
        for key, value in changes.items():
            if value is None:
                self.script.pop(key, None)
            else:
                self.script[key] = value
        lines = [f"{key}={value}" for key, value in self.script.items()]
        lines += [f"trace={Wine.winpath(self.trace_path)}", f"runs={Wine.winpath(self.runs_path)}"]
        (self.root / SCRIPT_NAME).write_text("\r\n".join(lines) + "\r\n", encoding="utf-8")

    def trace(self):
        """The JSON trace of the last VM creation, or None when jvm.dll was never called."""
        if not self.trace_path.exists():
            return None
        return json.loads(self.trace_path.read_text(encoding="utf-8"))

    def runs(self):
        """One entry per java.exe/javaw.exe run: (program name, full command line)."""
        if not self.runs_path.exists():
            return []
        lines = self.runs_path.read_text(encoding="utf-8").splitlines()
        return [tuple(line.split("|", 1)) for line in lines if line]

    def reset_observations(self):
        for path in (self.trace_path, self.runs_path):
            if path.exists():
                path.unlink()

    def tar_gz(self):
        """The tree as the bytes of a jre.tar.gz whose members are relative to the home."""
        buffer = io.BytesIO()
        with tarfile.open(fileobj=buffer, mode="w:gz", format=tarfile.USTAR_FORMAT) as archive:
            for path in sorted(self.root.rglob("*")):
                archive.add(path, arcname=path.relative_to(self.root).as_posix(), recursive=False)
        return buffer.getvalue()


# A packed runtime's pack200 list (names relative to lib, as the launcher unpacks them, in its
# order) with the real pack200 archive from the shared fixtures that stands in for each, and the
# number of jar entries that archive unpacks to.
PACKED_ARCHIVES = {
    "rt.jar": ("sql.pack.gz", 94),
    "charsets.jar": ("LargeClass.pack.gz", 9),
    "plugin.jar": ("annotations.pack.gz", 5),
    "deploy.jar": ("pack200.pack.gz", 32),
    "ext/localedata.jar": ("JustResources.pack", 1),
    "jsse.jar": ("InterfaceOnly.pack", 2),
}


def pack200_fixture(name):
    """The bytes of a real pack200 archive from the shared fixtures (a name of their table, or
    "malformed/<name>")."""
    return (fixtures_dir() / "pack200" / name).read_bytes()


def packed_lib_files(overrides=None):
    """lib files of a packed runtime: each archive of PACKED_ARCHIVES as "<name>.pack" holding its
    fixture; `overrides` maps a list name to other bytes (None leaves that archive out)."""
    files = {}
    for name, (fixture, _) in PACKED_ARCHIVES.items():
        data = (overrides or {}).get(name, pack200_fixture(fixture))
        if data is not None:
            files[name + ".pack"] = data
    return files


def real_vm_dll(bits=64):
    """The real Java VM's jvm.dll of the shared fixtures for that architecture."""
    path = fixtures_dir() / "java-vm" / ("windows-x86_64" if bits == 64 else "windows-i386") / "jvm.dll"
    if not path.exists():
        pytest.skip(f"the real Java VM is not in the shared fixtures ({path})")
    return path


def make_runtime(root, *, jdk=False, vm_type="client", bits=64, script=None, observe=None, javaw=True,
                 unpack200=False, lib_files=None, jvm=True, packed=False, real_vm=False):
    """Lays out a runtime home at `root`:

    bin\\java.exe, bin\\javaw.exe, bin\\<vm_type>\\jvm.dll, lib\\rt.jar and lib\\jsse.jar (or the
    names of `lib_files`, mapping relative names under lib to bytes), optionally bin\\unpack200.exe
    (the real one; 64-bit only). With `jdk` the root is a development kit: bin\\java.exe,
    bin\\javaw.exe, lib\\tools.jar and the runtime above under jre\\. `script` holds the double's
    keys (see the README); the trace and run count go to `observe` (default: root). `packed`
    ships the pack200 list as real pack200 archives (packed_lib_files, or `lib_files` when given)
    with the real unpack200.exe, as a runtime that the launcher must prepare. `real_vm` puts the
    real Java VM (real_vm_dll) in place of the double's jvm.dll; java.exe stays the double, which
    answers the version probe, and the trace stays empty: the Java program reports for itself."""
    if packed:
        unpack200 = True
        lib_files = lib_files if lib_files is not None else packed_lib_files()
    root = pathlib.Path(root)
    observe = pathlib.Path(observe) if observe is not None else root
    root.mkdir(parents=True, exist_ok=True)
    observe.mkdir(parents=True, exist_ok=True)
    doubles = double_dir(bits)
    runtime_home = root / "jre" if jdk else root
    if jdk:
        _copy(doubles / "java.exe", root / "bin" / "java.exe")
        if javaw:
            _copy(doubles / "javaw.exe", root / "bin" / "javaw.exe")
        (root / "lib").mkdir(parents=True, exist_ok=True)
        (root / "lib" / "tools.jar").write_bytes(b"PK\x05\x06" + bytes(18))
    _copy(doubles / "java.exe", runtime_home / "bin" / "java.exe")
    if javaw:
        _copy(doubles / "javaw.exe", runtime_home / "bin" / "javaw.exe")
    if jvm:
        _copy(real_vm_dll(bits) if real_vm else doubles / "jvm.dll", runtime_home / "bin" / vm_type / "jvm.dll")
    if unpack200:
        _copy(fixtures_dir() / "unpack200-win64" / "unpack200.exe", runtime_home / "bin" / "unpack200.exe")
    empty_jar = b"PK\x05\x06" + bytes(18)
    files = lib_files if lib_files is not None else {"rt.jar": empty_jar, "jsse.jar": empty_jar}
    for name, data in files.items():
        target = runtime_home / "lib" / name.replace("\\", "/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
    runtime = JavaRuntime(root, observe, jdk, script or {})
    runtime.write_script()
    return runtime


def make_runtime_archive(work, **kwargs):
    """A runtime laid out under `work`/tree and packed as jre.tar.gz bytes, for an installer that
    carries its runtime. Returns (runtime, bytes); the runtime's observations land in `work`."""
    work = pathlib.Path(work)
    runtime = make_runtime(work / "tree", observe=kwargs.pop("observe", work), **kwargs)
    return runtime, runtime.tar_gz()


def compile_java(jar, *source_dirs):
    """Compiles every .java file under the source folders into `jar`, for class file version 50
    as the launcher classes are (the oldest runtime the launcher accepts)."""
    jar = pathlib.Path(jar)
    classes = jar.with_suffix(".classes")
    shutil.rmtree(classes, ignore_errors=True)
    sources = sorted(str(path) for folder in source_dirs for path in pathlib.Path(folder).rglob("*.java"))
    for tool in ("ecj", "jar"):
        if shutil.which(tool) is None:
            pytest.skip(f"{tool} is not installed: the Java test programs cannot be compiled")
    done = subprocess.run(["ecj", "-1.6", "-proc:none", "-d", str(classes), *sources], capture_output=True, text=True)
    assert done.returncode == 0, done.stdout + done.stderr
    jar.unlink(missing_ok=True)
    subprocess.run(["jar", "cf", str(jar), "-C", str(classes), "."], check=True)
    return jar
