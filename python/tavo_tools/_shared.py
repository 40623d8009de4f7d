"""Helpers shared by the parallel ensembles, sweeps, rankings and comparisons: argument checks,
seeds, strategies that cross process boundaries, and running tasks on an executor (lazily, a few
per worker at a time, the running ones stopped when the run is interrupted)."""

from __future__ import annotations

import atexit
import concurrent.futures as cf
import numbers
import operator
import os
import shutil
import sys
import tempfile
import threading
import time
from typing import Any, Callable, Dict, Iterable, List, Optional, Sequence, Tuple, TypeVar

import tavo_core

from ._optional import missing

_U64 = 1 << 64
U64_MAX = _U64 - 1

# The most workers an ensemble is planned for and a thread pool has; more are taken as this many.
MAX_WORKERS = 1024
# Tasks handed to the executor and not yet taken back, per worker: enough to keep every worker busy
# while results come back, and few enough that an ensemble of any size takes little memory.
_IN_FLIGHT_PER_WORKER = 2
# How often a task running in another process looks whether its run was cancelled, in seconds.
_STOP_POLL_S = 0.02

T = TypeVar("T")


def default_workers() -> int:
    """The number of cores this process may run on."""
    if hasattr(os, "sched_getaffinity"):
        return max(1, len(os.sched_getaffinity(0)))
    return max(1, os.cpu_count() or 1)


def worker_count(workers: Optional[int]) -> int:
    """The workers to plan for: `workers` (an int of at least 1; above MAX_WORKERS, MAX_WORKERS),
    or the usable cores when None."""
    return min(positive_count(workers, "workers") or default_workers(), MAX_WORKERS)


def resolve_seed(seed: Optional[int]) -> int:
    """The seed an ensemble runs with: the given one, or the wall clock in nanoseconds as the engine
    reads it (wrapped to unsigned 64 bits, 0 before the epoch)."""
    if seed is not None:
        return operator.index(seed) % _U64
    return max(time.time_ns(), 0) % _U64


