"""Finding an installed Java runtime, as a user's machine offers one: packaged installers under
wine64 in quiet mode, the runtime double installed where each source of the search points. The
log shows which source won; the double's run count shows when the version cache was used."""
import os
import time

import pytest

from conftest import BIN64, Wine
from installer_kit import build_installer, log_text, sample_config
from java_runtime import make_runtime

MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
CACHE_KEY = r"HKCU\SOFTWARE\harwell\nimbo\jvms"
LOCATED = r"SOFTWARE\harwell\nimbo\locatedjvms"
INSTALLATIONS = r"SOFTWARE\harwell\tessar\installations"
JRE_KEY = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
JDK_KEY = r"HKLM\SOFTWARE\JavaSoft\Java Development Kit"
APP_ID = sample_config()["narrow"]["160"]
FIXED_KEYS = [CACHE_KEY, JRE_KEY, JDK_KEY, "HKCU\\" + LOCATED, "HKLM\\" + LOCATED, "HKCU\\" + INSTALLATIONS,
              "HKLM\\" + INSTALLATIONS]
NO_JRE = "No JRE found. Aborting."


@pytest.fixture
def keys(wine):
    """The launcher's registry keys are fixed: every test starts and ends without them."""
    for key in FIXED_KEYS:
        wine.reg_delete(key)
    wine.reg_delete(MARKER_KEY, "InstallStarted")
    yield
    for key in FIXED_KEYS:
        wine.reg_delete(key)
    wine.reg_delete(MARKER_KEY, "InstallStarted")


def win(path):
    """The lower-cased Windows path the launcher logs for a file."""
    return Wine.winpath(path).lower()


def launch(wine, tmp_path, search="", env=None, **narrow):
    """Packages an installer into tmp_path/out with the search list and further narrow entries
    (n126="1.6" style keys), runs it quietly and returns (result, log)."""
    config = sample_config()
    config["narrow"]["128"] = search
    for key, value in narrow.items():
        config["narrow"][key.lstrip("n")] = value
    installer = build_installer(tmp_path / "out", config=config, files={"readme.txt": b"x"})
    run_dir = tmp_path / f"run{len(list(tmp_path.glob('run*')))}"
    run_dir.mkdir()
    environment = {"TMP": Wine.winpath(run_dir), "NIMBO_LOG": "yes", "NIMBO_JAVA_HOME": None,
                   "TESSAR_JAVA_HOME": None, **(env or {})}
    result = wine.run(installer, ["-q"], env=environment)
    return result, log_text(run_dir)


def loaded_from(log, java_exe):
    """The search ended at java_exe and its VM library loaded."""
    return f"Trying to load JVM-DLL from {win(java_exe)}\n" in log and "Loading of JVM-DLL successful" in log


def in_order(log, *lines):
    position = 0
    for line in lines:
        found = log.find(line, position)
        assert found >= 0, f"{line!r} missing (in order) from:\n{log}"
        position = found + len(line)
    return True


def set_javasoft(wine, key, version, home, current=True):
    if current:
        wine.reg_add(key, "CurrentVersion", version)
    wine.reg_add(f"{key}\\{version}", "JavaHome", Wine.winpath(home))


def add_located(wine, root, java_exe):
    name = win(java_exe).replace("\\", "/")
    assert wine._reg("add", f"{root}\\{LOCATED}\\{name}", "/f").returncode == 0


def versioned(version):
    return {"version_line": f'java version "{version}"'}


# --- sources of the search, each winning on its own ---------------------------------------------

def test_preferred_location_file_wins_over_the_search_list(wine, tmp_path, keys):
    preferred = make_runtime(tmp_path / "preferred")
    listed = make_runtime(tmp_path / "listed")
    (tmp_path / "out" / ".tessar").mkdir(parents=True)
    (tmp_path / "out" / ".tessar" / "pref_jre.cfg").write_text(Wine.winpath(preferred.home) + "\r\n")
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(listed.home)}")
    assert loaded_from(log, preferred.java_exe), log
    assert in_order(log, "Searching for a JVM", f"Has preferred location {Wine.winpath(preferred.home)}",
                    "Using preferred location", "Trying to load JVM-DLL")
    assert "Testing location" not in log
    assert listed.runs() == []


