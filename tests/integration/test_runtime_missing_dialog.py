"""The runtime-missing dialog as a user meets it under wine64 and Xvfb: its texts and buttons,
Cancel in its three forms, Locate with the system's open-file dialog, and Download with the
progress on the progress dialog. The dialog's texts are read with the bench's box reader."""
import importlib
import os
import random
import shutil
import subprocess
import pathlib
import time

import pytest

from conftest import BIN64, ROOT
from download_server import DownloadServer, wait_for
from installer_kit import build_installer, log_text, logs_in, sample_config, temp_dirs
from test_runtime_download import LOCATED_KEYS, MARKER_KEY, clean_registry, marker_values, no_proxy_env

WIZARD = "tessar Wizard"
EXPLANATION = ("The tessar wizard could not find a Java(TM) Runtime Environment on your system. You can locate "
               "or download a suitable 64-bit JRE. (minimum version: 1.6, maximum version: 1.7)")
LOCATE_ONLY = ("The tessar wizard could not find a Java(TM) Runtime Environment on your system. Please locate "
               "a suitable 64-bit JRE. (minimum version: 1.6, maximum version: 1.7)")
FILE_DIALOG = 'Please choose the file "java.exe" of the JRE'
ARCHIVE = random.Random(7).randbytes(40 * 16384)


def missing_pieces_for_a_runtime():
    """Why a located or downloaded runtime cannot run the Java program yet, or None."""
    loader = (ROOT / "launcher" / "runtime" / "vm_library.cpp").read_text()
    if "bool LoadDLL(bool, const char*, bool) { return false; }" in loader:
        return "LoadDLL is still the placeholder that loads nothing (the runtime loading is not merged)"
    if "untarGzArchive" not in (ROOT / "launcher" / "runtime" / "carried_runtime.cpp").read_text():
        return "the carried runtime's untar is not merged: a downloaded archive cannot be unpacked"
    try:
        importlib.import_module("java_runtime")
    except ImportError:
        return "tests/integration/java_runtime.py (the runtime double's tree builder) is not merged"
    if not (BIN64 / "java_runtime" / "jvm.dll").exists():
        return "the runtime double is not built (build/win64/bin/java_runtime/jvm.dll)"
    return None


MAIN_EXIT = 7


@pytest.fixture
def markers(wine):
    """The start markers and the located runtimes start and end clean."""
    clean_registry(wine)
    yield
    clean_registry(wine)


def dialog_installer(out, url="http://127.0.0.1:9/jre/jre.tar.gz", without_asking=False, files=None, entry155="0",
                     wide=None):
    config = sample_config()
    config["wide"].update(wide or {})
    config["narrow"]["155"] = entry155
    config["narrow"]["150"] = url
    config["narrow"]["157"] = "1" if without_asking else "0"
    config["narrow"]["153"] = "0"
    return build_installer(out, config=config, files=files)


def screenshot(display, tmp_path, name):
    """A screenshot of the display, also copied to $PATHMERE_SCREENSHOT_DIR when it is set (to
    show a change to someone who reviews it)."""
    path = tmp_path / name
    assert display.screenshot(path)
    if os.environ.get("PATHMERE_SCREENSHOT_DIR"):
        shutil.copyfile(path, pathlib.Path(os.environ["PATHMERE_SCREENSHOT_DIR"]) / name)


def missing_dialog(wine, press=None, wait=60):
    """The runtime-missing dialog's line from the box reader, pressing a button when asked; None
    when it is not shown. It shares its caption with the progress dialog: its Locate button
    tells them apart."""
    return wine.find_box(title=WIZARD, text="|Locate|", press=press, wait=wait)


def wait_for_dialog(wine, timeout=60):
    box = missing_dialog(wine, wait=timeout)
    assert box is not None, "the runtime-missing dialog did not appear"
    return box


