"""Error boxes and the log as a user meets them: a message box under X, or standard error in console mode."""
import re
import subprocess

import pytest

from conftest import BIN64

PROBE = BIN64 / "log_probe.exe"


def test_show_error_box_names_the_log_and_closes_with_escape(wine, display, tmp_path):
    tmp = wine.winpath(tmp_path)
    proc = wine.start(PROBE, ["--narrow", "1000=Setup Error", "info", "before the box",
                              "show", "Something failed", "info", "after the box"],
                      env={"TMP": tmp, "DISPLAY": display.name})
    try:
        wid = display.find_window("Setup Error", timeout=60)
        assert display.screenshot(tmp_path / "error-box.png")
        display.press_key(wid, "Escape")
        result = proc.wait(timeout=30)
    finally:
        proc.kill()
    assert result.code == 0
    logs = list(tmp_path.glob("tsr_nlog_*"))
    assert len(logs) == 1, "showing an error keeps the log"
    text = logs[0].read_text(errors="replace")
    assert "before the box" in text and "after the box" in text


def test_console_errors_go_to_standard_error_without_a_window(wine, tmp_path):
    result = wine.run(PROBE, ["info", "x", "console", "fatal", "Internal Error: magic"],
                      env={"TMP": wine.winpath(tmp_path)})
    assert result.code == 1
    logs = list(tmp_path.glob("tsr_nlog_*"))
    assert len(logs) == 1
    assert re.fullmatch(r"Internal Error: magic\r?\n\r?\nLog: .*tsr_nlog_\w+\r?\n", result.stderr), result.stderr
    assert result.stderr.strip().endswith(logs[0].name)


def test_error_box_still_shows_after_the_dialog_that_owned_errors_has_ended(wine, display, tmp_path):
    proc = wine.start(PROBE, ["--narrow", "1000=Owner Gone", "ended-dialog-owner", "show", "after the dialog"],
                      env={"TMP": wine.winpath(tmp_path), "DISPLAY": display.name})
    try:
        # A box owned by the destroyed dialog would fail at once and show nothing.
        wid = display.find_window("Owner Gone", timeout=60)
        display.press_key(wid, "Escape")
        result = proc.wait(timeout=30)
    finally:
        proc.kill()
    assert result.code == 0


def test_refused_work_thread_is_logged_and_ends_with_internal_error(wine, display, tmp_path):
    proc = wine.start(PROBE, ["--narrow", "1009=An internal error occurred (error code: {0})", "console",
                              "refused-work-thread"],
                      env={"TMP": wine.winpath(tmp_path), "DISPLAY": display.name})
    try:
        result = proc.wait(timeout=60)
    finally:
        proc.kill()
    assert result.code == 1, result
    assert result.stderr.startswith("An internal error occurred (error code: 40)"), result.stderr
    logs = list(tmp_path.glob("tsr_nlog_*"))
    assert len(logs) == 1
    assert "ERROR: Could not start the work thread (8)" in logs[0].read_text(errors="replace")


def test_log_falls_back_to_the_fixed_path_when_tmp_refuses_files(wine, tmp_path):
    read_only = tmp_path / "read-only"
    read_only.mkdir()
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", str(read_only)],
                      capture_output=True).returncode != 0:
        pytest.skip("a read-only tmpfs cannot be mounted here")
    fallback = wine.prefix / "drive_c" / "tsr_nlog"
    fallback.unlink(missing_ok=True)
    try:
        result = wine.run(PROBE, ["info", "to the fallback", "print-path"], env={"TMP": wine.winpath(read_only)})
        assert result.code == 0, result
        assert result.stdout.strip().lower() == "c:\\tsr_nlog"
        assert "to the fallback" in fallback.read_text(errors="replace")
    finally:
        subprocess.run(["umount", "-l", str(read_only)])
        fallback.unlink(missing_ok=True)