@pytest.mark.parametrize("letter", ["A", "B", "R"])
def test_directory_items_absolute_and_relative(wine, tmp_path, keys, letter):
    absolute = make_runtime(tmp_path / "abs")
    result, log = launch(wine, tmp_path, search=f"{letter}{Wine.winpath(absolute.home)}")
    assert loaded_from(log, absolute.java_exe), log
    assert f"Testing location {Wine.winpath(absolute.home)} (type {letter})" in log

    relative = make_runtime(tmp_path / "out" / "jre")
    result, log = launch(wine, tmp_path, search=f"{letter}.\\jre")
    assert loaded_from(log, relative.java_exe), log
    assert f"Testing location .\\jre (type {letter})" in log
    assert len(relative.runs()) == 1


def test_search_path_item_finds_java_on_path(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "onpath")
    result, log = launch(wine, tmp_path, search="S;", env={"WINEPATH": Wine.winpath(runtime.home / "bin")})
    assert loaded_from(log, runtime.java_exe), log
    assert "Testing location  (type S)" in log


def test_environment_item_names_the_variable(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "envjre")
    home = Wine.winpath(runtime.home).replace("\\", "/")
    result, log = launch(wine, tmp_path, search="B.\\nothing;EPATHMERE_OWN_JAVA", env={"PATHMERE_OWN_JAVA": home})
    assert loaded_from(log, runtime.java_exe), log
    assert in_order(log, "(type B)", "Testing location PATHMERE_OWN_JAVA (type E)", "Trying to load JVM-DLL")


def test_javasoft_current_version_of_the_runtime_environment(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre6", script=versioned("1.6.0_21"))
    set_javasoft(wine, JRE_KEY, "1.6", runtime.home)
    result, log = launch(wine, tmp_path, search="Y")
    assert loaded_from(log, runtime.java_exe), log
    assert f"found sun {win(runtime.java_exe)} 1.6.0_21" in log


def test_javasoft_subkeys_greatest_byte_wise_first_and_kit_over_runtime(wine, tmp_path, keys):
    three = make_runtime(tmp_path / "u3", script=versioned("1.6.0_3"))
    twenty_one = make_runtime(tmp_path / "u21", script=versioned("1.6.0_21"))
    set_javasoft(wine, JRE_KEY, "1.6.0_21", twenty_one.home, current=False)
    set_javasoft(wine, JRE_KEY, "1.6.0_3", three.home, current=False)
    result, log = launch(wine, tmp_path, search="Y")
    assert loaded_from(log, three.java_exe), log
    assert twenty_one.runs() == []

    kit = make_runtime(tmp_path / "jdk", jdk=True, script=versioned("1.7.0_45"))
    wine.reg_delete(JRE_KEY)
    set_javasoft(wine, JDK_KEY, "1.7", kit.home)
    set_javasoft(wine, JRE_KEY, "1.6", three.home)
    result, log = launch(wine, tmp_path, search="Y")
    assert loaded_from(log, kit.java_exe), log


def test_require_jdk_ignores_runtime_environments(wine, tmp_path, keys):
    plain = make_runtime(tmp_path / "plain")
    set_javasoft(wine, JRE_KEY, "1.6", plain.home)
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(plain.home)};Y", n131="1")
    assert result.code == 83 and result.stdout.strip() == NO_JRE, result
    assert plain.runs() == []

    kit = make_runtime(tmp_path / "kit", jdk=True)
    set_javasoft(wine, JDK_KEY, "1.6.0_21", kit.home, current=False)
    result, log = launch(wine, tmp_path, search="Y", n131="1")
    assert loaded_from(log, kit.java_exe), log


def test_located_runtimes_user_and_machine(wine, tmp_path, keys):
    user = make_runtime(tmp_path / "user", script=versioned("1.6.0_25"))
    machine = make_runtime(tmp_path / "machine", script=versioned("1.6.0_21"))
    add_located(wine, "HKCU", user.java_exe)
    add_located(wine, "HKLM", machine.java_exe)
    result, log = launch(wine, tmp_path, search="Y")
    assert loaded_from(log, user.java_exe), log
    assert f"found located {win(user.java_exe)} 1.6.0_25" in log

    wine.reg_delete("HKCU\\" + LOCATED)
    result, log = launch(wine, tmp_path, search="Y")
    assert loaded_from(log, machine.java_exe), log


