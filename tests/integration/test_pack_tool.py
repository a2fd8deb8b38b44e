"""Black-box tests of pathmere-pack: build, inspect, verify and extract installers made from a
small handmade PE stub (and from the real launcher stub when the win64 tree has one)."""
import json
import shutil
import struct
import subprocess
import tarfile

import pytest

from conftest import BIN32, BIN64, HOST_BIN, ROOT

PACK = HOST_BIN / "pathmere-pack"
SAMPLE = ROOT / "samples" / "pathmere"
MAGIC = struct.pack("<I", 0xE8E413D5)

pytestmark = pytest.mark.skipif(not PACK.exists(), reason=f"{PACK} is not built")


def make_stub(path, sections=((512, 512),), alignment=512, extra=b"", machine=0x8664):
    """A minimal PE image ending at its last section's raw data (plus `extra`)."""
    size = max(p + s for p, s in sections[-1:])
    image = bytearray(size)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 60, 64)
    image[64:68] = b"PE\0\0"
    struct.pack_into("<HH", image, 68, machine, len(sections))
    struct.pack_into("<H", image, 84, 240)
    struct.pack_into("<I", image, 64 + 24 + 36, alignment)
    for i, (pointer, raw_size) in enumerate(sections):
        struct.pack_into("<II", image, 64 + 24 + 240 + 40 * i + 16, raw_size, pointer)
    for i in range(512, size):
        image[i] = (i * 7) & 0xFF  # section bytes the tool must copy unchanged
    path.write_bytes(bytes(image) + extra)
    return path


def pack(*args, check=False):
    done = subprocess.run([str(PACK), *map(str, args)], capture_output=True, text=True, timeout=60)
    if check:
        assert done.returncode == 0, done.stderr
    return done


def inspect_json(path):
    done = pack("inspect", path, "--json")
    assert done.returncode == 0, done.stdout + done.stderr
    return json.loads(done.stdout)


@pytest.fixture
def stub(tmp_path):
    return make_stub(tmp_path / "stub.exe")


@pytest.fixture
def java_data(tmp_path):
    path = tmp_path / "java.dat"
    path.write_bytes(MAGIC[::-1] + b"0.dat" + bytes(range(256)) * 3)
    return path


@pytest.fixture
def sample_installer(tmp_path, stub, java_data):
    out = tmp_path / "out" / "setup.exe"
    out.parent.mkdir()
    pack("build", "--stub", stub, "--config", SAMPLE / "config.json", "--files", SAMPLE / "files",
         "--java-data", java_data, "-o", out, check=True)
    return out


def write_config(tmp_path, config, files=None):
    """A configuration file and a files directory holding `files` (name -> bytes)."""
    files_dir = tmp_path / "files"
    files_dir.mkdir(exist_ok=True)
    for name, content in (files or {}).items():
        target = files_dir / name.replace("\\", "/")
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(content)
    config_path = tmp_path / "config.json"
    config_path.write_text(json.dumps(config, ensure_ascii=False), encoding="utf-8")
    return config_path, files_dir


def test_round_trip_shows_every_entry_as_written(sample_installer, java_data):
    config = json.loads((SAMPLE / "config.json").read_text(encoding="utf-8"))
    info = inspect_json(sample_installer)
    assert info["problems"] == []
    assert [(e["id"], e["value"]) for e in info["narrow"]] == [(int(k), v) for k, v in config["narrow"].items()]
    assert [(e["id"], e["value"]) for e in info["wide"]] == [(int(k), v) for k, v in config["wide"].items()]
    assert [(g["code"], [(e["id"], e["value"]) for e in g["wide"]]) for g in info["languages"]] == [
        (g["code"], [(int(k), v) for k, v in g["wide"].items()]) for g in config["languages"]]
    assert [f["name"] for f in info["files"]] == config["files"]
    sizes = [(SAMPLE / "files" / name.replace("\\", "/")).stat().st_size for name in config["files"]]
    assert [f["size"] for f in info["files"]] == sizes
    assert info["files"][0]["sizeOffset"] == info["configEnd"]
    for before, after in zip(info["files"], info["files"][1:]):
        assert after["sizeOffset"] == before["dataOffset"] + before["size"]
    last = info["files"][-1]
    assert info["javaData"] == {"offset": last["dataOffset"] + last["size"], "size": java_data.stat().st_size}
    assert info["unextractedPosition"] == info["javaData"]["offset"]
    data = sample_installer.read_bytes()
    assert data[info["javaData"]["offset"]:][:java_data.stat().st_size] == java_data.read_bytes()
    assert len(data) % 512 == 0
    covered_end = info["appendedStart"] + 20 + info["header"]["checkedLength"]
    assert info["trailingBytes"] == len(data) - covered_end < 512
    assert data[covered_end:] == bytes(info["trailingBytes"])


