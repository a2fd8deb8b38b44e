"""Builds real installers with the packaging tool for the launcher's black-box tests."""
import json
import pathlib
import shutil
import subprocess

from conftest import BIN32, BIN64, HOST_BIN, ROOT

SAMPLE = ROOT / "samples" / "pathmere"
PACK = HOST_BIN / "pathmere-pack"


def sample_config():
    """The sample's configuration without its runtime digest: tests point the download address at
    their own servers and set the digest they mean."""
    config = json.loads((SAMPLE / "config.json").read_text(encoding="utf-8"))
    config["narrow"].pop("162", None)
    return config


def build_installer(out_dir, name="setup.exe", config=None, files=None, java_data=None, bits=64,
                    extra=(), count=None, names=None):
    """Packages an installer into out_dir. `files` maps relative names (Windows separators) to
    bytes and replaces the sample payload; `count` and `names` override entries 2002 and 2003
    (names are then taken as they stand); other config changes go through `config`."""
    out_dir = pathlib.Path(out_dir)
    out_dir.mkdir(parents=True, exist_ok=True)
    config = config if config is not None else sample_config()
    work = out_dir / f".{name}.work"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir()
    if files is None:
        files_dir = SAMPLE / "files"
    else:
        files_dir = work / "files"
        files_dir.mkdir()
        for rel, data in files.items():
            target = files_dir / rel.replace("\\", "/")
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
        config["files"] = list(files)
        config["narrow"].pop("2002", None)
        config["narrow"].pop("2003", None)
    if count is not None:
        config["narrow"]["2002"] = str(count)
    if names is not None:
        config["narrow"]["2003"] = names
    if count is not None or names is not None:
        extra = [*extra, "--unchecked-names"]
    config_path = work / "config.json"
    config_path.write_text(json.dumps(config), encoding="utf-8")
    stub = (BIN64 if bits == 64 else BIN32) / "pathmere_setup.exe"
    out = out_dir / name
    # Exactly the given entries and files (no built-in defaults), downloads unverified unless asked.
    command = [str(PACK), "build", "--stub", str(stub), "--config", str(config_path), "--files", str(files_dir),
               "-o", str(out), "--no-defaults", "--allow-unverified-download", *extra]
    if java_data is not None:
        java_path = work / "java.dat"
        java_path.write_bytes(java_data)
        command += ["--java-data", str(java_path)]
    done = subprocess.run(command, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    build_installer.warnings = done.stderr
    return out


def inspect(installer):
    done = subprocess.run([str(PACK), "inspect", str(installer), "--json"], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def flip_byte(path, offset):
    data = bytearray(pathlib.Path(path).read_bytes())
    data[offset] ^= 0x01
    pathlib.Path(path).write_bytes(bytes(data))


def logs_in(directory):
    return sorted(pathlib.Path(directory).glob("tsr_nlog_*"), key=lambda p: p.stat().st_mtime)


def log_text(directory):
    logs = logs_in(directory)
    assert logs, f"no log in {directory}"
    return logs[-1].read_text(errors="replace").replace("\r\n", "\n")


def temp_dirs(directory):
    return sorted(pathlib.Path(directory).glob("nbo*_dir"))
