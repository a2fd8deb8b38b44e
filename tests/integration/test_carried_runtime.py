"""Installers that carry their own Java runtime as jre.tar.gz, under wine64 with no runtime
installed: the untar into "jre", the pack200 preparation with the real unpack200.exe, the
included ".pack" files, damaged and hostile archives, and the progress bar on the way."""
import gzip
import io
import pathlib
import shutil
import tarfile
import time
import zipfile

import pytest

from conftest import BIN64
from installer_kit import build_installer, inspect, log_text, sample_config, temp_dirs
from java_runtime import PACKED_ARCHIVES, JavaRuntime, make_runtime, pack200_fixture, packed_lib_files

MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
CORRUPTED = "The bundled JRE is corrupted. If you downloaded the setup file please download it again."
WIZARD = "tessar Wizard"
MAIN_EXIT = 7


def require_double():
    if not (BIN64 / "java_runtime" / "jvm.dll").exists():
        pytest.skip(f"the runtime double is not built ({BIN64 / 'java_runtime' / 'jvm.dll'}): "
                    "cmake --build build/win64 --target java_runtime_double")


@pytest.fixture
def markers(wine):
    """The launcher's start markers are fixed registry values: start and end clean."""
    wine.reg_delete(MARKER_KEY, "InstallStarted")
    yield
    wine.reg_delete(MARKER_KEY, "InstallStarted")


def carried_config(**narrow):
    """The sample configuration without its download size and packed flag, so that the packaging
    tool sets them from the runtime it adds."""
    config = sample_config()
    config["narrow"].pop("151", None)
    config["narrow"].pop("153", None)
    config["narrow"].update({key: str(value) for key, value in narrow.items()})
    return config


def payload(**extra):
    return {"tsrparams.conf": b"param=1\r\n", **extra}


def build_carried(out, runtime_dir, files=None, config=None):
    """An installer whose runtime the packaging tool adds from a directory or an archive."""
    return build_installer(out, config=config or carried_config(), files=files or payload(),
                           extra=["--jre", str(runtime_dir)])


def run(wine, installer, tmp, *args, quiet=True):
    env = {"TMP": wine.winpath(tmp), "NIMBO_LOG": "yes", "NIMBO_JAVA_HOME": None, "TESSAR_JAVA_HOME": None}
    return wine.run(installer, ["-q", *args] if quiet else list(args), env=env, timeout=240)


def the_temp_dir(tmp):
    [extracted] = temp_dirs(tmp)
    return extracted


def jar_entries(path):
    """Entries as the fixture table counts them, directories included."""
    with zipfile.ZipFile(path) as jar:
        return len(jar.namelist())


def tar_gz(members):
    """jre.tar.gz bytes from (name, bytes or None for a directory, type) triples, written
    exactly as given, order and all."""
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w", format=tarfile.USTAR_FORMAT) as archive:
        for name, data, kind in members:
            info = tarfile.TarInfo(name)
            info.type = kind
            if kind == tarfile.REGTYPE:
                info.size = len(data)
                archive.addfile(info, io.BytesIO(data))
            else:
                if kind == tarfile.SYMTYPE:
                    info.linkname = "../../outside.txt"
                archive.addfile(info)
    return gzip.compress(buffer.getvalue())


def test_packed_tree_builder_uses_the_real_archives(tmp_path):
    runtime = make_runtime(tmp_path / "jre", packed=True)
    lib = runtime.home / "lib"
    assert (runtime.home / "bin" / "unpack200.exe").read_bytes()[:2] == b"MZ"
    assert not (lib / "rt.jar").exists() and not (lib / "jsse.jar").exists()
    for name, (fixture, _) in PACKED_ARCHIVES.items():
        assert (lib / (name + ".pack")).read_bytes() == pack200_fixture(fixture), name


