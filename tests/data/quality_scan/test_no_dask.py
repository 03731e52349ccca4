"""The pandas integrity checks and the report never import Dask."""

import subprocess
import sys


def test_pandas_path_does_not_import_dask():
    code = (
        "import sys\n"
        "import zeka.data.quality_scan.quality_scan, zeka.data.quality_scan.partition_summary\n"
        "import zeka.report.cli\n"
        "print(sorted(m for m in sys.modules if m.split('.')[0] in ('dask', 'distributed')))\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"