def real(value: Any, what: str) -> float:
    """`value` as a float: a real number (a bool is not one); TypeError naming `what` else."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{what} must be a real number, got {value!r}")
    return float(value)


def seed_at(base: int, offset: int) -> int:
    """The seed of trial `offset` of an ensemble seeded with `base`: trial i runs on seed + i,
    wrapped to unsigned 64 bits as the engine wraps it."""
    return (base + offset) % _U64


def success_count(rate: float, runs: int) -> int:
    """The successes of an ensemble of `runs` trials with success rate `rate`: the rate is an exact
    quotient of counts far below 2**53, so rounding recovers the count."""
    return round(float(rate) * runs) if runs else 0


def positive_count(value: Optional[int], name: str) -> Optional[int]:
    """`value` as an int of at least 1, or None when not given."""
    if value is None:
        return None
    if isinstance(value, bool):
        raise TypeError(f"{name} must be an int, not bool")
    count = operator.index(value)
    if count < 1:
        raise ValueError(f"{name} must be at least 1, got {count}")
    return count


def _runs(runs: Any) -> int:
    """`runs` converted as the engine converts it: an int from 0 to 2**64 - 1."""
    try:
        count = operator.index(runs)
    except TypeError as exc:
        raise TypeError(f"argument 'runs': {exc}") from None
    if count < 0:
        raise OverflowError("can't convert negative int to unsigned")
    if count > U64_MAX:
        raise OverflowError("int too big to convert")
    return count


def check_arguments(
    engine: tavo_core.TavoEngine,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    strategy: Optional[tavo_core.StrategyType],
    seed: Optional[int],
) -> Tuple[int, tavo_core.MonteCarloStats]:
    """Check the arguments of an ensemble as `engine.simulate` does, in its order, before any work.

    Returns the run count and the statistics of an empty ensemble, whose context is the one
    `engine.simulate` stores for these arguments.
    """
    # Empty ensembles run no trial: the first checks the arguments before `runs`, the second those
    # after it and the network.
    try:
        engine.simulate(from_node, to, fidelity_target, max_latency_ms, 0)
    except RuntimeError:
        pass  # no network: reported below, after the other arguments, as the engine does
    count = _runs(runs)
    empty = engine.simulate(from_node, to, fidelity_target, max_latency_ms, 0, strategy, seed)
    return count, empty


STRATEGY_NAMES = ("LowestLatency", "HighestFidelity", "HighestSuccess")
SCHEME_NAMES = ("Direct", "Midpoint")


def member_name(kind: Any, names: Sequence[str], value: Any) -> str:
    """The name of the member `value` of the enumeration `kind`, whose members are `names`."""
    for name in names:
        if getattr(kind, name) == value:
            return name
    raise TypeError(f"expected a {kind.__name__}, not {type(value).__name__}")


def strategy_name(strategy: Optional[tavo_core.StrategyType]) -> Optional[str]:
    """The member name of a strategy, which crosses process boundaries as plain text."""
    if strategy is None:
        return None
    return member_name(tavo_core.StrategyType, STRATEGY_NAMES, strategy)


def strategy_from_name(name: Optional[str]) -> Optional[tavo_core.StrategyType]:
    return None if name is None else getattr(tavo_core.StrategyType, name)


class _Stop:
    """What the tasks of one run look at to stop early, once the run is interrupted or one of its
    tasks has failed.

    A task running in this process watches a tavo_core._Cancellation: its long calls stop within a
    few tens of milliseconds (signals reach the main thread only). A task in another process on
    this host (a process pool, a local Dask cluster) looks, every _STOP_POLL_S, for a marker file
    the run writes when it stops; workers on other hosts never see it and finish their tasks."""

    def __init__(self, across_processes: bool) -> None:
        self.cancellation: Optional[tavo_core._Cancellation] = tavo_core._Cancellation()
        self.folder: Optional[str] = None
        if across_processes:
            try:
                self.folder = tempfile.mkdtemp(prefix="tavo-run-")
            except OSError:  # no temporary folder: other processes finish their tasks
                pass
        self.stopped = False

    @property
    def marker(self) -> Optional[str]:
        return None if self.folder is None else os.path.join(self.folder, "stopped")

    def __getstate__(self) -> Dict[str, Any]:
        return {"folder": self.folder}  # the cancellation belongs to this process

    def __setstate__(self, state: Dict[str, Any]) -> None:
        self.cancellation = None
        self.folder = state["folder"]
        self.stopped = False

    def stop(self) -> None:
        self.stopped = True
        if self.cancellation is not None:
            self.cancellation.cancel()
        if self.marker is not None:
            try:
                with open(self.marker, "w"):
                    pass
            except OSError:
                pass

    def close(self) -> None:
        """Removes the marker's folder; once stopped, only at exit, as tasks of other processes
        may still be about to look for it."""
        if self.folder is None:
            return
        if self.stopped:
            atexit.register(shutil.rmtree, self.folder, True)
        else:
            shutil.rmtree(self.folder, ignore_errors=True)

    def run(self, function: Callable[..., T], args: Tuple[Any, ...]) -> T:
        if self.cancellation is not None:
            with self.cancellation:
                return function(*args)
        marker = self.marker
        if marker is None:
            return function(*args)
        if os.path.exists(marker):
            raise KeyboardInterrupt
        cancellation = tavo_core._Cancellation()
        finished = threading.Event()

        def watch() -> None:
            while not finished.wait(_STOP_POLL_S):
                if os.path.exists(marker):
                    cancellation.cancel()
                    return

        watcher = threading.Thread(target=watch, name="tavo-stop-watch", daemon=True)
        watcher.start()
        try:
            with cancellation:
                return function(*args)
        finally:
            finished.set()
            watcher.join()


def _run_task(stop: _Stop, function: Callable[..., T], args: Tuple[Any, ...]) -> T:
    return stop.run(function, args)


def run_tasks(
    executor: Optional[cf.Executor],
    workers: int,
    function: Callable[..., T],
    arguments: Sequence[Tuple[Any, ...]],
    weights: Sequence[int],
    progress: bool,
    unit: str,
) -> List[T]:
    """Run `function(*args)` for every tuple of `arguments` and return the results in that order
    (see for_each_result)."""
    results: List[T] = []
    for_each_result(
        executor, workers, function, zip(arguments, weights), sum(weights), progress, unit,
        results.append,
    )
    return results


def for_each_result(
    executor: Optional[cf.Executor],
    workers: int,
    function: Callable[..., T],
    tasks: Iterable[Tuple[Tuple[Any, ...], int]],
    total_weight: int,
    progress: bool,
    unit: str,
    accept: Callable[[T], None],
    bar: Any = None,
) -> None:
    """Run `function(*args)` for every `(args, weight)` of `tasks` and hand the results to `accept`
    in task order.

    progress: show a progress bar of `total_weight` units named `unit`; or `bar`, a progress bar
    of the caller's that these tasks advance (and leave open).

    With no executor a thread pool of `workers` threads runs them (at most MAX_WORKERS). Tasks are
    taken from `tasks` as they are needed: at most _IN_FLIGHT_PER_WORKER per worker are submitted
    and not yet handed on. The progress bar advances by each task's weight as the task completes.
    On an interrupt or a failed task the pending tasks are cancelled, the running ones are told to
    stop (see _Stop), and the exception is raised again.
    """
    workers = min(workers, MAX_WORKERS)
    limit = workers * _IN_FLIGHT_PER_WORKER
    own_bar = bar is None and progress
    if own_bar:
        bar = progress_bar(total_weight, unit)
    own = executor is None
    pool = cf.ThreadPoolExecutor(max_workers=workers) if executor is None else executor
    stop = _Stop(across_processes=not isinstance(pool, cf.ThreadPoolExecutor))
    pending: Dict[cf.Future[T], Tuple[int, int]] = {}  # future -> (task number, weight)
    finished: Dict[int, T] = {}  # results waiting for those of earlier tasks
    remaining = iter(tasks)
    submitted = handed = 0
    clean = False
    try:
        more = True
        while True:
            while more and len(pending) + len(finished) < limit:
                task = next(remaining, None)
                if task is None:
                    more = False
                    break
                args, weight = task
                # One by one, so that an interrupt here still cancels those submitted.
                future = pool.submit(_run_task, stop, function, args)
                pending[future] = (submitted, weight)
                submitted += 1
            if not pending:
                break
            done, _ = cf.wait(list(pending), return_when=cf.FIRST_COMPLETED)
            for future in done:
                number, weight = pending.pop(future)
                finished[number] = future.result()  # raises the task's exception, if any
                if bar is not None:
                    bar.update(weight)
            while handed in finished:
                accept(finished.pop(handed))
                handed += 1
        clean = True
    finally:
        if not clean:
            stop.stop()
            for future in pending:
                future.cancel()
        if own:
            # After a failure the running tasks stop on their own, soon; nothing waits for them.
            pool.shutdown(wait=clean, cancel_futures=not clean)
        stop.close()
        if own_bar:
            bar.close()


def progress_bar(total: int, unit: str) -> Any:
    try:
        from tqdm import tqdm
    except ImportError as exc:
        raise missing("tqdm", "progress", "progress=True") from exc
    return tqdm(total=total, unit=unit, file=sys.stderr, dynamic_ncols=True)
