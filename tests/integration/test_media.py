"""The launcher's own appended data: loading, verifying and extracting real packaged installers
under wine64, in quiet mode (no runtime is found, so each run ends with 83 after extraction)."""
import os
import subprocess

import pytest

from installer_kit import (SAMPLE, build_installer, flip_byte, inspect, log_text, sample_config,
                           temp_dirs)

CORRUPTED = "The installation file is corrupted. If it is a download please try it again."


def run_quiet(wine, installer, tmp_dir, *args, env=None):
    """Runs the installer with TMP pointing at tmp_dir and the log kept."""
    environment = {"TMP": wine.winpath(tmp_dir), "NIMBO_LOG": "yes", **(env or {})}
    return wine.run(installer, ["-q", *args], env=environment, timeout=180)


@pytest.fixture
def dirs(tmp_path):
    out, tmp = tmp_path / "out", tmp_path / "tmp"
    out.mkdir()
    tmp.mkdir()
    return out, tmp


def read_extracted_while_asked(wine, installer, tmp_dir, read):
    """Runs the installer with its dialogs until the runtime-missing dialog asks, while the
    extraction folder is there: returns what read(folder) answers and the result after Cancel,
    which removes the folder."""
    wine.reg_delete(r"HKCU\SOFTWARE\harwell\nimbo", "InstallStarted")
    proc = wine.start(installer, [], env={"TMP": wine.winpath(tmp_dir), "NIMBO_LOG": "yes"})
    try:
        assert wine.find_box(title="tessar Wizard", text="|Locate|", wait=120) is not None
        [extracted] = temp_dirs(tmp_dir)
        answer = read(extracted)
        wine.find_box(title="tessar Wizard", text="|Locate|", press=2, wait=10)
        result = proc.wait(timeout=60)
    finally:
        proc.kill()
    assert result.code == 1, result
    assert temp_dirs(tmp_dir) == [] and not list(tmp_dir.glob("nbo*.tmp")), "Cancel leaves what was extracted"
    return answer


def test_sample_installer_extracts_byte_identical_files(wine, display, dirs):
    out, tmp = dirs
    installer = build_installer(out)

    def differing(extracted):
        return [name for name in sample_config()["files"]
                if (extracted / name.replace("\\", "/")).read_bytes()
                != (SAMPLE / "files" / name.replace("\\", "/")).read_bytes()]
    assert read_extracted_while_asked(wine, installer, tmp, differing) == []
    log = log_text(tmp)
    assert "verifying integrity length" in log and "extracting files done" in log


@pytest.mark.parametrize("where", ["record", "file", "java data"])
def test_a_flipped_byte_in_the_covered_range_is_corrupted(wine, dirs, where):
    out, tmp = dirs
    installer = build_installer(out, java_data=b"\xe8\xe4\x13\xd5java side data" * 64)
    layout = inspect(installer)
    offset = {"record": layout["appendedStart"] + 40,
              "file": layout["files"][3]["dataOffset"] + 5,
              "java data": layout["javaData"]["offset"] + 100}[where]
    flip_byte(installer, offset)
    result = run_quiet(wine, installer, tmp)
    assert result.code == 1, result
    assert CORRUPTED in result.stderr
    assert temp_dirs(tmp) == [], "nothing is extracted from a corrupted file"


def test_padding_is_not_covered_and_nocheck_skips_the_check(wine, dirs):
    out, tmp = dirs
    installer = build_installer(out)
    layout = inspect(installer)
    assert layout["trailingBytes"] > 0
    flip_byte(installer, layout["fileSize"] - 1)
    assert run_quiet(wine, installer, tmp).code == 83
    assert temp_dirs(tmp) == [] and not list(tmp.glob("nbo*.tmp")), "quiet mode's end leaves what was extracted"

    flip_byte(installer, layout["files"][0]["dataOffset"])
    assert run_quiet(wine, installer, tmp).code == 1
    passed = run_quiet(wine, installer, tmp, "-nocheck")
    assert passed.code == 83, passed


