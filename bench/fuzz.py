"""Fuzzes every public callable of the native modules with hypothesis.

Each entry point (a module function, a class constructor, a method bound to a
working instance, and the same method given an arbitrary ``self``) is called
with generated arguments: wrong types, shapes and dtypes, NaN, infinity, None,
pd.NA, empty and one-row frames, huge strings, odd labels, unknown keywords,
objects whose dunder methods raise, and objects that replace a module
attribute in the middle of the call. A call passes when it returns or raises
an ordinary Python exception. It fails on a crash (the process dies), a hang
of more than 10 s (faulthandler ends the process), a SystemError, or a
RuntimeError raised by our C++ itself (no Python frame below the call).

    python bench/fuzz.py [--examples N] [--module NAME] [--entry LABEL] [--derandomize]
                         [--shard I/N]

The full profile is the default 10,000 examples per entry point; ``make test``
runs a small deterministic profile through tests/test_fuzz.py. ``--shard 1/2`` and
``--shard 2/2`` split the entry points between two processes (every second one each),
so that the full profile can use two cores.
"""

import argparse
import faulthandler
import importlib
import inspect
import pathlib
import sys
import time
import traceback
import types
import warnings

import matplotlib

matplotlib.use("Agg")

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
from hypothesis import HealthCheck, Phase, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from hypothesis.extra import numpy as hnp  # noqa: E402

from zeka.models import FAMILY_KEYS  # noqa: E402

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests"))
from reference.native_modules import installed_native_modules  # noqa: E402

HANG_SECONDS = 10

# Words the modules give meaning to, so that generated calls reach past the
# first argument check.
VOCABULARY = list(FAMILY_KEYS) + [
    "novelty",
    "if",
    "unit_norm",
    "minmax",
    "one_hot",
    "ordinal",
    "MSE",
    "AUC",
    "ACC",
    "regression",
    "classification",
    "pfi",
    "cor",
    "rit",
    "dcor",
    "rcit",
    "bar",
    "beeswarm",
    "waterfall",
    "dependence",
    "kernel",
    "exact",
    "max_epochs",
    "l1_regularization",
    "True",
    "1, 2",
    "[1, 2]",
    "nan",
    " 1_0 ",
    "inf",
]


class Raising:
    """An object whose every conversion and comparison raises."""

    def _fail(self, *args):
        raise ValueError("raised on purpose")

    __eq__ = __ne__ = __lt__ = __hash__ = __str__ = __repr__ = __len__ = _fail
    __float__ = __int__ = __index__ = __iter__ = __bool__ = __getitem__ = _fail


class Replacing:
    """Replaces a module attribute when the module first looks at it."""

    def __init__(self, module, name, value):
        self.module, self.name, self.value = module, name, value

    def _replace(self, *args):
        if hasattr(self.module, self.name):
            setattr(self.module, self.name, self.value)
        return 1

    __len__ = __float__ = __int__ = __index__ = __hash__ = _replace

    def __eq__(self, other):
        self._replace()
        return False

    def __iter__(self):
        self._replace()
        return iter([0, 1])


def frames():
    column = st.sampled_from(
        [
            lambda n: np.arange(n, dtype=float),
            lambda n: pd.array([1, None] * n, dtype="Int64")[:n],
            lambda n: pd.array([True, None] * n, dtype="boolean")[:n],
            lambda n: pd.Categorical(["a", "b"] * n)[:n],
            lambda n: pd.array(["x", None] * n, dtype="string")[:n],
            lambda n: pd.date_range("2020", periods=n),
            lambda n: np.array(
                ["1.5", None, np.nan, pd.NA, b"b", "abc", 3, "\ud800"] * n, dtype=object
            )[:n],
            lambda n: np.full(n, np.nan),
            lambda n: np.array([1 + 2j] * n),
        ]
    )
    labels = st.sampled_from(
        [
            ["a", "b", "c"],
            [0, 1, 2],
            ["a", "a", "b"],
            [("t", 1), ("t", 2), 3],
            ["index", "y", "target"],
        ]
    )

    @st.composite
    def build(draw):
        n = draw(st.sampled_from([0, 1, 2, 7]))
        names = draw(labels)[: draw(st.integers(0, 3))]
        data = [pd.Series(draw(column)(n)) for _ in names]
        frame = pd.concat(data, axis=1) if data else pd.DataFrame(index=range(n))
        frame.columns = names
        if draw(st.booleans()):
            frame.index.name = "index"
        return frame

    return build()


