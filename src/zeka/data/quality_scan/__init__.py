"""Integrity checks of raw tabular data (module quality_scan) and their helpers."""
