"""``zeka report``: one command from a dataset to a self-contained HTML report.

Exit status: 0 when the report is written, 1 when it is written but a step
failed (the report says which), 2 for bad input (a one-line message on
stderr, no report), 130 after Ctrl-C (no report; an earlier report at the
output path is left as it was). SIGTERM and SIGHUP end the command the same
way and then end the process by that signal.
"""

import argparse
import os
import shlex
import signal
import sys
import time

from zeka.report.families import MODEL_FAMILIES
from zeka.report.inputs import ReportInputError, load_builtin, load_csv
from zeka.report.output import Output, refuse_inputs
from zeka.report.parquet import DEFAULT_SAMPLE_ROWS
from zeka.report.road import Road, Settings
from zeka.report.steps.outliers import METHODS as OUTLIER_METHODS
from zeka.report.stopping import StopSignals

DEFAULT_DATASET = "SimuCredit_raw"
DEFAULT_OUT = "zeka-report.html"

EXAMPLES = """\
examples:
  zeka report                                    # the raw credit data, all nine families
  zeka report --dataset SimuHousing --out housing.html
  zeka report --csv loans.csv --target default --models glm ebm tree
  zeka report --dataset SimuCredit_raw --outliers ecod
  python -m zeka report --csv prices.csv --target price --task regression --quiet
  zeka report --parquet 'data/*.parquet' --target default --workers 4
  zeka report --parquet data/ --target default --scheduler tcp://10.0.0.5:8786

The report walks the road: data integrity, preparation, feature selection,
outliers, models (ranked by AUC or MSE), and SHAP explanations of the best
model. It is one HTML file with its figures embedded: open it in a browser,
mail it or print it.
"""


class _Parser(argparse.ArgumentParser):
    """argparse, but a usage error is one line and exit status 2."""

    def error(self, message):
        raise ReportInputError(message + " (see --help)")


def _dataset_names():
    from zeka.config.misc_settings import DATASET_NAMES

    return list(DATASET_NAMES)


