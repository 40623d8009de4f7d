"""Parameter sweeps: one ensemble per point of a grid of network and request parameters."""

from __future__ import annotations

import concurrent.futures as cf
import itertools
import numbers
from typing import TYPE_CHECKING, Any, Dict, List, Mapping, Optional, Sequence, Tuple

import tavo_core

from ._engine import engine_state, is_satellite, model_fields, model_from_fields
from ._optional import missing
from .frames import STAT_COLUMNS, wilson_interval
from .parallel import (
    check_arguments,
    default_workers,
    positive_count,
    resolve_seed,
    run_tasks,
    strategy_from_name,
    strategy_name,
)

if TYPE_CHECKING:
    import pandas

__all__ = ["sweep"]

# The network as plain values, so that a point crosses process boundaries without tavo_core
# objects: (baseline_purify_factor, speed_of_light_in_fiber_km_ms, total_time_cutoff_ms,
# step_resolution_ms, physical model fields or None), [id, memory_lifetime_t2] per node, and
# [from_node, to, distance_km, base_fidelity, generation_rate_hz, satellite, conditions] per link.
PlainConfig = Tuple[float, float, float, float, Optional[Dict[str, Any]]]
PlainNode = List[Any]
PlainLink = List[Any]
PointResult = Tuple[int, float, float, float, int]

_NODE_FIELDS = {"memory_lifetime_t2": 1}
_LINK_FIELDS = {"distance_km": 2, "base_fidelity": 3, "generation_rate_hz": 4}
_REQUEST_FIELDS = ("fidelity_target", "max_latency_ms")
# Fields of the engine's physical model a sweep may vary (on an engine that has one).
_MODEL_FIELDS = ("detector_efficiency", "swap_success", "fiber_loss_db_km", "link_cutoff_ms")
_MODEL_PREFIX = "physics."


def _plain_network(
    engine: tavo_core.TavoEngine,
) -> Tuple[PlainConfig, List[PlainNode], List[PlainLink]]:
    config, network = engine_state(engine)
    if network is None:
        raise RuntimeError("No network defined. Call define_network() first.")
    physical = config.physical
    plain_config = (
        float(physical.baseline_purify_factor),
        float(physical.speed_of_light_in_fiber_km_ms),
        float(config.total_time_cutoff_ms),
        float(config.step_resolution_ms),
        None if config.physics is None else model_fields(config.physics),
    )
    nodes = [[str(node.id), float(node.memory_lifetime_t2)] for node in network[0]]
    links = []
    for link in network[1]:
        conditions = link.satellite_conditions
        links.append(
            [
                str(link.from_node),
                str(link.to),
                float(link.distance_km),
                float(link.base_fidelity),
                float(link.generation_rate_hz),
                is_satellite(link.link_type),
                None
                if conditions is None
                else (float(conditions.visibility), float(conditions.weather_factor)),
            ]
        )
    return plain_config, nodes, links


def parameter_keys(
    nodes: Sequence[PlainNode], links: Sequence[PlainLink], physical: bool = False
) -> List[str]:
    """Every key a sweep of this network accepts, in the vocabulary of the sensitivity analysis,
    and with a physical model its fields ("physics.detector_efficiency", ...)."""
    keys = [f"{field}:{node[0]}" for node in nodes for field in _NODE_FIELDS]
    link_keys = dict.fromkeys(f"{link[0]}->{link[1]}" for link in links)
    keys += [f"{field}:{key}" for key in link_keys for field in _LINK_FIELDS]
    keys += list(_REQUEST_FIELDS)
    if physical:
        keys += [_MODEL_PREFIX + field for field in _MODEL_FIELDS]
    return keys


def _build_engine(
    config: PlainConfig, nodes: Sequence[PlainNode], links: Sequence[PlainLink]
) -> tavo_core.TavoEngine:
    physical = tavo_core.PhysicalConfig()
    physical.baseline_purify_factor = config[0]
    physical.speed_of_light_in_fiber_km_ms = config[1]
    simulation = tavo_core.SimulationConfig(config[2], config[3])
    simulation.physical = physical
    if config[4] is not None:
        simulation.physics = model_from_fields(config[4])
    engine = tavo_core.TavoEngine(simulation)
    definitions = []
    for source, target, distance, fidelity, rate, satellite, conditions in links:
        definitions.append(
            tavo_core.LinkDefinition(
                source,
                target,
                distance,
                fidelity,
                rate,
                tavo_core.LinkType.Satellite if satellite else tavo_core.LinkType.Fiber,
                None if conditions is None else tavo_core.SatelliteConditions(*conditions),
            )
        )
    engine.define_network([tavo_core.NodeDefinition(*node) for node in nodes], definitions)
    return engine


def _run_point(
    config: PlainConfig,
    nodes: Sequence[PlainNode],
    links: Sequence[PlainLink],
    request: Tuple[str, str, float, float],
    runs: int,
    strategy: Optional[str],
    seed: int,
) -> PointResult:
    engine = _build_engine(config, nodes, links)
    stats = engine.simulate(*request, runs, strategy_from_name(strategy), seed)
    return (
        int(stats.total_runs),
        float(stats.empirical_success_rate),
        float(stats.mean_latency_ms),
        float(stats.mean_fidelity),
        int(stats.aggregate_congestion_drops),
    )