def values(module):
    atoms = st.one_of(
        st.none(),
        st.booleans(),
        st.integers(-(2**70), 2**70),
        st.sampled_from([0, 1, 2, -1]),
        st.floats(allow_nan=True, allow_infinity=True),
        st.complex_numbers(),
        st.text(st.characters(codec=None, exclude_categories=()), max_size=20),
        st.binary(max_size=8),
        st.sampled_from(VOCABULARY),
        st.sampled_from([pd.NA, pd.NaT, np.nan, "x" * 1_000_000]),
        st.builds(Raising),
    )
    arrays = hnp.arrays(
        st.sampled_from(
            [np.float64, np.int64, np.bool_, np.complex128, "datetime64[ns]", np.float32]
        ),
        hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=4),
    )
    replacing = st.builds(
        Replacing,
        st.just(module),
        st.sampled_from(public_names(module)),
        st.one_of(st.sampled_from([None, 0]), st.builds(Raising)),
    )
    object_arrays = st.lists(atoms, max_size=5).map(object_array)
    leaves = st.one_of(atoms, arrays, object_arrays, frames(), replacing)
    return st.recursive(
        leaves,
        lambda inner: st.one_of(
            st.lists(inner, max_size=4),
            st.tuples(inner, inner),
            st.dictionaries(
                st.one_of(st.sampled_from(VOCABULARY), st.integers(0, 3)), inner, max_size=3
            ),
        ),
        max_leaves=6,
    )


def object_array(items):
    array = np.empty(len(items), dtype=object)
    array[:] = items
    return array


def public_names(module):
    return [name for name in vars(module) if not name.startswith("__")] or ["__doc__"]


def is_native_function(value, module):
    """A Python-style function of ours, or a plain pybind11 function defined in the module
    (the model kernels')."""
    # By the type's name: on CPython 3.9 the type's __module__ attribute is
    # shadowed by its instances' __module__ member.
    if repr(type(value)) == "<class 'zeka.function'>":
        return True
    return (
        isinstance(value, types.BuiltinFunctionType)
        and getattr(value, "__module__", None) == module.__name__
    )


def small_data():
    from zeka.data.dataset import Dataset

    rng = np.random.default_rng(0)
    frame = pd.DataFrame(rng.normal(size=(60, 3)), columns=["a", "b", "c"])
    frame["y"] = frame["a"] * 2 + rng.normal(size=60)
    return frame, Dataset(frame, target="y")


def instances(module):
    """Working instances of the module's classes, for their bound methods."""
    frame, dataset = small_data()
    x = frame[["a", "b", "c"]].to_numpy()
    name = module.__name__.rsplit(".", 1)[-1]
    made = {}
    if name == "tabular_prep":
        made["DataPreprocessor"] = module.DataPreprocessor([0, 2], [1], "unit_norm", "ordinal")
        made["DataPreprocessor"].fit(np.round(x))
    elif name == "novelty":
        made["OneClassSVM"] = module.OneClassSVM()
        made["OneClassSVM"].fit(x)
    elif name == "workbench":
        from zeka.config.estimator_settings import model_param_items

        made["ModelAPI"] = module.ModelAPI(
            dataset, model_list=["glm"], model_item=model_param_items
        )
    elif name == "quality_scan":
        made["DataIntegrityCheck"] = module.DataIntegrityCheck(frame, None)
    elif name == "variable_screen":
        made["FeatureSelection"] = module.FeatureSelection(
            method="cor", X=x, y=frame["y"].to_numpy(), feature_names=["a", "b", "c"]
        )
    elif name == "shap":
        from sklearn.linear_model import LinearRegression

        made["SHAP"] = module.SHAP(
            LinearRegression().fit(x, frame["y"]),
            feature_names=["a", "b", "c"],
            masker_sample_size=20,
            sample_size=20,
        )
        made["SHAP"].fit(x)
    return made


