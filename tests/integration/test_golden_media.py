"""The appended data checked against bytes written out by hand from the media format, not read back
through the code that writes it: a mistake made on both sides (wide counts in code units, a wrong
mask, a checksum over the wrong range) cannot pass here. The same installer is then run by the
launcher under wine64, which must verify and extract it."""
import json
import re
import subprocess
import zlib

import pytest

from conftest import BIN64
from installer_kit import PACK, log_text, temp_dirs

STUB = BIN64 / "pathmere_setup.exe"

pytestmark = pytest.mark.skipif(not PACK.exists() or not STUB.exists(), reason="needs pathmere-pack and the win64 stub")

CONFIG = {
    "narrow": {"101": "Caf\u00e9", "107": "5", "146": "."},
    "wide": {"20013": "Wizard", "20016": "Bad \U0001F600"},
    "languages": [{"code": "de", "wide": {"20016": "B\u00f6se"}}],
    "files": ["a.txt", "sub\\b.bin"],
}
FILES = {"a.txt": b"Hi!", "sub/b.bin": b"\x00\x88\xff\x7f"}
JAVA_DATA = b"JAVA"


def hexbytes(text):
    """Bytes from hex pairs; everything from "#" to the end of a line is a comment."""
    return bytes.fromhex(" ".join(line.split("#")[0] for line in text.splitlines()))


# Everything the checksum covers: the configuration record, the included files, the Java-side data.
COVERED = hexbytes("""
    05 00 00 00                    # narrow entry count: 5 (101, 107, 146, then 2002 and 2003 from "files")
    65 00 00 00                    # id 101
    04 00 00 00  43 61 66 E9       # byte count 4, "Caf\u00e9" in Windows-1252 (no terminator)
    6B 00 00 00                    # id 107
    01 00 00 00  35                # "5"
    92 00 00 00                    # id 146
    01 00 00 00  2E                # "."
    D2 07 00 00                    # id 2002: included file count
    01 00 00 00  32                # "2"
    D3 07 00 00                    # id 2003: included file names
    10 00 00 00                    # byte count 16
    61 2E 74 78 74 3B              # "a.txt;"
    73 75 62 5C 62 2E 62 69 6E 3B  # "sub\\b.bin;"
    02 00 00 00                    # wide entry count: 2
    2D 4E 00 00                    # id 20013
    0C 00 00 00                    # byte count 12 (six UTF-16 code units)
    57 00 69 00 7A 00 61 00 72 00 64 00              # "Wizard" UTF-16LE
    30 4E 00 00                    # id 20016
    0C 00 00 00                    # byte count 12: four characters and one surrogate pair
    42 00 61 00 64 00 20 00  3D D8 00 DE             # "Bad " and U+1F600 as D83D DE00
    01 00 00 00                    # language group count: 1
    02 00 00 00  64 65             # language code "de" (narrow, byte count 2)
    01 00 00 00                    # one entry in the group
    30 4E 00 00                    # id 20016
    08 00 00 00                    # byte count 8
    42 00 F6 00 73 00 65 00        # "B\u00f6se" UTF-16LE
    03 00 00 00 00 00 00 00        # a.txt: size 3 (signed 64-bit)
    C0 E1 A9                       # "Hi!" (48 69 21), each byte XOR 88
    04 00 00 00 00 00 00 00        # sub\\b.bin: size 4
    88 00 77 F7                    # 00 88 FF 7F, each byte XOR 88
    4A 41 56 41                    # Java-side data "JAVA", as given: not masked
""")

HEADER = hexbytes("""
    D5 13 E4 E8                    # magic 0xE8E413D5
    01 00 00 00                    # checksum flag 1: verify
    04 48 6E AF                    # CRC-32 0xAF6E4804 of the covered bytes
    A8 00 00 00 00 00 00 00        # checked length 168: from here to the end of the Java-side data
""")

# The stub ends on a FileAlignment (512) boundary; the installer does too: 20 + 168 bytes, then
# 324 zero bytes to reach 512.
PADDING = bytes(324)


def test_the_hand_written_bytes_agree_with_themselves():
    assert len(COVERED) == 168
    assert zlib.crc32(COVERED) == 0xAF6E4804


@pytest.fixture(scope="module")
def golden_installer(tmp_path_factory):
    work = tmp_path_factory.mktemp("golden")
    for name, data in FILES.items():
        (work / "files" / name).parent.mkdir(parents=True, exist_ok=True)
        (work / "files" / name).write_bytes(data)
    (work / "config.json").write_text(json.dumps(CONFIG), encoding="utf-8")
    (work / "java.dat").write_bytes(JAVA_DATA)
    out = work / "out" / "setup.exe"
    out.parent.mkdir()
    subprocess.run([str(PACK), "build", "--stub", str(STUB), "--config", str(work / "config.json"),
                    "--files", str(work / "files"), "--java-data", str(work / "java.dat"), "--no-defaults", "-o", str(out)],
                   check=True, capture_output=True, timeout=60)
    return out


def test_the_tool_writes_exactly_the_hand_written_bytes(golden_installer):
    stub = STUB.read_bytes()
    assert len(stub) % 512 == 0
    written = golden_installer.read_bytes()
    assert written[:len(stub)] == stub, "the stub's bytes are copied unchanged"
    appended = written[len(stub):]
    expected = HEADER + COVERED + PADDING
    # Compared field by field first so a difference names its place.
    assert appended[:20].hex(" ") == HEADER.hex(" ")
    assert appended[20:20 + len(COVERED)].hex(" ") == COVERED.hex(" ")
    assert appended == expected


def test_the_launcher_verifies_and_extracts_the_hand_written_bytes(wine, golden_installer, tmp_path):
    tmp = tmp_path / "tmp"
    tmp.mkdir()
    result = wine.run(golden_installer, ["-q"], env={"TMP": wine.winpath(tmp), "NIMBO_LOG": "yes"}, timeout=180)
    assert result.code == 83, result  # verified and extracted; no Java runtime to go on with
    log = log_text(tmp)
    assert "checksums: 2943240196 2943240196" in log, log  # 0xAF6E4804, computed and stored
    assert "Included files: 2" in log
    assert "extracting files done" in log
    assert temp_dirs(tmp) == [], "quiet mode's end removes what was extracted"
    [folder] = re.findall(r"^Temp dir: (.*)$", log, re.MULTILINE)
    assert f"{folder}\\a.txt (size: 3)" in log
    assert f"{folder}\\sub\\b.bin (size: 4)" in log
