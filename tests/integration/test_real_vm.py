"""The launcher with a real Java VM (the shared fixtures' jvm.dll; java.exe stays the runtime
double, which answers the version probe): every assertion is about what the Java program itself
saw or did, from the files its output went to (entries 102 to 105) and its exit code. The
doubles keep what a real VM cannot be made to do on demand (a refused VM, failed allocations).
The JNI libraries are called through their own Java classes in the same VM (the 32-bit build in
test_i686_java.py)."""

import pytest

from conftest import BIN64, ROOT, Wine
from installer_kit import SAMPLE, build_installer, log_text, sample_config
from java_runtime import compile_java, make_runtime

MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
MODEM_KEY = r"HKLM\SYSTEM\CurrentControlSet\Control\Class\{pathmere-real-vm"
JAVA = ROOT / "tests" / "integration" / "java"
PREFIX_JAVA = ROOT / "tests" / "integration" / "java_prefix"
PHONEBOOK_ENTRY = "Orvanta Link"
MODEM = "Pathmere real VM modem"
# The Java program's streams go to files beside the installer, as the sample configures them.
REDIRECTS = {"102": "1", "103": "error.log", "104": "1", "105": "output.log", "122": "probe.Probe"}


@pytest.fixture(scope="session")
def programs(tmp_path_factory):
    """The Java program under test (with the JNI libraries' own classes) and, apart, a class that
    only a class-path prefix reaches."""
    work = tmp_path_factory.mktemp("java")
    probe = compile_java(work / "probe.jar", JAVA, ROOT / "java" / "src")
    compile_java(work / "prefix.jar", PREFIX_JAVA)
    return probe, work / "prefix.classes"


@pytest.fixture(autouse=True)
def markers(wine):
    wine.reg_delete(MARKER_KEY, "InstallStarted")
    yield
    wine.reg_delete(MARKER_KEY, "InstallStarted")


def payload(probe_jar, natives_bin=None):
    """The installer's files: the Java launcher classes, the program and, for the native calls,
    the three libraries of one build with the phonebook double that Pemtrel imports (extracted
    into the launch's working directory, where System.loadLibrary and the loader find them)."""
    files = {"tsrlauncher.jar": (SAMPLE / "files" / "tsrlauncher.jar").read_bytes(),
             "probe.jar": probe_jar.read_bytes(), "tsrparams.conf": b"mode=test\r\n"}
    if natives_bin is not None:
        for name, path in (("Nelvar.dll", "Nelvar.dll"), ("Pemtrel.dll", "Pemtrel.dll"),
                           ("Tarvik.dll", "tarvik1/Tarvik.dll"), ("rasapi32.dll", "phonebook/rasapi32.dll")):
            files[name] = (natives_bin / path).read_bytes()
    return files


def java_output(out_dir, name="output.log"):
    """The Java program's "probe: name = value" lines (and the "native:" ones) as a dict, with the
    plain lines under "lines"."""
    path = out_dir / name
    text = path.read_text(errors="replace").replace("\r\n", "\n") if path.exists() else ""
    found = {"lines": text.splitlines()}
    for line in text.splitlines():
        kind, _, rest = line.partition(": ")
        if kind in ("probe", "native") and " = " in rest:
            key, _, value = rest.partition(" = ")
            found[key] = value
    return found


class RealLaunch:
    """An installer whose Java program is the probe, started with the real VM in a runtime found
    through NIMBO_JAVA_HOME (64-bit)."""

    def __init__(self, wine, tmp_path, programs, narrow=None, natives=False):
        self.wine = wine
        self.runtime = make_runtime(tmp_path / "jre", real_vm=True)
        config = sample_config()
        config["narrow"].update({**REDIRECTS, **(narrow or {})})
        self.out = tmp_path / "out"
        self.installer = build_installer(self.out, config=config,
                                         files=payload(programs[0], BIN64 if natives else None))
        self.prefix_classes = programs[1]
        self.temp = tmp_path / "temp"
        self.temp.mkdir()

    def vmoptions(self, *lines):
        (self.out / "setup.vmoptions").write_text("\r\n".join(lines) + "\r\n")

    def first_run_marker(self):
        (self.out / ".tessar").mkdir(exist_ok=True)
        (self.out / ".tessar" / "firstrun").write_text("")

    def run(self, args, **env):
        return self.wine.run(self.installer, ["-q", *args],
                             env={"TMP": Wine.winpath(self.temp), "NIMBO_JAVA_HOME": Wine.winpath(self.runtime.home),
                                  "NIMBO_LOG": "yes", "MANPATH": None, **env})

    def log(self):
        return log_text(self.temp)


