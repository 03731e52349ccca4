"""What the libraries say while a step runs: warnings into its section, prints nowhere."""

import io
import warnings
from contextlib import contextmanager, redirect_stderr, redirect_stdout


def warning_text(caught):
    """One short, distinct line per recorded warning about the data."""
    texts = []
    for item in caught:
        if issubclass(
            item.category, (DeprecationWarning, PendingDeprecationWarning, FutureWarning)
        ):
            continue  # notes between libraries about their next versions, not about the data
        text = "{}: {}".format(
            item.category.__name__,
            str(item.message).strip().splitlines()[0] if str(item.message).strip() else "",
        )
        text = text if len(text) <= 220 else text[:217] + "..."
        if text not in texts:
            texts.append(text)
    return texts


@contextmanager
def collect_warnings(section):
    """Library warnings of a step go into its section instead of the terminal."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        yield
    section.warnings.extend(t for t in warning_text(caught) if t not in section.warnings)


@contextmanager
def quiet_libraries():
    """Progress bars and prints of the libraries (shap's explainers) stay off the terminal;
    the report's own bars keep the stream they were made with."""
    sink = io.StringIO()
    with redirect_stdout(sink), redirect_stderr(sink):
        yield
