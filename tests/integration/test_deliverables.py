"""What the builds deliver: the installer stub's format in both builds, and its resources."""
import subprocess

from conftest import BIN32, BIN64


def describe(path):
    return subprocess.run(["file", "-b", str(path)], capture_output=True, text=True, check=True).stdout


def test_the_shipped_stub_is_a_32bit_gui_program_and_its_twin_64bit():
    assert describe(BIN32 / "pathmere_setup.exe").startswith("PE32 executable (GUI) Intel 80386")
    assert describe(BIN64 / "pathmere_setup.exe").startswith("PE32+ executable (GUI) x86-64")


def test_the_stub_is_stripped_and_carries_its_resources():
    for binary, objdump in ((BIN32, "i686-w64-mingw32-objdump"), (BIN64, "x86_64-w64-mingw32-objdump")):
        headers = subprocess.run([objdump, "-x", str(binary / "pathmere_setup.exe")], capture_output=True,
                                 text=True, check=True).stdout
        assert "symbols stripped" in headers, "a symbol table would sit where the appended data goes"
        assert ".rsrc" in headers
        data = (binary / "pathmere_setup.exe").read_bytes()
        manifest = data[data.find(b"<assembly"):data.find(b"</assembly>")]
        assert b'level="asInvoker"' in manifest
        assert b"Microsoft.Windows.Common-Controls" in manifest and b'version="6.0.0.0"' in manifest
        assert b"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}" in manifest  # Windows 7
        assert b"{e2011457-1546-43c5-a5fe-008deee3d3f0}" in manifest  # Windows Vista
        # windres stores the dialog's class name in capitals; window class names ignore case.
        assert "MYDIALOGCLASS".encode("utf-16-le") in data.upper()
