"""The launcher's last stage, black-box: installers built by pathmere-pack start the Java runtime
double (tests/doubles/java_runtime) found through NIMBO_JAVA_HOME, and its trace shows what the
VM and the Java launcher class received."""
import pytest

from installer_kit import build_installer, log_text, sample_config
from java_runtime import make_runtime

MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
# A payload without pack200 archives: the double's runtime has no unpack200.exe to run.
FILES = {"app.jar": b"PK\x05\x06" + bytes(18), "tsrparams.conf": b"mode=test\n", "user\\lib.zip": b"PK\x05\x06" + bytes(18)}


@pytest.fixture(autouse=True)
def markers(wine):
    wine.reg_delete(MARKER_KEY, "InstallStarted")
    yield
    wine.reg_delete(MARKER_KEY, "InstallStarted")


class Launch:
    def __init__(self, wine, tmp_path, script=None, narrow=None, vm_type="client"):
        self.wine, self.tmp_path = wine, tmp_path
        self.runtime = make_runtime(tmp_path / "jre", vm_type=vm_type, script=script)
        config = sample_config()
        config["narrow"].update(narrow or {})
        self.out = tmp_path / "out"
        self.installer = build_installer(self.out, config=config, files=FILES)
        self.temp = tmp_path / "temp"
        self.temp.mkdir()

    def env(self, **extra):
        return {"TMP": self.wine.winpath(self.temp), "NIMBO_JAVA_HOME": self.wine.winpath(self.runtime.home),
                "NIMBO_LOG": "yes", "MANPATH": None, **extra}

    def run(self, args=("-q",), **extra):
        return self.wine.run(self.installer, args, env=self.env(**extra))

    def start(self, args=(), **extra):
        return self.wine.start(self.installer, args, env=self.env(**extra))

    def log(self):
        return log_text(self.temp)

    def trace(self):
        trace = self.runtime.trace()
        assert trace is not None, "jvm.dll was never called"
        return trace

    def main_call(self):
        calls = [e for e in self.trace()["events"] if e["call"] == "CallStaticVoidMethod"]
        return calls[0] if calls else None


def option_names(options):
    return [option.split("=", 1)[0] for option in options]


def test_quiet_launch_reaches_main_with_properties_options_and_class_path(wine, tmp_path):
    launch = Launch(wine, tmp_path, script={"main": "exit", "exit_code": 7})
    result = launch.run(["-q", "-J-Xmx256m", "user arg"])
    assert result.code == 7, result
    trace = launch.trace()
    options = trace["options"]
    assert option_names(options[:8]) == [
        "-Dnimbo.semaphoreName", "-Dnimbo.isTessar", "-Dnimbo.moduleName", "-Dsun.java.command", "-Dnimbo.tempDir",
        "-Dnimbo.unextractedPosition", "-Djava.library.path", "-Dnimbo.consoleCodepage"]
    assert options[1] == "-Dnimbo.isTessar=true"
    assert options[2].lower().endswith("\\out\\setup.exe") and options[3] == options[2].replace(
        "-Dnimbo.moduleName=", "-Dsun.java.command=")
    temp_dir = options[4].split("=", 1)[1]
    assert int(options[5].split("=", 1)[1]) > 0
    assert options[6] == "-Djava.library.path=" + trace["path"]
    assert options[7].startswith("-Dnimbo.consoleCodepage=cp")
    assert options[8:10] == ["-Dsun.java2d.noddraw=true", "-Xmx256m"]
    assert options[-1] == f"-Djava.class.path={temp_dir}\\app.jar;{temp_dir}\\user\\lib.zip;"
    assert len(options) == 11
    assert trace["version"] == 0x10002 and trace["ignoreUnrecognized"] is True
    main = launch.main_call()
    assert main["class"] == "com/tessar/runtime/launcher/WinLauncher"
    args = main["args"]
    assert args[0:2] == ["false", "com.tessar.runtime.installer.Installer"]
    assert args[2].lower() == str(wine.winpath(launch.out / "error.log")).lower()
    assert args[3:5] == ["", "false"]
    assert args[5].lower().endswith("setup.exe")
    assert args[6:] == ["-q", "user arg"]
    log = launch.log()
    assert "Creating JVM" in log and "JVM created" in log and "calling main" in log


def test_main_returning_ends_a_quiet_launch_with_zero(wine, tmp_path):
    launch = Launch(wine, tmp_path)
    result = launch.run()
    assert result.code == 0, result
    calls = [e["call"] for e in launch.trace()["events"]]
    assert calls[-2:] == ["CallStaticVoidMethod", "DestroyJavaVM"]
    log = launch.log()
    assert log.index("main returned") < log.index("dest JVM") < log.index("launch done")


