"""Scaling of numerical and encoding of categorical columns of a numeric matrix."""

from typing import Any, Literal

import numpy as np
import numpy.typing as npt
from sklearn.base import TransformerMixin as TransformerMixin
from sklearn.compose import ColumnTransformer as ColumnTransformer
from sklearn.impute import SimpleImputer as SimpleImputer
from sklearn.pipeline import FeatureUnion as FeatureUnion
from sklearn.pipeline import Pipeline as Pipeline
from sklearn.preprocessing import MinMaxScaler as MinMaxScaler
from sklearn.preprocessing import OneHotEncoder as OneHotEncoder
from sklearn.preprocessing import OrdinalEncoder as OrdinalEncoder
from sklearn.preprocessing import StandardScaler as StandardScaler

# Standardise, scale to [0, 1], or leave numerical columns as they are.
_Normalize = Literal["unit_norm", "minmax"] | None
# One-hot codes (first level dropped), ordinal codes, or categorical columns passed through.
_Encode = Literal["one_hot", "ordinal"] | None

class DataPreprocessor(TransformerMixin):
    nfeature_index_list: list[int]
    cfeature_index_list: list[int]
    normalize_strategy: _Normalize
    encode_strategy: _Encode
    feature_names: Any
    # Set by fit_transform (and fit).
    c_hot_f: dict[int, int]
    ctransformer: ColumnTransformer
    ntransformer: Pipeline | ColumnTransformer
    transformer_: Pipeline
    def __init__(
        self,
        nfeature_index_list: list[int],
        cfeature_index_list: list[int],
        normalize_strategy: _Normalize = "unit_norm",
        encode_strategy: _Encode = "one_hot",
        feature_names: Any = None,
    ) -> None: ...
    def fit_transform(self, x: npt.ArrayLike) -> npt.NDArray[Any]:
        """Fit the preprocessing on x and return the model-ready matrix."""
    def fit(self, x: npt.ArrayLike) -> None:
        """Fit the preprocessing on x; returns None (not self)."""
    def transform(self, x: npt.ArrayLike) -> npt.NDArray[Any]: ...
    # scikit-learn's estimator conventions (with set_output(transform="pandas"),
    # transform and fit_transform return labelled data frames).
    def get_params(self, deep: bool = True) -> dict[str, Any]: ...
    def set_params(self, **params: Any) -> DataPreprocessor: ...
    def get_feature_names_out(self, input_features: Any = None) -> npt.NDArray[np.object_]: ...
    def __sklearn_tags__(self) -> Any: ...