def test_sample_configuration_is_complete():
    config = json.loads((SAMPLE / "config.json").read_text(encoding="utf-8"))
    narrow = {int(k): v for k, v in config["narrow"].items()}
    settings = {101, 102, 103, 104, 105, 106, 107, 108, 121, 122, 123, 124, 125, 126, 127, 128, 130, 131, 141,
                142, 145, 146, 147, 149, *range(150, 163)}
    assert settings | set(range(1000, 1021)) | {2001, 2002, 2003, 10003, 10004, 10005} | set(
        range(10109, 10124)) == set(narrow)
    wide = {int(k) for k in config["wide"]}
    assert wide == set(range(20001, 20021)) - {20017}
    assert narrow[2002] == "13" and narrow[2003].count(";") == 13 and narrow[2003].endswith(";")
    assert narrow[2003] == "".join(name + ";" for name in config["files"])
    assert config["wide"]["20004"] == 'Please choose the file "java.exe" of the JRE'
    assert '"/manual"\n' in config["wide"]["20014"]
    german = config["languages"][0]
    assert german["code"] == "de" and {"20013", "20016"} <= set(german["wide"])


def test_stub_bytes_are_unchanged(sample_installer, stub):
    original = stub.read_bytes()
    assert sample_installer.read_bytes()[:len(original)] == original
    assert sample_installer.read_bytes()[len(original):len(original) + 4] == MAGIC


@pytest.mark.skipif(not (BIN64 / "pathmere_setup.exe").exists(), reason="no win64 launcher stub built")
def test_real_launcher_stub_is_kept_and_verifies(tmp_path):
    real = BIN64 / "pathmere_setup.exe"
    out = tmp_path / "pathmere_setup.exe"
    pack("build", "--stub", real, "--config", SAMPLE / "config.json", "--files", SAMPLE / "files", "-o", out,
         check=True)
    original = real.read_bytes()
    data = out.read_bytes()
    assert data[:len(original)] == original and data[len(original):len(original) + 4] == MAGIC
    assert pack("verify", out).stdout.strip() == "OK"
    assert inspect_json(out)["appendedStart"] == len(original)


def test_verify_reports_magic_length_and_truncation(sample_installer):
    info = inspect_json(sample_installer)
    start = info["appendedStart"]
    original = sample_installer.read_bytes()
    cases = {
        "bad magic": original[:start] + b"\0" + original[start + 1:],
        "negative checked length": original[:start + 12] + struct.pack("<q", -20) + original[start + 20:],
        "truncated": original[:start + 20 + info["header"]["checkedLength"] - 1],
    }
    for reason, data in cases.items():
        sample_installer.write_bytes(data)
        done = pack("verify", sample_installer)
        assert done.returncode == 1 and reason in done.stdout, (reason, done.stdout)


def test_extract_gives_byte_identical_files(sample_installer, tmp_path):
    target = tmp_path / "extracted"
    done = pack("extract", sample_installer, target)
    assert done.returncode == 0, done.stderr
    expected = sorted(p.relative_to(SAMPLE / "files") for p in (SAMPLE / "files").rglob("*") if p.is_file())
    assert sorted(p.relative_to(target) for p in target.rglob("*") if p.is_file()) == expected
    for relative in expected:
        assert (target / relative).read_bytes() == (SAMPLE / "files" / relative).read_bytes(), relative