def test_main_returning_ends_the_dialog_and_the_launcher_with_zero(wine, tmp_path, display):
    launch = Launch(wine, tmp_path)
    result = launch.run(args=())
    assert result.code == 0, result
    log = launch.log()
    assert "launch done" in log and "Canceled installer" not in log
    assert "DestroyJavaVM" in [e["call"] for e in launch.trace()["events"]]


def test_java_window_hides_the_progress_dialog_and_its_exit_code_is_the_launchers(wine, tmp_path, display):
    launch = Launch(wine, tmp_path, script={"main": "window", "exit_code": 5})
    result = launch.run(args=())
    assert result.code == 5, result
    wait = [e for e in launch.trace()["events"] if e["call"] == "window wait ended"][0]
    assert wait["sawProgressDialog"] is True and wait["progressDialogHidden"] is True
    assert "Java window visible" in launch.log()


def test_launcher_family_uses_its_class_and_skips_installer_properties(wine, tmp_path):
    launch = Launch(wine, tmp_path, narrow={"2001": "e", "125": "0"})
    result = launch.run(["-q", "-J-Xmx1g"])
    assert result.code == 0, result
    options = launch.trace()["options"]
    assert "-Dnimbo.isTessar=true" not in options and "-Xmx1g" not in options
    main = launch.main_call()
    assert main["class"] == "com/nimbo/runtime/WinLauncher"
    assert main["args"][-2:] == ["-q", "-J-Xmx1g"]


def test_argument_outside_the_ansi_code_page_reaches_java_unchanged(wine, tmp_path):
    launch = Launch(wine, tmp_path)
    result = launch.run(["-q", "\u4e16\u754c"])
    assert result.code == 0, result
    assert launch.main_call()["args"][-1] == "\u4e16\u754c"
    assert "param 7: ??" in launch.log()


def test_native_library_directory_goes_in_front_of_path(wine, tmp_path):
    launch = Launch(wine, tmp_path, narrow={"10004": "natives;%NIMBO_TEMPDIR%"})
    assert launch.run().code == 0
    trace = launch.trace()
    temp_dir = [o for o in trace["options"] if o.startswith("-Dnimbo.tempDir=")][0].split("=", 1)[1]
    first = trace["path"].split(";")[:2]
    assert first[0].lower() == wine.winpath(launch.out / "natives").lower()
    assert first[1] == temp_dir
    assert "native lib dir is natives;%NIMBO_TEMPDIR%" in launch.log()


def message_of(entry, argument=None):
    text = sample_config()["narrow"][str(entry)]
    return text.replace("{0}", argument) if argument is not None else text


@pytest.mark.parametrize("script, narrow, entry, argument, log_line", [
    ({"create": -4}, {}, 1005, None, "ERROR: could not initialize JVM"),
    ({"missing": "com/tessar/runtime/launcher/WinLauncher"}, {}, 1010, None, "ERROR: could not find main class"),
    ({"missing": "com/tessar/runtime/launcher/WinLauncher.main"}, {}, 1011, None, "ERROR: could not find main method"),
    ({"main": "throw"}, {}, 1005, None, "ERROR: an exception occured"),
    ({"fail": "NewObjectArray"}, {}, 1009, "16", "ERROR: could not allocate the argument array for main"),
    ({"fail": "NewString"}, {}, 1009, "16", "ERROR: could not allocate an argument string for main"),
], ids=["vm-refused", "class-missing", "main-missing", "main-throws", "array-allocation", "string-allocation"])
def test_failure_rows_end_with_their_message_and_exit_code_1(wine, tmp_path, script, narrow, entry, argument, log_line):
    launch = Launch(wine, tmp_path, script=script, narrow=narrow)
    result = launch.run()
    assert result.code == 1, result
    assert message_of(entry, argument).replace("\n", "\r\n") + "\r\n\r\nLog: " in result.stderr, result.stderr
    assert log_line in launch.log()


def test_exception_in_main_is_described_and_reported_as_could_not_call_main(wine, tmp_path):
    launch = Launch(wine, tmp_path, script={"main": "throw"})
    result = launch.run()
    assert "Exception in thread \"main\" java.lang.IllegalStateException" in result.stderr
    log = launch.log()
    assert log.index("ERROR: an exception occured") < log.index("ERROR: could not call main") < log.index(
        "ERROR: Could not start JVM")


