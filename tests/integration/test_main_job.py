"""The report of scripts/run.sh's main job: stage times from stamped log lines and the VM's inputs
from the launcher's log (no Wine needed)."""
import sys

from conftest import ROOT

sys.path.insert(0, str(ROOT / "scripts"))
import main_job  # noqa: E402


def test_stage_times_follow_the_log_lines_and_skip_missing_stages():
    stamps = {
        "Started executable Z:\\x\\setup.exe at Wed": 0.10,
        "verifying integrity length 100": 0.15,
        "extracting files": 0.20,
        "extracting files done": 0.30,
        "Searching for a JVM": 0.30,
        "Trying to load JVM-DLL from c:\\jre\\bin\\java.exe": 0.50,
        "Loading of JVM-DLL successful": 0.55,
        "unpacking user.jar.pack": 0.55,
        "unpacking tsrruntime.jar.pack": 0.70,
        "Unpacking included files done": 0.85,
        "launching program": 0.90,
    }
    rows = dict(main_job.stage_times(stamps, total=1.0))
    assert rows.pop("Wine process start (to the first log line)") == 0.10
    expected = {"start and set-up": 0.05, "verify (CRC-32)": 0.05, "extract included files": 0.10,
                "search installed runtime": 0.20, "load jvm.dll": 0.05,
                "unpack included .pack files (unpack200)": 0.30, "create VM, call main, end": 0.10}
    assert rows.keys() == expected.keys(), "no carried-runtime stage without its lines"
    for name, seconds in expected.items():
        assert abs(rows[name] - seconds) < 1e-9, name


def test_a_stage_whose_end_never_came_runs_to_the_end_of_the_process():
    rows = dict(main_job.stage_times({"Started executable Z:\\x": 0.1, "extracting JRE": 0.2}, total=2.0))
    assert abs(rows["untar carried runtime"] - 1.8) < 1e-9
    assert main_job.stage_times({}, total=1.0) == []


def test_the_log_splits_into_properties_options_class_path_and_arguments():
    log = ("launching program\r\nvmoption count 4\r\nvmoption 0: -Dnimbo.isTessar=true\r\nvmoption 1: -Xmx256m\r\n"
           "vmoption 2: -Dsun.java2d.noddraw=true\r\nvmoption 3: -Djava.class.path=C:\\t\\a.jar;C:\\t\\b.jar\r\n"
           "JVM created\r\nmain class: com/tessar/runtime/launcher/WinLauncher\r\nparam count: 3\r\n"
           "param 0: false\r\nparam 1: p.exe\r\nparam 2: user arg\r\ncalling main\r\n")
    properties, options, class_path, launcher, args = main_job.describe_log(log)
    assert properties == ["-Dnimbo.isTessar=true", "-Dsun.java2d.noddraw=true"]
    assert options == ["-Xmx256m"]
    assert class_path == "C:\\t\\a.jar;C:\\t\\b.jar"
    assert launcher == "com/tessar/runtime/launcher/WinLauncher"
    assert args == ["false", "p.exe", "user arg"]
    assert main_job.describe_log("launching program\n")[3:] == (None, [])
