"""Outlier detection."""