def test_previous_installations_user_then_machine(wine, tmp_path, keys):
    user = make_runtime(tmp_path / "userapp" / "jre")
    machine = make_runtime(tmp_path / "machineapp" / "jre")
    wine.reg_add("HKLM\\" + INSTALLATIONS, APP_ID, Wine.winpath(tmp_path / "machineapp"))
    wine.reg_add("HKCU\\" + INSTALLATIONS, APP_ID,
                 Wine.winpath(tmp_path / "gone") + ";" + Wine.winpath(tmp_path / "userapp"))
    result, log = launch(wine, tmp_path, search="")
    assert loaded_from(log, user.java_exe), log
    assert f"found JRE from previous installation (user) {win(user.java_exe)}" in log

    wine.reg_delete("HKCU\\" + INSTALLATIONS)
    result, log = launch(wine, tmp_path, search="")
    assert loaded_from(log, machine.java_exe), log
    assert f"found JRE from previous installation (machine) {win(machine.java_exe)}" in log


def test_relative_pass_takes_an_existing_runtime_outside_the_bounds(wine, tmp_path, keys):
    newer = make_runtime(tmp_path / "out" / "jre", script=versioned("1.8.0_20"))
    result, log = launch(wine, tmp_path, search="B.\\jre")
    assert loaded_from(log, newer.java_exe), log
    assert in_order(log, "Testing location .\\jre (type B)", "checkJavaExe returning 0",
                    "Testing relative location .\\jre", f"{win(newer.java_exe)} exists", "Trying to load JVM-DLL")


def test_relative_pass_skips_absolute_r_items_but_not_b_items(wine, tmp_path, keys):
    newer = make_runtime(tmp_path / "newer", script=versioned("1.8.0_20"))
    home = Wine.winpath(newer.home)
    result, log = launch(wine, tmp_path, search=f"R{home}")
    assert result.code == 83, result
    assert "Testing relative location" not in log

    result, log = launch(wine, tmp_path, search=f"B{home}")
    assert loaded_from(log, newer.java_exe), log
    assert f"Testing relative location {home}" in log


def test_installer_location_file_after_the_list(wine, tmp_path, keys):
    installed = make_runtime(tmp_path / "installed")
    (tmp_path / "out" / ".tessar").mkdir(parents=True)
    (tmp_path / "out" / ".tessar" / "inst_jre.cfg").write_text(Wine.winpath(installed.home) + "\n")
    result, log = launch(wine, tmp_path, search="B.\\nothing")
    assert loaded_from(log, installed.java_exe), log
    assert in_order(log, "(type B)", f"Has installer location {Wine.winpath(installed.home)}",
                    "Using installer location")


def test_fallback_variables_nimbo_then_tessar(wine, tmp_path, keys):
    nimbo = make_runtime(tmp_path / "nimbo")
    tessar = make_runtime(tmp_path / "tessar")
    result, log = launch(wine, tmp_path, env={"TESSAR_JAVA_HOME": Wine.winpath(tessar.home)})
    assert loaded_from(log, tessar.java_exe), log
    assert in_order(log, "Search sequence finished", "Trying to load JVM-DLL")

    result, log = launch(wine, tmp_path, env={"TESSAR_JAVA_HOME": Wine.winpath(tessar.home),
                                              "NIMBO_JAVA_HOME": Wine.winpath(nimbo.home)})
    assert loaded_from(log, nimbo.java_exe), log


def test_first_source_wins_and_the_log_shows_the_sequence_in_order(wine, tmp_path, keys):
    registered = make_runtime(tmp_path / "registered")
    set_javasoft(wine, JRE_KEY, "1.6", registered.home)
    fallback = make_runtime(tmp_path / "fallback")
    (tmp_path / "out" / ".tessar").mkdir(parents=True)
    (tmp_path / "out" / ".tessar" / "pref_jre.cfg").write_text(Wine.winpath(tmp_path / "missing") + "\n")
    result, log = launch(wine, tmp_path, search="B.\\nothing;S;Enot_set_here;Y;B.\\later",
                         env={"NIMBO_JAVA_HOME": Wine.winpath(fallback.home)})
    assert loaded_from(log, registered.java_exe), log
    assert in_order(log, "Searching for a JVM", "Has preferred location", "Testing location .\\nothing (type B)",
                    "Testing location  (type S)", "Testing location not_set_here (type E)", "(type Y)",
                    "found sun", "Trying to load JVM-DLL")
    assert "(type B)" not in log[log.index("(type Y)"):]
    assert fallback.runs() == []