def test_carried_runtime_reaches_main_with_nothing_installed(wine, tmp_path, markers):
    require_double()
    runtime = make_runtime(tmp_path / "jre", script={"main": "exit", "exit_code": MAIN_EXIT}, observe=tmp_path)
    installer = build_carried(tmp_path / "out", runtime.home)
    layout = inspect(installer)
    assert layout["runtime"]["carried"] is True
    assert layout["runtime"]["packed"] is False
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = run(wine, installer, tmp)
    assert result.code == MAIN_EXIT, result
    log = log_text(tmp)
    for line in ("JRE included", "extracting JRE", "untaring JRE was successful"):
        assert line in log.splitlines(), line
    assert "JRE is packed" not in log
    extracted = the_temp_dir(tmp)
    assert f"JRE dir: {wine.winpath(extracted)}\\jre".lower() in log.lower()
    assert not (extracted / "jre.tar.gz").exists()
    assert (extracted / "jre" / "bin" / "java.exe").read_bytes() == (runtime.home / "bin" / "java.exe").read_bytes()
    calls = [event["call"] for event in runtime.trace()["events"]]
    assert "CallStaticVoidMethod" in calls


def test_packed_runtime_and_included_packs_are_unpacked_by_the_real_unpack200(wine, tmp_path, markers):
    require_double()
    runtime = make_runtime(tmp_path / "jre", packed=True, script={"main": "exit", "exit_code": MAIN_EXIT},
                           observe=tmp_path)
    files = payload(**{"installer.jar.pack": pack200_fixture("HelloWorld.pack")})
    installer = build_carried(tmp_path / "out", runtime.home, files=files)
    assert inspect(installer)["runtime"]["packed"] is True
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = run(wine, installer, tmp)
    assert result.code == MAIN_EXIT, result
    assert "Preparing JRE ..." in result.stdout
    log = log_text(tmp).splitlines()
    assert log.index("JRE is packed") < log.index("Unpacking JRE") < log.index("Unpacking JRE done")
    # With the runtime's unpack200.exe while the runtime is prepared, before it is loaded.
    loaded = next(i for i, line in enumerate(log) if line.startswith("JRE dir: "))
    assert log.index("unpacking installer.jar.pack") < log.index("Unpacking included files done") < loaded
    lib = the_temp_dir(tmp) / "jre" / "lib"
    for name, (_, entries) in PACKED_ARCHIVES.items():
        assert jar_entries(lib / name) == entries, name
        assert not (lib / (name + ".pack")).exists(), name
    assert jar_entries(the_temp_dir(tmp) / "installer.jar") == 1
    assert "CallStaticVoidMethod" in [event["call"] for event in runtime.trace()["events"]]


def test_a_failed_unpack_stops_the_preparation_and_reports_the_runtime_corrupted(wine, tmp_path, markers):
    require_double()
    lib_files = packed_lib_files({"rt.jar": pack200_fixture("malformed/flags_oom.pack")})
    runtime = make_runtime(tmp_path / "jre", packed=True, lib_files=lib_files,
                           script={"main": "exit", "exit_code": MAIN_EXIT}, observe=tmp_path)
    installer = build_carried(tmp_path / "out", runtime.home)
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = run(wine, installer, tmp)
    assert result.code == 1, result
    assert CORRUPTED in result.stderr
    assert temp_dirs(tmp) == [], "the launcher's own failure leaves its extraction folder"
    log = log_text(tmp)
    # The Windows code is -1 as a DWORD; Linux sees it as 255.
    assert "ERROR: unpack200 exited with code 4294967295; removing" in log
    assert "ERROR: Could not unpack JRE" in log
    assert "Unpacking JRE done" not in log
    assert runtime.trace() is None, "the VM was loaded"


