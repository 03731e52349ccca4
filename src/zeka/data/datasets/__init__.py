"""Builders of the package's built-in demonstration tables."""