def test_extract_skips_empty_files_like_the_launcher(tmp_path, stub):
    config, files = write_config(tmp_path, {"files": ["empty.txt", "full.txt"]},
                                 {"empty.txt": b"", "full.txt": b"\x88\x00data"})
    out = tmp_path / "setup.exe"
    pack("build", "--stub", stub, "--config", config, "--files", files, "-o", out, check=True)
    target = tmp_path / "x"
    assert pack("extract", out, target).returncode == 0
    assert not (target / "empty.txt").exists()
    assert (target / "full.txt").read_bytes() == b"\x88\x00data"


def test_a_count_that_disagrees_with_the_files_is_refused(tmp_path, stub):
    config, files = write_config(tmp_path, {"narrow": {"2002": "2"}, "files": ["a", "b", "c"]},
                                 {"a": b"1", "b": b"22", "c": b"333"})
    out = tmp_path / "setup.exe"
    done = pack("build", "--stub", stub, "--config", config, "--files", files, "-o", out)
    assert done.returncode == 1
    assert "the launcher will extract 2 files (entries 2002/2003) but \"files\" stores 3" in done.stderr
    assert not out.exists()


def test_java_data_without_files_is_refused(tmp_path, stub, java_data):
    config, files = write_config(tmp_path, {"files": []})
    out = tmp_path / "setup.exe"
    done = pack("build", "--stub", stub, "--config", config, "--files", files, "--java-data", java_data, "--no-defaults",
                "-o", out)
    assert done.returncode == 1
    assert "--java-data needs at least one included file" in done.stderr
    assert not out.exists()


def test_mismatched_count_is_written_as_given_when_unchecked(tmp_path, stub):
    config, files = write_config(tmp_path, {"narrow": {"2002": "2"}, "files": ["a", "b", "c"]},
                                 {"a": b"1", "b": b"22", "c": b"333"})
    out = tmp_path / "setup.exe"
    done = pack("build", "--stub", stub, "--config", config, "--files", files, "--unchecked-names", "-o", out)
    assert done.returncode == 0 and "warning" in done.stderr
    info = inspect_json(out)
    assert [f["name"] for f in info["files"]] == ["a", "b"]
    assert info["unextractedPosition"] == info["files"][1]["dataOffset"] + 2
    assert info["javaData"]["size"] == 8 + 3  # the unwalked third file counts as Java-side data


def test_extract_refuses_names_escaping_the_directory(tmp_path, stub):
    config, files = write_config(tmp_path, {"narrow": {"2003": "..\\evil.txt;"}, "files": ["a"]}, {"a": b"bad"})
    out = tmp_path / "setup.exe"
    assert pack("build", "--stub", stub, "--config", config, "--files", files, "-o", out).returncode != 0
    assert not out.exists()
    pack("build", "--stub", stub, "--config", config, "--files", files, "--unchecked-names", "-o", out, check=True)
    target = tmp_path / "inside" / "x"
    target.parent.mkdir()
    done = pack("extract", out, target)
    assert done.returncode == 1 and "escapes" in done.stderr
    assert not (tmp_path / "inside" / "evil.txt").exists() and not target.exists()


REFUSALS = {
    "missing file": ({"files": ["a", "absent.txt"]}, "absent.txt"),
    "value too long": ({"narrow": {"152": "x" * 200}}, "at most 199"),
    "entry 2001 too long": ({"narrow": {"2001": "ie"}}, "at most 1"),
    "wide too long": ({"wide": {"20016": "y" * 8192}}, "at most 8191"),
    "absolute name": ({"files": ["\\a"]}, "escapes"),
    "drive name": ({"files": ["C:\\a"]}, "escapes"),
    "UNC name": ({"files": ["\\\\server\\share\\a"]}, "escapes"),
    "dot-dot name": ({"files": ["user\\..\\a"]}, "escapes"),
    "two levels": ({"files": ["user\\sub\\a"]}, "more than one directory level"),
    "not ANSI": ({"narrow": {"101": "\u4e2d"}}, "U+4E2D"),
}


