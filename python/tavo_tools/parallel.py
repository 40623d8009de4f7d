"""Monte Carlo ensembles cut into chunks of consecutive trials that run on any executor.

Trial i of an ensemble seeded with s depends on s + i alone, so the chunk of trials [a, b) is the
ensemble of b - a trials seeded with s + a, and the chunks add up to the whole ensemble.
"""

from __future__ import annotations

import concurrent.futures as cf
import math
import numbers
from statistics import NormalDist
from typing import Any, Dict, List, Optional, Sequence, Tuple

import tavo_core

from ._shared import (
    U64_MAX,
    check_arguments,
    default_workers,
    positive_count,
    resolve_seed,
    run_tasks,
    strategy_from_name,
    strategy_name,
)
from .frames import wilson_interval

__all__ = ["simulate", "default_workers", "resolve_seed", "U64_MAX"]

_U64 = U64_MAX + 1

# A chunk holds its worker for its whole duration: bounding its size keeps the progress bar moving
# and lets an interrupt take effect after at most one chunk per worker.
_MAX_CHUNK_RUNS = 50_000
# Several chunks per worker even out chunks that take longer than others.
_CHUNKS_PER_WORKER = 4

# runs, successes, latency sum, fidelity sum over successes, congestion drops, heatmap
ChunkResult = Tuple[int, int, float, float, int, Dict[str, int]]


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
    return _counts(stats, runs)


def _counts(stats: tavo_core.MonteCarloStats, runs: int) -> ChunkResult:
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


def simulate(
    engine: tavo_core.TavoEngine,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: Optional[int] = None,
    strategy: Optional[tavo_core.StrategyType] = None,
    seed: Optional[int] = None,
    *,
    executor: Optional[cf.Executor] = None,
    workers: Optional[int] = None,
    chunk_runs: Optional[int] = None,
    progress: bool = False,
    precision: Optional[float] = None,
    max_runs: Optional[int] = None,
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

    precision: instead of `runs`, run as many trials as it takes for the 95 % Wilson interval of
        the success rate to lie within +-precision of it (0 < precision < 0.5), at most
        `max_runs` (default 10,000,000). The trials still run as consecutive chunks from the
        seed, in rounds whose sizes depend only on the outcomes of the rounds before, so the
        same arguments run the same trials and the result is `engine.simulate` with the
        result's `total_runs`.
    """
    if runs is None or precision is not None or max_runs is not None:
        return _until_precise(
            engine,
            (from_node, to, fidelity_target, max_latency_ms, strategy, seed),
            runs,
            precision,
            max_runs,
            executor=executor,
            workers=workers,
            chunk_runs=chunk_runs,
            progress=progress,
        )
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


# Runs up to which an ensemble runs for a precision, unless told otherwise.
DEFAULT_MAX_RUNS = 10_000_000
_Z95 = NormalDist().inv_cdf(0.975)


def _needed(successes: int, runs: int, precision: float) -> float:
    """About how many trials a 95 % interval of half-width `precision` takes, for a success rate
    near the one seen so far (shrunk towards 1/2 while trials are few)."""
    z2 = _Z95 * _Z95
    p = (successes + z2 / 2.0) / (runs + z2)
    return z2 * p * (1.0 - p) / (precision * precision)


def _until_precise(
    engine: tavo_core.TavoEngine,
    request: Tuple[str, str, float, float, Optional[tavo_core.StrategyType], Optional[int]],
    runs: Optional[int],
    precision: Optional[float],
    max_runs: Optional[int],
    **options: Any,
) -> tavo_core.MonteCarloStats:
    """Consecutive rounds of `simulate` from the seed until the success rate is known to within
    `precision`, or `max_runs` trials have run."""
    if runs is not None:
        raise ValueError(
            "give runs or precision, not both"
            if precision is not None
            else "max_runs goes with precision, not with runs"
        )
    if precision is None:
        raise TypeError("simulate needs runs, or a precision to run as many trials as that takes")
    if (
        isinstance(precision, bool)
        or not isinstance(precision, numbers.Real)
        or not 0.0 < float(precision) < 0.5
    ):
        raise ValueError(f"precision must lie strictly between 0 and 0.5, got {precision!r}")
    limit = positive_count(max_runs, "max_runs") or DEFAULT_MAX_RUNS
    from_node, to, fidelity_target, max_latency_ms, strategy, seed = request
    _, empty = check_arguments(
        engine, from_node, to, fidelity_target, max_latency_ms, 0, strategy, seed
    )
    base = resolve_seed(seed)
    parts: List[ChunkResult] = []
    done = successes = 0
    # A first round of a sixteenth of what an even success rate would take: enough where the rate
    # is near 0 or 1, a first estimate elsewhere.
    total = min(limit, max(100, math.ceil(_needed(0, 0, precision) / 16.0)))
    while True:
        stats = simulate(
            engine,
            from_node,
            to,
            fidelity_target,
            max_latency_ms,
            total - done,
            strategy,
            (base + done) % _U64,
            **options,
        )
        parts.append(_counts(stats, total - done))
        successes += parts[-1][1]
        done = total
        low, high = wilson_interval(successes, done)
        rate = successes / done
        if max(rate - low, high - rate) <= precision or done >= limit:
            return merge_chunks(parts, empty._context)
        grown = max(math.ceil(1.25 * done), math.ceil(1.1 * _needed(successes, done, precision)))
        total = min(limit, grown)
