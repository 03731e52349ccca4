"""Small result types shared by the modules."""


class TestDataResult:
    """A named result: ``key`` says what ``value`` holds."""

    __test__ = False  # not a pytest test class despite its name

    def __init__(self, key=None, value=None):
        self.key = key
        self.value = value

    def __repr__(self):
        return f"TestDataResult(key={self.key!r}, value={type(self.value).__name__})"
