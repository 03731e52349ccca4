"""Small helpers for the plain-language readings of the steps."""


def pct(share):
    """A share in [0, 1] as a percentage with one decimal."""
    return "{:.1f}%".format(100 * float(share))


def names(items, limit=6):
    """A list of names for a sentence; past `limit`, the rest are counted."""
    items = [str(i) for i in items]
    if len(items) > limit:
        return ", ".join(items[:limit]) + " and {} more".format(len(items) - limit)
    return ", ".join(items)