@pytest.mark.parametrize("case", REFUSALS, ids=list(REFUSALS))
def test_bad_configuration_is_refused_without_output(tmp_path, stub, case):
    config_data, expected = REFUSALS[case]
    config, files = write_config(tmp_path, config_data, {"a": b"A", "user/sub/a": b"S"})
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    done = pack("build", "--stub", stub, "--config", config, "--files", files, "-o", out_dir / "setup.exe")
    assert done.returncode != 0
    assert expected in done.stderr, done.stderr
    assert list(out_dir.iterdir()) == []


def test_bad_inputs_are_refused_without_output(tmp_path, stub, sample_installer):
    config, files = write_config(tmp_path, {"files": ["a"]}, {"a": b"A"})
    not_pe = tmp_path / "notpe.exe"
    not_pe.write_bytes(b"MZ" + bytes(600))
    unstripped = make_stub(tmp_path / "unstripped.exe", extra=b"\x01COFF-symbols")
    out_dir = tmp_path / "out2"
    out_dir.mkdir()
    cases = {
        "missing stub": (["--stub", tmp_path / "none.exe", "--config", config, "--files", files], "none.exe"),
        "missing config": (["--stub", stub, "--config", tmp_path / "none.json", "--files", files], "none.json"),
        "missing files dir": (["--stub", stub, "--config", config, "--files", tmp_path / "nodir"], "nodir"),
        "missing java data": (["--stub", stub, "--config", config, "--files", files, "--java-data",
                               tmp_path / "none.dat"], "none.dat"),
        "not a PE image": (["--stub", not_pe, "--config", config, "--files", files], "not a PE image"),
        "already packaged": (["--stub", sample_installer, "--config", config, "--files", files],
                             "already carries a payload"),
        "unstripped": (["--stub", unstripped, "--config", config, "--files", files], "already carries 13 bytes"),
    }
    for case, (args, expected) in cases.items():
        done = pack("build", *args, "-o", out_dir / "setup.exe")
        assert done.returncode != 0, case
        assert expected in done.stderr, (case, done.stderr)
        assert list(out_dir.iterdir()) == [], case


def test_refusal_keeps_an_existing_output_untouched(tmp_path, stub):
    config, files = write_config(tmp_path, {"files": ["missing"]})
    out = tmp_path / "setup.exe"
    out.write_bytes(b"previous build")
    assert pack("build", "--stub", stub, "--config", config, "--files", files, "-o", out).returncode != 0
    assert out.read_bytes() == b"previous build"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["config.json", "files", "setup.exe", "stub.exe"]


def test_output_may_not_overwrite_the_stub(tmp_path, stub):
    config, files = write_config(tmp_path, {"files": []})
    before = stub.read_bytes()
    done = pack("build", "--stub", stub, "--config", config, "--files", files, "-o", stub)
    assert done.returncode != 0 and "overwrite" in done.stderr
    assert stub.read_bytes() == before


def test_inspect_text_lists_header_entries_files_and_java_data(sample_installer):
    done = pack("inspect", sample_installer)
    assert done.returncode == 0
    text = done.stdout
    assert "magic 0xE8E413D5 (ok), checksum flag 1" in text
    assert '  101 appTitle = "Orvanta Pathmere"' in text
    assert 'language "de" (' in text
    assert "user\\jdom.jar.pack" in text
    assert "java-side data at " in text and "trailing bytes: " in text


