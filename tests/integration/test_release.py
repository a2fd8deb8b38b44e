"""The release archive as a release engineer gets it: made by scripts/release.sh, unpacked into an
empty folder away from the checkout, and used from there alone."""
import hashlib
import pathlib
import shutil
import struct
import subprocess
import tarfile
import zipfile

import pytest

from conftest import ROOT

VERSION = (ROOT / "VERSION").read_text().split()[0]
NAME = f"pathmere-{VERSION}-linux-x86_64"
ARCHIVE = ROOT / "build" / "release" / f"{NAME}.tar.gz"
ZIP_NAME = f"pathmere-{VERSION}-windows"
ZIP = ROOT / "build" / "release" / f"{ZIP_NAME}.zip"

SETUP_JAVA = """package com.example;
public class Setup {
    public static void main(String[] args) {
        System.exit(42);
    }
}
"""


@pytest.fixture(scope="module")
def release():
    """The archives of two runs of release.sh: the second must give the same bytes."""
    if not shutil.which("x86_64-w64-mingw32-g++-posix"):
        pytest.skip("no mingw-w64 tool chain")
    made = []
    for _ in range(2):
        done = subprocess.run([str(ROOT / "scripts" / "release.sh")], capture_output=True, text=True, timeout=1200)
        assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
        made.append((ARCHIVE.read_bytes(), ZIP.read_bytes()))
    assert made[0][0] == made[1][0], "two runs of release.sh gave different tar archives"
    assert made[0][1] == made[1][1], "two runs of release.sh gave different zip archives"
    return ARCHIVE


def machine(path):
    data = path.read_bytes()
    return struct.unpack_from("<H", data, struct.unpack_from("<I", data, 60)[0] + 4)[0]


def test_the_archive_holds_what_it_promises_deterministically(release):
    with tarfile.open(release) as tar:
        members = tar.getmembers()
    names = [m.name for m in members]
    assert names == sorted(names)
    assert {(m.uid, m.gid, m.uname, m.gname) for m in members} == {(0, 0, "", "")}
    assert len({m.mtime for m in members}) == 1
    assert release.read_bytes()[4:8] == b"\0\0\0\0", "gzip header carries a time"
    files = {n[len(NAME) + 1:] for n, m in zip(names, members) if m.isfile()}
    expected = {"bin/pathmere-pack", "README.md", "SHA256SUMS", "docs/configuration.md", "java/tsrlauncher.jar",
                "LICENSES/README.md"}
    for arch in ("x86", "x64"):
        expected |= {f"stubs/{arch}/pathmere_setup.exe"}
        expected |= {f"jni/{arch}/{dll}" for dll in ("Nelvar.dll", "Pemtrel.dll", "tarvik1/Tarvik.dll", "tarvik2/Tarvik.dll")}
    assert expected <= files, expected - files
    assert any(n.startswith("LICENSES/zlib") for n in files)


def test_unpacked_alone_it_builds_both_architectures_and_reaches_main(release, tmp_path, wine):
    from java_runtime import fixtures_dir
    root = tmp_path / "unpacked"
    root.mkdir()
    subprocess.run(["tar", "-xzf", release, "-C", root], check=True)
    home = root / NAME
    sums = subprocess.run(["sha256sum", "-c", "--quiet", "SHA256SUMS"], cwd=home, capture_output=True, text=True)
    assert sums.returncode == 0, sums.stdout + sums.stderr
    tool = home / "bin" / "pathmere-pack"

    def pack(*args, check=True):
        done = subprocess.run([str(tool), *map(str, args)], capture_output=True, text=True, timeout=120, cwd=tmp_path)
        assert not check or done.returncode == 0, done.stdout + done.stderr
        return done

    assert pack("--version").stdout.strip() == f"pathmere-pack {VERSION}"
    # The version comes from one place: the stubs' resources say it too.
    for arch, kind in (("x86", 0x14C), ("x64", 0x8664)):
        stub = home / "stubs" / arch / "pathmere_setup.exe"
        assert machine(stub) == kind
        data = stub.read_bytes()
        assert f"{VERSION}.0\0".encode("utf-16-le") in data and f"{VERSION}\0".encode("utf-16-le") in data
        for dll in ("Nelvar.dll", "Pemtrel.dll", "tarvik1/Tarvik.dll"):
            assert machine(home / "jni" / arch / dll) == kind, (arch, dll)
    my = tmp_path / "my"
    pack("init", my)
    source = tmp_path / "src" / "com" / "example" / "Setup.java"
    source.parent.mkdir(parents=True)
    source.write_text(SETUP_JAVA)
    if not shutil.which("ecj"):
        pytest.skip("needs ecj")
    subprocess.run(["ecj", "-1.6", "-proc:none", "-d", tmp_path / "classes", source], check=True, capture_output=True)
    subprocess.run(["jar", "cf", my / "files" / "app.jar", "-C", tmp_path / "classes", "."], check=True)
    common = ["--config", my / "config.json", "--files", my / "files"]
    for arch, kind in ((None, 0x14C), ("x86", 0x14C), ("x64", 0x8664)):
        out = tmp_path / f"setup-{arch}.exe"
        pack("build", *(["--arch", arch] if arch else []), *common, "-o", out)
        assert pack("verify", out).stdout.strip() == "OK"
        assert machine(out) == kind, arch
    vm = fixtures_dir() / "java-vm" / "windows-x86_64" / "jvm.dll"
    if not vm.exists():
        pytest.skip("needs the real VM of the shared fixtures")
    (tmp_path / "jre" / "bin" / "client").mkdir(parents=True)
    shutil.copyfile(vm, tmp_path / "jre" / "bin" / "client" / "jvm.dll")
    refused = pack("build", *common, "--jre", tmp_path / "jre", "-o", tmp_path / "wrong.exe", check=False)
    assert refused.returncode == 1 and "bin/client/jvm.dll is x86-64 but the stub" in refused.stderr
    assert "is i386" in refused.stderr and not (tmp_path / "wrong.exe").exists()
    digests = set()
    for name in ("a", "b"):
        out = tmp_path / name / "my_setup.exe"
        out.parent.mkdir()
        pack("build", "--arch", "x64", *common, "--jre", tmp_path / "jre", "-o", out)
        digests.add(hashlib.sha256(out.read_bytes()).hexdigest())
    assert len(digests) == 1, "the same inputs gave two installers"
    key = r"HKCU\SOFTWARE\harwell\nimbo"
    wine.reg_delete(key, "InstallStarted")
    result = wine.run(tmp_path / "a" / "my_setup.exe", ["-q"], env={"TMP": wine.winpath(tmp_path), "NIMBO_LOG": "yes"},
                      timeout=300)
    log = "".join(p.read_text(errors="replace") for p in tmp_path.glob("tsr_nlog_*"))
    assert result.code == 42, (result, log)
    wine.reg_delete(key, "InstallStarted")


