"""Whether the 32-bit tier can run, and how the test summary reports it: no Wine needed."""
import importlib
import sys

from conftest import ROOT, i686_tier_missing


def fake_binfmt(tmp_path, qemu_entry=None, mounted=True):
    folder = tmp_path / "binfmt_misc"
    folder.mkdir()
    if mounted:
        (folder / "register").write_text("")
    if qemu_entry is not None:
        (folder / "qemu-i386").write_text(qemu_entry)
    return folder


def fake_loader(tmp_path, installed=True):
    loader = tmp_path / "wine"
    if installed:
        loader.write_text("")
    return loader


def test_names_a_missing_wine32_when_binfmt_and_qemu_are_fine(tmp_path):
    binfmt = fake_binfmt(tmp_path, "enabled\ninterpreter /usr/bin/qemu-i386-static\nflags: F\n")
    reason = i686_tier_missing(binfmt, fake_loader(tmp_path, installed=False))
    assert reason.startswith("wine32:i386 is not installed"), reason
    assert "binfmt" not in reason and "qemu" not in reason


def test_names_an_unmounted_binfmt_misc(tmp_path):
    binfmt = fake_binfmt(tmp_path, mounted=False)
    assert "binfmt_misc is not mounted" in i686_tier_missing(binfmt, fake_loader(tmp_path))


def test_names_an_unregistered_or_disabled_qemu(tmp_path):
    unregistered = fake_binfmt(tmp_path)
    assert i686_tier_missing(unregistered, fake_loader(tmp_path)) == "qemu-i386 is not registered with binfmt_misc"
    (unregistered / "qemu-i386").write_text("disabled\n")
    assert "disabled" in i686_tier_missing(unregistered, fake_loader(tmp_path))


def test_nothing_missing_when_every_piece_is_there(tmp_path):
    binfmt = fake_binfmt(tmp_path, "enabled\n")
    assert i686_tier_missing(binfmt, fake_loader(tmp_path)) is None


def load_summary():
    if str(ROOT / "scripts") not in sys.path:
        sys.path.insert(0, str(ROOT / "scripts"))
    return importlib.import_module("summarize_results")


def write_reports(folder, tier_cases):
    """One passing case in each layer's report; the tier's run (its own report) holds tier_cases."""
    for name in ("host.xml", "win64.xml", "win32.xml", "integration.xml"):
        (folder / name).write_text('<testsuite><testcase classname="unit" name="a"/></testsuite>')
    (folder / "i686.xml").write_text(f"<testsuite>{tier_cases}</testsuite>")


SKIP = ('<testcase classname="tests.integration.test_i686_smoke" name="{}">'
        '<skipped message="32-bit tier skipped: wine32:i386 is not installed (no /usr/lib/wine/wine)"/></testcase>')


def test_summary_reports_a_skipped_tier_once_with_its_reason(tmp_path, capsys):
    write_reports(tmp_path, SKIP.format("test_one") + SKIP.format("test_two"))
    assert load_summary().main(tmp_path) == 0
    out = capsys.readouterr().out.splitlines()
    tier = [line for line in out if "i686" in line or "32-bit" in line]
    assert tier == ["i686 tier: skipped (32-bit tier skipped: wine32:i386 is not installed (no /usr/lib/wine/wine))"]
    assert out[-1] == "4 passed, 0 failed"
    # The tier runs beside the other layers: a run that ended without its report fails.
    (tmp_path / "i686.xml").unlink()
    assert load_summary().main(tmp_path) == 1
    assert capsys.readouterr().out.splitlines()[-1] == "4 passed, 1 failed"


def test_summary_reports_a_tier_that_ran(tmp_path, capsys):
    write_reports(tmp_path, '<testcase classname="tests.integration.test_i686_smoke" name="test_one"/>'
                            '<testcase classname="tests.integration.test_i686_smoke" name="test_two">'
                            '<failure message="boom"/></testcase>')
    assert load_summary().main(tmp_path) == 1
    out = capsys.readouterr().out.splitlines()
    assert "i686 tier: ran, 1 passed, 1 failed" in out


def test_summary_counts_the_32bit_runs_to_the_java_program_in_the_tier(tmp_path, capsys):
    write_reports(tmp_path, '<testcase classname="tests.integration.test_i686_smoke" name="test_one"/>'
                            '<testcase classname="tests.integration.test_i686_java" name="test_two"/>'
                            '<testcase classname="tests.integration.test_jni_exports" name="test_the_32bit_dlls">'
                            '<properties><property name="tier" value="i686"/></properties></testcase>'
                            '<testcase classname="tests.integration.test_jni_exports" name="test_the_64bit_dlls"/>'
                            '<testcase classname="tests.integration.test_i686_tier_state" name="test_32bit_summary"/>')
    load_summary().main(tmp_path)
    assert "i686 tier: ran, 3 passed, 0 failed" in capsys.readouterr().out.splitlines()


def test_summary_says_when_no_smoke_test_reported(tmp_path, capsys):
    write_reports(tmp_path, '<testcase classname="tests.integration.test_media" name="test_x"/>')
    load_summary().main(tmp_path)
    assert "i686 tier: not run (no smoke test in the reports)" in capsys.readouterr().out.splitlines()
