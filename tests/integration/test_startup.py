"""The launcher as a user meets it: command line, quiet mode, the progress dialog, the recovery
question and the single-instance rule, on packaged installers under wine64. No Java runtime is
available, so every start that gets past the runtime decision ends there."""
import time

import pytest

from installer_kit import build_installer, inspect, log_text, logs_in, sample_config, temp_dirs
from test_runtime_missing_dialog import missing_dialog

MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
NO_JRE = "No JRE found. Aborting."
WIZARD = "tessar Wizard"


@pytest.fixture
def markers(wine):
    """The launcher's start markers are fixed registry values: start and end clean."""
    wine.reg_delete(MARKER_KEY, "InstallStarted")
    yield
    wine.reg_delete(MARKER_KEY, "InstallStarted")


@pytest.fixture(scope="session")
def slow_installer(tmp_path_factory):
    """An installer whose verification and extraction take seconds, so that its progress dialog
    can be watched and cancelled."""
    out = tmp_path_factory.mktemp("slow")
    digits = "0123456789abcdefghijklmnopqrstuvwxyz"
    # Three-character names: 2000 of them still fit the 8191-byte list of entry 2003.
    names = [digits[i // 1296] + digits[i // 36 % 36] + digits[i % 36] for i in range(2000)]
    files = {name: bytes([i % 251]) * (768 * 1024) for i, name in enumerate(names)}
    return build_installer(out, files=files)


def env_for(wine, tmp, **extra):
    return {"TMP": wine.winpath(tmp), **extra}


def dismiss_any_box(wine):
    """Presses OK on whatever box a failing test left behind."""
    wine.find_box(press=1, wait=1)


def test_quiet_mode_without_runtime_ends_with_83_and_clears_markers(wine, tmp_path, markers):
    installer = build_installer(tmp_path / "out")
    result = wine.run(installer, ["-q"], env=env_for(wine, tmp_path, NIMBO_LOG="yes"))
    assert result.code == 83, result
    assert result.stdout.replace("\r\n", "\n") == NO_JRE + "\n"
    assert wine.reg_query(MARKER_KEY, "InstallStarted") is None
    log = log_text(tmp_path)
    assert "Quiet installer." in log and "ERROR: No JRE found" in log
    assert "change working directory to" in log and "single instance mode" in log


def test_a_lone_double_quote_is_wrong_parameter_usage(wine, tmp_path):
    # Entry 107 other than 1 or 5 sends errors to standard error.
    config = sample_config()
    config["narrow"]["107"] = "2"
    installer = build_installer(tmp_path / "out", config=config)
    result = wine.run(installer, ["-q", '"'], env=env_for(wine, tmp_path))
    assert result.code == 1, result
    assert result.stderr.startswith("Wrong Parameter Usage\r\n\r\nLog: "), result.stderr


def test_reboot_marker_counts_only_as_the_whole_command_line(wine, tmp_path, markers):
    installer = build_installer(tmp_path / "out")
    result = wine.run(installer, ["__tsr_reboot", "x", "-q"], env=env_for(wine, tmp_path))
    assert result.code == 83
    assert result.stdout.strip() == NO_JRE


def test_language_restart_is_a_prefix_and_skips_extraction(wine, tmp_path, markers):
    installer = build_installer(tmp_path / "out")
    result = wine.run(installer, ["__tsr_lang_restart_de"], env=env_for(wine, tmp_path, NIMBO_LOG="yes"))
    assert result.code == 83, result
    assert result.stdout.strip() == NO_JRE
    log = log_text(tmp_path)
    assert "Checking extracted JRE:" in log
    for skipped in ("verifying integrity", "extracting files", "single instance mode", "change working directory"):
        assert skipped not in log
    assert temp_dirs(tmp_path) == []


def test_create_log_option_only_as_first_argument(wine, display, tmp_path, markers):
    installer = build_installer(tmp_path / "out")
    first = tmp_path / "first"
    first.mkdir()
    proc = wine.start(installer, ["-create-tsr-log", "-q"], env=env_for(wine, first))
    try:
        box = wine.find_box(title="tessar", press=7, wait=60)
        result = proc.wait(timeout=60)
    finally:
        proc.kill()
    assert box is not None and "The following log file will be created:" in box, box
    assert "Do you want to open an Explorer window?" in box
    assert result.code == 83
    assert len(logs_in(first)) == 1, "the create-log option keeps the log"

    later = tmp_path / "later"
    later.mkdir()
    result = wine.run(installer, ["-q", "-create-tsr-log"], env=env_for(wine, later))
    assert result.code == 83
    assert logs_in(later) == [], "not the first argument: no question, log deleted at exit"


def test_quiet_mode_opens_no_window_but_splash_shows_the_dialog(wine, display, tmp_path, slow_installer, markers):
    proc = wine.start(slow_installer, ["-q", "-splash"], env=env_for(wine, tmp_path))
    try:
        box = wine.find_box(title=WIZARD, wait=60)
        result = proc.wait(timeout=120)
    finally:
        proc.kill()
    assert box is not None and "preparing the tessar Wizard" in box, box
    assert result.code == 83

    proc = wine.start(slow_installer, ["-q"], env=env_for(wine, tmp_path))
    try:
        assert wine.find_box(wait=3) is None, "quiet mode shows no window"
        assert proc.wait(timeout=120).code == 83
    finally:
        proc.kill()


def test_progress_dialog_moves_and_cancel_ends_with_one(wine, display, tmp_path, slow_installer, markers):
    proc = wine.start(slow_installer, [], env=env_for(wine, tmp_path, NIMBO_LOG="yes"))
    try:
        first = wine.find_box(title=WIZARD, wait=60)
        assert first is not None
        parts = first.split("|")
        preparing = ("Orvanta Pathmere is preparing the tessar Wizard which will guide you through the rest "
                     "of the setup process.")
        assert preparing in parts, first
        assert "Cancel" in parts
        display.screenshot(tmp_path / "progress.png")
        seen = set()
        for _ in range(2):
            box = wine.find_box(title=WIZARD, wait=5) or ""
            seen |= {int(p.split("=")[1]) for p in box.split("|") if p.startswith("progress=")}
        assert any(position > 1 for position in seen), seen
        second = wine.find_box(title=WIZARD, press=2, wait=10)
        result = proc.wait(timeout=60)
    finally:
        proc.kill()
    assert second is not None
    # A scripted install tells a cancel from a success.
    assert result.code == 1, result
    log = log_text(tmp_path)
    assert "Canceled installer" in log
    assert wine.reg_query(MARKER_KEY, "InstallStarted") is None


def test_escape_cancels_the_progress_dialog(wine, display, tmp_path, slow_installer, markers):
    proc = wine.start(slow_installer, [], env=env_for(wine, tmp_path, NIMBO_LOG="yes"))
    try:
        wid = display.find_window(WIZARD, timeout=60)
        display.press_key(wid, "Escape")
        result = proc.wait(timeout=60)
    finally:
        proc.kill()
    assert result.code == 1
    assert "Canceled installer" in log_text(tmp_path)


def test_recovery_question_after_an_incomplete_start(wine, display, tmp_path, markers):
    files = {"jre.tar.gz": b"not unpacked in this test", "a.txt": b"a"}
    installer = build_installer(tmp_path / "out", files=files)
    wine.reg_add(MARKER_KEY, "InstallStarted", 1, "REG_DWORD")
    quiet = wine.run(installer, ["-q"], env=env_for(wine, tmp_path))
    assert quiet.code != 0 and wine.find_box(wait=1) is None, "never asked in quiet mode"
    dismiss_any_box(wine)

    wine.reg_add(MARKER_KEY, "InstallStarted", 1, "REG_DWORD")
    proc = wine.start(installer, [], env=env_for(wine, tmp_path, NIMBO_LOG="yes"))
    try:
        question = wine.find_box(title=WIZARD, press=6, wait=60)
        # Yes means manual selection: the carried runtime is ignored and the runtime-missing
        # dialog asks; its Cancel ends the launcher.
        missing = missing_dialog(wine, press=2, wait=60)
        result = proc.wait(timeout=60)
    finally:
        proc.kill()
    assert question is not None and "did not start up correctly on the last run" in question, question
    assert missing is not None and "Locate" in missing.split("|"), missing
    assert "Included JRE not used because of manual switch" in log_text(tmp_path)
    assert result.code == 1
    assert wine.reg_query(MARKER_KEY, "InstallStarted") is None


def test_single_instance_per_executable_path(wine, display, tmp_path, slow_installer, markers):
    copy_dir = tmp_path / "copy"
    copy_dir.mkdir()
    copy = copy_dir / "setup.exe"
    copy.write_bytes(build_installer(tmp_path / "small").read_bytes())
    first_tmp, second_tmp = tmp_path / "t1", tmp_path / "t2"
    first_tmp.mkdir()
    second_tmp.mkdir()
    first = wine.start(slow_installer, [], env=env_for(wine, first_tmp))
    try:
        assert wine.find_box(title=WIZARD, wait=60) is not None
        started = time.monotonic()
        second = wine.run(slow_installer, ["-q"], env=env_for(wine, second_tmp), timeout=60)
        assert second.code == 0, second
        assert time.monotonic() - started < 20
        log = log_text(second_tmp)
        assert "other pid" in log and "exiting" in log and "found window" in log
        assert "Starting work" not in log

        beside = wine.run(copy, ["-q"], env=env_for(wine, second_tmp), timeout=120)
        assert beside.code == 83, "a copy in another directory runs side by side"
        restart = wine.run(slow_installer, ["__tsr_lang_restart"], env=env_for(wine, second_tmp), timeout=120)
        assert restart.code == 83, "a language restart skips the check"
        wine.find_box(title=WIZARD, press=2, wait=10)
        assert first.wait(timeout=60).code == 1, "Cancel ends the first one"
    finally:
        first.kill()


def test_c_switch_is_quiet_with_errors_on_the_console(wine, tmp_path, markers):
    installer = build_installer(tmp_path / "out")
    result = wine.run(installer, ["-c"], env=env_for(wine, tmp_path, NIMBO_LOG="yes"))
    assert result.code == 83, result
    assert result.stdout.replace("\r\n", "\n") == NO_JRE + "\n"
    assert wine.find_box(wait=1) is None, "-c opens no window"
    assert "Quiet installer." in log_text(tmp_path)

    # A damaged payload is reported on standard error instead of in a box.
    data = bytearray(installer.read_bytes())
    data[inspect(installer)["files"][0]["dataOffset"]] ^= 0x01
    installer.write_bytes(bytes(data))
    result = wine.run(installer, ["-c"], env=env_for(wine, tmp_path))
    assert result.code == 1
    assert result.stderr.strip() == "The installation file is corrupted. If it is a download please try it again."
    assert wine.find_box(wait=1) is None


def test_console_switch_keeps_the_progress_dialog(wine, display, tmp_path, slow_installer, markers):
    proc = wine.start(slow_installer, ["-console"], env=env_for(wine, tmp_path, NIMBO_LOG="yes"))
    try:
        box = wine.find_box(title=WIZARD, press=2, wait=60)
        result = proc.wait(timeout=60)
    finally:
        proc.kill()
    assert box is not None, "-console alone is not quiet mode"
    assert result.code == 1, "Cancel"
    log = log_text(tmp_path)
    assert "Canceled installer" in log and "Quiet installer." not in log


def test_no_to_the_recovery_question_keeps_the_carried_runtime(wine, display, tmp_path, markers):
    files = {"jre.tar.gz": b"not a gzip archive", "a.txt": b"a"}
    installer = build_installer(tmp_path / "out", files=files)
    wine.reg_add(MARKER_KEY, "InstallStarted", 1, "REG_DWORD")
    proc = wine.start(installer, [], env=env_for(wine, tmp_path, NIMBO_LOG="yes"))
    try:
        question = wine.find_box(title=WIZARD, text="did not start up correctly", press=7, wait=60)
        # The carried archive is then used; this one cannot be untarred.
        corrupted = wine.find_box(text="bundled JRE is corrupted", press=1, wait=60)
        result = proc.wait(timeout=60)
    finally:
        proc.kill()
    assert question is not None
    assert corrupted is not None
    assert result.code == 1
    log = log_text(tmp_path)
    assert "JRE included" in log and "extracting JRE" in log
    assert "Included JRE not used because of manual switch" not in log