def test_the_windows_tool_alone_writes_the_bytes_the_linux_tool_writes(release, tmp_path, wine):
    with zipfile.ZipFile(ZIP) as archive:
        entries = archive.infolist()
        archive.extractall(tmp_path / "win")
    names = [e.filename for e in entries]
    assert names == sorted(names) and len({e.date_time for e in entries}) == 1 and not any(e.extra for e in entries)
    with tarfile.open(release) as tar:
        linux_files = {m.name[len(NAME) + 1:] for m in tar.getmembers() if m.isfile()}
        tar.extractall(tmp_path / "linux")
    assert {n[len(ZIP_NAME) + 1:] for n in names} ^ linux_files == {"bin/pathmere-pack.exe", "bin/pathmere-pack"}
    home, linux_home = tmp_path / "win" / ZIP_NAME, tmp_path / "linux" / NAME
    for name in linux_files - {"bin/pathmere-pack", "SHA256SUMS", "README.md"}:
        assert (home / name).read_bytes() == (linux_home / name).read_bytes(), name
    sums = subprocess.run(["sha256sum", "-c", "--quiet", "SHA256SUMS"], cwd=home, capture_output=True, text=True)
    assert sums.returncode == 0, sums.stdout + sums.stderr
    tool = home / "bin" / "pathmere-pack.exe"
    assert machine(tool) == 0x8664

    def win(*args):
        done = wine.run(tool, args, cwd=tmp_path, timeout=300)
        assert done.code == 0, done
        return done.stdout

    def linux(*args):
        done = subprocess.run([linux_home / "bin" / "pathmere-pack", *args], capture_output=True, timeout=120, cwd=tmp_path)
        assert done.returncode == 0, done
        return done.stdout

    assert win("--version") == f"pathmere-pack {VERSION}\n"
    assert win("schema").encode("latin-1") == linux("schema"), "standard output is not written as it stands"
    # A folder named outside ASCII: the command line and the file calls keep it whole.
    my, mine = tmp_path / "Paket é", tmp_path / "mine"
    win("init", wine.winpath(my))
    linux("init", mine)
    assert (my / "config.json").read_bytes() == (mine / "config.json").read_bytes()
    with zipfile.ZipFile(my / "files" / "app.jar", "w") as jar:
        jar.writestr("com/example/Setup.class", b"\xca\xfe\xba\xbe")
    config = (my / "config.json").read_text()
    assert '"versionScheme": 1' in config
    (my / "config.json").write_text(config.replace('"versionScheme": 1', '"versionScheme": 1, "jreDownloadUrl": "http://x/j.tgz"'))
    download = tmp_path / "download.tar.gz"
    download.write_bytes(b"served runtime" * 50000)
    # A runtime whose names sort differently by case, by bytes and by letters, in nested folders.
    jre = tmp_path / "jre"
    for name in ("bin/server/jvm.dll", "lib/B.txt", "lib/a.txt", "lib/Z é.txt", "lib/ext/Ärger.jar", "release"):
        (jre / name).parent.mkdir(parents=True, exist_ok=True)
        (jre / name).write_bytes(name.encode() * 3000)
    shutil.copyfile(home / "stubs" / "x64" / "pathmere_setup.exe", jre / "bin" / "server" / "jvm.dll")
    common = ["--arch", "x64", "--config", my / "config.json", "--files", my / "files", "--jre", jre,
              "--jre-download", download]
    linux("build", *common, "-o", tmp_path / "linux.exe")
    win("build", *[wine.winpath(a) if isinstance(a, pathlib.Path) else a for a in common], "-o", "windows.exe")
    assert win("verify", "windows.exe") == "OK\n"
    assert hashlib.sha256(download.read_bytes()).hexdigest() in win("inspect", "windows.exe")
    assert (tmp_path / "windows.exe").read_bytes() == (tmp_path / "linux.exe").read_bytes()
    assert machine(tmp_path / "windows.exe") == 0x8664
