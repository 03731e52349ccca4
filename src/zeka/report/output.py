"""Where the report goes: a temporary file beside the output, renamed when complete.

The output is refused when it is a file the command reads (by any path, a
symbolic or a hard link), so the report never replaces the user's data.
"""

import os
import tempfile

from zeka.report.inputs import ReportInputError


def refuse_inputs(out, inputs):
    """A one-line refusal when `out` is the same file as one of `inputs`."""
    for path in inputs:
        if _same_file(out, path):
            raise ReportInputError(
                "--out {!r} is the input file {!r}; the report never "
                "replaces a file it reads: choose another --out".format(
                    os.fspath(out), os.fspath(path)
                )
            )


def _same_file(first, second):
    try:
        return os.path.samefile(first, second)
    except OSError:  # one of them does not exist (yet): not the same file
        return False


class Output:
    """The temporary file of one report and the path it becomes.

    `stop` (stopping.StopSignals) keeps a signal from cutting the bookkeeping
    in half: the temporary file is always known while it exists, and the
    rename happens only when no signal has arrived.
    """

    def __init__(self, path, stop):
        self.path = path
        self.stop = stop
        self.temporary = None
        self.folder = os.path.dirname(os.path.abspath(path))
        if os.path.isdir(path):
            raise ReportInputError(
                "--out {!r} is a folder; give a file name such as report.html".format(path)
            )
        if not os.path.isdir(self.folder):
            raise ReportInputError(
                "the folder {!r} does not exist; create it or choose another --out".format(
                    self.folder
                )
            )

    def create(self):
        """Make the temporary file now: an unwritable folder fails before any work is done."""
        with self.stop.deferred():
            try:
                handle, self.temporary = tempfile.mkstemp(
                    prefix=".zeka-report-", suffix=".html.part", dir=self.folder
                )
            except OSError as error:
                raise ReportInputError(
                    "cannot write to the folder {!r} ({}); choose another --out".format(
                        self.folder, error.strerror or error
                    )
                ) from None
            os.close(handle)
        self.stop.check()
        return self

    def write(self, text):
        with open(self.temporary, "w", encoding="utf-8") as handle:
            handle.write(text)
        os.chmod(self.temporary, 0o644)

    def commit(self):
        """Put the report in place, unless a signal asked to stop before."""
        with self.stop.deferred():
            self.stop.check()
            os.replace(self.temporary, self.path)
            self.temporary = None
            self.stop.finish()

    def discard(self):
        """Remove the temporary file, if it is still there."""
        with self.stop.deferred():
            if self.temporary is not None and os.path.exists(self.temporary):
                os.remove(self.temporary)
            self.temporary = None
