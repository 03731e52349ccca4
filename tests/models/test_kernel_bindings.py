"""The model-kernel modules are plain pybind11 functions: each has the parameters of its
stub, a signature inspect and help() read, and refuses a wrong call with a TypeError."""

import ast
import inspect
import pathlib
import pydoc
import re
import types

import pytest

from zeka.interpret import _terms, _view_kernels
from zeka.models import _boost_tree, _pair_gain, _subnet

MODULES = [_subnet, _pair_gain, _boost_tree, _view_kernels, _terms]


def stub_parameters(module):
    """Function name -> parameter names, read from the module's stub."""
    stub = pathlib.Path(module.__file__).with_name(module.__name__.rsplit(".", 1)[1] + ".pyi")
    return {
        node.name: [a.arg for a in node.args.args]
        for node in ast.parse(stub.read_text()).body
        if isinstance(node, ast.FunctionDef)
    }


FUNCTIONS = [
    (module, name, params) for module in MODULES for name, params in stub_parameters(module).items()
]
IDS = [f"{module.__name__}.{name}" for module, name, _ in FUNCTIONS]


def test_the_stubs_name_every_public_function():
    for module in MODULES:
        public = {
            name
            for name, value in vars(module).items()
            if callable(value) and not name.startswith("_")
        }
        assert public == set(stub_parameters(module))


@pytest.mark.parametrize("module, name, params", FUNCTIONS, ids=IDS)
def test_signature_and_help(module, name, params):
    function = getattr(module, name)
    assert isinstance(function, types.BuiltinFunctionType)
    assert function.__module__ == module.__name__
    signature = inspect.signature(function)
    assert list(signature.parameters) == params
    assert all(
        p.kind is p.POSITIONAL_OR_KEYWORD and p.default is p.empty
        for p in signature.parameters.values()
    )
    # the text signature is consumed, not left at the top of the docstring
    first_line = function.__doc__.splitlines()[0]
    assert first_line and not first_line.startswith(name + "(")
    page = pydoc.render_doc(function, renderer=pydoc.plaintext)
    # newer pydoc releases put a long signature one parameter a line
    assert f"{name}({','.join(params)})" in re.sub(r"\s+", "", page)
    assert first_line in page


@pytest.mark.parametrize("module, name, params", FUNCTIONS, ids=IDS)
def test_wrong_calls_are_type_errors(module, name, params):
    function = getattr(module, name)
    with pytest.raises(TypeError):
        function()
    with pytest.raises(TypeError):
        function(*[None] * (len(params) + 1))
    with pytest.raises(TypeError):
        function(**{p: None for p in params}, bogus=None)