# --- the version probe and its cache ------------------------------------------------------------

def probe_outputs(wine, log):
    """The output files of the log's probes: the temporary file named right before each run."""
    names, last = [], None
    for line in log.splitlines():
        if line.startswith("tempFile is "):
            last = line[len("tempFile is "):]
        elif line.startswith("Exit Code ") and last:
            names.append(wine.unixpath(last))
    return names


def cached(wine, java_exe, value):
    return wine.reg_query(CACHE_KEY + "\\" + win(java_exe).replace("\\", "/"), value)


def test_version_cache_written_used_and_refreshed(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre")
    search = f"B{Wine.winpath(runtime.home)}"
    result, log = launch(wine, tmp_path, search=search)
    assert "got version from execution 1.6.0_21" in log, log
    assert cached(wine, runtime.java_exe, "Version") == "1.6.0_21"
    assert len(runtime.runs()) == 1

    result, log = launch(wine, tmp_path, search=search)
    assert "got version from registry 1.6.0_21" in log, log
    assert len(runtime.runs()) == 1, "the cache answered"

    runtime.write_script(version_line='java version "1.7.0_45"')
    later = time.time() + 120
    os.utime(runtime.java_exe, (later, later))
    result, log = launch(wine, tmp_path, search=search)
    assert "got version from execution 1.7.0_45" in log, log
    assert len(runtime.runs()) == 2
    assert cached(wine, runtime.java_exe, "Version") == "1.7.0_45"


def test_non_zero_exit_caches_the_dummy_version(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre", script={"version_exit_code": 2})
    result, log = launch(wine, tmp_path, search="EPATHMERE_OWN_JAVA",
                         env={"PATHMERE_OWN_JAVA": Wine.winpath(runtime.home)})
    assert result.code == 83, result
    assert "Exit Code 2" in log and "couldn't get version" in log
    assert cached(wine, runtime.java_exe, "Version") == "1.0.0"


def test_hanging_runtime_is_terminated(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre", script={"hang": 1})
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(runtime.home)}",
                         env={"PATHMERE_PROBE_LIMIT_MS": "2000"})
    assert in_order(log, "Exit Code 259", "Terminating process", "couldn't get version")
    assert cached(wine, runtime.java_exe, "Version") is None
    outputs = probe_outputs(wine, log)
    assert len(outputs) == 1 and not outputs[0].exists(), "the probe's output file is deleted"


def test_a_warning_before_the_version_fails_and_caches_nothing(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre", script={"version_line": "Picked up _JAVA_OPTIONS: -Xmx64m"})
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(runtime.home)}")
    assert "couldn't get version" in log
    assert cached(wine, runtime.java_exe, "Version") is None
    outputs = probe_outputs(wine, log)
    assert len(outputs) == 1 and not outputs[0].exists()


def test_openjdk_version_form(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre", script={"version_line": 'openjdk version "1.7.0-u60"'})
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(runtime.home)}")
    assert "Java version: 1.7.0-u60" in log
    assert loaded_from(log, runtime.java_exe), log


def test_pre_release_refused_from_the_environment_accepted_from_a_directory(wine, tmp_path, keys):
    early = make_runtime(tmp_path / "early", script=versioned("1.6.0-ea"))
    env = {"PATHMERE_OWN_JAVA": Wine.winpath(early.home)}
    result, log = launch(wine, tmp_path, search="EPATHMERE_OWN_JAVA", env=env, n130="0")
    assert result.code == 83 and "beta vm not allowed" in log, result
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(early.home)}", n130="0")
    assert loaded_from(log, early.java_exe), log


# --- loading the VM library ---------------------------------------------------------------------

