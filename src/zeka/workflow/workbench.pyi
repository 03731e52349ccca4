"""Model-training workflow: prepare, register, train, score and rank model pipelines."""

from copy import copy as copy
from copy import deepcopy as deepcopy
from typing import Any, Iterable, Mapping, Protocol, Sequence

import pandas as pd
from sklearn.base import is_classifier as is_classifier
from sklearn.base import is_regressor as is_regressor
from sklearn.metrics import accuracy_score as accuracy_score
from sklearn.metrics import r2_score as r2_score
from sklearn.utils.validation import check_is_fitted as check_is_fitted

from zeka.exceptions import ZekaError as ZekaError
from zeka.exceptions import ZekaInfo as ZekaInfo
from zeka.exceptions import ZekaWarning as ZekaWarning
from zeka.models import ZEKACLASSIFIER as ZEKACLASSIFIER
from zeka.models import ZEKAREGRESSOR as ZEKAREGRESSOR
from zeka.models import get_model_name as get_model_name
from zeka.workflow.pipeline import ModelPipeline as ModelPipeline

class _Scorer(Protocol):
    """A scikit-learn scorer: called by keyword, ``_sign`` is +1 or -1."""

    _sign: int
    def __call__(self, estimator: Any, X: Any, y_true: Any, sample_weight: Any = ...) -> Any: ...

class _Dataset(Protocol):
    """What the workflow reads of the dataset object it is given."""

    @property
    def task_type(self) -> str: ...
    @property
    def feature_names(self) -> Any: ...
    @property
    def feature_types(self) -> Any: ...
    @property
    def scoring(self) -> Mapping[str, _Scorer]: ...

# A parameter entry: [widget type, widget arguments, label, default].
_ParameterTable = Mapping[str, Mapping[str, Sequence[Any]]]
# Score name ("test_MSE", "train_AUC", ..., "fit_time") to score.
_Record = dict[str, Any]

def __sklearn_is_fitted__() -> bool: ...

class ModelAPI:
    dataset: Any
    model_list: Iterable[str] | None
    model_item: _ParameterTable | None
    highcode_mode: Any
    processed_data: dict[Any, Any]
    model_config: dict[str, dict[str, Any]]
    model_dict: dict[str, ModelPipeline]
    custom_model_dict: dict[str, ModelPipeline]
    registered_pipeline: dict[str, ModelPipeline]
    training_record: dict[str, _Record]
    training_failed_list: list[Any]
    cache: dict[Any, Any]
    def __init__(
        self,
        dataset: _Dataset,
        model_list: Iterable[str] | None = None,
        model_item: _ParameterTable | None = None,
        highcode_mode: bool = False,
    ) -> None: ...
    def make_pipeline(self, estimator: Any) -> ModelPipeline: ...
    def get_model(self, name: str) -> ModelPipeline: ...
    def register_model(
        self,
        pipeline: ModelPipeline | None = None,
        name: str | None = None,
        support_hpo: bool = False,
    ) -> None: ...
    def get_model_config(self, model: str) -> list[list[Any]]: ...
    def model_config_setting(
        self, param_dict: Mapping[str, Mapping[str, Any]] | None = None
    ) -> dict[str, dict[str, Any]]: ...
    def model_prepare(self) -> dict[str, ModelPipeline]: ...
    def get_leaderboard(self, rank_metric: str | None = None) -> pd.DataFrame | None: ...
    def get_leaderboard_registered(self, rank_metric: str | None = None) -> pd.DataFrame | None: ...
    def evaluate(self, pipeline: ModelPipeline) -> _Record: ...
    def singlerun(self, pipeline: ModelPipeline, name: str) -> None: ...
