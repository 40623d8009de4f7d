"""Rankings of a network's parameters by their signed effect on the success rate.

Every parameter is lowered and raised by a step; both variants and the unchanged network run the
same trials (trial i seeded with seed + i in each), so their difference is paired: a parameter
that changes neither the route nor the timeline shows an effect of exactly 0.
"""

from __future__ import annotations

import concurrent.futures as cf
import math
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence, Tuple

import tavo_core

from ._network import Scenario
from ._optional import missing
from ._shared import (
    check_arguments,
    positive_count,
    real,
    resolve_seed,
    run_tasks,
    seed_at,
    strategy_from_name,
    strategy_name,
    success_count,
    worker_count,
)
from .sweep import REQUEST, lookup, vocabulary

if TYPE_CHECKING:
    import pandas

__all__ = ["rank", "RANK_COLUMNS", "t_quantile"]

RANK_COLUMNS = (
    "base",
    "low",
    "high",
    "clamped",
    "success_low",
    "success_base",
    "success_high",
    "effect",
    "effect_ci_low",
    "effect_ci_high",
    "route_changed",
    "latency_effect",
    "fidelity_effect",
)

# The trials of a variant run as this many consecutive batches at most; the spread of the paired
# batch differences gives the interval of the effect.
_MAX_BATCHES = 200

# runs, successes, latency sum, fidelity sum over successes
Batch = Tuple[int, int, float, float]
# the route (node ids) and the batches in trial order
VariantResult = Tuple[Tuple[str, ...], List[Batch]]


