"""Type information of the native modules: a stub installed next to every
extension module, mypy's stubtest against the built modules, and the typed
example under ``mypy --strict`` (and run, so its annotations are what the
modules really return)."""

import pathlib
import subprocess
import sys

import zeka
from reference.native_modules import installed_native_modules

ROOT = pathlib.Path(__file__).resolve().parents[1]
CONFIG = ROOT / "pyproject.toml"
EXAMPLE = ROOT / "tests" / "typing" / "example.py"
PACKAGE = pathlib.Path(zeka.__file__).resolve().parent
TIMEOUT = 900


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=TIMEOUT)


def test_every_native_module_has_its_stub_installed():
    missing = [
        name
        for name in installed_native_modules()
        if not (PACKAGE.joinpath(*name.split(".")[1:]).with_suffix(".pyi")).is_file()
    ]
    assert missing == []
    assert (PACKAGE / "py.typed").is_file()


def test_stubs_match_the_built_modules(tmp_path):
    # Run outside the source tree so that the installed package (with its
    # stubs) is what mypy and the import machinery find.
    result = run(
        [
            sys.executable,
            "-m",
            "mypy.stubtest",
            "--mypy-config-file",
            str(CONFIG),
            *installed_native_modules(),
        ],
        cwd=tmp_path,
    )
    assert result.returncode == 0, result.stdout[-6000:] + result.stderr[-3000:]


def test_typed_example_passes_mypy_strict(tmp_path):
    result = run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--config-file",
            str(CONFIG),
            "--cache-dir",
            str(tmp_path / "cache"),
            str(EXAMPLE),
        ],
        cwd=tmp_path,
    )
    assert result.returncode == 0, result.stdout[-6000:] + result.stderr[-3000:]


def test_typed_example_runs(tmp_path):
    result = run([sys.executable, str(EXAMPLE)], cwd=tmp_path)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-6000:]
    assert "every entry point returned what its annotation says" in result.stdout
