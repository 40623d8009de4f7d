"""Helpers shared by the parallel ensembles, sweeps, rankings and comparisons: argument checks,
seeds, strategies that cross process boundaries, and running tasks on an executor."""

from __future__ import annotations

import concurrent.futures as cf
import operator
import os
import sys
import time
from typing import Any, Callable, List, Optional, Sequence, Tuple, TypeVar

import tavo_core

from ._optional import missing

_U64 = 1 << 64
U64_MAX = _U64 - 1

T = TypeVar("T")


def default_workers() -> int:
    """The number of cores this process may run on."""
    if hasattr(os, "sched_getaffinity"):
        return max(1, len(os.sched_getaffinity(0)))
    return max(1, os.cpu_count() or 1)


def resolve_seed(seed: Optional[int]) -> int:
    """The seed an ensemble runs with: the given one, or the wall clock in nanoseconds as the engine
    reads it (wrapped to unsigned 64 bits, 0 before the epoch)."""
    if seed is not None:
        return operator.index(seed) % _U64
    return max(time.time_ns(), 0) % _U64


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


def strategy_name(strategy: Optional[tavo_core.StrategyType]) -> Optional[str]:
    """The member name of a strategy, which crosses process boundaries as plain text."""
    if strategy is None:
        return None
    for name in STRATEGY_NAMES:
        if getattr(tavo_core.StrategyType, name) == strategy:
            return name
    raise TypeError(f"expected a StrategyType, not {type(strategy).__name__}")


def strategy_from_name(name: Optional[str]) -> Optional[tavo_core.StrategyType]:
    return None if name is None else getattr(tavo_core.StrategyType, name)


def run_tasks(
    executor: Optional[cf.Executor],
    workers: int,
    function: Callable[..., T],
    arguments: Sequence[Tuple[Any, ...]],
    weights: Sequence[int],
    progress: bool,
    unit: str,
) -> List[T]:
    """Run `function(*args)` for every tuple of `arguments` and return the results in that order.

    With no executor a thread pool of `workers` threads runs them. The progress bar advances by
    each task's weight as the task completes. On an interrupt or a failed task the pending tasks are
    cancelled and the exception is raised again.
    """
    bar = _progress_bar(sum(weights), unit) if progress else None
    own = executor is None
    pool = cf.ThreadPoolExecutor(max_workers=workers) if executor is None else executor
    futures: List[cf.Future[T]] = []
    clean = False
    try:
        for args in arguments:  # one by one, so that an interrupt here still cancels them
            futures.append(pool.submit(function, *args))
        index = {future: i for i, future in enumerate(futures)}
        for future in cf.as_completed(futures):
            future.result()  # raises the task's exception, if any
            if bar is not None:
                bar.update(weights[index[future]])
        clean = True
        return [future.result() for future in futures]
    finally:
        if not clean:
            for future in futures:
                future.cancel()
        if own:
            # After a failure running tasks are left to finish on their own; nothing waits for them.
            pool.shutdown(wait=clean, cancel_futures=not clean)
        if bar is not None:
            bar.close()


def _progress_bar(total: int, unit: str) -> Any:
    try:
        from tqdm import tqdm
    except ImportError as exc:
        raise missing("tqdm", "progress", "progress=True") from exc
    return tqdm(total=total, unit=unit, file=sys.stderr, dynamic_ncols=True)
