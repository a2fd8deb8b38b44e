"""The Java runtime double itself: what java.exe answers, what jvm.dll records and plays."""
import io
import subprocess
import tarfile

import pytest

from conftest import BIN64
from java_runtime import DEFAULT_VERSION_LINE, make_runtime, make_runtime_archive

PROBE = BIN64 / "jvm_double_probe.exe"


def first_line(result):
    return result.stderr.replace("\r\n", "\n").split("\n", 1)[0]


def test_java_exe_prints_default_version_and_counts_runs(wine, tmp_path):
    runtime = make_runtime(tmp_path / "jre")
    result = wine.run(runtime.java_exe, ["-version"])
    assert result.code == 0
    assert first_line(result) == DEFAULT_VERSION_LINE
    wine.run(runtime.home / "bin" / "javaw.exe", ["-version"])
    runs = runtime.runs()
    assert [name.lower() for name, _ in runs] == ["java.exe", "javaw.exe"]
    assert runs[0][1].endswith("-version")


def test_java_exe_plays_scripted_line_and_exit_code(wine, tmp_path):
    # exit_code belongs to the Java program, not to "-version".
    runtime = make_runtime(tmp_path / "jre", script={"version_line": 'java version "1.8.0-ea"',
                                                     "version_exit_code": 3, "exit_code": 4})
    result = wine.run(runtime.java_exe, ["-version"])
    assert result.code == 3
    assert first_line(result) == 'java version "1.8.0-ea"'


def test_java_exe_hangs_when_scripted(wine, tmp_path):
    runtime = make_runtime(tmp_path / "jre", script={"hang": 1})
    process = wine.start(runtime.java_exe, ["-version"])
    try:
        with pytest.raises(subprocess.TimeoutExpired):
            process.popen.wait(timeout=3)
    finally:
        process.kill()


def test_jvm_dll_traces_options_and_arguments(wine, tmp_path):
    runtime = make_runtime(tmp_path / "jre", vm_type="server")
    result = wine.run(PROBE, [runtime.home / "bin" / "server" / "jvm.dll"])
    assert result.code == 0, result
    trace = runtime.trace()
    assert trace["version"] == 0x10002
    assert trace["ignoreUnrecognized"] is True
    assert trace["options"] == ["-Dprobe=1", "-Xmx64m"]
    assert trace["extraInfoNull"] is True
    calls = [event["call"] for event in trace["events"]]
    assert calls == ["JNI_CreateJavaVM", "FindClass", "GetStaticMethodID", "FindClass", "NewObjectArray",
                     "CallStaticVoidMethod", "DestroyJavaVM"]
    main = trace["events"][5]
    assert main["args"] == ["a\u4e16", "a"]


def test_jvm_dll_refuses_creation_when_scripted(wine, tmp_path):
    runtime = make_runtime(tmp_path / "jre", script={"create": -1})
    result = wine.run(PROBE, [runtime.home / "bin" / "client" / "jvm.dll"])
    assert result.code == 4
    assert runtime.trace()["events"] == [{"call": "JNI_CreateJavaVM", "result": -1}]


def test_jvm_dll_reports_missing_class_and_method(wine, tmp_path):
    runtime = make_runtime(tmp_path / "jre", script={"missing": "com/nimbo/runtime/WinLauncher"})
    jvm = runtime.home / "bin" / "client" / "jvm.dll"
    assert wine.run(PROBE, [jvm]).code == 5
    runtime.write_script(missing="com/nimbo/runtime/WinLauncher.main")
    assert wine.run(PROBE, [jvm]).code == 6


def test_jvm_dll_main_throws_or_exits(wine, tmp_path):
    runtime = make_runtime(tmp_path / "jre", script={"main": "throw"})
    jvm = runtime.home / "bin" / "client" / "jvm.dll"
    result = wine.run(PROBE, [jvm])
    assert result.code == 8
    assert "Exception in thread \"main\" java.lang.IllegalStateException" in result.stderr
    runtime.write_script(main="exit", exit_code=42)
    assert wine.run(PROBE, [jvm]).code == 42


def test_jvm_dll_aborts_loudly_on_an_unexpected_call(wine, tmp_path):
    runtime = make_runtime(tmp_path / "jre")
    result = wine.run(PROBE, [runtime.home / "bin" / "client" / "jvm.dll", "unexpected"])
    assert result.code == 97
    assert "unexpected call of function slot" in result.stderr
    assert runtime.trace()["events"][-1]["call"] == "unexpected"


def test_development_kit_and_archive_layouts(tmp_path):
    kit = make_runtime(tmp_path / "jdk", jdk=True)
    assert (kit.home / "lib" / "tools.jar").exists()
    assert (kit.home / "jre" / "bin" / "client" / "jvm.dll").exists()
    assert kit.java_exe == kit.home / "jre" / "bin" / "java.exe"
    runtime, data = make_runtime_archive(tmp_path / "carried", vm_type="server")
    names = tarfile.open(fileobj=io.BytesIO(data), mode="r:gz").getnames()
    assert {"bin/java.exe", "bin/javaw.exe", "bin/server/jvm.dll", "lib/rt.jar", "runtime_double.cfg"} <= set(names)
    assert runtime.trace_path.parent == tmp_path / "carried"


def test_real_unpack200_goes_into_bin_and_runs(wine, tmp_path):
    runtime = make_runtime(tmp_path / "jre", unpack200=True)
    tool = runtime.home / "bin" / "unpack200.exe"
    assert tool.exists()
    result = wine.run(tool, ["-V"])
    assert result.code == 0, result
    assert "unpack200" in (result.stdout + result.stderr).lower()
