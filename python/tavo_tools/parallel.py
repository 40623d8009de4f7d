"""Monte Carlo ensembles cut into chunks of consecutive trials that run on any executor.

Trial i of an ensemble seeded with s depends on s + i alone, so the chunk of trials [a, b) is the
ensemble of b - a trials seeded with s + a, and the chunks add up to the whole ensemble.
"""

from __future__ import annotations

import concurrent.futures as cf
import math
import operator
import os
import sys
import time
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, TypeVar

import tavo_core

from ._optional import missing

__all__ = ["simulate", "default_workers", "resolve_seed"]

_U64 = 1 << 64
U64_MAX = _U64 - 1

# A chunk holds its worker for its whole duration: bounding its size keeps the progress bar moving
# and lets an interrupt take effect after at most one chunk per worker.
_MAX_CHUNK_RUNS = 50_000
# Several chunks per worker even out chunks that take longer than others.
_CHUNKS_PER_WORKER = 4

# Any object the engine's strategy conversion refuses (see check_arguments).
_NOT_A_STRATEGY: Any = object()

# runs, successes, latency sum, fidelity sum over successes, congestion drops, heatmap
ChunkResult = Tuple[int, int, float, float, int, Dict[str, int]]
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
    """Check the arguments of an ensemble exactly as `engine.simulate` does, before any work.

    Returns the run count and the statistics of an empty ensemble, whose context is the one
    `engine.simulate` stores for these arguments.
    """
    # The engine converts its arguments in signature order and stops at the first failure, before
    # it looks at its network. A strategy it cannot convert therefore makes it check every argument
    # up to `runs` and then stop without running a single trial.
    try:
        engine.simulate(from_node, to, fidelity_target, max_latency_ms, runs, _NOT_A_STRATEGY, None)
    except TypeError as exc:
        if not str(exc).startswith("argument 'strategy'"):
            raise
    # No trial runs either; this checks the strategy, the seed and the network.
    empty = engine.simulate(from_node, to, fidelity_target, max_latency_ms, 0, strategy, seed)
    return operator.index(runs), empty


def strategy_name(strategy: Optional[tavo_core.StrategyType]) -> Optional[str]:
    """The member name of a strategy, which crosses process boundaries as plain text."""
    return None if strategy is None else repr(strategy).rpartition(".")[2]


def strategy_from_name(name: Optional[str]) -> Optional[tavo_core.StrategyType]:
    return None if name is None else getattr(tavo_core.StrategyType, name)


def chunk_bounds(runs: int, chunk_runs: int) -> List[Tuple[int, int]]:
    """Consecutive [a, b) ranges of at most `chunk_runs` trials covering range(runs)."""
    return [(a, min(a + chunk_runs, runs)) for a in range(0, runs, chunk_runs)]


def _run_chunk(
    engine: tavo_core.TavoEngine,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    strategy: Optional[str],
    seed: int,
) -> ChunkResult:
    stats = engine.simulate(
        from_node, to, fidelity_target, max_latency_ms, runs, strategy_from_name(strategy), seed
    )
    # The rates are exact quotients of counts far below 2**53, so rounding recovers the counts.
    successes = round(float(stats.empirical_success_rate) * runs)
    return (
        runs,
        successes,
        float(stats.mean_latency_ms) * runs,
        float(stats.mean_fidelity) * successes,
        int(stats.aggregate_congestion_drops),
        {str(key): int(count) for key, count in stats.link_utilization_heatmap.items()},
    )


def merge_chunks(chunks: Sequence[ChunkResult], context: Any) -> tavo_core.MonteCarloStats:
    """The statistics of the whole ensemble from its chunks, given in trial order."""
    runs = sum(chunk[0] for chunk in chunks)
    successes = sum(chunk[1] for chunk in chunks)
    latency = math.fsum(chunk[2] for chunk in chunks)
    fidelity = math.fsum(chunk[3] for chunk in chunks)
    drops = sum(chunk[4] for chunk in chunks)
    heatmap: Dict[str, int] = {}
    for chunk in chunks:  # in trial order, so keys keep the order in which the engine meets them
        for key, count in chunk[5].items():
            heatmap[key] = heatmap.get(key, 0) + count
    return tavo_core.MonteCarloStats(
        runs,
        successes / runs,
        latency / runs,
        fidelity / successes if successes else 0.0,
        drops,
        heatmap,
        context=context,
    )


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


def simulate(
    engine: tavo_core.TavoEngine,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    strategy: Optional[tavo_core.StrategyType] = None,
    seed: Optional[int] = None,
    *,
    executor: Optional[cf.Executor] = None,
    workers: Optional[int] = None,
    chunk_runs: Optional[int] = None,
    progress: bool = False,
) -> tavo_core.MonteCarloStats:
    """Run the ensemble of `engine.simulate(...)` in parallel and return the same statistics.

    The trials are cut into consecutive chunks; chunk [a, b) runs on a worker as
    `engine.simulate(..., b - a, strategy, seed + a)`, and the chunks merge into the success count,
    drops and heatmap of the whole ensemble (means agree to rounding). A seed of None is read from
    the wall clock once, as the engine reads it; the result's `_context` is what `engine.simulate`
    stores, with the seed as given.

    executor: any `concurrent.futures.Executor` (a process pool, or a Dask cluster through
        `distributed.Client.get_executor()`); None runs a thread pool of `workers` threads.
    workers: the number of threads of that pool, and the number of workers the chunks are planned
        for (default: the cores this process may use).
    chunk_runs: trials per chunk (default: about four chunks per worker, at most 50,000 trials
        each).
    progress: show a progress bar on stderr (needs tqdm).
    """
    total, empty = check_arguments(
        engine, from_node, to, fidelity_target, max_latency_ms, runs, strategy, seed
    )
    worker_count = positive_count(workers, "workers") or default_workers()
    size = positive_count(chunk_runs, "chunk_runs")
    if total == 0:
        return empty
    if size is None:
        size = min(_MAX_CHUNK_RUNS, math.ceil(total / (worker_count * _CHUNKS_PER_WORKER)))
    base = resolve_seed(seed)
    name = strategy_name(strategy)
    bounds = chunk_bounds(total, size)
    arguments = [
        (engine, from_node, to, fidelity_target, max_latency_ms, b - a, name, (base + a) % _U64)
        for a, b in bounds
    ]
    chunks = run_tasks(
        executor, worker_count, _run_chunk, arguments, [b - a for a, b in bounds], progress, "trial"
    )
    return merge_chunks(chunks, empty._context)