def test_java_program_sees_its_arguments_properties_and_options_and_exits_with_its_code(wine, tmp_path, programs):
    launch = RealLaunch(wine, tmp_path, programs,
                        narrow={"123": ' -Dsun.java2d.noddraw=true "-Dprobe.configured=entry 123"'})
    launch.vmoptions("-Dprobe.vmoptions=the file", f"-classpath/p {Wine.winpath(launch.prefix_classes)}")
    # The first-run question goes to the real VM too, whose FirstRun answers that the start goes on.
    launch.first_run_marker()
    result = launch.run(["first argument", "-J-Dprobe.commandLine=a -J option", "with  two spaces", "exit=5"])
    assert result.code == 5, (result, launch.log())
    seen = java_output(launch.out)
    # The launcher's own switches are not consumed: the program gets the whole command line but
    # for the -J options, which became VM options.
    assert seen["lines"][:5] == ["probe: main reached with 4 argument(s)", "probe: args[0] = -q",
                                 "probe: args[1] = first argument", "probe: args[2] = with  two spaces",
                                 "probe: args[3] = exit=5"], seen["lines"]
    module = Wine.winpath(launch.installer)
    assert seen["nimbo.moduleName"].lower() == module.lower() and seen["sun.java.command"] == seen["nimbo.moduleName"]
    assert seen["nimbo.isTessar"] == "true" and seen["nimbo.semaphoreName"] != "null"
    assert seen["own jar in nimbo.tempDir"] == "true" and int(seen["nimbo.unextractedPosition"]) > 0
    assert seen["nimbo.consoleCodepage"].startswith("cp")
    assert seen["java.library.path"] not in ("", "null")
    assert seen["probe.configured"] == "entry 123" and seen["probe.vmoptions"] == "the file"
    assert seen["probe.commandLine"] == "a -J option"
    # The prefix comes first on the class path, and its class loads.
    assert seen["java.class.path"].startswith(Wine.winpath(launch.prefix_classes) + ";"), seen["java.class.path"]
    assert seen["class-path prefix"] == "extra.Extra loaded"
    assert seen["lines"][-1] == "probe: exiting with 5"
    assert java_output(launch.out, "error.log")["lines"] == ["probe: on the error stream"]
    log = launch.log()
    assert "calling main" in log and "main returned" not in log


def test_first_run_veto_from_the_vm_options_keeps_main_from_running(wine, tmp_path, programs):
    launch = RealLaunch(wine, tmp_path, programs)
    launch.vmoptions("-Dnimbo.firstRun=false")
    launch.first_run_marker()
    result = launch.run(["exit=5"])
    assert result.code == 0, (result, launch.log())
    assert java_output(launch.out)["lines"] == []
    log = launch.log()
    assert log.index("checkFirstRun stopped further execution") < log.index("launch done")


@pytest.mark.parametrize("main_class, argument, thrown, failure", [
    ("probe.Probe", "throw", "IllegalStateException: probe failure", "ERROR: could not call main"),
    ("probe.NotOnTheClassPath", "exit=5", "ClassNotFoundException",
     "ERROR: could not load the main class probe.NotOnTheClassPath"),
], ids=["exception-escapes-main", "main-class-not-on-class-path"])
def test_exception_escaping_the_java_program_is_could_not_call_main(wine, tmp_path, programs, main_class, argument,
                                                                    thrown, failure):
    launch = RealLaunch(wine, tmp_path, programs, narrow={"122": main_class})
    result = launch.run([argument])
    assert result.code == 1, (result, launch.log())
    reached = main_class == "probe.Probe"
    assert ("probe: main reached with 2 argument(s)" in java_output(launch.out)["lines"]) == reached
    assert thrown in result.stderr, result.stderr
    log = launch.log()
    assert log.index("ERROR: an exception occured") < log.index(failure)