def run_with_box(wine, installer, tmp_dir, *args):
    """Runs an installer whose error comes as a message box (before "-q" is read); returns the
    box's texts and the result after pressing OK."""
    proc = wine.start(installer, ["-q", *args], env={"TMP": wine.winpath(tmp_dir), "NIMBO_LOG": "yes"})
    try:
        box = wine.find_box(press=1, wait=60)
        return box, proc.wait(timeout=60)
    finally:
        proc.kill()


def test_a_wrong_magic_fails_even_with_nocheck(wine, display, dirs):
    out, tmp = dirs
    installer = build_installer(out)
    flip_byte(installer, inspect(installer)["appendedStart"])
    # The magic is checked while the configuration loads, before "-q" is read: the error is a box.
    box, result = run_with_box(wine, installer, tmp, "-nocheck")
    assert result.code == 1
    assert box is not None and box.split("|")[2].startswith("Internal Error: magic\n\nLog: "), box
    assert "verifying integrity" not in log_text(tmp)


def test_truncation_in_the_files_is_error_34_and_in_the_record_the_readers_message(wine, display, dirs):
    out, tmp = dirs
    installer = build_installer(out)
    layout = inspect(installer)
    data = installer.read_bytes()
    installer.write_bytes(data[:layout["files"][5]["dataOffset"] + 10])
    result = run_quiet(wine, installer, tmp)
    assert result.code == 1
    assert result.stderr.startswith("An internal error occurred (error code: 34)"), result.stderr

    installer.write_bytes(data[:layout["appendedStart"] + 200])
    box, result = run_with_box(wine, installer, tmp)
    assert result.code == 1
    assert box is not None and box.split("|")[2].startswith("Internal Error: readString\n"), box


def test_language_group_follows_the_user_locale(wine, dirs):
    out, tmp = dirs
    installer = build_installer(out)
    german = sample_config()["languages"]
    german_text = next(group["wide"]["20016"] for group in german if group["code"] == "de")
    flip_byte(installer, inspect(installer)["files"][0]["dataOffset"])
    for locale, expected in (("de_AT.UTF-8", german_text), ("en_US.UTF-8", CORRUPTED)):
        result = run_quiet(wine, installer, tmp, env={"LC_ALL": locale})
        assert result.code == 1
        assert result.stderr.encode("latin-1").decode("cp1252").strip() == expected, locale


def test_included_file_table_edge_cases(wine, display, dirs):
    out, tmp = dirs
    files = {"first.txt": b"one", "empty.txt": b"", "third.txt": b"three"}
    installer = build_installer(out, files=files, count=2)
    layout = inspect(installer)
    names = read_extracted_while_asked(wine, installer, tmp, lambda extracted: sorted(p.name for p in extracted.iterdir()))
    assert names == ["first.txt"], "empty files are not created"
    assert layout["files"][1]["size"] == 0
    log = log_text(tmp)
    assert "Included files: 2" in log and "third.txt" not in log


def test_two_directory_levels_fail_with_internal_error_11(wine, dirs):
    out, tmp = dirs
    installer = build_installer(out, files={"a.txt": b"a", "b.txt": b"b"}, names="a.txt;sub\\deeper\\b.txt;")
    result = run_quiet(wine, installer, tmp)
    assert result.code == 1
    assert result.stderr.startswith("An internal error occurred (error code: 11)"), result.stderr


def test_a_name_escaping_the_temporary_directory_is_refused_and_cleaned(wine, dirs):
    out, tmp = dirs
    installer = build_installer(out, files={"a.txt": b"a", "b.txt": b"evil"}, names="a.txt;..\\escaped.txt;")
    result = run_quiet(wine, installer, tmp)
    assert result.code == 1
    assert not (tmp / "escaped.txt").exists()
    assert temp_dirs(tmp) == [], "the temporary directory is removed after a failed extraction"
    assert "Failed to extract" in log_text(tmp)


