"""``python -m zeka report ...``: the package's command line."""

from zeka.report.cli import main

if __name__ == "__main__":
    main()