def end_leftovers(wine, proc):
    """A failed test may leave the launcher (a child of envrun) with its dialog open: cancel it."""
    if proc.running():
        wine.find_box(title="Error", press=1, wait=1)
        wine.find_box(title=FILE_DIALOG, press=2, wait=1)
        missing_dialog(wine, press=2, wait=1)
    proc.kill()


def start(wine, installer, tmp_path, **env):
    return wine.start(installer, [], env=no_proxy_env(wine, tmp_path, **env))


def test_dialog_offers_locate_and_download_with_the_version_bounds(wine, display, tmp_path, markers):
    # A launcher that ended without removing its process marker (a process id no process has).
    wine.reg_add(MARKER_KEY, "InstallStarted_4000000", "1", kind="REG_DWORD")
    proc = start(wine, dialog_installer(tmp_path / "out"), tmp_path)
    try:
        box = wait_for_dialog(wine)
        assert display.screenshot(tmp_path / "runtime_missing.png")
        present = marker_values(wine)
        assert "InstallStarted" in present and len(present) == 2, "the start markers are set while the dialog is open"
        assert "InstallStarted_4000000" not in present, "a dead launcher's process marker is removed"
        missing_dialog(wine, press=2, wait=5)
        result = proc.wait(timeout=60)
    finally:
        end_leftovers(wine, proc)
    parts = box.split("|")
    assert parts[0] == WIZARD
    assert EXPLANATION in parts, box
    assert {"Download", "Locate", "Cancel"} <= set(parts)
    assert result.code == 1, result
    assert marker_values(wine) == [], "Cancel removes both start markers"
    assert temp_dirs(tmp_path) == [], "Cancel leaves what it extracted"
    assert "Download location: http://127.0.0.1:9/jre/jre.tar.gz" in log_text(tmp_path)


def test_without_an_address_there_is_no_download_button(wine, display, tmp_path, markers):
    proc = start(wine, dialog_installer(tmp_path / "out", url=""), tmp_path)
    try:
        box = wait_for_dialog(wine)
        # Enter, without a Tab first, chooses Locate: the only way on.
        display.press_key(dialog_windows(display)[-1], "Return")
        chooser = wine.find_box(title=FILE_DIALOG, press=2, wait=30)
        assert proc.running()
        assert wait_for_dialog(wine, timeout=10)
        missing_dialog(wine, press=2, wait=5)
        result = proc.wait(timeout=60)
    finally:
        end_leftovers(wine, proc)
    parts = box.split("|")
    assert LOCATE_ONLY in parts, box
    assert chooser is not None, "Enter did not open the file dialog"
    assert "Download" not in parts
    assert result.code == 1
    assert "Downloading JRE" not in log_text(tmp_path)


def dialog_windows(display):
    """X windows titled like the dialog: the progress dialog and, above it, the runtime-missing
    dialog (the stacking order of X lists it last)."""
    found = display._tool("xdotool", "search", "--onlyvisible", "--name", f"^{WIZARD}$")
    return found.stdout.split()


def close_box_point(display, wid):
    """The close box of an unmanaged Wine window: at the right end of its caption."""
    geometry = display._tool("xdotool", "getwindowgeometry", "--shell", wid).stdout
    values = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
    return int(values["X"]) + int(values["WIDTH"]) - 12, int(values["Y"]) + 10


@pytest.mark.parametrize("how", ["escape", "close_box"])
def test_escape_and_the_close_box_act_as_cancel(wine, display, tmp_path, markers, how):
    proc = start(wine, dialog_installer(tmp_path / "out"), tmp_path)
    try:
        wait_for_dialog(wine)
        wid = dialog_windows(display)[-1]
        if how == "escape":
            display.press_key(wid, "Escape")
        else:
            x, y = close_box_point(display, wid)
            display._tool("xdotool", "mousemove", "--sync", str(x), str(y))
            display._tool("xdotool", "click", "1")
        result = proc.wait(timeout=60)
    finally:
        end_leftovers(wine, proc)
    assert result.code == 1, result
    assert marker_values(wine) == []


