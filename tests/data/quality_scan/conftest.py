import importlib.util
import pathlib

import pytest

_PATH = pathlib.Path(__file__).parents[3] / "bench" / "quality_scan_reference.py"


@pytest.fixture(scope="session")
def reference():
    """The checks written with pandas and per-value Python calls."""
    spec = importlib.util.spec_from_file_location("quality_scan_reference", _PATH)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module