def build_parser():
    parser = _Parser(
        prog="zeka", description="zeka: interpretable machine learning for tabular data."
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    report = commands.add_parser(
        "report",
        help="write a self-contained HTML report of the whole road for a dataset",
        description="Check a table, prepare it, screen its features, look for outliers, train\n"
        "and rank the model families and explain the best one: all in one HTML file.",
        epilog=EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    report.error = parser.error  # one-line usage errors from the subcommand too
    source = report.add_mutually_exclusive_group()
    source.add_argument(
        "--dataset",
        metavar="NAME",
        help="a built-in dataset (default {}): {}".format(
            DEFAULT_DATASET, ", ".join(_dataset_names())
        ),
    )
    source.add_argument(
        "--csv", metavar="PATH", help="a CSV file with a header row; needs --target"
    )
    source.add_argument(
        "--parquet",
        metavar="PATH_OR_GLOB",
        help="a Parquet file, a folder of them or a glob; needs --target. The integrity "
        "checks run over all rows on Dask, the modelling steps on a seeded sample "
        "(needs the extra zeka[dask])",
    )
    report.add_argument(
        "--target", metavar="COLUMN", help="the target column of the CSV or Parquet data"
    )
    report.add_argument(
        "--scheduler",
        metavar="ADDRESS",
        help="with --parquet: the address of a running Dask scheduler (tcp://host:8786)",
    )
    report.add_argument(
        "--workers",
        type=int,
        metavar="N",
        help="with --parquet and no --scheduler: worker processes of the local Dask "
        "cluster (default 2)",
    )
    report.add_argument(
        "--sample-rows",
        type=int,
        default=DEFAULT_SAMPLE_ROWS,
        metavar="N",
        help="with --parquet: rows of the seeded sample the modelling steps use "
        "(default %(default)s)",
    )
    report.add_argument(
        "--task",
        choices=["classification", "regression"],
        help="override the inferred task: a target with two values, or a "
        "non-numeric one, is classification; any other is regression",
    )
    report.add_argument(
        "--out",
        metavar="PATH",
        default=DEFAULT_OUT,
        help="where to write the report (default %(default)s); written to a "
        "temporary file first, so a failed or interrupted run leaves "
        "nothing behind; never a file the command reads",
    )
    report.add_argument(
        "--models",
        metavar="FAMILY",
        nargs="+",
        help="model families to train, space- or comma-separated (default all nine: {})".format(
            " ".join(MODEL_FAMILIES)
        ),
    )
    report.add_argument(
        "--seed",
        type=int,
        default=0,
        help="seed of the train/test split, the models and the scores (default %(default)s)",
    )
    report.add_argument(
        "--explain-rows",
        type=int,
        default=Settings.explain_rows,
        metavar="N",
        help="training rows the global SHAP explanation covers "
        "(default %(default)s; fewer is faster)",
    )
    report.add_argument(
        "--outliers",
        metavar="KEY",
        default=Settings.outliers,
        choices=OUTLIER_METHODS,
        help="the outlier detector, by its method key (default %(default)s, the one-class "
        "SVM): {}".format(", ".join(OUTLIER_METHODS)),
    )
    report.add_argument("--quiet", action="store_true", help="no progress bars on stderr")
    return parser


def _models(values):
    if not values:
        return list(MODEL_FAMILIES)
    names = [name.strip() for value in values for name in value.split(",") if name.strip()]
    unknown = [name for name in names if name not in MODEL_FAMILIES]
    if unknown:
        raise ReportInputError(
            "unknown model famil{} {}; choose from {}".format(
                "ies" if len(unknown) > 1 else "y", ", ".join(unknown), ", ".join(MODEL_FAMILIES)
            )
        )
    if not names:
        raise ReportInputError("--models names no family; choose from " + ", ".join(MODEL_FAMILIES))
    return list(dict.fromkeys(names))


def _source(args):
    if args.parquet is None and (args.scheduler is not None or args.workers is not None):
        raise ReportInputError("--scheduler and --workers go with --parquet")
    if args.parquet is not None:
        if args.target is None:
            raise ReportInputError("--parquet needs --target COLUMN, the column to predict")
        if args.scheduler is not None and args.workers is not None:
            raise ReportInputError(
                "--workers starts a local cluster; with --scheduler the cluster has its own"
            )
        if args.workers is not None and args.workers < 1:
            raise ReportInputError("--workers must be at least 1")
        if args.sample_rows < 1:
            raise ReportInputError("--sample-rows must be at least 1")
        from zeka.report.parquet import load_parquet, parquet_files

        refuse_inputs(args.out, parquet_files(args.parquet))
        return load_parquet(
            args.parquet,
            args.target,
            args.task,
            args.sample_rows,
            args.seed,
            args.scheduler,
            2 if args.workers is None else args.workers,
        )
    if args.csv is not None:
        if args.target is None:
            raise ReportInputError("--csv needs --target COLUMN, the column to predict")
        return load_csv(args.csv, args.target, args.task)
    if args.target is not None:
        raise ReportInputError("--target goes with --csv; a built-in dataset has its own target")
    source = load_builtin(args.dataset or DEFAULT_DATASET)
    if args.task is not None:
        source.task_type = args.task
    return source


def run(argv=None, stdout=None, stderr=None):
    """Run the command; returns the exit status."""
    return _run(argv, stdout, stderr)[0]


def _run(argv, stdout, stderr):
    """The exit status, and the signal that stopped the command (or None)."""
    stdout = sys.stdout if stdout is None else stdout
    stderr = sys.stderr if stderr is None else stderr
    started = time.perf_counter()
    output = None
    with StopSignals() as stop:
        try:
            args = build_parser().parse_args(argv)
            if args.explain_rows < 1:
                raise ReportInputError("--explain-rows must be at least 1")
            settings = Settings(
                models=_models(args.models),
                seed=args.seed,
                explain_rows=args.explain_rows,
                outliers=args.outliers,
                progress=not args.quiet,
                stream=stderr,
            )
            refuse_inputs(args.out, [args.csv] if args.csv is not None else [])
            source = _source(args)
            try:
                output = Output(args.out, stop).create()
                road = Road(source, settings, checkpoint=stop.check).run()
                command = "zeka " + " ".join(
                    shlex.quote(a) for a in (sys.argv[1:] if argv is None else argv)
                )
                output.write(road.render(time.perf_counter() - started, command))
                output.commit()
            finally:
                if source.distributed is not None:
                    from zeka.report.parquet import close

                    close(source.distributed.client)
        except ReportInputError as error:
            if stop.received is not None:  # the stop came first; a library swallowed it
                return _stopped(stop.received, stderr)
            print("zeka report: error: {}".format(error), file=stderr)
            return 2, None
        except KeyboardInterrupt:
            return _stopped(stop.received or signal.SIGINT, stderr)
        finally:
            if output is not None:
                output.discard()
    elapsed = time.perf_counter() - started
    notes = ""
    if road.failed_steps:
        notes += "; failed: " + ", ".join(road.failed_steps)
    if road.unavailable_steps:
        notes += "; unavailable: " + ", ".join(road.unavailable_steps)
    print("zeka report: wrote {} in {:.1f} s{}".format(args.out, elapsed, notes), file=stdout)
    return (1 if road.failed_steps else 0), None


def _stopped(signum, stderr):
    print(
        "zeka report: {}; no report written".format(
            "interrupted"
            if signum == signal.SIGINT
            else "stopped by " + signal.Signals(signum).name
        ),
        file=stderr,
    )
    return 128 + signum, signum


def main(argv=None):
    status, signum = _run(argv, None, None)
    if signum is not None and signum != signal.SIGINT:
        # Cleaned up; now end the way the signal ends a process, so the caller sees it.
        sys.stdout.flush()
        sys.stderr.flush()
        signal.signal(signum, signal.SIG_DFL)
        os.kill(os.getpid(), signum)
    sys.exit(status)
