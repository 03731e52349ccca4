"""Tests of conditional independence (native module ``core``)."""