def test_a_cancelled_file_dialog_leaves_the_dialog_open(wine, display, tmp_path, markers):
    proc = start(wine, dialog_installer(tmp_path / "out"), tmp_path)
    try:
        wait_for_dialog(wine)
        missing_dialog(wine, press=1005, wait=5)
        chooser = wine.find_box(title=FILE_DIALOG, wait=30)
        assert chooser is not None, "the open-file dialog did not appear"
        wine.find_box(title=FILE_DIALOG, press=2, wait=5)
        again = wait_for_dialog(wine, timeout=20)
        assert wine.find_box(wait=1, title="Error") is None, "no message for a cancelled choice"
        missing_dialog(wine, press=2, wait=5)
        result = proc.wait(timeout=60)
    finally:
        end_leftovers(wine, proc)
    assert "Locate" in again.split("|")
    assert result.code == 1


def test_download_from_the_dialog_shows_its_progress(wine, display, tmp_path, markers):
    with DownloadServer(ARCHIVE, "trickle", trickle_seconds=6) as server:
        proc = start(wine, dialog_installer(tmp_path / "out", url=server.url), tmp_path)
        try:
            wait_for_dialog(wine)
            missing_dialog(wine, press=1004, wait=5)
            statuses, positions, samples = set(), set(), []
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline and len(statuses) < 3:
                box = wine.find_box(title=WIZARD, wait=2) or ""
                parts = box.split("|")
                for part in parts:
                    if " MB of " in part:
                        statuses.add(part)
                    elif part.startswith("progress="):
                        positions.add(int(part.split("=")[1]))
                status = next((part for part in parts if " MB of " in part), None)
                if status and "downloading the Java(TM) Runtime Environment" in box:
                    screenshot(display, tmp_path, "download_progress.png")
                    percent = float(status.split("(")[1].split("%")[0])
                    position = next(int(part.split("=")[1]) for part in parts if part.startswith("progress="))
                    scale = next(part.split("=")[1] for part in parts if part.startswith("progress_range="))
                    samples.append((percent, position, scale))
            # The served bytes are no runtime: the carried runtime's steps refuse them.
            error = wine.find_box(title="Error", press=1, wait=60)
            result = proc.wait(timeout=60)
        finally:
            end_leftovers(wine, proc)
    assert len(statuses) >= 2, statuses
    assert all(s.endswith(" kb/s") and "0.62 MB (" in s for s in statuses), statuses
    assert len(positions) >= 2, positions
    # The bar is the status line's percentage: one range, and the position read beside the text
    # is that text's or, caught between the two updates, the one before.
    assert samples and all(scale == "0-100" and 0 <= percent - position < 15 for percent, position, scale in samples), samples
    log = log_text(tmp_path)
    assert "download successful" in log and "Done" in log.splitlines()
    assert error is not None and "The bundled JRE is corrupted" in error
    assert result.code == 1


@pytest.mark.parametrize("entry155", ["0", "1"])
def test_entry_157_downloads_without_asking_in_the_progress_dialog(wine, display, tmp_path, markers, entry155):
    """With entry 155 the sequence runs without a window and opens the progress dialog only for
    the download, which ends it; the carried runtime's steps then go on without it."""
    with DownloadServer(ARCHIVE, "trickle", trickle_seconds=4) as server:
        installer = dialog_installer(tmp_path / "out", url=server.url, without_asking=True, entry155=entry155)
        proc = start(wine, installer, tmp_path)
        try:
            status = None
            deadline = time.monotonic() + 60
            while status is None and time.monotonic() < deadline:
                box = wine.find_box(title=WIZARD, wait=2) or ""
                status = next((part for part in box.split("|") if " MB of " in part), None)
            asked = missing_dialog(wine, wait=0)
            error = wine.find_box(title="Error", press=1, wait=60)
            result = proc.wait(timeout=60)
        finally:
            end_leftovers(wine, proc)
        requests = len(server.requests)
    assert status is not None, "the download's progress line was not shown"
    assert asked is None, "no question with entry 157"
    assert requests == 1
    assert error is not None and "The bundled JRE is corrupted" in error
    assert result.code == 1


