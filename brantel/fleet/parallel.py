"""Many inputs, in one or several processes, batch by batch."""
from __future__ import annotations

import os
from collections import deque
from typing import TYPE_CHECKING, Any, Callable, Deque, Iterator, List, Optional, Sequence, Tuple

from brantel.fleet.columns import Row
from brantel.fleet.machine_rows import _inspect

if TYPE_CHECKING:
    from concurrent.futures import Future

#: What a writer makes of one input's rows, in the process that read it:
#: (failed, number of memory devices, what the writer writes).
Encoded = Tuple[bool, int, Any]
Encoder = Callable[[List[Row]], Encoded]
#: What a writer makes of a batch of inputs: (inputs failed, machines, memory devices,
#: the batch's encoded inputs joined by the writer's joiner).
Batch = Tuple[int, int, int, Any]
Joiner = Callable[[List[Any]], Any]


def _as_rows(result: List[Row]) -> Encoded:
    return result[0]["row"] == "error", len(result) - 1, result


def _flatten(results: List[List[Row]]) -> List[Row]:
    return [row for result in results for row in result]


def _as_list(encoded: List[Any]) -> List[Any]:
    return encoded


#: How often a worker looks whether the process that started it is still there.
PARENT_CHECK_SECONDS = 0.25


def _worker_start() -> None:
    # Ctrl-C is for the process that started the run: it stops handing out work and
    # waits for the batches in hand, instead of every worker printing a traceback.
    import signal
    import threading

    signal.signal(signal.SIGINT, signal.SIG_IGN)
    # The command's SIGTERM handler (which cleans up the output) is not the workers' to run.
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    # A main process killed outright (SIGKILL, or SIGTERM, which it does not catch) tells its
    # workers nothing, and they would wait for work forever, holding the output's pipes and
    # files: each worker ends itself once it has been handed to another parent.
    threading.Thread(target=_end_with_parent, args=(os.getppid(),), name="brantel-parent-watch",
                     daemon=True).start()


def _end_with_parent(parent: int) -> None:
    import time

    while os.getppid() == parent:
        time.sleep(PARENT_CHECK_SECONDS)
    os._exit(1)


def _inspect_batch(items: Sequence[Tuple[str, Optional[str]]], encode: Encoder, join: Joiner) -> Batch:
    failed = devices = 0
    payloads = []
    for item in items:
        bad, count, payload = encode(_inspect(item))
        failed += bad
        devices += count
        payloads.append(payload)
    return failed, len(items) - failed, devices, join(payloads)


def _batches(items: Sequence[Tuple[str, Optional[str]]], jobs: int) -> List[Sequence[Tuple[str, Optional[str]]]]:
    # Small enough to keep every process busy to the end and the progress line moving,
    # large enough that passing them between processes costs little.
    size = max(1, min(64, len(items) // (jobs * 8)))
    return [items[start:start + size] for start in range(0, len(items), size)]


#: Starting worker processes costs about as much as reading a few hundred tables.
PARALLEL_FROM = 256


def _results(items: Sequence[Tuple[str, Optional[str]]], jobs: int, encode: Encoder, join: Joiner) -> Iterator[Batch]:
    """The inputs' rows, batch by batch, as ``encode`` and ``join`` make them, in the order of ``items``.

    With several jobs the reading, decoding and encoding happen in the worker
    processes, and a batch comes back as one piece; this one only writes it.
    """
    if jobs <= 1 or len(items) < PARALLEL_FROM:
        for batch in _batches(items, 1):
            yield _inspect_batch(batch, encode, join)
        return
    from concurrent.futures import ProcessPoolExecutor

    pending: Deque[Future[Batch]] = deque()
    # A bounded number of batches in flight keeps memory flat however long the run.
    with ProcessPoolExecutor(max_workers=jobs, initializer=_worker_start) as pool:
        try:
            for batch in _batches(items, jobs):
                pending.append(pool.submit(_inspect_batch, batch, encode, join))
                if len(pending) >= jobs * 4:
                    yield pending.popleft().result()
            while pending:
                yield pending.popleft().result()
        except BaseException:
            for future in pending:
                future.cancel()
            raise


def default_jobs() -> int:
    """One process per core this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1
