"""The shipped 32-bit build reaches the Java program: one 32-bit process per scenario (about a
minute each under qemu-user) with the 32-bit build of the runtime double, and once with the real
i386 VM, whose Java program also calls the 32-bit JNI libraries. 32-bit programs are
started by the 32-bit loader directly, so TMP cannot be set (see test_i686_smoke.py): logs are
found in the prefix's temporary directory by the installer's path on their first line."""
import os

import pytest

from conftest import BIN32, Wine
from installer_kit import build_installer, sample_config
from java_runtime import make_runtime
from test_real_vm import REDIRECTS, assert_natives_answered, java_output, modem, natives_env, payload
from test_real_vm import programs  # noqa: F401 (a fixture)

MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
CACHE_KEY = r"HKCU\SOFTWARE\harwell\nimbo\jvms"
# A 32-bit process reads the 32-bit view of HKLM\SOFTWARE.
JRE_KEY = r"HKLM\SOFTWARE\Wow6432Node\JavaSoft\Java Runtime Environment"
MAIN_EXIT = 7


@pytest.fixture
def clean(wine32):
    """The launcher's keys are fixed: no start marker, no cached versions, no registered runtime."""
    def reset():
        wine32.reg_delete(MARKER_KEY, "InstallStarted")
        wine32.reg_delete(CACHE_KEY)
        wine32.reg_delete(JRE_KEY)
    reset()
    yield wine32
    reset()


def require_double32():
    if not (BIN32 / "java_runtime" / "jvm.dll").exists():
        pytest.skip("the 32-bit runtime double is not built: cmake --build build/win32 --target java_runtime_double")


def run32(wine, installer):
    """Runs quietly with the log kept; returns (result, log text) and removes the log."""
    before = set(wine.temp_dir.glob("tsr_nlog_*"))
    result = wine.run(installer, ["-q"], env={"NIMBO_LOG": "yes", "NIMBO_JAVA_HOME": None, "TESSAR_JAVA_HOME": None},
                      bits=32, timeout=600)
    marker = f"Started executable {Wine.winpath(installer)}"
    logs = [path for path in set(wine.temp_dir.glob("tsr_nlog_*")) - before
            if path.read_text(errors="replace").startswith(marker)]
    assert len(logs) == 1, (result, logs)
    log = logs[0].read_text(errors="replace").replace("\r\n", "\n")
    logs[0].unlink()
    return result, log


def called_main(runtime):
    trace = runtime.trace()
    assert trace is not None, "jvm.dll was never called"
    return "CallStaticVoidMethod" in [event["call"] for event in trace["events"]]


def test_carried_runtime_is_untarred_and_runs_to_main(clean, tmp_path):
    require_double32()
    runtime = make_runtime(tmp_path / "jre", bits=32, observe=tmp_path,
                           script={"main": "exit", "exit_code": MAIN_EXIT})
    config = sample_config()
    config["narrow"].pop("151", None)
    config["narrow"].pop("153", None)
    installer = build_installer(tmp_path / "out", config=config, files={"tsrparams.conf": b"param=1\r\n"}, bits=32,
                                extra=["--jre", str(runtime.home)])
    result, log = run32(clean, installer)
    assert result.code == MAIN_EXIT, (result, log)
    lines = log.splitlines()
    for line in ("JRE included", "extracting JRE", "untaring JRE was successful", "Loading of JVM-DLL successful"):
        assert line in lines, (line, log)
    assert called_main(runtime)
    assert runtime.runs() == [], "a carried runtime is loaded without a version probe"


def test_installed_runtime_is_found_through_the_registry_and_probed(clean, tmp_path):
    require_double32()
    runtime = make_runtime(tmp_path / "jre6", bits=32, observe=tmp_path,
                           script={"main": "exit", "exit_code": MAIN_EXIT, "version_line": 'java version "1.6.0_21"'})
    clean.reg_add(JRE_KEY, "CurrentVersion", "1.6")
    clean.reg_add(f"{JRE_KEY}\\1.6", "JavaHome", Wine.winpath(runtime.home))
    config = sample_config()
    config["narrow"]["128"] = "Y"
    installer = build_installer(tmp_path / "out", config=config, files={"readme.txt": b"x"}, bits=32)
    result, log = run32(clean, installer)
    assert result.code == MAIN_EXIT, (result, log)
    java_exe = Wine.winpath(runtime.java_exe).lower()
    assert f"found sun {java_exe} 1.6.0_21" in log, log
    assert "got version from execution 1.6.0_21" in log, log
    assert f"Trying to load JVM-DLL from {java_exe}\n" in log, log
    assert [name for name, _ in runtime.runs()] == ["java.exe"]
    assert called_main(runtime)


def test_shipped_32bit_stub_runs_java_in_the_carried_real_vm_and_the_libraries_answer(wine32, tmp_path, programs):
    """One 32-bit process: the shipped stub carries a runtime with the real i386 VM, and its Java
    program calls the 32-bit libraries, whose decorated exports the VM must find."""
    require_double32()
    runtime = make_runtime(tmp_path / "jre", bits=32, real_vm=True)
    config = sample_config()
    config["narrow"].update(REDIRECTS)
    config["narrow"].pop("151", None)
    config["narrow"].pop("153", None)
    out = tmp_path / "out"
    installer = build_installer(out, config=config, files=payload(programs[0], BIN32), bits=32,
                                extra=["--jre", str(runtime.home)])
    phonebook, env = natives_env(tmp_path)
    env.update({"NIMBO_JAVA_HOME": None, "TESSAR_JAVA_HOME": None,
                "QEMU_RESERVED_VA": os.environ.get("QEMU_RESERVED_VA", "0xffff0000")})
    modem(wine32, "COM7", 32)
    try:
        result = wine32.run(installer, ["-q", "natives"], env=env, bits=32, timeout=900)
    finally:
        modem(wine32, None, 32)
    assert result.code == 0, result
    assert java_output(out)["lines"][:3] == ["probe: main reached with 2 argument(s)", "probe: args[0] = -q",
                                             "probe: args[1] = natives"]
    assert_natives_answered(out, phonebook)
