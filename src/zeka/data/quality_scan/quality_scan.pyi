"""Integrity checks of a raw data frame, one method per check, and a combined report."""

from collections import defaultdict as defaultdict
from typing import Any, TypedDict

import pandas as pd
from pandas.api.types import infer_dtype as infer_dtype
from pandas.io.formats.style import Styler

from zeka.data.quality_scan.correlation import correlation_ratio as correlation_ratio
from zeka.data.quality_scan.correlation import (
    symmetric_theil_u_correlation as symmetric_theil_u_correlation,
)
from zeka.data.quality_scan.utils import format_list as format_list
from zeka.data.quality_scan.utils import format_number as format_number
from zeka.data.quality_scan.utils import is_string_column as is_string_column
from zeka.data.quality_scan.utils import string_baseform as string_baseform
from zeka.data.quality_scan.utils import truncate_string as truncate_string

class _MixRecord(TypedDict):
    """Shares of text and number values of a mixed column, with up to three examples each."""

    strings: float
    numbers: float
    strings_examples: set[Any]
    numbers_examples: set[Any]

class DataIntegrityCheck:
    data: pd.DataFrame
    meta_info: dict[Any, str] | None
    def __init__(self, data: pd.DataFrame, meta_info: dict[Any, str] | None) -> None: ...
    def is_single_value(self) -> pd.DataFrame: ...
    def null_ratio(self) -> pd.DataFrame: ...
    def long_string(
        self, quantile_threshold: float = 0.8, length_difference: int = 5
    ) -> pd.DataFrame: ...
    def special_characters(self, n_most_common: int = 2) -> pd.DataFrame: ...
    def mixed_data_type(self) -> pd.DataFrame: ...
    def duplicated_samples(self) -> pd.DataFrame | str:
        """The duplicated samples, or the text "Dataset does not contain any data" for no rows."""
    def highly_correlated_features(self) -> Styler: ...
    def single_column_check(self) -> Styler: ...
    def _get_data_mix(self, column_data: pd.Series) -> _MixRecord | None: ...
    @staticmethod
    def _check_mixed_percentage(column_data: pd.Series) -> _MixRecord | None: ...
    @staticmethod
    def _get_special_samples(column_data: pd.Series) -> defaultdict[Any, int] | None: ...
