"""Error boxes as a user meets them: a message box under X, or standard error in console mode."""
import re

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
