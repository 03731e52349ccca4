"""zeka: interpretable machine learning for tabular data."""

__version__ = "0.1.0"