def test_a_header_offset_far_into_a_sparse_file_is_read_without_loading_what_lies_before(tmp_path):
    """An 8 KB sparse file whose DOS header points 256 MB in: only the header fields are read."""
    image = tmp_path / "sparse.exe"
    with open(image, "wb") as out:
        out.write(b"MZ" + bytes(58) + struct.pack("<I", 0x10000000))
        out.truncate(0x10000000 + 8192)
    # Peak memory of the tool alone, measured in a fresh interpreter that only runs it.
    measure = ("import resource, subprocess, sys; "
               "done = subprocess.run(sys.argv[1:], capture_output=True, text=True); "
               "print(done.returncode, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, "
               "(done.stdout + done.stderr).strip())")
    for command in ("verify", "inspect"):
        done = subprocess.run(["/usr/bin/python3", "-c", measure, str(PACK), command, str(image)],
                              capture_output=True, text=True, timeout=60)
        code, peak_kb, message = done.stdout.split(" ", 2)
        assert code == "1" and "not a PE image" in message, done.stdout + done.stderr
        assert int(peak_kb) < 128 * 1024, f"{command} used {peak_kb} KB"


def test_command_line_conventions(tmp_path, sample_installer):
    for args in (["--help"], ["-h"], ["help"], ["build", "--help"], ["extract", "-h"], ["help", "inspect"]):
        done = pack(*args)
        assert done.returncode == 0 and done.stdout.startswith("usage: pathmere-pack") and not done.stderr, args
    assert pack("--version").stdout.startswith("pathmere-pack ")
    refusals = {("build", "--stub=x.exe", "--config", "c.json"): "build: missing -o",
                ("build", "--frob"): "build: unknown option --frob",
                ("extract", sample_installer): "extract: DIR is missing",
                ("inspect",): "inspect: FILE is missing"}
    for args, message in refusals.items():
        done = pack(*args)
        assert done.returncode == 2 and done.stderr.startswith(f"pathmere-pack: {message}\n"), (args, done.stderr)
    bad = write_config(tmp_path, {"narrow": {"102": 3.5}})[0]
    done = pack("build", "--stub", sample_installer, "--config", bad, "-o", tmp_path / "x.exe")
    assert done.stderr.count("narrow entry 102") == 1, done.stderr
    target = tmp_path / "full"
    target.mkdir()
    (target / "mine.txt").write_text("keep")
    done = pack("extract", sample_installer, target)
    assert done.returncode == 1 and "--force" in done.stderr and sorted(target.iterdir()) == [target / "mine.txt"]
    assert pack("extract", sample_installer, target, "--force").returncode == 0
    assert (target / "tsrparams.conf").exists() and (target / "mine.txt").read_text() == "keep"


def test_minimal_configuration_gets_names_defaults_and_launcher_classes(tmp_path, stub):
    import zipfile, io
    app = io.BytesIO()
    with zipfile.ZipFile(app, "w") as jar:
        jar.writestr("com/example/Other.class", b"\xca\xfe\xba\xbe")
    config, files = write_config(tmp_path, {"narrow": {"appTitle": "Acme", "mainClass": "com.example.Setup",
                                                       "jreDownloadSize": 10240, "dropJArguments": True},
                                            "files": ["app.jar"]}, {"app.jar": app.getvalue()})
    out = tmp_path / "setup.exe"
    done = pack("build", "--stub", stub, "--config", config, "--files", files, "-o", out)
    assert done.returncode == 0, done.stderr
    assert "the main class com.example.Setup (com/example/Setup.class) is in none of the included jars" in done.stderr
    assert "message 20007 takes about" not in done.stderr
    info = inspect_json(out)
    narrow = {e["name"]: e["value"] for e in info["narrow"]}
    assert narrow["jreDownloadSize"] == "10240" and narrow["dropJArguments"] == "1" and narrow["executableType"] == "5"
    assert {e["id"] for e in info["narrow"]} >= set(range(1000, 1021))
    wide = {e["id"]: e["value"] for e in info["wide"]}
    assert set(wide) == set(range(20001, 20021)) - {20017} and wide[20013] == "Acme"
    # The default buttons answer Alt and a letter; the default texts read right.
    assert (wide[20010], wide[20011], wide[20012]) == ("&Download", "&Locate", "&Cancel")
    assert "installation. You may" in wide[20014] and wide[20008].endswith(" kB/s")
    assert [f["name"] for f in info["files"]] == ["app.jar", "tsrlauncher.jar"]
    extracted = tmp_path / "x"
    pack("extract", out, extracted, check=True)
    names = zipfile.ZipFile(extracted / "tsrlauncher.jar").namelist()
    assert "com/tessar/runtime/launcher/WinLauncher.class" in names
    # A long product name in the default texts: the tool says the progress dialog will grow.
    config, files = write_config(tmp_path, {"narrow": {"appTitle": "Acme Enterprise Resource Planning Suite 2027"},
                                            "files": ["app.jar"]}, {"app.jar": app.getvalue()})
    done = pack("build", "--stub", stub, "--config", config, "--files", files, "-o", out, check=True)
    assert ("message 20007 takes about 4 lines where the progress dialog has room for 3: the launcher makes the "
            "dialog taller to show it whole") in done.stderr, done.stderr
    # The configuration's own launcher jar wins; --no-defaults writes only what is given.
    config, files = write_config(tmp_path, {"narrow": {"mainClass": "com.example.Other"}, "files": ["app.jar"]},
                                 {"app.jar": app.getvalue()})
    done = pack("build", "--stub", stub, "--config", config, "--files", files, "--no-defaults", "-o", out, check=True)
    assert "main class" not in done.stderr
    info = inspect_json(out)
    assert [f["name"] for f in info["files"]] == ["app.jar"] and info["wide"] == []


