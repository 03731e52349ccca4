"""One pass over a column gathering every per-value fact the integrity checks use."""

from typing import Any, Optional

import pandas as pd

def column_facts(
    column: pd.Series, *, examples: int = 3, long_over: Optional[int] = None
) -> Optional[dict[str, Any]]:
    """The per-value facts of one pandas column, in one pass."""