def _batches(runs: int) -> List[Tuple[int, int]]:
    """Consecutive [a, b) ranges of nearly equal size covering range(runs)."""
    count = min(runs, _MAX_BATCHES)
    return [(runs * k // count, runs * (k + 1) // count) for k in range(count)]


def _run_variant(
    scenario: Scenario, from_node: str, to: str, runs: int, strategy: Optional[str], seed: int
) -> VariantResult:
    engine = scenario.engine()
    kind = strategy_from_name(strategy)
    route = engine.request_entanglement(
        from_node, to, scenario.fidelity_target, scenario.max_latency_ms, kind
    ).execution_path
    batches = []
    for a, b in _batches(runs):
        stats = scenario.simulate(from_node, to, b - a, kind, seed_at(seed, a), engine)
        n = b - a
        successes = success_count(stats.empirical_success_rate, n)
        batches.append(
            (n, successes, float(stats.mean_latency_ms) * n, float(stats.mean_fidelity) * successes)
        )
    return tuple(str(node) for node in route), batches


def t_quantile(probability: float, df: int) -> float:
    """The `probability` quantile (above 0.5) of Student's t distribution with `df` degrees of
    freedom, by bisection on its exact distribution function for integer degrees of freedom."""
    target = 2.0 * probability - 1.0  # P(|T| <= t)
    low, high = 0.0, 1.0
    while _t_central(high, df) < target:
        high *= 2.0
    for _ in range(200):
        middle = (low + high) / 2.0
        if _t_central(middle, df) < target:
            low = middle
        else:
            high = middle
        if high - low <= 1e-12 * high:
            break
    return (low + high) / 2.0


def _t_central(t: float, df: int) -> float:
    """P(|T| <= t) for Student's t with `df` degrees of freedom (closed form for integer df)."""
    theta = math.atan(t / math.sqrt(df))
    c2 = math.cos(theta) ** 2
    if df % 2 == 1:
        term = total = math.cos(theta) if df > 1 else 0.0
        for j in range(1, (df - 1) // 2):
            term *= c2 * (2 * j) / (2 * j + 1)
            total += term
        return 2.0 / math.pi * (theta + math.sin(theta) * total)
    term = total = 1.0
    for j in range(1, df // 2):
        term *= c2 * (2 * j - 1) / (2 * j)
        total += term
    return math.sin(theta) * total


def _paired(low: Sequence[Batch], high: Sequence[Batch]) -> Tuple[float, float, float]:
    """The mean of the per-trial differences high - low of success and its 95 % interval, from
    batches run on the same seeds."""
    runs = sum(batch[0] for batch in low)
    differences = [(h[1] - l[1], h[0]) for l, h in zip(low, high)]
    effect = sum(d for d, _ in differences) / runs
    if all(d == 0 for d, _ in differences):
        return effect, 0.0, 0.0
    if len(differences) < 2:
        return effect, math.nan, math.nan
    # Trials are independent, so a batch of m trials has a mean difference of variance sigma^2 / m.
    spread = sum(m * (d / m - effect) ** 2 for d, m in differences) / (len(differences) - 1)
    half = t_quantile(0.975, len(differences) - 1) * math.sqrt(spread / runs)
    return effect, effect - half, effect + half


def _means(batches: Sequence[Batch]) -> Tuple[float, float, float]:
    """Success rate, mean latency and mean fidelity (nan without a success) of a variant."""
    runs = sum(batch[0] for batch in batches)
    successes = sum(batch[1] for batch in batches)
    latency = math.fsum(batch[2] for batch in batches) / runs
    fidelity = math.fsum(batch[3] for batch in batches) / successes if successes else math.nan
    return successes / runs, latency, fidelity


def _check_step(step: float) -> float:
    if not 0.0 < real(step, "step") < 1.0:
        raise ValueError(f"step must lie strictly between 0 and 1, got {step!r}")
    return float(step)


def rank(
    engine: tavo_core.TavoEngine,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    params: Optional[Sequence[str]] = None,
    step: float = 0.1,
    seed: Optional[int] = 0,
    *,
    strategy: Optional[tavo_core.StrategyType] = None,
    executor: Optional[cf.Executor] = None,
    workers: Optional[int] = None,
    progress: bool = False,
) -> pandas.DataFrame:
    """Rank parameters by their signed effect on the success rate of a request.

    Each parameter (a key of the sweep vocabulary; default: every node, link and network
    parameter of the engine) is set to its value times (1 - step) and times (1 + step), clamped
    to its physical range (fidelities, efficiencies, visibilities at most 1; lengths, times and
    rates at least 0). Both variants and the unchanged network run `runs` trials each, trial i
    with seed + i (None reads the clock once), on copies of the engine's network.

    Returns a DataFrame indexed by parameter key, sorted by |effect| (largest first; equal
    effects keep the vocabulary's order), with the columns "base", "low", "high" (the values
    used), "clamped" (whether low or high was moved into the range), "success_low",
    "success_base", "success_high", "effect" (success_high - success_low), "effect_ci_low",
    "effect_ci_high" (95 % interval of the paired per-trial difference, from the spread of up to
    200 batches of consecutive trials; exactly 0 to 0 when every trial agrees, nan with a single
    trial), "route_changed" (whether the route of either variant differs from the unchanged
    network's), "latency_effect" and "fidelity_effect" (the same differences of the mean latency
    and of the mean fidelity; nan when a variant has no success).

    strategy: the routing strategy of the request (default: the engine's).
    executor, workers, progress: as for `tavo_tools.simulate`; each variant is one task.
    """
    try:
        import pandas as pd
    except ImportError as exc:
        raise missing("pandas", "frames", "rank") from exc

    total, _ = check_arguments(
        engine, from_node, to, fidelity_target, max_latency_ms, runs, strategy, seed
    )
    total = positive_count(total, "runs") or 0
    fraction = _check_step(step)
    workers_planned = worker_count(workers)
    scenario = Scenario.of(engine, fidelity_target, max_latency_ms)
    table = vocabulary(scenario)
    if params is None:
        keys = [key for key, parameter in table.items() if parameter.field.scope != REQUEST]
    else:
        if isinstance(params, str):
            raise TypeError("params must be a sequence of parameter keys, not a string")
        keys = list(params)
        for key in keys:
            lookup(table, key, scenario)
        if len(set(keys)) != len(keys):
            raise ValueError("params names a parameter more than once")

    # The variants to run: the unchanged network, then every value that differs from its base.
    plan: List[Dict[str, Any]] = []
    variants: Dict[Tuple[str, float], int] = {}
    tasks: List[Scenario] = [scenario]
    for key in keys:
        parameter = table[key]
        base = parameter.read(scenario)
        row: Dict[str, Any] = {"parameter": key, "base": base}
        for side, factor in (("low", 1.0 - fraction), ("high", 1.0 + fraction)):
            value = parameter.field.clamp(base * factor, scenario)
            row[side] = value
            row[f"{side}_clamped"] = value != base * factor
            if value == base:
                row[f"{side}_task"] = 0
                continue
            if (key, value) not in variants:
                variant = scenario.copy()
                parameter.apply(variant, value)
                variants[(key, value)] = len(tasks)
                tasks.append(variant)
            row[f"{side}_task"] = variants[(key, value)]
        plan.append(row)

    base_seed = resolve_seed(seed)
    name = strategy_name(strategy)
    results = run_tasks(
        executor,
        workers_planned,
        _run_variant,
        [(task, from_node, to, total, name, base_seed) for task in tasks],
        [1] * len(tasks),
        progress,
        "variant",
    )

    base_route, base_batches = results[0]
    success_base = _means(base_batches)[0]
    rows = []
    for row in plan:
        low_route, low_batches = results[row["low_task"]]
        high_route, high_batches = results[row["high_task"]]
        success_low, latency_low, fidelity_low = _means(low_batches)
        success_high, latency_high, fidelity_high = _means(high_batches)
        effect, ci_low, ci_high = _paired(low_batches, high_batches)
        rows.append(
            (
                row["parameter"],
                row["base"],
                row["low"],
                row["high"],
                bool(row["low_clamped"] or row["high_clamped"]),
                success_low,
                success_base,
                success_high,
                effect,
                ci_low,
                ci_high,
                low_route != base_route or high_route != base_route,
                latency_high - latency_low,
                fidelity_high - fidelity_low,
            )
        )
    rows.sort(key=lambda r: -abs(r[8]))  # stable: equal effects keep the vocabulary's order
    frame = pd.DataFrame([r[1:] for r in rows], columns=list(RANK_COLUMNS))
    frame.index = pd.Index([r[0] for r in rows], name="parameter")
    frame.attrs["step"] = fraction
    return frame
