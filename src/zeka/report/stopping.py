"""Stopping the report on Ctrl-C, SIGTERM or SIGHUP, whatever the libraries do with it.

A Ctrl-C raises KeyboardInterrupt wherever Python happens to be, and some
places drop it: a weak-reference callback or a finaliser prints it and goes
on, a library may catch it. So the handler here also records the signal, and
the report checks the record between steps and before it puts the report in
place. SIGTERM and SIGHUP raise too (by default they would end the process at
once, leaving the temporary file behind).
"""

import signal
import sys
import threading
from contextlib import contextmanager

SIGNALS = tuple(
    getattr(signal, name) for name in ("SIGINT", "SIGTERM", "SIGHUP") if hasattr(signal, name)
)


class Stopped(KeyboardInterrupt):
    """SIGTERM or SIGHUP arrived; a KeyboardInterrupt, so the libraries clean up as for Ctrl-C."""

    def __init__(self, signum):
        super().__init__(signal.Signals(signum).name)
        self.signum = signum


class StopSignals:
    """While active, Ctrl-C, SIGTERM and SIGHUP stop the report; the previous handlers
    come back afterwards.

    `received` is the first such signal. Inside `deferred()` a signal is only
    recorded (file bookkeeping that must not be cut in half); after `finish()`
    it is ignored: the report is in place, there is nothing left to stop.
    """

    def __init__(self):
        self.received = None
        self._previous = {}
        self._deferring = 0
        self._finished = False
        self._previous_hook = None

    def __enter__(self):
        if threading.current_thread() is threading.main_thread():
            for signum in SIGNALS:
                self._previous[signum] = signal.signal(signum, self._handle)
            self._previous_hook = sys.unraisablehook
            sys.unraisablehook = self._unraisable
        return self

    def __exit__(self, *exc_info):
        for signum, handler in self._previous.items():
            signal.signal(signum, handler)
        self._previous = {}
        if self._previous_hook is not None:
            sys.unraisablehook = self._previous_hook
            self._previous_hook = None
        return False

    def _unraisable(self, unraisable):
        """A stop dropped where Python cannot raise (a weak-reference callback, a finaliser)
        is acted on at the next check; its traceback would only clutter the terminal."""
        if self.received is not None and isinstance(unraisable.exc_value, KeyboardInterrupt):
            return
        self._previous_hook(unraisable)

    def _handle(self, signum, frame):
        if self._finished:
            return
        if self.received is None:
            self.received = signum
        if not self._deferring:
            raise _stop_exception(signum)

    def check(self):
        """Raise if a signal arrived, even if the exception it raised was dropped."""
        if self.received is not None and not self._finished:
            raise _stop_exception(self.received)

    @contextmanager
    def deferred(self):
        """Signals are only recorded inside; call check() after to act on them."""
        self._deferring += 1
        try:
            yield
        finally:
            self._deferring -= 1

    def finish(self):
        """From now on signals are ignored: the work they would stop is done."""
        self._finished = True


def _stop_exception(signum):
    return KeyboardInterrupt() if signum == signal.SIGINT else Stopped(signum)
