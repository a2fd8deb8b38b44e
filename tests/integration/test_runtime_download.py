"""The runtime download as the launcher performs it, against the local server of
download_server.py: packaged installers under wine64 that find no runtime and download one
without asking (entry 157, quiet mode). What the download did is read from the kept log, the
console, the server's request count and the temporary directory the launcher leaves behind."""
import hashlib
import random

import pytest

from download_server import DownloadServer, changed_archive
from installer_kit import build_installer, inspect, log_text, sample_config, temp_dirs

MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
FAILED = ("Error downloading the Java(TM) Runtime Environment.\r\n"
          "Please check your internet connection and start setup again.")
# A body of five whole read chunks and a rest, not a real runtime: these tests stop at the download.
ARCHIVE = random.Random(12).randbytes(5 * 16384 + 123)
# The configuration's digest entry for the archive.
DIGEST_ENTRY = "162"
# The first pause before a retry (doubling with each further one), shortened from the product's second.
RETRY_PAUSE_MS = 20
HALF = len(ARCHIVE) // 2


def no_proxy_env(wine, tmp, **extra):
    """The test's own environment for the launcher: its temporary directory, a kept log and no
    proxy between WinINet and 127.0.0.1."""
    env = {"TMP": wine.winpath(tmp), "NIMBO_LOG": "yes", "no_proxy": "127.0.0.1", "NO_PROXY": "127.0.0.1",
           "PATHMERE_TEST_RETRY_PAUSE_MS": str(RETRY_PAUSE_MS)}
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ftp_proxy", "all_proxy", "ALL_PROXY"):
        env[name] = None
    env.update(extra)
    return env


def download_installer_config(url, digest=None, without_asking=True):
    config = sample_config()
    config["narrow"]["150"] = url
    config["narrow"]["157"] = "1" if without_asking else "0"
    if digest is not None:
        config["narrow"][DIGEST_ENTRY] = digest
    return config


def download_installer(out, url, *, digest=None, without_asking=True):
    return build_installer(out, config=download_installer_config(url, digest, without_asking))


def arrived(tmp):
    """The SHA-256 of what the download wrote, as the log tells it: a download that is no
    runtime fails to unpack, and the extraction folder goes with the archive in it."""
    lines = [line for line in log_text(tmp).splitlines() if line.startswith("SHA-256 of the download: ")]
    assert lines, f"no download arrived in {tmp}"
    return lines[-1].split(": ", 1)[1].lower()


def marker_values(wine):
    """Names of the start markers present under the launcher's key."""
    done = wine._reg("query", MARKER_KEY)
    if done.returncode != 0:
        return []
    names = []
    for line in done.stdout.decode("latin-1").splitlines():
        parts = line.split()
        if parts and parts[0].startswith("InstallStarted"):
            names.append(parts[0])
    return names


LOCATED_KEYS = [rf"{root}\SOFTWARE\harwell\nimbo\locatedjvms" for root in ("HKLM", "HKCU")]


def clean_registry(wine):
    for name in marker_values(wine):
        wine.reg_delete(MARKER_KEY, name)
    # A runtime remembered by an earlier test would be found instead of asking.
    for key in LOCATED_KEYS:
        wine.reg_delete(key)


@pytest.fixture
def markers(wine):
    """The start markers (earlier runs' process markers included) and the located runtimes start
    and end clean."""
    clean_registry(wine)
    yield
    clean_registry(wine)


def run_quiet_download(wine, tmp_path, behaviour, timeout=120, digest=None, **env):
    with DownloadServer(ARCHIVE, behaviour) as server:
        installer = download_installer(tmp_path / "out", server.url, digest=digest)
        result = wine.run(installer, ["-q"], env=no_proxy_env(wine, tmp_path, **env), timeout=timeout)
        requests = list(server.requests)
    return result, log_text(tmp_path), requests


