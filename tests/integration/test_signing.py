"""Signed installers: a built installer signed with osslsigncode (the README's step) with a
throw-away self-signed certificate. The signature is appended after the data the installer's
checksum covers, so both the packaging tool's and the launcher's own check still pass and the
installer runs to the Java program; a byte changed after signing fails both checks."""
import shutil
import subprocess

import pytest

from conftest import BIN64, Wine
from installer_kit import PACK, build_installer, flip_byte, inspect, log_text, sample_config
from java_runtime import make_runtime

MARKER_KEY = r"HKCU\SOFTWARE\harwell\nimbo"
CORRUPTED = "The installation file is corrupted. If it is a download please try it again."
MAIN_EXIT = 7


def tool(name):
    path = shutil.which(name)
    if path is None:
        pytest.skip(f"{name} is not installed (scripts/setup.sh installs it)")
    return path


@pytest.fixture
def signer(tmp_path):
    """A self-signed code-signing certificate and its key, made for this test only."""
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    done = subprocess.run([tool("openssl"), "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                           "-subj", "/CN=Pathmere Test Signer", "-keyout", str(key), "-out", str(cert)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return cert, key


def sign(installer, cert, key):
    signed = installer.with_name("signed-" + installer.name)
    done = subprocess.run([tool("osslsigncode"), "sign", "-certs", str(cert), "-key", str(key), "-n", "Pathmere",
                           "-in", str(installer), "-out", str(signed)], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stdout + done.stderr
    signed.chmod(0o755)  # osslsigncode writes a new file without the executable bit
    return signed


def pack_verify(installer):
    done = subprocess.run([str(PACK), "verify", str(installer)], capture_output=True, text=True)
    return done.returncode, done.stdout.strip()


def signature_verify(installer, cert):
    done = subprocess.run([tool("osslsigncode"), "verify", "-CAfile", str(cert), "-in", str(installer)],
                          capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout + done.stderr


def run_quiet(wine, installer, tmp):
    env = {"TMP": wine.winpath(tmp), "NIMBO_LOG": "yes", "NIMBO_JAVA_HOME": None, "TESSAR_JAVA_HOME": None}
    return wine.run(installer, ["-q"], env=env, timeout=180)


@pytest.fixture
def markers(wine):
    wine.reg_delete(MARKER_KEY, "InstallStarted")
    yield
    wine.reg_delete(MARKER_KEY, "InstallStarted")


def test_inspect_tells_signed_from_unsigned(tmp_path, signer):
    installer = build_installer(tmp_path / "out", files={"readme.txt": b"x" * 100})
    assert inspect(installer)["signature"] == {"signed": False}
    text = subprocess.run([str(PACK), "inspect", str(installer)], capture_output=True, text=True).stdout
    assert "signed: no" in text.splitlines()

    signed = sign(installer, *signer)
    layout = inspect(signed)
    size = signed.stat().st_size
    assert layout["signature"]["signed"] is True
    # The signature is the last thing in the file, behind the padding the packaging tool wrote.
    assert layout["signature"]["offset"] + layout["signature"]["size"] == size
    assert layout["signature"]["offset"] >= installer.stat().st_size
    assert layout["problems"] == []
    text = subprocess.run([str(PACK), "inspect", str(signed)], capture_output=True, text=True).stdout
    assert (f"signed: yes (Authenticode signature, {layout['signature']['size']} bytes at "
            f"{layout['signature']['offset']})") in text.splitlines()


def test_a_signed_installer_passes_both_checks_and_reaches_main(wine, tmp_path, signer, markers):
    if not (BIN64 / "java_runtime" / "jvm.dll").exists():
        pytest.skip("the runtime double is not built: cmake --build build/win64 --target java_runtime_double")
    cert, key = signer
    runtime = make_runtime(tmp_path / "jre", script={"main": "exit", "exit_code": MAIN_EXIT}, observe=tmp_path)
    config = sample_config()
    config["narrow"]["128"] = "B" + Wine.winpath(runtime.home)
    installer = build_installer(tmp_path / "out", config=config,
                                files={"tsrparams.conf": b"param=1\r\n", "readme.txt": b"x" * 4000})
    signed = sign(installer, cert, key)

    assert pack_verify(signed) == (0, "OK")
    code, output = signature_verify(signed, cert)
    assert code == 0, output
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = run_quiet(wine, signed, tmp)
    assert result.code == MAIN_EXIT, result
    assert "CallStaticVoidMethod" in [event["call"] for event in runtime.trace()["events"]]
    log = log_text(tmp)
    checksums = [line for line in log.splitlines() if line.startswith("checksums: ")]
    assert len(checksums) == 1, log
    stored, computed = checksums[0].split()[1:3]
    assert stored == computed, checksums

    # One byte of an included file changed after signing: both checks refuse the file.
    flip_byte(signed, inspect(signed)["files"][1]["dataOffset"] + 10)
    code, message = pack_verify(signed)
    assert code == 1 and "checksum mismatch" in message, message
    code, output = signature_verify(signed, cert)
    assert code != 0, output
    runtime.reset_observations()
    tampered = tmp_path / "tampered"
    tampered.mkdir()
    result = run_quiet(wine, signed, tampered)
    assert result.code == 1, result
    assert CORRUPTED in result.stderr
    assert runtime.trace() is None