ENTRY_REFUSALS = {
    "typo in an id": ({"1222": "x"}, 'unknown entry id "1222" (nearest: 122 mainClass'),
    "typo in a name": ({"mainClas": "x"}, 'unknown entry name "mainClas" (nearest: 122 mainClass'),
    "wide entry under narrow": ({"20013": "x"}, 'entry 20013 (wizardCaption) is a wide entry: put it under "wide"'),
    "text in a number": ({"151": "12abc"}, 'narrow entry 151 (jreDownloadSize): "12abc" is not a decimal number'),
    "download without digest": ({"150": "http://127.0.0.1:8080/jre.tar.gz"}, "--allow-unverified-download"),
}


@pytest.mark.parametrize("case", ENTRY_REFUSALS, ids=list(ENTRY_REFUSALS))
def test_entries_are_checked_against_the_table(tmp_path, stub, case):
    narrow, expected = ENTRY_REFUSALS[case]
    config, files = write_config(tmp_path, {"narrow": narrow})
    done = pack("build", "--stub", stub, "--config", config, "-o", tmp_path / "setup.exe")
    assert done.returncode == 1 and expected in done.stderr, done.stderr
    allow = {"1222": "--unknown-entries", "150": "--allow-unverified-download"}
    if list(narrow)[0] in allow:
        pack("build", "--stub", stub, "--config", config, allow[list(narrow)[0]], "-o", tmp_path / "setup.exe",
             check=True)


def test_init_writes_a_commented_starting_point_and_schema_and_reference_follow_the_table(tmp_path):
    done = pack("init", tmp_path / "new")
    assert done.returncode == 0, done.stderr
    text = (tmp_path / "new" / "config.json").read_text()
    assert text.startswith("//") and '"mainClass": "com.example.Setup"' in text and (tmp_path / "new" / "files").is_dir()
    # A new installer finds the runtimes users have today.
    for setting in ('"jreSearchSequence": "M;P;EJAVA_HOME;Y"', '"versionScheme": 1', '"minJavaVersion": "8"'):
        assert setting in text, setting
    assert pack("init", tmp_path / "new").returncode == 1
    schema = json.loads(pack("schema").stdout)
    narrow = schema["properties"]["narrow"]["properties"]
    assert narrow["mainClass"] == narrow["122"] and "20013" in schema["properties"]["wide"]["properties"]
    assert "| 122 | `mainClass` | narrow | text |" in pack("reference").stdout
    assert "| 163 | `versionScheme` | narrow | number |" in pack("reference").stdout


