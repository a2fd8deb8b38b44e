"""The shipped 32-bit build, run through qemu-user Wine: one process per scenario, few scenarios.
32-bit programs are started directly by the 32-bit loader: under qemu a 64-bit Wine process cannot
start a 32-bit one, so envrun.exe is not used here, and qemu-user itself crashes on the 32-bit
program once several threads log at once, so the scenarios here stay single-threaded."""
import re

from conftest import BIN32


def test_log_routines_in_the_32bit_build(wine32, tmp_path):
    result = wine32.run(BIN32 / "log_probe.exe",
                        ["tmp", wine32.winpath(tmp_path), "info", "smoke start", "error", "smoke error", "console",
                         "--narrow", "1009=An internal error occurred (error code: {0})",
                         "fatal-config", "1009", "34"],
                        bits=32, timeout=600)
    assert result.code == 1, result
    assert result.stderr.startswith("An internal error occurred (error code: 34)"), result.stderr
    logs = list(tmp_path.glob("tsr_nlog_*"))
    assert len(logs) == 1
    lines = logs[0].read_text(errors="replace").splitlines()
    assert re.match(r"Started executable .*log_probe\.exe at ", lines[0])
    assert "smoke start" in lines
    assert lines[2:] == ["smoke start", "ERROR: smoke error"]


def test_packaged_sample_installer_verifies_extracts_and_finds_no_runtime(wine32, tmp_path):
    """Also: a 64-bit runtime registered where only the 64-bit registry view shows it is named as
    needing the x64 installer."""
    from installer_kit import build_installer, sample_config
    from java_runtime import make_runtime

    installer = build_installer(tmp_path, bits=32)
    before = set(wine32.temp_dir.glob("tsr_nlog_*"))
    runtime64 = make_runtime(tmp_path / "jdk-25", vm_type="server", bits=64)
    key = r"HKLM\SOFTWARE\Eclipse Adoptium"
    wine32.reg_add(key + r"\JDK\25.0.1.8\hotspot\MSI", "Path", wine32.winpath(runtime64.home))
    try:
        result = wine32.run(installer, ["-q"], env={"NIMBO_LOG": "yes"}, bits=32, timeout=600)
    finally:
        wine32.reg_delete(key)
    assert result.code == 83, result
    assert result.stdout.strip() == "No JRE found. Aborting."
    logs = [p for p in set(wine32.temp_dir.glob("tsr_nlog_*")) - before
            if wine32.winpath(installer) in p.read_text(errors="replace")]
    assert len(logs) == 1
    log = logs[0].read_text(errors="replace")
    included = f"Included files: {len(sample_config()['files'])}"
    for line in ("checksums:", included, "extracting files done", "No JRE included",
                 f"A 64-bit Java runtime is installed at {wine32.winpath(runtime64.home)}: this 32-bit installer "
                 "cannot use it, the x64 installer is needed"):
        assert line in log, line
    # Quiet mode's end without a runtime is the launcher's own: what it extracted goes with it.
    [folder] = re.findall(r"^Temp dir: .*\\(nbo\w+\.tmp_dir)$", log, re.MULTILINE)
    assert not (wine32.temp_dir / folder).exists(), folder
    assert not (wine32.temp_dir / folder[:-len("_dir")]).exists(), "the empty name file stays"
    logs[0].unlink()


def test_shipped_build_resumes_a_dropped_download(wine32, tmp_path):
    """The shipped build's download after a drop at 60 %: the resumed request is opened within
    the time limit and continues the file, in one process."""
    from download_server import DownloadServer
    from installer_kit import build_installer, log_text
    from test_runtime_download import ARCHIVE, arrived, download_installer_config, no_proxy_env, sha

    cut = int(len(ARCHIVE) * 0.6)
    with DownloadServer(ARCHIVE, "drop_once", drop_fraction=0.6) as server:
        installer = build_installer(tmp_path / "out", config=download_installer_config(server.url), bits=32)
        wine32.run(installer, ["-q"], env=no_proxy_env(wine32, tmp_path), bits=32, timeout=600)
        requests = list(server.requests)
    log = log_text(tmp_path)
    assert len(requests) == 2, requests
    assert requests[1]["range"] == f"bytes={cut}-"
    assert f"retry 1 of 5 from byte {cut} in " in log, log
    assert "download successful" in log
    assert arrived(tmp_path) == sha(ARCHIVE)
    assert not list(tmp_path.glob("nbo*")), "the launcher's own failure leaves what it extracted"
