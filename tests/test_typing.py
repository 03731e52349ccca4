"""Type information of the native modules: a stub installed next to every
extension module, mypy's stubtest against the built modules, and the typed
example under ``mypy --strict`` (and run, so its annotations are what the
modules really return)."""
import ast
import importlib.machinery
import pathlib
import subprocess
import sys

import zeka

ROOT = pathlib.Path(__file__).resolve().parents[1]
CONFIG = ROOT / "pyproject.toml"
EXAMPLE = ROOT / "tests" / "typing" / "example.py"
FUZZ = ROOT / "bench" / "fuzz.py"
PACKAGE = pathlib.Path(zeka.__file__).resolve().parent
TIMEOUT = 900


def installed_native_modules():
    """Import name -> file of every extension module installed in the package."""
    modules = {}
    for path in PACKAGE.rglob("*"):
        suffix = next((s for s in importlib.machinery.EXTENSION_SUFFIXES if path.name.endswith(s)), None)
        if suffix:
            parts = path.relative_to(PACKAGE.parent).parts
            modules[".".join(parts[:-1] + (path.name[: -len(suffix)],))] = path
    return modules


def fuzzed_native_modules():
    """The fuzzer's list of native modules, read from its source."""
    for node in ast.parse(FUZZ.read_text()).body:
        if isinstance(node, ast.Assign) and getattr(node.targets[0], "id", None) == "NATIVE_MODULES":
            return ast.literal_eval(node.value)
    raise AssertionError("bench/fuzz.py has no NATIVE_MODULES")


def run(command, cwd):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=TIMEOUT)


def test_every_native_module_has_its_stub_installed():
    modules = installed_native_modules()
    assert sorted(modules) == sorted(fuzzed_native_modules())
    missing = [name for name, path in modules.items()
               if not path.with_name(path.name.split(".")[0] + ".pyi").is_file()]
    assert missing == []
    assert (PACKAGE / "py.typed").is_file()


def test_stubs_match_the_built_modules(tmp_path):
    # Run outside the source tree so that the installed package (with its
    # stubs) is what mypy and the import machinery find.
    result = run([sys.executable, "-m", "mypy.stubtest", "--mypy-config-file", str(CONFIG),
                  *sorted(installed_native_modules())], cwd=tmp_path)
    assert result.returncode == 0, result.stdout[-6000:] + result.stderr[-3000:]


def test_typed_example_passes_mypy_strict(tmp_path):
    result = run([sys.executable, "-m", "mypy", "--strict", "--config-file", str(CONFIG),
                  "--cache-dir", str(tmp_path / "cache"), str(EXAMPLE)], cwd=tmp_path)
    assert result.returncode == 0, result.stdout[-6000:] + result.stderr[-3000:]


def test_typed_example_runs(tmp_path):
    result = run([sys.executable, str(EXAMPLE)], cwd=tmp_path)
    assert result.returncode == 0, result.stdout[-3000:] + result.stderr[-6000:]
    assert "every entry point returned what its annotation says" in result.stdout