@pytest.mark.parametrize("behaviour,entry155", [("trickle", "1"), ("drop_always", "1"), ("trickle", "0")])
def test_cancel_during_a_download_ends_the_launcher(wine, display, tmp_path, markers, behaviour, entry155):
    """With entry 155 the sequence waits on the main thread while the progress dialog's work
    thread downloads; without it the sequence downloads on the dialog's work thread. Cancel,
    during a read (trickle) or in the pause before a retry (the fourth pause lasts 8 s), ends the
    download and the launcher at once: no second run of the sequence beside the download, no
    half-written archive."""
    with DownloadServer(ARCHIVE, behaviour, trickle_seconds=30) as server:
        installer = dialog_installer(tmp_path / "out", url=server.url, without_asking=True, entry155=entry155)
        proc = start(wine, installer, tmp_path, PATHMERE_TEST_RETRY_PAUSE_MS="1000")
        try:
            def downloading():
                logs = logs_in(tmp_path)
                text = logs[-1].read_text(errors="replace") if logs else ""
                return ("retry 4 of 5" if behaviour == "drop_always" else "file size: ") in text
            assert wait_for(downloading, 60), "the download did not get under way"
            cancelled_at = time.monotonic()
            assert wine.find_box(title=WIZARD, press=2, wait=10) is not None
            result = proc.wait(timeout=40)
            ended_after = time.monotonic() - cancelled_at
        finally:
            end_leftovers(wine, proc)
    log = log_text(tmp_path)
    lines = log.splitlines()
    assert result.code == 1, result
    assert "Canceled installer" in lines and "download cancelled" in lines, log
    for later in ("download successful", "Done", "extracting JRE", "Could not start JVM", "retry 5 of 5"):
        assert later not in log, later
    assert temp_dirs(tmp_path) == [] and not list(tmp_path.glob("nbo*.tmp")), "Cancel leaves what it extracted"
    assert marker_values(wine) == []
    assert ended_after < 6, ended_after


def pick_in_file_dialog(wine, display, path):
    """Types a path into the open-file dialog's name field and confirms it."""
    missing_dialog(wine, press=1005, wait=5)
    assert wine.find_box(title=FILE_DIALOG, wait=30) is not None, "the open-file dialog did not appear"
    wid = display.find_window(FILE_DIALOG)
    display._tool("xdotool", "windowfocus", "--sync", wid)
    display._tool("xdotool", "type", "--delay", "20", wine.winpath(path))
    display._tool("xdotool", "key", "Return")


def test_located_runtime_is_loaded_and_remembered(wine, display, tmp_path, markers):
    reason = missing_pieces_for_a_runtime()
    if reason:
        pytest.skip(reason)
    java_runtime = importlib.import_module("java_runtime")
    runtime = java_runtime.make_runtime(tmp_path / "jre")
    located = wine.winpath(runtime.java_exe).replace("\\", "/")
    for root in ("HKLM", "HKCU"):
        wine.reg_delete(rf"{root}\SOFTWARE\harwell\nimbo\locatedjvms\{located}")
    proc = start(wine, dialog_installer(tmp_path / "out", files={"tsrparams.conf": b"param=1\r\n"}), tmp_path)
    try:
        wait_for_dialog(wine)
        pick_in_file_dialog(wine, display, runtime.java_exe)
        result = proc.wait(timeout=120)
    finally:
        end_leftovers(wine, proc)
    assert runtime.trace() is not None, "the Java program ran in the located runtime"
    remembered = [wine._reg("query", rf"{root}\SOFTWARE\harwell\nimbo\locatedjvms\{located}").returncode == 0
                  for root in ("HKLM", "HKCU")]
    for root in ("HKLM", "HKCU"):
        wine.reg_delete(rf"{root}\SOFTWARE\harwell\nimbo\locatedjvms\{located}")
    assert any(remembered), "the located runtime is remembered under locatedjvms"
    assert result.code == 0, result