def assert_failed_download(result, log, tmp_path):
    assert result.code == 1, result
    assert result.stderr.startswith(FAILED), result.stderr
    assert "download successful" not in log
    assert "extracting JRE" not in log, "nothing of a failed download is unpacked"
    assert temp_dirs(tmp_path) == [], "the partly written archive goes with the extraction folder"


def test_quiet_download_without_asking_fetches_the_archive(wine, tmp_path, markers):
    result, log, requests = run_quiet_download(wine, tmp_path, "normal")
    assert result.stdout.replace("\r\n", "\n").startswith("No JRE found. Trying to download.\n"), result
    lines = log.splitlines()
    assert any(line.startswith("Download location: http://127.0.0.1:") for line in lines), log
    assert "Downloading JRE" in lines
    assert any(line.startswith(f"file size: {len(ARCHIVE)}, handle ") for line in lines), log
    assert lines.index("download successful") < lines.index("Done") < lines.index("extracting JRE")
    assert "HttpQueryInfo" not in log
    assert [r["agent"] for r in requests] == ["tessar download agent"]
    # The archive is handed to the carried runtime's steps whole.
    assert arrived(tmp_path) == sha(ARCHIVE)


def test_length_announced_from_the_third_request_on(wine, tmp_path, markers):
    result, log, requests = run_quiet_download(wine, tmp_path, "late_length")
    assert len(requests) == 3
    assert "ERROR: HttpQueryInfo (try 1) failed with error code 12150" in log
    assert "ERROR: HttpQueryInfo (try 2) failed with error code 12150" in log
    assert "(try 3)" not in log
    assert "download successful" in log
    assert arrived(tmp_path) == sha(ARCHIVE)


def test_no_length_gives_up_after_twenty_queries(wine, tmp_path, markers):
    result, log, requests = run_quiet_download(wine, tmp_path, "no_length")
    assert len(requests) == 21, "the first request and twenty reopenings"
    for attempt in range(1, 21):
        assert f"ERROR: HttpQueryInfo (try {attempt}) failed with error code 12150" in log
    assert "(try 21)" not in log
    assert log.splitlines().count("ERROR: Giving up") == 1
    assert_failed_download(result, log, tmp_path)


@pytest.mark.parametrize("behaviour,status", [("not_found", 404), ("server_error", 500)])
def test_an_error_status_is_a_failed_download(wine, tmp_path, markers, behaviour, status):
    result, log, requests = run_quiet_download(wine, tmp_path, behaviour)
    assert len(requests) == 1
    assert f"ERROR: the server answered with HTTP status {status}" in log
    assert "file size:" not in log
    assert_failed_download(result, log, tmp_path)


def test_a_body_cut_short_without_a_validator_starts_over_until_giving_up(wine, tmp_path, markers):
    """Without an ETag or Last-Modified a range could splice two versions: each retry asks for
    the whole file again."""
    result, log, requests = run_quiet_download(wine, tmp_path, "cut_short")
    assert log.count(f"ERROR: the connection ended after {HALF} of {len(ARCHIVE)} bytes") == 6, log
    assert [r["range"] for r in requests] == [None] * 6
    for retry in range(1, 6):
        assert f"retry {retry} of 5 from byte 0 in {RETRY_PAUSE_MS << (retry - 1)} ms (connection ended)" in log
    assert "ERROR: Giving up after 5 retries" in log
    assert_failed_download(result, log, tmp_path)


def sha(data):
    return hashlib.sha256(data).hexdigest()


# behaviour, configured digest, what arrives, whether the second request's range is continued.
RESUMED = [
    ("drop_once", sha(ARCHIVE), ARCHIVE, True),
    ("ignore_range", None, ARCHIVE, False),
    # The first ETag no longer matches: the server sends its new version whole, never spliced.
    ("etag_changes", None, changed_archive(ARCHIVE, 2), False),
]


