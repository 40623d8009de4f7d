"""Monte Carlo ensembles cut into chunks of consecutive trials that run on any executor.

Trial i of an ensemble seeded with s depends on s + i alone, so the chunk of trials [a, b) is the
ensemble of b - a trials seeded with s + a, and the chunks add up to the whole ensemble.
"""

from __future__ import annotations

import concurrent.futures as cf
import math
import numbers
from fractions import Fraction
from statistics import NormalDist
from typing import Any, Dict, Iterator, Optional, Tuple

import tavo_core

from ._shared import (
    MAX_WORKERS,
    U64_MAX,
    check_arguments,
    default_workers,
    for_each_result,
    positive_count,
    progress_bar,
    success_count,
    resolve_seed,
    seed_at,
    strategy_from_name,
    strategy_name,
    worker_count,
)
from .frames import wilson_interval

__all__ = ["simulate", "default_workers", "resolve_seed", "U64_MAX", "MAX_WORKERS"]

# A chunk holds its worker for its whole duration: bounding its size keeps the progress bar moving
# and lets an interrupt take effect after at most one chunk per worker.
_MAX_CHUNK_RUNS = 50_000
# Several chunks per worker even out chunks that take longer than others.
_CHUNKS_PER_WORKER = 4

# runs, successes, latency sum, fidelity sum over successes, congestion drops, heatmap
ChunkResult = Tuple[int, int, float, float, int, Dict[str, int]]


def chunk_bounds(runs: int, chunk_runs: int) -> Iterator[Tuple[int, int]]:
    """Consecutive [a, b) ranges of at most `chunk_runs` trials covering range(runs), one at a time
    (an ensemble of 2**64 - 1 trials has more chunks than memory could hold)."""
    return ((a, min(a + chunk_runs, runs)) for a in range(0, runs, chunk_runs))


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
    successes = success_count(stats.empirical_success_rate, runs)
    return (
        runs,
        successes,
        float(stats.mean_latency_ms) * runs,
        float(stats.mean_fidelity) * successes,
        int(stats.aggregate_congestion_drops),
        {str(key): int(count) for key, count in stats.link_utilization_heatmap.items()},
    )


class ChunkTotals:
    """The sums of an ensemble's chunks, added in trial order, and the statistics they make."""

    def __init__(self) -> None:
        self.runs = 0
        self.successes = 0
        # Exact sums: the figures are those of math.fsum over all chunks, however many there are.
        self.latency = Fraction(0)
        self.fidelity = Fraction(0)
        self.drops = 0
        # In trial order, so keys keep the order in which the engine meets them.
        self.heatmap: Dict[str, int] = {}

    def add(self, chunk: ChunkResult) -> None:
        self.runs += chunk[0]
        self.successes += chunk[1]
        self.latency += Fraction(chunk[2])
        self.fidelity += Fraction(chunk[3])
        self.drops += chunk[4]
        for key, count in chunk[5].items():
            self.heatmap[key] = self.heatmap.get(key, 0) + count

    def into(self, stats: tavo_core.MonteCarloStats) -> tavo_core.MonteCarloStats:
        """`stats` (the engine's result of no trials for the same request, which carries what its
        sensitivity analysis needs) with these totals' figures written into it."""
        runs, successes = self.runs, self.successes
        stats.total_runs = runs
        stats.empirical_success_rate = successes / runs
        stats.mean_latency_ms = float(self.latency) / runs
        stats.mean_fidelity = float(self.fidelity) / successes if successes else 0.0
        stats.aggregate_congestion_drops = self.drops
        stats.link_utilization_heatmap = self.heatmap
        return stats


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
    the wall clock once, as the engine reads it; the result carries what the result of
    `engine.simulate` carries for its sensitivity analysis.

    executor: any `concurrent.futures.Executor` (a process pool, or a Dask cluster through
        `distributed.Client.get_executor()`); None runs a thread pool of `workers` threads.
    workers: the number of threads of that pool, and the number of workers the chunks are planned
        for (default: the cores this process may use; at most MAX_WORKERS, 1024, larger counts
        are taken as 1024).
    chunk_runs: trials per chunk (default: about four chunks per worker, at most 50,000 trials
        each).
    progress: show a progress bar on stderr (needs tqdm).

    Chunks are made as workers need them, at most two per worker at a time, so an ensemble of any
    size takes little memory. On Ctrl-C (KeyboardInterrupt) or a failed chunk, chunks not started
    are cancelled and the running ones stop within a few tens of milliseconds: on threads, and in
    processes of this host (a process pool, a local Dask cluster).

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
    workers_planned = worker_count(workers)
    size = positive_count(chunk_runs, "chunk_runs")
    if total == 0:
        return empty
    request = (engine, from_node, to, fidelity_target, max_latency_ms)
    totals = ChunkTotals()
    with _Runner(executor, workers_planned, total, progress) as runner:
        runner.run(request, strategy_name(strategy), resolve_seed(seed), 0, total, size, totals)
    return totals.into(empty)