def test_a_prepared_runtime_is_left_alone(wine, tmp_path, markers):
    """The search prepares every runtime it tests: once lib\\jsse.jar exists it does nothing."""
    require_double()
    runtime = make_runtime(tmp_path / "jre", packed=True, script={"main": "exit", "exit_code": MAIN_EXIT},
                           observe=tmp_path)
    installer = build_carried(tmp_path / "out", runtime.home)
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    assert run(wine, installer, tmp).code == MAIN_EXIT

    # The prepared runtime, found by the search beside a plain installer (".\\jre" in the sample's
    # search list), with a stray rt.jar.pack that a new preparation would unpack over rt.jar.
    plain = build_installer(tmp_path / "out2", config=carried_config(), files=payload())
    found_home = tmp_path / "out2" / "jre"
    shutil.copytree(the_temp_dir(tmp) / "jre", found_home)
    rt = (found_home / "lib" / "rt.jar").read_bytes()
    (found_home / "lib" / "rt.jar.pack").write_bytes(pack200_fixture("HelloWorld.pack"))
    # The version probe's java.exe must exit with 0 now: main returns instead of exiting.
    found = JavaRuntime(found_home, tmp_path / "observe2", False, {"main": "return"})
    found.observe.mkdir()
    found.write_script()

    tmp2 = tmp_path / "tmp2"
    tmp2.mkdir()
    assert run(wine, plain, tmp2).code == 0
    assert "Testing location .\\jre (type B)" in log_text(tmp2)
    assert "Unpacking JRE" not in log_text(tmp2)
    assert (found_home / "lib" / "rt.jar").read_bytes() == rt
    assert (found_home / "lib" / "rt.jar.pack").exists()
    assert "CallStaticVoidMethod" in [event["call"] for event in found.trace()["events"]]

    # Without the marker the same search prepares it again.
    (found_home / "lib" / "jsse.jar").unlink()
    tmp3 = tmp_path / "tmp3"
    tmp3.mkdir()
    assert run(wine, plain, tmp3).code == 0
    assert "Unpacking JRE" in log_text(tmp3).splitlines()
    assert jar_entries(found_home / "lib" / "rt.jar") == 1


def test_a_language_restart_loads_the_runtime_the_first_start_unpacked(wine, tmp_path, markers):
    """The restart runs in the first start's temporary directory, where "jre" already lies."""
    require_double()
    first_temp = tmp_path / "first"
    runtime = make_runtime(first_temp / "jre", script={"main": "exit", "exit_code": MAIN_EXIT}, observe=tmp_path)
    installer = build_carried(tmp_path / "out", runtime.home)
    env = {"TMP": wine.winpath(tmp_path), "NIMBO_LOG": "yes", "NIMBO_JAVA_HOME": None}
    result = wine.run(installer, ["__tsr_lang_restart_de"], env=env, cwd=first_temp, timeout=240)
    assert result.code == MAIN_EXIT, result
    log = log_text(tmp_path).splitlines()
    assert f"Checking extracted JRE: {wine.winpath(first_temp)}\\jre" in log
    assert f"JRE dir: {wine.winpath(first_temp)}\\jre" in log
    assert "extracting JRE" not in log
    assert "CallStaticVoidMethod" in [event["call"] for event in runtime.trace()["events"]]


def test_an_unusable_carried_runtime_with_no_other_ends_with_the_vendor_message(wine, tmp_path, markers):
    require_double()
    runtime = make_runtime(tmp_path / "jre", jvm=False)
    installer = build_carried(tmp_path / "out", runtime.home)
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = run(wine, installer, tmp)
    assert result.code == 1, result
    assert "Could not use bundled JRE. Please send this log file to your software vendor:" in result.stderr
    log = log_text(tmp)
    assert "ERROR: Could not load bundled JRE. Trying to find another JRE." in log
    assert "ERROR: Could not find another JRE." in log
    assert "untaring JRE was successful" in log


