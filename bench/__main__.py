"""Runs every benchmark under bench/ (``make bench``), each in its own process.

Each benchmark measures our modules against a baseline in the same run and
prints ratios; extra arguments are passed on to every benchmark.
"""

import pathlib
import subprocess
import sys


def main(argv):
    here = pathlib.Path(__file__).parent
    failed = []
    for script in sorted(here.glob("bench_*.py")):
        print(f"== {script.name}", flush=True)
        if subprocess.call([sys.executable, str(script), *argv]) != 0:
            failed.append(script.name)
    if failed:
        print("failed:", ", ".join(failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
