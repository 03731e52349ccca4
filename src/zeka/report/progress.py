"""The report's progress bars."""


def progress_bar(settings, **kwargs):
    """A tqdm bar on the settings' stream, off when the settings say so."""
    from tqdm.auto import tqdm

    return tqdm(disable=not settings.progress, dynamic_ncols=True, file=settings.stream, **kwargs)