def damaged_archives():
    tree = [("bin", None, tarfile.DIRTYPE), ("bin/java.exe", b"MZ" * 300, tarfile.REGTYPE)]
    whole = tar_gz(tree)
    bad_magic = bytearray(gzip.decompress(whole))
    bad_magic[257:262] = b"nope!"
    past_end = bytearray(gzip.decompress(tar_gz(tree + [("release", b"JAVA" * 50, tarfile.REGTYPE)])))
    past_end[2048 + 124:2048 + 136] = b"00000077777\0"
    return {
        "truncated gzip": whole[: len(whole) // 2],
        "bad magic on the first block": gzip.compress(bytes(bad_magic)),
        "file before its directory": tar_gz([tree[1], tree[0]]),
        "size field past the end": gzip.compress(bytes(past_end)),
        "name leaving the target": tar_gz(tree + [("../escaped.txt", b"evil", tarfile.REGTYPE)]),
        "absolute name": tar_gz(tree + [("/escaped.txt", b"evil", tarfile.REGTYPE)]),
        "drive name": tar_gz(tree + [("C:escaped.txt", b"evil", tarfile.REGTYPE)]),
        "stream name": tar_gz(tree + [("bin/java.exe:evil", b"evil", tarfile.REGTYPE)]),
    }


@pytest.mark.parametrize("case", sorted(damaged_archives()))
def test_a_damaged_archive_ends_with_the_corrupted_runtime_message(wine, tmp_path, markers, case):
    installer = build_installer(tmp_path / "out", config=carried_config(),
                                files=payload(**{"jre.tar.gz": damaged_archives()[case]}))
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = run(wine, installer, tmp)
    assert result.code == 1, result
    assert CORRUPTED in result.stderr
    log = log_text(tmp)
    assert "ERROR: Could not untar JRE" in log
    assert temp_dirs(tmp) == [], "the launcher's own failure leaves its extraction folder"
    assert not list(tmp.rglob("escaped.txt"))
    assert not list(pathlib.Path(wine.unixpath("C:\\")).glob("escaped.txt"))


@pytest.mark.parametrize("ending", ["link entry", "two zero blocks"])
def test_links_are_skipped_and_zero_blocks_end_the_archive(wine, tmp_path, markers, ending):
    require_double()
    runtime = make_runtime(tmp_path / "jre", script={"main": "exit", "exit_code": MAIN_EXIT}, observe=tmp_path)
    members = []
    for path in sorted(runtime.home.rglob("*")):
        name = path.relative_to(runtime.home).as_posix()
        members.append((name, None, tarfile.DIRTYPE) if path.is_dir() else (name, path.read_bytes(), tarfile.REGTYPE))
    if ending == "link entry":
        members.insert(1, ("bin/link", None, tarfile.SYMTYPE))
    installer = build_installer(tmp_path / "out", config=carried_config(), files=payload(**{"jre.tar.gz": tar_gz(members)}))
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = run(wine, installer, tmp)
    assert result.code == MAIN_EXIT, result
    log = log_text(tmp)
    assert "no magic number" not in log
    extracted = the_temp_dir(tmp)
    assert not (extracted / "jre" / "bin" / "link").exists()
    assert not (extracted / "jre.tar.gz").exists()


def progress_positions(wine, process, until, on_seen=None):
    """Progress bar positions of the wizard read through the box reader until `until` is seen or
    the process ends; `on_seen` is called with the positions after every look."""
    seen = []
    while process.running():
        box = wine.find_box(title=WIZARD, wait=1) or ""
        seen += [int(part.split("=")[1]) for part in box.split("|") if part.startswith("progress=")]
        if on_seen:
            on_seen(seen)
        if seen and seen[-1] >= until:
            break
    return seen


@pytest.mark.parametrize("packed", [False, True], ids=["plain", "packed"])
def test_the_bar_passes_100_to_200_while_untarring_and_on_to_300_while_unpacking(wine, display, tmp_path, markers,
                                                                                  packed):
    """Thousands of small files make the untar last long enough to watch it. When packed, the
    unpack200 (the double's copy) goes on until the test has seen the bar past 200: the
    pack-progress steps must come while it runs, whatever the untar took."""
    require_double()
    lib_files = {f"ext/f{i:04}.bin": bytes([i % 251]) * 2048 for i in range(4000)}
    if packed:
        lib_files.update(packed_lib_files())
    else:
        lib_files.update({"rt.jar": b"PK\x05\x06" + bytes(18), "jsse.jar": b"PK\x05\x06" + bytes(18)})
    hold = tmp_path / "unpacking.hold"
    runtime = make_runtime(tmp_path / "jre", lib_files=lib_files, packed=packed, observe=tmp_path,
                           script={"main": "exit", "exit_code": MAIN_EXIT, "hold_while": wine.winpath(hold)})
    if packed:
        shutil.copyfile(runtime.home / "bin" / "java.exe", runtime.home / "bin" / "unpack200.exe")
        shutil.copyfile(runtime.home / "runtime_double.cfg", runtime.home / "bin" / "runtime_double.cfg")
        hold.write_bytes(b"")
    installer = build_carried(tmp_path / "out", runtime.home)
    tmp = tmp_path / "tmp"
    tmp.mkdir()

    def let_go_past_200(seen):
        if any(position > 200 for position in seen):
            hold.unlink(missing_ok=True)

    process = wine.start(installer, [], env={"TMP": wine.winpath(tmp), "NIMBO_LOG": "yes", "NIMBO_JAVA_HOME": None})
    try:
        seen = progress_positions(wine, process, until=300 if packed else 200, on_seen=let_go_past_200)
        hold.unlink(missing_ok=True)
        result = process.wait(timeout=240)
    finally:
        hold.unlink(missing_ok=True)
        process.kill()
    assert result.code == MAIN_EXIT, result
    assert any(100 < position < 200 for position in seen), seen
    if packed:
        assert any(200 < position <= 300 for position in seen), seen
        assert sum(name == "unpack200.exe" for name, _ in runtime.runs()) == len(packed_lib_files()), runtime.runs()
    assert seen == sorted(seen), seen


def wine_processes_running(program, below):
    """Linux processes that run a Windows program from below a directory: Wine maps the
    program's file, under its Unix path, into the process (its command line may hold an 8.3 name)."""
    found = []
    for maps in pathlib.Path("/proc").glob("[0-9]*/maps"):
        try:
            text = maps.read_text(encoding="latin-1")
        except OSError:
            continue
        if any(line.endswith("/" + program) and str(below) in line for line in text.splitlines()):
            found.append(maps.parent.name)
    return found


@pytest.mark.parametrize("child", ["unpack200", "version probe"])
def test_cancel_in_the_progress_dialog_ends_the_child_and_exits_with_1(wine, display, tmp_path, markers, child):
    """The launcher waits for a child that hangs (the double's java.exe, also standing in for
    unpack200.exe); Cancel ends both with exit code 1."""
    require_double()
    runtime = make_runtime(tmp_path / "jre", packed=child == "unpack200", script={"hang": 1}, observe=tmp_path)
    env = {"TMP": wine.winpath(tmp_path / "tmp"), "NIMBO_LOG": "yes", "NIMBO_JAVA_HOME": None}
    (tmp_path / "tmp").mkdir()
    if child == "unpack200":
        shutil.copyfile(runtime.home / "bin" / "java.exe", runtime.home / "bin" / "unpack200.exe")
        # Unpacking starts before the untar reaches the script at the top: the double finds it in bin.
        shutil.copyfile(runtime.home / "runtime_double.cfg", runtime.home / "bin" / "runtime_double.cfg")
        installer = build_carried(tmp_path / "out", runtime.home)
        program = "unpack200.exe"
    else:
        installer = build_installer(tmp_path / "out", config=carried_config(), files=payload())
        env["NIMBO_JAVA_HOME"] = wine.winpath(runtime.home)
        program = "java.exe"
    process = wine.start(installer, [], env=env)
    try:
        deadline = time.monotonic() + 120
        while not any(name == program for name, _ in runtime.runs()) and time.monotonic() < deadline:
            assert process.running(), process.wait()
            time.sleep(0.2)
        assert wine_processes_running(program, tmp_path), "the child is not running"
        assert wine.find_box(title=WIZARD, press=2, wait=30) is not None
        result = process.wait(timeout=60)
    finally:
        process.kill()
    assert result.code == 1, result
    time.sleep(1)
    assert not wine_processes_running(program, tmp_path), "the child goes on after the launcher"
    assert "Canceled installer" in log_text(tmp_path / "tmp").splitlines()
    assert temp_dirs(tmp_path / "tmp") == [] and not list((tmp_path / "tmp").glob("nbo*")), \
        "Cancel leaves what was extracted (the runtime being prepared)"


def test_a_packed_runtime_without_unpack200_is_warned_about_and_says_what_is_missing(wine, tmp_path, markers):
    require_double()
    runtime = make_runtime(tmp_path / "jre", packed=True)
    (runtime.home / "bin" / "unpack200.exe").unlink()
    installer = build_carried(tmp_path / "out", runtime.home, files=payload(**{"app.jar.pack": b"packed"}))
    assert ("THE INSTALLER WILL FAIL: the carried runtime has no bin/unpack200.exe, so its packed jars (entry 153) "
            "and the included app.jar.pack cannot be unpacked") in build_installer.warnings, build_installer.warnings
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = run(wine, installer, tmp)
    assert result.code == 1, result
    assert "The Java runtime has no unpack200.exe, which is needed to unpack " in result.stderr, result
    assert "rt.jar.pack" in result.stderr and "error code: 20" not in result.stderr, result
