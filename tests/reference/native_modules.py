"""The native extension modules of the installed package, found on disk, and
the ones the build declares; the export test, the fuzzer and the leak check
all take their list from here."""

import importlib.machinery
import pathlib
import re

import zeka

SOURCE_ROOT = pathlib.Path(__file__).resolve().parents[2]


def installed_native_modules():
    """Dotted names of every extension module under the installed `zeka`, sorted."""
    suffixes = sorted(importlib.machinery.EXTENSION_SUFFIXES, key=len, reverse=True)
    names = set()
    for root in map(pathlib.Path, zeka.__path__):
        for path in root.rglob("*"):
            suffix = next((s for s in suffixes if path.name.endswith(s)), None)
            if suffix is not None:
                parts = path.relative_to(root).parts
                names.add(".".join(("zeka", *parts[:-1], parts[-1][: -len(suffix)])))
    return sorted(names)


def declared_native_modules(cmake_lists=SOURCE_ROOT / "CMakeLists.txt"):
    """Dotted names of the extension modules CMakeLists.txt builds, sorted: each
    `zeka_module(<target> <package dir> ...)`, named by its OUTPUT_NAME if set."""
    text = cmake_lists.read_text()
    renamed = dict(re.findall(r"set_target_properties\((\w+) PROPERTIES OUTPUT_NAME (\w+)\)", text))
    names = []
    for target, package_dir in re.findall(r"^zeka_module\((\w+) ([\w/]+) ", text, re.MULTILINE):
        names.append(".".join((*package_dir.split("/"), renamed.get(target, target))))
    return sorted(names)