def pe_resources(data):
    """The resource tree {type: {name: {language: bytes}}} of a PE image, read here on its own."""
    pe = struct.unpack_from("<I", data, 60)[0]
    sections, optional_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    directories = optional + (96 if struct.unpack_from("<H", data, optional)[0] == 0x10B else 112)
    rva = struct.unpack_from("<I", data, directories + 16)[0]
    for i in range(sections):
        _, va, _, raw = struct.unpack_from("<IIII", data, optional + optional_size + 40 * i + 8)
        if va == rva:
            break

    def walk(offset, depth):
        named, ids = struct.unpack_from("<HH", data, raw + offset + 12)
        tree = {}
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", data, raw + offset + 16 + 8 * k)
            if depth < 2:
                tree[name] = walk(target & 0x7FFFFFFF, depth + 1)
            else:
                data_rva, size = struct.unpack_from("<II", data, raw + target)
                tree[name] = data[raw + data_rva - va:raw + data_rva - va + size]
        return tree
    return walk(0, 0)


SETUP_JAVA = """package com.example;
public class Setup {
    public static void main(String[] args) {
        System.exit(42);
    }
}
"""


def test_readme_steps_reach_main_in_the_real_vm(tmp_path, wine):
    """"Your own installer" as a new user follows it: init, a jar with the main class, build
    carrying a runtime (the real VM), verify, run to main under wine64."""
    from java_runtime import fixtures_dir
    stub = BIN64 / "pathmere_setup.exe"
    vm = fixtures_dir() / "java-vm" / "windows-x86_64" / "jvm.dll"
    if not stub.exists() or not vm.exists() or not shutil.which("ecj"):
        pytest.skip("needs the win64 stub, the real VM fixture and ecj")
    my = tmp_path / "my"
    pack("init", my, check=True)
    source = tmp_path / "src" / "com" / "example" / "Setup.java"
    source.parent.mkdir(parents=True)
    source.write_text(SETUP_JAVA)
    subprocess.run(["ecj", "-1.6", "-proc:none", "-d", tmp_path / "classes", source], check=True, capture_output=True)
    subprocess.run(["jar", "cf", my / "files" / "app.jar", "-C", tmp_path / "classes", "."], check=True)
    (tmp_path / "jre" / "bin" / "client").mkdir(parents=True)
    shutil.copyfile(vm, tmp_path / "jre" / "bin" / "client" / "jvm.dll")
    out = tmp_path / "my_setup.exe"
    icon = ROOT / "launcher" / "res" / "pathmere.ico"
    done = pack("build", "--stub", stub, "--config", my / "config.json", "--files", my / "files",
                "--jre", tmp_path / "jre", "--icon", icon, "-o", out, check=True)
    assert "warning" not in done.stderr, done.stderr
    assert pack("verify", out).stdout.strip() == "OK"
    tree = pe_resources(out.read_bytes())
    version = tree[16][1][0x409]
    assert "My Product setup\0".encode("utf-16-le") in version and b"\xbd\x04\xef\xfe\x00\x00\x01\x00\x00\x00\x01\x00" in version
    ico = icon.read_bytes()
    count = struct.unpack_from("<H", ico, 4)[0]
    group = next(iter(next(iter(tree[14].values())).values()))
    assert group[:6] == ico[:6] and len(group) == 6 + 14 * count
    for i in range(count):
        size, offset = struct.unpack_from("<II", ico, 6 + 16 * i + 8)
        icon_id = struct.unpack_from("<H", group, 6 + 14 * i + 12)[0]
        assert group[6 + 14 * i:6 + 14 * i + 12] == ico[6 + 16 * i:6 + 16 * i + 12]
        assert next(iter(tree[3][icon_id].values())) == ico[offset:offset + size]
    info = inspect_json(out)["resources"]
    assert info["versionStrings"]["ProductName"] == "My Product" and len(info["icons"]) == count
    key = r"HKCU\SOFTWARE\harwell\nimbo"
    wine.reg_delete(key, "InstallStarted")
    result = wine.run(out, ["-q"], env={"TMP": wine.winpath(tmp_path), "NIMBO_LOG": "yes"}, timeout=300)
    log = "".join(p.read_text(errors="replace") for p in tmp_path.glob("tsr_nlog_*"))
    assert result.code == 42, (result, log)
    # The start marker stays for the Java program to clear; left set, the next start asks the
    # recovery question.
    assert wine.reg_query(key, "InstallStarted") == 1
    wine.reg_delete(key, "InstallStarted")


