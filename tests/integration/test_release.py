"""The release archive as a release engineer gets it: made by scripts/release.sh, unpacked into an
empty folder away from the checkout, and used from there alone."""
import hashlib
import shutil
import struct
import subprocess
import tarfile

import pytest

from conftest import ROOT

VERSION = (ROOT / "VERSION").read_text().split()[0]
NAME = f"pathmere-{VERSION}-linux-x86_64"
ARCHIVE = ROOT / "build" / "release" / f"{NAME}.tar.gz"

SETUP_JAVA = """package com.example;
public class Setup {
    public static void main(String[] args) {
        System.exit(42);
    }
}
"""


@pytest.fixture(scope="module")
def release():
    """The archive of two runs of release.sh: the second must give the same bytes."""
    if not shutil.which("x86_64-w64-mingw32-g++-posix"):
        pytest.skip("no mingw-w64 tool chain")
    made = []
    for _ in range(2):
        done = subprocess.run([str(ROOT / "scripts" / "release.sh")], capture_output=True, text=True, timeout=1200)
        assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
        made.append(ARCHIVE.read_bytes())
    assert made[0] == made[1], "two runs of release.sh gave different archives"
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
