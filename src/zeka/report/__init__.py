"""The report command: the whole road from a dataset to one self-contained HTML file.

``zeka report --dataset NAME`` or ``zeka report --csv PATH --target COLUMN``; see
``zeka report --help``. From Python: ``zeka.report.cli.run(["report", ...])``.
"""
