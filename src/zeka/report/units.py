"""A scaler that lets the dependence plot label its ticks in a feature's own units."""

import numpy as np


class OriginalUnits:
    """The fitted standardisation of the numerical features, seen over all features.

    The dependence plot draws a feature as the model saw it (standardised); with this
    as its scaler the tick labels read in the feature's own units. Other features
    pass through unchanged.
    """

    def __init__(self, names, positions, scaler):
        self.feature_names_in_ = np.asarray(names, dtype=object)
        self.n_features_in_ = len(names)
        self.mean_ = np.zeros(len(names))
        self.scale_ = np.ones(len(names))
        self.mean_[positions] = scaler.mean_
        self.scale_[positions] = scaler.scale_

    def transform(self, x):
        return (np.asarray(x, dtype=float) - self.mean_) / self.scale_

    def inverse_transform(self, x):
        return np.asarray(x, dtype=float) * self.scale_ + self.mean_


def original_units(pipeline, names, feature):
    """A scaler for the dependence plot's ticks, or None when the feature is not standardised."""
    preprocessing = getattr(pipeline, "preprocessing_", None)
    try:
        prep = preprocessing.preprocessor_
        if prep.normalize_strategy != "unit_norm":
            return None
        positions = list(prep.nfeature_index_list)
        scaler = prep.ntransformer.named_steps["scaling"]
        scaler.mean_, scaler.scale_  # noqa: B018 - a fitted scaler has both
    except (AttributeError, KeyError, TypeError):
        return None
    if names.index(feature) not in positions or len(scaler.mean_) != len(positions):
        return None
    return OriginalUnits(names, positions, scaler)
