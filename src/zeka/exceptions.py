"""Exceptions and notices raised by zeka."""


class ZekaError(Exception):
    """An error in how zeka was called or configured."""


class ZekaWarning(UserWarning):
    """A warning about a questionable but usable input."""


class ZekaInfo(UserWarning):
    """A notice that carries information only."""
