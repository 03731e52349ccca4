"""Properties every native module shares: Python-style functions, lean exports."""

import copy
import gc
import importlib
import pathlib
import pickle
import shutil
import subprocess
import sys
import textwrap
import weakref

import pytest

from reference.native_modules import declared_native_modules, installed_native_modules
from zeka.config import estimator_settings as es

NATIVE_MODULES = installed_native_modules()


def test_every_module_the_build_declares_is_installed():
    assert NATIVE_MODULES == declared_native_modules()
    assert len(NATIVE_MODULES) >= 14


def built_modules():
    return [importlib.import_module(name) for name in NATIVE_MODULES]


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs binutils' nm")
@pytest.mark.parametrize("module", list(built_modules()), ids=lambda m: m.__name__)
def test_extension_exports_only_its_init_function(module):
    path = pathlib.Path(module.__file__)
    assert path.suffix == ".so"
    out = subprocess.run(
        ["nm", "-D", "--defined-only", str(path)], capture_output=True, text=True, check=True
    ).stdout
    symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
    leaf = module.__name__.rsplit(".", 1)[-1]
    assert symbols == [f"PyInit_{leaf}"]


@pytest.mark.parametrize(
    "module, dependency",
    [
        ("zeka.config.estimator_settings", "packaging.version"),
        ("zeka.config.estimator_settings", "ipywidgets"),
        ("zeka.config.misc_settings", "sklearn.metrics"),
    ],
)
def test_a_failed_import_of_a_dependency_fails_the_import_with_that_error(module, dependency):
    script = textwrap.dedent(f"""
        import sys
        sys.modules[{dependency!r}] = None
        try:
            import {module}
        except BaseException as error:
            print(type(error).__name__, error)
        else:
            print("imported")
    """)
    out = subprocess.run(
        [sys.executable, "-c", script], capture_output=True, text=True, check=True
    ).stdout.strip()
    assert out == f"ModuleNotFoundError import of {dependency} halted; None in sys.modules"


def test_functions_bind_as_methods_when_stored_on_a_class():
    class Holder:
        render = es.param_render

    holder = Holder()
    bound = holder.render
    assert bound.__self__ is holder and bound.__func__ is es.param_render
    # the instance arrives as model_name, exactly as for a def in a class body
    with pytest.raises(KeyError):
        bound("bootstrap", "True")
    assert Holder.render is es.param_render
    assert str(__import__("inspect").signature(bound)) == "(param_name, param_value, flis=None)"


def test_functions_have_a_dict_and_weak_references():
    es.param_render.note = "kept"
    try:
        assert vars(es.param_render)["note"] == "kept"
    finally:
        del es.param_render.note
    ref = weakref.ref(es.param_render)
    assert ref() is es.param_render


def test_functions_pickle_by_reference():
    assert pickle.loads(pickle.dumps(es.model_param_specific)) is es.model_param_specific


def test_names_can_be_set_like_a_function():
    function = es.param_render
    old = function.__qualname__
    try:
        function.__qualname__ = "renamed"
        assert repr(function).startswith("<function renamed at")
        with pytest.raises(TypeError):
            function.__qualname__ = 3
    finally:
        function.__qualname__ = old


def test_globals_are_read_at_call_time(monkeypatch):
    monkeypatch.setitem(es.__dict__, "NEED_RENDER_PARAMS", {"custom": ["p"]})
    with pytest.raises(KeyError):
        es.param_render("glm", "l1_regularization", 1)
    monkeypatch.delitem(es.__dict__, "NEED_RENDER_PARAMS")
    with pytest.raises(NameError, match="name 'NEED_RENDER_PARAMS' is not defined"):
        es.param_render("glm", "l1_regularization", 1)


def test_calls_leave_no_garbage_behind():
    gc.collect()
    before = len(gc.get_objects())
    for _ in range(200):
        es.param_render("gaminet", "max_epochs", "1, 2")
        try:
            es.param_render("nope", "x", 1)
        except KeyError:
            pass
    gc.collect()
    assert len(gc.get_objects()) - before < 50


@pytest.mark.parametrize(
    "use",
    [
        "f = T(); gc.collect()",
        "repr(T())",
        "T()()",
        "inspect.signature(T())",
        "object.__new__(T)",
        "T.__new__(T)",
        "type('Sub', (T,), {})",
    ],
)
def test_the_function_type_cannot_be_instantiated_or_subclassed_from_python(use):
    # An instance made from Python would have no code to run: each of these
    # crashed the interpreter while the type could be instantiated.
    script = textwrap.dedent(f"""
        import gc, inspect
        from zeka.data.tabular_prep import DataPreprocessor
        T = type(DataPreprocessor.fit)
        try:
            {use}
        except TypeError as error:
            print("TypeError")
    """)
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert (run.returncode, run.stdout.strip()) == (0, "TypeError"), run.stderr


@pytest.mark.parametrize(
    "attribute, value",
    [("__module__", 3), ("__doc__", b"x"), ("__module__", None), ("__dict__", {"a": 1})],
)
def test_function_attributes_take_odd_values_and_deletion(attribute, value):
    function = es.param_render
    saved = getattr(function, attribute)
    try:
        setattr(function, attribute, value)
        assert getattr(function, attribute) == value
        if attribute != "__dict__":
            delattr(function, attribute)
            assert getattr(function, attribute) is None
        repr(function), gc.get_referents(function), copy.copy(function)
        assert function("gaminet", "max_epochs", "1, 2") == [1, 2]
    finally:
        setattr(function, attribute, saved)
