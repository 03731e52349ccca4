"""help() and repr of native functions and methods read as they do for functions written in
Python: name, signature, docstring, module."""

import inspect
import pickle
import pydoc
import re
import sys
import types

import pytest

from zeka.config import estimator_settings as es
from zeka.data.causality import core
from zeka.data.outlier_detection.novelty import OneClassSVM
from zeka.data.quality_scan import utils
from zeka.data.tabular_prep import DataPreprocessor
from zeka.workflow import workbench

FUNCTIONS = [
    es.param_render,
    es.model_param_specific,
    utils.format_list,
    core.conditional_independence_test,
    workbench.__sklearn_is_fitted__,
]
METHODS = [
    DataPreprocessor.fit,
    DataPreprocessor.get_feature_names_out,
    OneClassSVM.predict,
    OneClassSVM.set_params,
]


def text_help(thing):
    return pydoc.render_doc(thing, renderer=pydoc.plaintext)


def twin(function):
    """A function written in Python with the native one's name, signature, doc and module."""

    def python_function(*args, **kwargs):
        pass

    for name in ("__name__", "__qualname__", "__module__", "__doc__"):
        setattr(python_function, name, getattr(function, name))
    python_function.__signature__ = inspect.signature(function)
    return python_function


@pytest.mark.parametrize("function", FUNCTIONS + METHODS, ids=lambda f: f.__qualname__)
def test_help_reads_like_a_python_functions(function):
    page = text_help(function)
    title, _, body = page.partition("\n\n")
    assert title == (
        f"Python Library Documentation: function {function.__name__} "
        f"in module {function.__module__}"
    )
    # the body is what pydoc writes for a Python function with the same name, signature
    # and docstring, and it has all three
    assert body == text_help(twin(function)).partition("\n\n")[2]
    # (newer pydoc breaks a long signature over several lines)
    signature = re.sub(r"\s+", "", function.__name__ + str(inspect.signature(function)))
    assert re.sub(r"\s+", "", body).startswith(signature)
    if function.__doc__ is not None:
        assert inspect.cleandoc(function.__doc__).splitlines()[0] in body


@pytest.mark.parametrize("function", FUNCTIONS + METHODS, ids=lambda f: f.__qualname__)
def test_native_functions_pass_for_python_functions_and_keep_their_own_type(function):
    assert inspect.isroutine(function) and inspect.isfunction(function)
    assert isinstance(function, types.FunctionType) and not inspect.isbuiltin(function)
    assert type(function).__name__ == "function" and type(function) is not types.FunctionType
    assert not (inspect.iscoroutinefunction(function) or inspect.isgeneratorfunction(function))
    assert function.__code__ is function.__code__
    assert function.__code__.co_name == function.__name__
    assert inspect.getfile(function) == sys.modules[function.__module__].__file__
    with pytest.raises(OSError):
        inspect.getsource(function)
    assert pickle.loads(pickle.dumps(function)) is function
    assert re.fullmatch(
        rf"<function {re.escape(function.__qualname__)} at 0x[0-9a-f]+>", repr(function)
    )


def test_bound_methods_and_the_class_page():
    detector = OneClassSVM()
    assert re.fullmatch(
        r"<bound method OneClassSVM\.predict of OneClassSVM\(\)>", repr(detector.predict)
    )
    assert text_help(detector.predict).startswith(
        "Python Library Documentation: method predict in module "
        "zeka.data.outlier_detection.novelty\n\npredict(X=None, scale=True, threshold=0.9) "
        "method of zeka.data.outlier_detection.novelty.OneClassSVM instance\n"
    )

    page = text_help(DataPreprocessor)
    for method in (
        "fit(self, x)",
        "transform(self, x)",
        "fit_transform(self, x)",
        "get_params(self, deep=True)",
        "set_params(self, **params)",
        "get_feature_names_out(self, input_features=None)",
        "set_output(self, *, transform=None)",
    ):
        assert "\n |  " + method + "\n" in page
    assert " |      Fit the preprocessing pipeline on x; returns None.\n" in page
