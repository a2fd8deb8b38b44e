from download_server import DownloadServer
from installer_kit import build_installer, log_text, sample_config
from test_runtime_download import ARCHIVE, HALF, no_proxy_env, left_archive, sha


def test_i686_resume(wine32, tmp_path):
    with DownloadServer(ARCHIVE, "drop_once") as server:
        config = sample_config()
        config["narrow"]["150"] = server.url
        config["narrow"]["157"] = "1"
        config["narrow"]["162"] = sha(ARCHIVE)
        installer = build_installer(tmp_path / "out", config=config, bits=32)
        result = wine32.run(installer, ["-q"], env=no_proxy_env(wine32, tmp_path, QEMU_RESERVED_VA="0xffff0000"),
                            timeout=400, bits=32)
        requests = list(server.requests)
    log = log_text(tmp_path)
    print(log[-1500:])
    assert requests[1]["range"] == f"bytes={HALF}-"
    assert "download successful" in log
    assert left_archive(tmp_path).read_bytes() == ARCHIVE