def entry_points(module):
    """(label, callable) for every public callable of the module."""
    made = instances(module)
    points = []
    for name, value in vars(module).items():
        if name.startswith("_") and name != "__sklearn_is_fitted__":
            continue
        if is_native_function(value, module):
            points.append((name, value))
        elif isinstance(value, type) and value.__module__ == module.__name__:
            points.append((f"{name}()", value))
            for attr, member in vars(value).items():
                # scikit-learn's mixins may wrap our methods in Python functions
                function = member.__func__ if isinstance(member, staticmethod) else member
                if not callable(function) or attr.startswith("_") and attr != "__init__":
                    continue
                points.append((f"{name}.{attr}", function))
                if name in made and not isinstance(member, staticmethod):
                    points.append((f"{name}().{attr}", getattr(made[name], attr)))
    return points


def parameter_names(function):
    try:
        return [p for p in inspect.signature(function).parameters if p != "self"]
    except (TypeError, ValueError):
        return []


def is_internal(error):
    """Whether an exception is ours to fix rather than an ordinary Python error."""
    if isinstance(error, SystemError):
        return True
    if isinstance(error, RuntimeError):
        frames = traceback.extract_tb(error.__traceback__)
        return len(frames) <= 1  # raised inside native code, not by a library's Python
    return False


def fuzz_entry_point(module, label, function, examples, derandomize):
    names = parameter_names(function)
    keyword = st.sampled_from(names + ["bogus"]) if names else st.just("bogus")
    failures = []
    count = [0]
    snapshot = dict(vars(module))

    @settings(
        max_examples=examples,
        deadline=None,
        database=None,
        derandomize=derandomize,
        suppress_health_check=list(HealthCheck),
        phases=[Phase.generate],
    )
    @given(
        args=st.lists(values(module), max_size=len(names) + 1),
        kwargs=st.dictionaries(keyword, values(module), max_size=2),
    )
    def run(args, kwargs):
        count[0] += 1
        faulthandler.dump_traceback_later(HANG_SECONDS, exit=True)
        try:
            function(*args, **kwargs)
        except Exception as error:  # noqa: BLE001 - ordinary errors pass
            if is_internal(error) and len(failures) < 5:
                failures.append(f"{type(error).__name__}: {error}"[:300])
        finally:
            faulthandler.cancel_dump_traceback_later()
            vars(module).clear()
            vars(module).update(snapshot)
            matplotlib.pyplot.close("all")

    run()
    return count[0], failures


def shard(text):
    """``I/N`` as the pair (I, N), with 1 <= I <= N."""
    try:
        index, count = (int(part) for part in text.split("/"))
    except ValueError:
        raise argparse.ArgumentTypeError("expected I/N, got %r" % text) from None
    if not 1 <= index <= count:
        raise argparse.ArgumentTypeError("expected 1 <= I <= N, got %r" % text)
    return index, count


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--examples", type=int, default=10_000)
    parser.add_argument("--module", action="append", help="only these modules (repeatable)")
    parser.add_argument("--derandomize", action="store_true")
    parser.add_argument(
        "--entry", action="append", help="only these entry points, by label (repeatable)"
    )
    parser.add_argument(
        "--shard",
        default="1/1",
        type=shard,
        help="I/N: only every N-th entry point, starting at the I-th",
    )
    options = parser.parse_args(argv)
    index, shards = options.shard
    warnings.simplefilter("ignore")
    import matplotlib.pyplot  # noqa: F401 - for closing figures between calls

    total_failures = 0
    position = 0
    for module_name in options.module or installed_native_modules():
        module = importlib.import_module(module_name)
        for label, function in entry_points(module):
            position += 1
            if position % shards != index % shards:
                continue
            if options.entry and label not in options.entry:
                continue
            start = time.perf_counter()
            count, failures = fuzz_entry_point(
                module, label, function, options.examples, options.derandomize
            )
            seconds = time.perf_counter() - start
            print(
                f"{module_name:40s} {label:45s} {count:7d} examples {seconds:8.1f} s "
                f"{len(failures)} failures",
                flush=True,
            )
            for failure in failures:
                print("    FAIL", failure, flush=True)
            total_failures += len(failures)
    print(f"fuzz: {total_failures} failures")
    return 1 if total_failures else 0


if __name__ == "__main__":
    sys.exit(main())