def test_an_unusable_located_file_shows_the_load_error_and_the_dialog_stays(wine, display, tmp_path, markers):
    reason = missing_pieces_for_a_runtime()
    if reason:
        pytest.skip(reason)
    java_runtime = importlib.import_module("java_runtime")
    # A runtime without its VM library: the version is acceptable, the load fails.
    runtime = java_runtime.make_runtime(tmp_path / "jre", jvm=False)
    proc = start(wine, dialog_installer(tmp_path / "out"), tmp_path)
    try:
        wait_for_dialog(wine)
        pick_in_file_dialog(wine, display, runtime.java_exe)
        error = wine.find_box(title="Error", press=1, wait=60)
        again = wait_for_dialog(wine, timeout=20)
        missing_dialog(wine, press=2, wait=5)
        result = proc.wait(timeout=60)
    finally:
        end_leftovers(wine, proc)
    assert error is not None and "Log: " in error, error
    assert "Locate" in again.split("|")
    assert result.code == 1
    assert runtime.trace() is None
    assert all(wine._reg("query", key).returncode != 0 or "locatedjvms\\" not in wine._reg("query", key).stdout.decode("latin-1")
               for key in LOCATED_KEYS), "an unusable runtime is not remembered"


def test_downloaded_runtime_runs_the_java_program(wine, tmp_path, markers):
    reason = missing_pieces_for_a_runtime()
    if reason:
        pytest.skip(reason)
    java_runtime = importlib.import_module("java_runtime")
    runtime, archive = java_runtime.make_runtime_archive(tmp_path / "runtime",
                                                         script={"main": "exit", "exit_code": MAIN_EXIT})
    with DownloadServer(archive) as server:
        installer = dialog_installer(tmp_path / "out", url=server.url, without_asking=True,
                                     files={"tsrparams.conf": b"param=1\r\n"})
        result = wine.run(installer, ["-q"], env=no_proxy_env(wine, tmp_path, NIMBO_JAVA_HOME=None), timeout=180)
    log = log_text(tmp_path)
    assert "download successful" in log and "extracting JRE" in log, log
    assert runtime.trace() is not None, "the Java program ran in the downloaded runtime"
    assert result.code == MAIN_EXIT, result


@pytest.mark.parametrize("version_line", ['java version "1.8.0_202"', "Error: not a Java program"])
def test_a_refused_choice_says_why_and_the_dialog_answers_again(wine, display, tmp_path, markers, version_line):
    """A picked java.exe outside the bounds (1.6 to 1.7), or one that reports no version: the
    message names the file and what was wrong with it, and after OK the runtime-missing dialog is
    the window in front, answering the keyboard (Escape ends the launcher through its Cancel,
    not through the progress dialog's)."""
    reason = missing_pieces_for_a_runtime()
    if reason:
        pytest.skip(reason)
    java_runtime = importlib.import_module("java_runtime")
    runtime = java_runtime.make_runtime(tmp_path / "jre", script={"version_line": version_line})
    proc = start(wine, dialog_installer(tmp_path / "out"), tmp_path)
    try:
        wait_for_dialog(wine)
        pick_in_file_dialog(wine, display, runtime.java_exe)
        tag = "1.8" if "1.8" in version_line else "none"
        message = wine.find_box(title=WIZARD, text="Please choose another java.exe", wait=60)
        caption = WIZARD if message is not None else "Error"
        message = message or wine.find_box(title="Error", wait=5)
        screenshot(display, tmp_path, f"refused_choice_{tag}.png")
        wine.find_box(title=caption, text="Log: ", press=1, wait=5)
        again = wait_for_dialog(wine, timeout=20)
        time.sleep(1)
        screenshot(display, tmp_path, f"refused_choice_after_ok_{tag}.png")
        display._tool("xdotool", "key", "Escape")
        result = proc.wait(timeout=60)
    finally:
        end_leftovers(wine, proc)
    expected = ("reports Java version 1.8.0_202, which this installer cannot use (minimum version: 1.6, maximum "
                "version: 1.7)." if "1.8" in version_line else "is not a 64-bit Java(TM) runtime")
    assert message is not None and expected in message and wine.winpath(runtime.java_exe) in message, message
    assert "Locate" in again.split("|")
    assert result.code == 1, result
    assert "Canceled installer" not in log_text(tmp_path).splitlines(), "Escape reached the progress dialog"
    assert marker_values(wine) == []


