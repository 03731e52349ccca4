import pytest

from reference import quality_scan


@pytest.fixture(scope="session")
def reference():
    """The checks written with pandas and per-value Python calls."""
    return quality_scan