class _Runner:
    """Runs ranges of an ensemble's trials as chunks: on `executor`, or on one thread pool of its
    own kept for all the ranges, with one progress bar over them all."""

    def __init__(
        self, executor: Optional[cf.Executor], workers: int, total: int, progress: bool
    ) -> None:
        self.workers = workers
        self.own = executor is None
        self.pool = cf.ThreadPoolExecutor(max_workers=workers) if executor is None else executor
        self.bar = progress_bar(total, "trial") if progress else None

    def __enter__(self) -> "_Runner":
        return self

    def __exit__(self, kind: Any, error: Any, trace: Any) -> None:
        clean = kind is None
        if self.own:
            # After a failure the running chunks stop on their own, soon; nothing waits for them.
            self.pool.shutdown(wait=clean, cancel_futures=not clean)
        if self.bar is not None:
            self.bar.close()

    def grow(self, total: int) -> None:
        """The trials to run in all are now `total`."""
        if self.bar is not None:
            self.bar.total = total
            self.bar.refresh()

    def run(
        self,
        request: Tuple[tavo_core.TavoEngine, str, str, float, float],
        strategy: Optional[str],
        base: int,
        start: int,
        count: int,
        chunk_runs: Optional[int],
        totals: ChunkTotals,
    ) -> None:
        """Trials start .. start + count - 1 of the ensemble seeded with `base`, added to
        `totals` in trial order."""
        size = chunk_runs or min(
            _MAX_CHUNK_RUNS, math.ceil(count / (self.workers * _CHUNKS_PER_WORKER))
        )
        tasks = (
            ((*request, b - a, strategy, seed_at(base, start + a)), b - a)
            for a, b in chunk_bounds(count, size)
        )
        for_each_result(
            self.pool, self.workers, _run_chunk, tasks, count, False, "trial", totals.add, self.bar
        )


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
    workers = worker_count(options["workers"])
    chunk_runs = positive_count(options["chunk_runs"], "chunk_runs")
    base = resolve_seed(seed)
    name = strategy_name(strategy)
    totals = ChunkTotals()
    done = 0
    # A first round of a sixteenth of what an even success rate would take: enough where the rate
    # is near 0 or 1, a first estimate elsewhere.
    total = min(limit, max(100, math.ceil(_needed(0, 0, precision) / 16.0)))
    with _Runner(options["executor"], workers, total, options["progress"]) as runner:
        while True:
            runner.run((engine, from_node, to, fidelity_target, max_latency_ms), name, base, done,
                       total - done, chunk_runs, totals)
            done = total
            low, high = wilson_interval(totals.successes, done)
            rate = totals.successes / done
            if max(rate - low, high - rate) <= precision or done >= limit:
                return totals.into(empty)
            grown = max(math.ceil(1.25 * done),
                        math.ceil(1.1 * _needed(totals.successes, done, precision)))
            total = min(limit, grown)
            runner.grow(total)