def test_full_disk_gives_write_failure(wine, dirs, tmp_path):
    out, tmp = dirs
    small = tmp_path / "small"
    small.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", str(small)],
                             capture_output=True).returncode == 0
    if not mounted:
        pytest.skip("a small tmpfs cannot be mounted here")
    try:
        installer = build_installer(out, files={"big.bin": os.urandom(1024 * 1024)})
        result = run_quiet(wine, installer, small)
        assert result.code == 1
        logs = log_text(small)
        assert "WriteFile failed" in logs and "Failed to extract" in logs
        assert temp_dirs(small) == []
    finally:
        subprocess.run(["umount", "-l", str(small)])


def test_a_device_name_among_the_included_files_is_refused_and_cleaned(wine, dirs):
    out, tmp = dirs
    installer = build_installer(out, files={"a.txt": b"a", "b.txt": b"to the port"}, names="a.txt;user\\COM1.txt;")
    result = run_quiet(wine, installer, tmp)
    assert result.code == 1
    assert temp_dirs(tmp) == [], "the temporary directory is removed after a refused name"
    assert "Failed to extract" in log_text(tmp)


def cut_inside_the_last_file(out):
    """An installer cut short inside its last included file, after two in a subdirectory."""
    files = {"user\\first.jar": b"first", "user\\second.jar": os.urandom(4096), "last.bin": os.urandom(65536)}
    installer = build_installer(out, files=files)
    layout = inspect(installer)
    data = installer.read_bytes()
    installer.write_bytes(data[:layout["files"][2]["dataOffset"] + 100])
    return installer


def run_in_dialog_mode_until_box(wine, installer, tmp_dir, text, *args):
    """Runs an installer with its progress dialog; returns the message box that contains text
    (OK pressed) and the result."""
    proc = wine.start(installer, list(args), env={"TMP": wine.winpath(tmp_dir), "NIMBO_LOG": "yes"})
    try:
        box = wine.find_box(title="tessar Wizard", text=text, press=1, wait=90)
        return box, proc.wait(timeout=60)
    finally:
        proc.kill()


def test_a_failed_extraction_removes_subdirectories_and_the_temporary_directory(wine, dirs):
    out, tmp = dirs
    installer = cut_inside_the_last_file(out)
    result = run_quiet(wine, installer, tmp, "-nocheck")
    assert result.code == 1
    log = log_text(tmp)
    assert "ReadFile failed" in log and "Failed to extract" in log
    assert temp_dirs(tmp) == [], "the temporary directory and its user\\ subdirectory are removed"


def test_a_failed_read_in_dialog_mode_shows_message_20016(wine, display, dirs):
    out, tmp = dirs
    installer = cut_inside_the_last_file(out)
    box, result = run_in_dialog_mode_until_box(wine, installer, tmp, "corrupted", "-nocheck")
    assert box == "tessar Wizard|OK|" + CORRUPTED or box == "tessar Wizard|" + CORRUPTED + "|OK", box
    assert result.code == 1
    assert temp_dirs(tmp) == []


def test_a_full_disk_in_dialog_mode_shows_message_20018(wine, display, dirs, tmp_path):
    out, _ = dirs
    small = tmp_path / "small"
    small.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", str(small)],
                             capture_output=True).returncode == 0
    if not mounted:
        pytest.skip("a small tmpfs cannot be mounted here")
    try:
        installer = build_installer(out, files={"big.bin": os.urandom(1024 * 1024)})
        box, result = run_in_dialog_mode_until_box(wine, installer, small, "Disk Space")
        assert box is not None and "Not Enough Disk Space" in box.split("|"), box
        assert result.code == 1
        assert temp_dirs(small) == []
    finally:
        subprocess.run(["umount", "-l", str(small)])