@pytest.mark.parametrize("behaviour,digest,arrives,continued", RESUMED, ids=[case[0] for case in RESUMED])
def test_a_dropped_connection_is_resumed(wine, tmp_path, markers, behaviour, digest, arrives, continued):
    result, log, requests = run_quiet_download(wine, tmp_path, behaviour, digest=digest)
    assert len(requests) == 2, requests
    assert requests[1]["range"] == f"bytes={HALF}-"
    assert requests[1]["if_range"] == '"v1"', "the first answer's ETag validates the range"
    assert f"ERROR: the connection ended after {HALF} of {len(ARCHIVE)} bytes" in log
    assert f"retry 1 of 5 from byte {HALF} in {RETRY_PAUSE_MS} ms (connection ended)" in log, log
    assert ("starting over" in log) != continued
    assert "download successful" in log and "retry 2 " not in log
    assert arrived(tmp_path) == sha(arrives)


# behaviour, configured digest, the error that ends the download, the number of requests.
UNRESUMABLE = [
    ("drop_always", None, "ERROR: Giving up after 5 retries", 6),
    ("bad_range", None, 'ERROR: the server answered the resumed request with HTTP status 206 and Content-Range '
                        f'"bytes 0-{len(ARCHIVE) - HALF - 1}/{len(ARCHIVE)}"', 2),
    ("etag_changes", sha(ARCHIVE),
     f"ERROR: SHA-256 of the download is {sha(changed_archive(ARCHIVE, 2))}, expected {sha(ARCHIVE)}", 2),
]


@pytest.mark.parametrize("behaviour,digest,error,count", UNRESUMABLE, ids=[case[0] for case in UNRESUMABLE])
def test_a_download_that_cannot_be_resumed_fails(wine, tmp_path, markers, behaviour, digest, error, count):
    result, log, requests = run_quiet_download(wine, tmp_path, behaviour, digest=digest)
    assert error in log, log
    assert len(requests) == count
    if behaviour == "drop_always":
        # Each answer brings half of what was missing; the pauses double.
        offset = 0
        for retry, request in enumerate(requests[1:], start=1):
            offset += (len(ARCHIVE) - offset) // 2
            assert request["range"] == f"bytes={offset}-"
            assert f"retry {retry} of 5 from byte {offset} in {RETRY_PAUSE_MS << (retry - 1)} ms" in log
    assert_failed_download(result, log, tmp_path)


def test_an_empty_body_is_a_failed_download(wine, tmp_path, markers):
    result, log, _ = run_quiet_download(wine, tmp_path, "empty")
    assert "file size: 0, handle " in log
    assert "ERROR: the server announced an empty file" in log
    assert_failed_download(result, log, tmp_path)


def test_a_stalled_transfer_ends_at_the_receive_timeout(wine, tmp_path, markers):
    result, log, requests = run_quiet_download(wine, tmp_path, "stall", timeout=90,
                                               PATHMERE_TEST_RECEIVE_TIMEOUT_MS="1000")
    # 12002: the receive timeout; the server would hold the connection for half a minute.
    assert log.count("ERROR: InternetReadFile failed with error code 12002") == 6, log
    assert "retry 5 of 5 from byte 0 in " in log and "(read error 12002)" in log
    assert len(requests) == 6
    assert_failed_download(result, log, tmp_path)


# behaviour, the error of every request that got no answer, the number of requests.
SILENT = [
    ("silent", "ERROR: InternetOpenUrl failed with error code 12002", 1),
    ("drop_then_silent", "ERROR: InternetOpenUrl (retry {}) failed with error code 12002", 6),
]