def modem(wine, port, bits):
    """A modem of its own device class, or none (port None); one class per build, so that the
    32-bit scenario and the 64-bit one do not share it."""
    key = f"{MODEM_KEY}-{bits}}}"
    if port is None:
        wine.reg_delete(key)
        return
    wine.reg_add(key, "Class", "Modem")
    wine.reg_add(key + r"\0000", "Model", MODEM)
    wine.reg_add(key + r"\0000", "AttachedTo", port)


# Without the PEP driver every Tarvik native fails to open the device: -1 in the first
# driver-interface generation.
NATIVES = {
    "getComPort": "COM7", "isDUNpresent": "true", "isDUNpresent(missing)": "false", "getIdleTime": "600",
    "updateDUN": "true", "getIdleTime(updated)": "900",
    **{name: "-1" for name in ("spoofingNI", "configureMemoryNI", "configureQoSNI", "getActiveConnectionsNI",
                               "getTimeActiveNI", "getMinorVersionNI", "getMajorVersionNI", "getAlarmsNI")},
}


def natives_env(tmp_path):
    """The phonebook file and the environment that makes Wine load the phonebook double (carried
    in the payload: the installer's own folder is not searched for libraries)."""
    phonebook = tmp_path / "phonebook.txt"
    phonebook.write_bytes(f"name={PHONEBOOK_ENTRY}\tidle=600\tredial=1\tphone=*99#\n".encode())
    return phonebook, {"WINEDLLOVERRIDES": "rasapi32=n", "PATHMERE_PHONEBOOK": Wine.winpath(phonebook)}


def assert_natives_answered(out_dir, phonebook, last="probe: main returns"):
    seen = java_output(out_dir)
    assert {key: seen.get(key) for key in NATIVES} == NATIVES, seen["lines"]
    assert seen["lines"][-1] == last
    assert phonebook.read_text().startswith(f"name={PHONEBOOK_ENTRY}\tidle=900\tredial=3\t")


def test_the_64bit_libraries_answer_their_own_java_classes(wine, tmp_path, programs):
    launch = RealLaunch(wine, tmp_path, programs, natives=True)
    phonebook, env = natives_env(tmp_path)
    modem(wine, "COM7", 64)
    try:
        result = launch.run(["thread", "natives"], **env)
    finally:
        modem(wine, None, 64)
    assert result.code == 0, (result, launch.log())
    # The launcher ends only after the Java program's last thread.
    assert_natives_answered(launch.out, phonebook, last="probe: thread done")


def test_a_registered_runtime_image_without_java_exe_reaches_main_by_its_release_file(wine, tmp_path, programs):
    """What Java 9 and later ship: bin\\server\\jvm.dll and a release file, found through the key a
    vendor's MSI package writes, its version read without starting anything."""
    launch = RealLaunch(wine, tmp_path, programs, narrow={"128": "M", "163": "1", "126": "11", "127": ""})
    image = make_runtime(tmp_path / "jdk-21", real_vm=True, vm_type="server")
    for name in ("java.exe", "javaw.exe"):
        (image.home / "bin" / name).unlink()
    (image.home / "release").write_text('JAVA_VERSION="21.0.2"\nJAVA_VERSION_DATE="2024-01-16"\n')
    key = r"HKLM\SOFTWARE\Eclipse Adoptium"
    wine.reg_add(key + r"\JDK\21.0.2.13\hotspot\MSI", "Path", Wine.winpath(image.home))
    try:
        result = launch.run(["exit=3"], NIMBO_JAVA_HOME=None)
    finally:
        wine.reg_delete(key)
    log = launch.log()
    assert result.code == 3, (result, log)
    assert java_output(launch.out)["lines"][0] == "probe: main reached with 2 argument(s)"
    assert "got version from release file 21.0.2" in log and "Using registered runtime" in log
    assert "Exit Code" not in log