def test_icon_and_version_refusals_leave_no_output(tmp_path, stub):
    not_ico = tmp_path / "x.ico"
    not_ico.write_bytes(b"\x00\x00\x01\x00\x05\x00" + bytes(8))
    real = BIN64 / "pathmere_setup.exe"
    cases = {"no PE32": ({"versionInfo": {"productName": "x"}}, [], "neither a PE32 nor a PE32+ image"),
             "bad version": ({"versionInfo": {"fileVersion": "1.x"}}, [], '"1.x" is not a version'),
             "unknown member": ({"versionInfo": {"product": "x"}}, [], 'unknown member "product"'),
             "bad icon": ({}, ["--icon", not_ico], "--icon: the icon directory is cut short")}
    for case, (config_data, extra, expected) in cases.items():
        if case == "bad icon" and not real.exists():
            continue
        config, _ = write_config(tmp_path, config_data)
        done = pack("build", "--stub", real if case == "bad icon" else stub, "--config", config, *extra,
                    "-o", tmp_path / "out.exe")
        assert done.returncode == 1 and expected in done.stderr, (case, done.stderr)
        assert not (tmp_path / "out.exe").exists()


def test_a_carried_runtime_of_the_other_architecture_is_refused_naming_both(tmp_path, stub):
    """The handmade stub is x86-64: an i386 jvm.dll, as a folder or as an archive, is refused
    before anything is written; an x86-64 one goes in."""
    config, files = write_config(tmp_path, {"narrow": {"appTitle": "T", "mainClass": "a.B"}})
    for machine, name in ((0x14C, "i386"), (0x8664, "x86-64")):
        home = tmp_path / name / "jre"
        (home / "bin" / "server").mkdir(parents=True)
        make_stub(home / "bin" / "server" / "jvm.dll", machine=machine)
        (home / "lib").mkdir()
        (home / "lib" / "rt.jar").write_bytes(b"PK")
        archive = tmp_path / name / "jre.tar.gz"
        with tarfile.open(archive, "w:gz", format=tarfile.USTAR_FORMAT) as tar:
            tar.add(home, arcname="jre")
        for runtime in (home, archive):
            out = tmp_path / f"{name}-{runtime.name}.exe"
            done = pack("build", "--stub", stub, "--config", config, "--files", files, "--jre", runtime, "-o", out)
            if machine == 0x8664:
                assert done.returncode == 0 and out.exists(), done.stderr
                continue
            assert done.returncode == 1 and not out.exists(), done.stderr
            vm = "jre/bin/server/jvm.dll" if runtime == archive else "bin/server/jvm.dll"
            assert f"{vm} is i386 but the stub {stub} is x86-64 (--arch x86" in done.stderr, done.stderr
    done = pack("build", "--arch", "arm", "--config", config, "-o", tmp_path / "x.exe")
    assert done.returncode == 2 and "--arch is x86 or x64" in done.stderr


@pytest.mark.skipif(not ((BIN32 / "pathmere_setup.exe").exists() and (BIN64 / "pathmere_setup.exe").exists()),
                    reason="needs both stubs built")
def test_arch_takes_the_stub_of_the_build_tree(tmp_path):
    """In a checkout the tool finds each architecture's stub in the build tree; x86 unless told."""
    if HOST_BIN.parent.parent != BIN32.parent.parent:
        pytest.skip("the build trees were moved apart")
    config, files = write_config(tmp_path, {"narrow": {"appTitle": "T", "mainClass": "a.B"}})
    for arch, stub in ((None, BIN32), ("x86", BIN32), ("x64", BIN64)):
        out = tmp_path / f"{arch}.exe"
        pack("build", *(["--arch", arch] if arch else []), "--config", config, "-o", out, check=True)
        image = (stub / "pathmere_setup.exe").read_bytes()
        assert out.read_bytes()[:len(image)] == image, arch
