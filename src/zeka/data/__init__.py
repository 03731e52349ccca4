"""Data preparation, integrity checks, feature selection and outlier detection."""
