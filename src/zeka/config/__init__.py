"""Parameter, metric and dataset tables."""
