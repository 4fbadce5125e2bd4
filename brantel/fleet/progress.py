"""What a run did, and the progress line on a terminal."""
from __future__ import annotations

import time
from typing import IO, Optional


class Summary:
    """What a run did: inputs found, machines and memory devices written, inputs failed."""

    def __init__(self, total: int) -> None:
        self.total = total
        self.machines = 0
        self.devices = 0
        self.failed = 0

    @property
    def done(self) -> int:
        return self.machines + self.failed


class _Progress:
    """A progress line on a terminal, for runs that last more than a second."""

    DELAY, INTERVAL = 1.0, 0.2

    def __init__(self, summary: Summary, stream: Optional[IO[str]]) -> None:
        self._summary = summary
        isatty = getattr(stream, "isatty", None)
        self._stream = stream if isatty is not None and isatty() else None
        self._start = time.monotonic()
        self._next = self._start + self.DELAY
        self._shown = False

    def update(self) -> None:
        if self._stream is None:
            return
        now = time.monotonic()
        if now < self._next:
            return
        self._next = now + self.INTERVAL
        self._show(now)

    def _show(self, now: float) -> None:
        assert self._stream is not None
        summary = self._summary
        rate = summary.done / max(now - self._start, 1e-9)
        failed = f", {summary.failed} failed" if summary.failed else ""
        self._stream.write(f"\rbrantel table: {summary.done} of {summary.total} inputs{failed}, {rate:.0f}/s ")
        self._stream.flush()
        self._shown = True

    def finish(self) -> None:
        if self._stream is not None and self._shown:
            self._show(time.monotonic())
            self._stream.write("\n")
            self._stream.flush()