def _check_values(key: str, values: Sequence[Any]) -> List[Any]:
    if isinstance(values, (str, bytes)):
        raise TypeError(f"the values of {key!r} must be a sequence of numbers, not a string")
    checked = list(values)
    for value in checked:
        if isinstance(value, bool) or not isinstance(value, numbers.Real):
            raise TypeError(f"the values of {key!r} must be real numbers, got {value!r}")
    return checked


def sweep(
    engine: tavo_core.TavoEngine,
    from_node: str,
    to: str,
    fidelity_target: float,
    max_latency_ms: float,
    runs: int,
    vary: Mapping[str, Sequence[float]],
    strategy: Optional[tavo_core.StrategyType] = None,
    seed: Optional[int] = 0,
    *,
    executor: Optional[cf.Executor] = None,
    workers: Optional[int] = None,
    progress: bool = False,
) -> pandas.DataFrame:
    """Run one ensemble per point of the Cartesian product of `vary` and return a DataFrame.

    `vary` maps parameter keys to the values to try. Keys name a network parameter as the
    sensitivity analysis reports it ("memory_lifetime_t2:{node}", "distance_km:{from}->{to}",
    "base_fidelity:{from}->{to}", "generation_rate_hz:{from}->{to}"; a link key sets every link
    listed with those endpoints in that direction), a request parameter ("fidelity_target",
    "max_latency_ms") or, on an engine with a physical model, a field of that model
    ("physics.detector_efficiency", "physics.swap_success", "physics.fiber_loss_db_km",
    "physics.link_cutoff_ms"). Rows come in `itertools.product` order, the first key varying
    slowest.

    Every point runs `runs` trials with the same seed (common random numbers; None reads the clock
    once) on a copy of the engine's network and configuration holding the point's values, so each
    row equals `engine.simulate` on that modified network. Columns: the keys of `vary`, then
    "runs", "success_rate", "success_ci_low", "success_ci_high" (95 % Wilson interval),
    "mean_latency_ms", "mean_fidelity", "congestion_drops".

    executor, workers, progress: as for `tavo_tools.simulate`; each point is one task.
    """
    try:
        import pandas as pd
    except ImportError as exc:
        raise missing("pandas", "frames", "sweep") from exc

    total, _ = check_arguments(
        engine, from_node, to, fidelity_target, max_latency_ms, runs, strategy, seed
    )
    worker_count = positive_count(workers, "workers") or default_workers()
    config, nodes, links = _plain_network(engine)
    valid = parameter_keys(nodes, links, config[4] is not None)
    grid: Dict[str, List[Any]] = {}
    for key, values in vary.items():
        if key.startswith(_MODEL_PREFIX) and config[4] is None:
            raise ValueError(
                f"sweep parameter {key!r} needs an engine with a physical model "
                "(SimulationConfig(physics=PhysicalModel()))"
            )
        if key not in valid:
            raise ValueError(
                f"unknown sweep parameter {key!r}; valid parameters: {', '.join(valid)}"
            )
        grid[key] = _check_values(key, values)

    base_seed = resolve_seed(seed)
    name = strategy_name(strategy)
    points = list(itertools.product(*grid.values()))
    arguments = []
    for point in points:
        point_nodes = [list(node) for node in nodes]
        point_links = [list(link) for link in links]
        point_model = None if config[4] is None else dict(config[4])
        request: Dict[str, Any] = {
            "fidelity_target": fidelity_target,
            "max_latency_ms": max_latency_ms,
        }
        for key, value in zip(grid, point):
            if key.startswith(_MODEL_PREFIX) and point_model is not None:
                point_model[key[len(_MODEL_PREFIX):]] = float(value)
            else:
                _apply(key, float(value), point_nodes, point_links, request)
        arguments.append(
            (
                config[:4] + (point_model,),
                point_nodes,
                point_links,
                (from_node, to, request["fidelity_target"], request["max_latency_ms"]),
                total,
                name,
                base_seed,
            )
        )
    results = run_tasks(
        executor, worker_count, _run_point, arguments, [1] * len(arguments), progress, "point"
    )

    rows = []
    for point, (point_runs, rate, latency, fidelity, drops) in zip(points, results):
        low, high = wilson_interval(round(rate * point_runs), point_runs, 0.95)
        rows.append(list(point) + [point_runs, rate, low, high, latency, fidelity, drops])
    return pd.DataFrame(rows, columns=list(grid) + list(STAT_COLUMNS))


def _apply(
    key: str, value: float, nodes: List[PlainNode], links: List[PlainLink], request: Dict[str, Any]
) -> None:
    if key in _REQUEST_FIELDS:
        request[key] = value
        return
    field, _, target = key.partition(":")
    if field in _NODE_FIELDS:
        for node in nodes:
            if node[0] == target:
                node[_NODE_FIELDS[field]] = value
    else:
        for link in links:
            if f"{link[0]}->{link[1]}" == target:
                link[_LINK_FIELDS[field]] = value
