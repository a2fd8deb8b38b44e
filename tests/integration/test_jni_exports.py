"""Every JNI export of the shipped libraries called once, in one process, through the entry point
a Java VM binds: the 32-bit build (the one that ships) in the i686 tier, and the same program
built for x86_64 under wine64, which keeps the probe itself and its expectations exercised on
machines where the 32-bit tier cannot run."""
import pytest

from conftest import BIN32, BIN64

ENTRY = "Orvanta Link"

# Without the PEP driver every Tarvik native fails to open the device: spoofing answers -1 in
# both generations, the other natives -1 in generation 1 and 0 in generation 2.
TARVIK = ("spoofingNI", "configureMemoryNI", "configureQoSNI", "getActiveConnectionsNI", "getTimeActiveNI",
          "getMinorVersionNI", "getMajorVersionNI", "getAlarmsNI")
EXPECTED = {
    "getComPort": "COM7",
    "isDUNpresent": "1",
    "getIdleTime": "600",
    "updateDUN": "1",
    **{f"tarvik1.{name}": "-1" for name in TARVIK},
    **{f"tarvik2.{name}": "-1" if name == "spoofingNI" else "0" for name in TARVIK},
    "jni-clean": "yes",
}


def results(stdout):
    """The probe's "=> name value" lines as a dict."""
    found = {}
    for line in stdout.replace("\r\n", "\n").splitlines():
        if line.startswith("=> "):
            name, _, value = line[3:].partition(" ")
            found[name] = value
    return found


def call_every_export(wine, bin_dir, bits, tmp_path, timeout):
    probe = bin_dir / "jni_exports_probe.exe"
    if not probe.exists():
        pytest.skip(f"{probe} is not built")
    phonebook = tmp_path / "phonebook.txt"
    phonebook.write_bytes(f"name={ENTRY}\tidle=600\tredial=1\tphone=*99#\n".encode())
    result = wine.run(probe, [wine.winpath(bin_dir), ENTRY], bits=bits, timeout=timeout,
                      env={"WINEDLLOVERRIDES": "rasapi32=n", "PATHMERE_PHONEBOOK": wine.winpath(phonebook)})
    assert result.code == 0, result
    found = results(result.stdout)
    assert found.pop("bits") == str(bits)
    assert found.pop("device") == "no", "a PEP driver simulator is still running in the prefix"
    assert found == EXPECTED, result.stdout
    # updateDUN wrote 900 seconds: the 64-bit argument before it was passed where the DLL reads it.
    assert phonebook.read_text().startswith(f"name={ENTRY}\tidle=900\tredial=3\t")


def test_the_32bit_libraries_answer_through_their_decorated_entry_points(wine32, tmp_path):
    call_every_export(wine32, BIN32, 32, tmp_path, timeout=600)


def test_the_64bit_libraries_answer_through_their_entry_points(wine, tmp_path):
    call_every_export(wine, BIN64, 64, tmp_path, timeout=120)
