"""Hyper-parameter tables of the model families and outlier detectors, their
adaptation to library versions, and the conversion of widget values."""

from typing import Any, MutableMapping, Protocol, Sequence, TypeVar

# A parameter entry: [widget class name, widget arguments, label, default].
_ParameterEntry = list[Any]
# Parameter key to entry, for one model or method.
_ParameterTable = dict[str, _ParameterEntry]
_Tables = TypeVar("_Tables", bound=MutableMapping[str, Any])

class _Dataset(Protocol):
    @property
    def task_type(self) -> str: ...
    @property
    def feature_names(self) -> Any: ...

model_name_items: dict[str, str]
model_param_items: dict[str, _ParameterTable]
INTERPRET_PANEL_SETTING: dict[str, list[str]]
INTERPRET_SUPPORT: dict[str, list[str]]
od_param_items: dict[str, _ParameterTable]
NEED_RENDER_MODEL_PARAMS: dict[str, list[str]]
NEED_RENDER_OD_PARAMS: dict[str, list[str]]
NEED_RENDER_PARAMS: dict[str, list[str]]

def model_param_specific(model_param_items: _Tables, dataset: _Dataset) -> _Tables:
    """Adapt the table in place to the installed libraries and the dataset; returns it."""

def param_render(
    model_name: str, param_name: str, param_value: Any, flis: Sequence[Any] | None = None
) -> Any:
    """The estimator's form of one widget value (the value itself when it needs no conversion)."""