def test_vm_types_in_order_and_the_preferred_type(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre", vm_type="server")
    bin_dir = Wine.winpath(runtime.home).lower() + "\\bin"
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(runtime.home)}")
    assert in_order(log, f"Trying {bin_dir}\\hotspot\\jvm.dll (exists 0)", f"Trying {bin_dir}\\client\\jvm.dll (exists 0)",
                    f"Trying {bin_dir}\\server\\jvm.dll (exists 1)", "Loading of JVM-DLL successful")

    (runtime.home / "bin" / "client").mkdir()
    (runtime.home / "bin" / "client" / "jvm.dll").write_bytes((runtime.home / "bin" / "server" / "jvm.dll").read_bytes())
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(runtime.home)}", n152="server")
    assert in_order(log, f"Trying {bin_dir}\\server\\jvm.dll (exists 1)", "Loading of JVM-DLL successful")
    assert "hotspot" not in log and "\\client\\" not in log


def test_kit_without_its_own_library_loads_the_embedded_runtime(wine, tmp_path, keys):
    kit = make_runtime(tmp_path / "jdk", jdk=True)
    # Without the embedded java.exe the search settles on the kit's bin\java.exe, beside which
    # there is no VM library.
    (kit.home / "jre" / "bin" / "java.exe").unlink()
    (kit.home / "jre" / "bin" / "javaw.exe").unlink()
    result, log = launch(wine, tmp_path, env={"NIMBO_JAVA_HOME": Wine.winpath(kit.home)})
    kit_bin = win(kit.home / "bin")
    assert in_order(log, f"Trying to load JVM-DLL from {kit_bin}\\java.exe",
                    f"Trying {kit_bin}\\jrockit\\jvm.dll (exists 0)",
                    f"Trying {kit_bin}\\..\\jre\\bin\\client\\jvm.dll (exists 1)", "Loading of JVM-DLL successful")


def test_path_put_back_after_a_failed_load_and_extended_after_a_good_one(wine, tmp_path, keys):
    broken = make_runtime(tmp_path / "broken", jvm=False)
    good = make_runtime(tmp_path / "good")

    def path_settings(log):
        return [line[len("Setting PATH "):] for line in log.splitlines() if line.startswith("Setting PATH ")]

    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(broken.home)}")
    assert in_order(log, "ERROR: Could not get DLL-Handle.", "ERROR: Could not load functions")
    home = Wine.winpath(broken.home).lower()
    settings = path_settings(log)
    # Its own bin directory, then the embedded runtime's: each extension is undone byte for byte.
    for suffix in (f";{home}\\bin", f";{home}\\bin\\..\\jre\\bin"):
        index = next(i for i, value in enumerate(settings) if value.lower().endswith(suffix))
        assert settings[index + 1] == settings[index][: -len(suffix)]

    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(good.home)}")
    settings = path_settings(log)
    assert settings[-1].lower().endswith(";" + Wine.winpath(good.home).lower() + "\\bin"), log
    assert "Loading of JVM-DLL successful" in log[log.rindex("Setting PATH "):]


def test_a_library_without_the_entry_point(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre", jvm=False)
    (runtime.home / "bin" / "client").mkdir()
    (runtime.home / "bin" / "client" / "jvm.dll").write_bytes((BIN64 / "Nelvar.dll").read_bytes())
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(runtime.home)}")
    assert "(exists 1)" in log and "ERROR: Could not load functions" in log
    assert "Could not get DLL-Handle." not in log
    assert result.code == 83 and result.stdout.strip() == NO_JRE


# --- quiet mode at the end of the search --------------------------------------------------------

def test_quiet_mode_without_an_acceptable_runtime_ends_with_83(wine, tmp_path, keys):
    old = make_runtime(tmp_path / "old", script=versioned("1.5.0_22"))
    result, log = launch(wine, tmp_path, search=f"R{Wine.winpath(old.home)};S;Y")
    assert result.code == 83, result
    assert result.stdout.replace("\r\n", "\n") == NO_JRE + "\n"
    assert in_order(log, "Search sequence finished", "ERROR: No JVM found")


def test_quiet_mode_with_an_acceptable_runtime_runs_the_java_program(wine, tmp_path, keys):
    runtime = make_runtime(tmp_path / "jre", script={"main": "exit", "exit_code": 7})
    result, log = launch(wine, tmp_path, search=f"B{Wine.winpath(runtime.home)}")
    assert loaded_from(log, runtime.java_exe), log
    assert result.code == 7, result
    trace = runtime.trace()
    assert any(event["call"] == "CallStaticVoidMethod" for event in trace["events"])