@pytest.mark.parametrize("script, argument", [
    ({"missing": "com/tessar/runtime/launcher/FirstRun"}, "14"),
    ({"missing": "com/tessar/runtime/launcher/FirstRun.firstRun"}, "15"),
], ids=["class", "method"])
def test_missing_first_run_class_or_method_is_internal_error(wine, tmp_path, script, argument):
    launch = Launch(wine, tmp_path, script=script)
    (launch.out / ".tessar").mkdir()
    (launch.out / ".tessar" / "firstrun").write_text("")
    result = launch.run()
    assert result.code == 1, result
    assert result.stderr.startswith(message_of(1009, argument)), result.stderr
    assert launch.main_call() is None


@pytest.mark.parametrize("answer", ["false", "throw"])
def test_first_run_veto_stops_before_main_and_still_ends_the_launch(wine, tmp_path, answer):
    launch = Launch(wine, tmp_path, script={"first_run": answer})
    (launch.out / ".tessar").mkdir()
    (launch.out / ".tessar" / "firstrun").write_text("")
    result = launch.run()
    assert result.code == 0, result
    assert launch.main_call() is None
    calls = [e["call"] for e in launch.trace()["events"]]
    assert "CallStaticBooleanMethod" in calls and calls[-1] == "DestroyJavaVM"
    log = launch.log()
    assert log.index("checkFirstRun stopped further execution") < log.index("launch done")


def test_first_run_answering_true_goes_on_to_main(wine, tmp_path):
    launch = Launch(wine, tmp_path)
    (launch.out / ".tessar").mkdir()
    (launch.out / ".tessar" / "firstrun").write_text("")
    assert launch.run().code == 0
    assert launch.main_call() is not None


def test_vmoptions_beside_the_installer_with_includes_and_class_path_directives(wine, tmp_path):
    launch = Launch(wine, tmp_path, narrow={"121": "D1lib;A0missing.jar"})
    (launch.out / "lib").mkdir()
    (launch.out / "setup.vmoptions").write_bytes(
        b"  -Xmx512m  \r\n#-Xms64m\r\n\r\n\t-Dtabbed=1\r\n-include-options conf\\a.vmoptions\r\n-Dlast=1\r\n")
    (launch.out / "conf").mkdir()
    (launch.out / "conf" / "a.vmoptions").write_bytes(
        b"-Dincluded=%NIMBO_EXEDIR%\r\n-include-options b.vmoptions\r\n-classpath/p first.jar\r\n")
    (launch.out / "conf" / "b.vmoptions").write_bytes(b"-Dnested=1\r\n-classpath/a lib\\extra.jar\r\n")
    result = launch.run(["-q", "-J-Dfrom.j=1"])
    assert result.code == 0, result
    options = launch.trace()["options"]
    exe_dir = wine.winpath(launch.out) + "\\"
    start = options.index("-Dsun.java2d.noddraw=true")
    assert options[start:-1] == ["-Dsun.java2d.noddraw=true", "-Dfrom.j=1", "-Xmx512m", "\t-Dtabbed=1",
                                 "-Dincluded=" + exe_dir, "-Dnested=1", "-Dlast=1"]
    temp_dir = [o for o in options if o.startswith("-Dnimbo.tempDir=")][0].split("=", 1)[1]
    class_path = options[-1].split("=", 1)[1]
    expected = (f"first.jar;{temp_dir}\\app.jar;{temp_dir}\\user\\lib.zip;{exe_dir}lib;{exe_dir}missing.jar;"
                "lib\\extra.jar")
    assert class_path == expected
    assert "adding vmoptions from <" in launch.log()


def test_missing_mandatory_class_path_item_is_message_1006(wine, tmp_path):
    launch = Launch(wine, tmp_path, narrow={"121": "D1%NIMBO_EXEDIR%nowhere"})
    result = launch.run()
    assert result.code == 1, result
    exe_dir = wine.winpath(launch.out) + "\\"
    message = message_of(1006, exe_dir + "nowhere").replace("\n", "\r\n")
    assert message in result.stderr, result.stderr
    assert launch.runtime.trace() is None


def test_refused_vm_in_dialog_mode_shows_message_1005_in_a_box(wine, tmp_path, display):
    launch = Launch(wine, tmp_path, script={"create": -1})
    process = launch.start(args=())
    try:
        box = wine.find_box(title="Error", press=1, wait=60)
        result = process.wait(timeout=60)
    finally:
        process.kill()
    assert box is not None
    assert box.startswith("Error|OK|" + message_of(1005) + "\n\nLog: "), box
    assert result.code == 1
    assert "ERROR: Could not start JVM" in launch.log()