@pytest.mark.parametrize("behaviour,error,count", SILENT, ids=[case[0] for case in SILENT])
def test_a_server_that_never_answers_a_request_ends_at_the_timeout(wine, tmp_path, markers, behaviour, error, count):
    """Opening and sending a request are bounded like the body's reads: the server would keep
    each silent request for half a minute."""
    result, log, requests = run_quiet_download(wine, tmp_path, behaviour, timeout=60,
                                               PATHMERE_TEST_RECEIVE_TIMEOUT_MS="1000")
    assert len(requests) == count, requests
    for retry in range(1, count):
        assert error.format(retry) in log, log
    if count == 1:
        assert error in log, log
    else:
        assert f"ERROR: the connection ended after {HALF} of {len(ARCHIVE)} bytes" in log
        assert "ERROR: Giving up after 5 retries" in log
    assert_failed_download(result, log, tmp_path)


def test_an_unreachable_server_is_a_failed_download(wine, tmp_path, markers):
    with DownloadServer(ARCHIVE) as server:
        url = server.url
    # The server is gone: nothing listens on its port any more.
    installer = download_installer(tmp_path / "out", url)
    result = wine.run(installer, ["-q"], env=no_proxy_env(wine, tmp_path))
    log = log_text(tmp_path)
    assert "ERROR: InternetOpenUrl failed with error code" in log
    assert_failed_download(result, log, tmp_path)


def test_a_wininet_dll_beside_the_installer_is_not_loaded(wine, tmp_path, markers):
    """A planted wininet.dll that the search order would pick first: a valid DLL without the
    entry points would make binding fail with message 20002."""
    from conftest import BIN64
    planted = BIN64 / "Nelvar.dll"
    if not planted.exists():
        pytest.skip(f"{planted} is not built (cmake --build build/win64 --target nelvar)")
    with DownloadServer(ARCHIVE) as server:
        installer = download_installer(tmp_path / "out", server.url)
        (installer.parent / "wininet.dll").write_bytes(planted.read_bytes())
        wine.run(installer, ["-q"], env=no_proxy_env(wine, tmp_path, WINEDLLOVERRIDES="wininet=n,b"),
                 cwd=installer.parent)
    log = log_text(tmp_path)
    assert "Could not load wininet" not in log
    assert "download successful" in log, log


def test_a_matching_digest_is_accepted(wine, tmp_path, markers):
    result, log, _ = run_quiet_download(wine, tmp_path, "normal", digest=hashlib.sha256(ARCHIVE).hexdigest().upper())
    assert "download successful" in log
    assert arrived(tmp_path) == sha(ARCHIVE)


def test_a_differing_digest_is_a_failed_download(wine, tmp_path, markers):
    wrong = hashlib.sha256(ARCHIVE + b"x").hexdigest()
    result, log, _ = run_quiet_download(wine, tmp_path, "normal", digest=wrong)
    actual = hashlib.sha256(ARCHIVE).hexdigest()
    assert f"ERROR: SHA-256 of the download is {actual}, expected {wrong}" in log
    assert_failed_download(result, log, tmp_path)


def test_a_malformed_digest_entry_is_a_failed_download(wine, tmp_path, markers):
    result, log, _ = run_quiet_download(wine, tmp_path, "normal", digest="abc")
    assert "ERROR: the configured SHA-256 digest of the runtime is not 64 hexadecimal digits" in log
    assert_failed_download(result, log, tmp_path)


def test_packaging_tool_writes_the_digest_of_the_archive_to_serve(wine, tmp_path, markers):
    archive_path = tmp_path / "served.tar.gz"
    archive_path.write_bytes(ARCHIVE)
    with DownloadServer(ARCHIVE + b"changed on the server") as server:
        config = sample_config()
        config["narrow"]["150"] = server.url
        config["narrow"]["157"] = "1"
        installer = build_installer(tmp_path / "out", config=config, extra=("--jre-download", str(archive_path)))
        assert inspect(installer)["runtimeDigest"] == hashlib.sha256(ARCHIVE).hexdigest()
        result = wine.run(installer, ["-q"], env=no_proxy_env(wine, tmp_path))
    log = log_text(tmp_path)
    assert f"expected {hashlib.sha256(ARCHIVE).hexdigest()}" in log
    assert_failed_download(result, log, tmp_path)