def test_long_texts_are_shown_whole(wine, display, tmp_path, markers):
    """A long product name in the progress dialog's texts: the dialog grows to show every line."""
    title = "Acme Enterprise Resource Planning Suite 2027 Professional Edition"
    wide = {"20007": f"{title} is preparing the setup wizard which will guide you through the rest of the setup process.",
            "20001": f"{title} is downloading the Java(TM) Runtime Environment. Please wait: on a slow connection this may take several minutes."}
    with DownloadServer(ARCHIVE, "trickle", trickle_seconds=8) as server:
        proc = start(wine, dialog_installer(tmp_path / "out", url=server.url, wide=wide), tmp_path)
        try:
            wait_for_dialog(wine)
            preparing = wine.find_box(title=WIZARD, text="is preparing the setup", check_fit=True, wait=10)
            missing_dialog(wine, press=1004, wait=5)
            downloading = wine.find_box(title=WIZARD, text=" MB of ", check_fit=True, wait=30)
            screenshot(display, tmp_path, "long_text_download.png")
            wine.find_box(title="Error", press=1, wait=60)
            proc.wait(timeout=60)
        finally:
            end_leftovers(wine, proc)
    assert preparing is not None and wide["20007"] in preparing and "(cut off)" not in preparing, preparing
    assert downloading is not None and wide["20001"] in downloading and "(cut off)" not in downloading, downloading


def test_a_second_start_brings_the_dialog_to_answer_to_the_front(wine, display, tmp_path, markers):
    """The first instance waits in the runtime-missing dialog; a second start of the same file
    ends with 0 and leaves that dialog in front: a click on its Locate button opens the file
    dialog (the progress dialog it waits over would take the click and ignore it)."""
    installer = dialog_installer(tmp_path / "out")
    proc = start(wine, installer, tmp_path)
    try:
        wait_for_dialog(wine)
        time.sleep(1)
        found = wine.find_box(title=WIZARD, text="|Locate|", rect=1005, wait=5)
        left, top, right, bottom = map(int, found.split("rect=")[1].split(","))
        screenshot(display, tmp_path, "first_start.png")
        (tmp_path / "second").mkdir()
        second = wine.run(installer, [], env=no_proxy_env(wine, tmp_path / "second"), timeout=60)
        time.sleep(1)
        screenshot(display, tmp_path, "second_start.png")
        display._tool("xdotool", "mousemove", "--sync", str((left + right) // 2), str((top + bottom) // 2))
        display._tool("xdotool", "click", "1")
        chooser = wine.find_box(title=FILE_DIALOG, press=2, wait=15)
        missing_dialog(wine, press=2, wait=10)
        result = proc.wait(timeout=60)
    finally:
        end_leftovers(wine, proc)
    assert second.code == 0, second
    # What the screen shows where the Locate button is: the same button after the second start,
    # not the progress dialog's bar drawn over it.
    region = f"{right - left}x{bottom - top}+{left}+{top}"
    before, after = (subprocess.run(["convert", str(tmp_path / name), "-crop", region, "rgb:-"], capture_output=True,
                                    check=True).stdout for name in ("first_start.png", "second_start.png"))
    assert before and before == after, "the Locate button is covered after the second start"
    assert chooser is not None, "the click on Locate did not reach the runtime-missing dialog"
    assert result.code == 1, result
