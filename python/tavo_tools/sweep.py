"""Parameter sweeps: one ensemble per point of a grid of network and request parameters, and the
vocabulary of parameter keys that sweeps and rankings share."""

from __future__ import annotations

import concurrent.futures as cf
import itertools
import math
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple

import tavo_core

from ._network import Scenario
from ._optional import missing
from .frames import STAT_COLUMNS, _stat_row
from ._shared import (
    check_arguments,
    real,
    resolve_seed,
    run_tasks,
    strategy_from_name,
    strategy_name,
    worker_count,
)

if TYPE_CHECKING:
    import pandas

__all__ = ["sweep", "vocabulary", "parameter_keys", "describe", "Field", "Parameter"]

EN_DASH = "\u2013"

# The sweep vocabulary: every parameter a sweep or a ranking can vary, as fields of the scenario's
# records. A node field is keyed "{name}:{node id}", a link field "{name}:{from}->{to}" (setting
# every link listed with those endpoints in that direction), a network or request field by its
# name. Each field knows how to read and write itself and its physical range, which rankings clamp
# their variants into. New parameters are new rows of FIELDS.

NODE, LINK, NETWORK, REQUEST = "node", "link", "network", "request"
PointResult = Tuple[int, float, float, float, int]


def _always(record: Any) -> bool:
    return True


@dataclass(frozen=True)
class Field:
    """One kind of parameter.

    name: the key of a network or request field, the prefix before ":" of a node or link key.
    scope: NODE, LINK, NETWORK or REQUEST; `get`, `put` and `present` take a NodeDefinition, a
        LinkDefinition, or the Scenario (network and request fields).
    label, unit: how plots and reports name it ("Length", "km"; unit "" for fractions).
    low, high: the physical range, bounds included (None: unbounded).
    present: whether a record has the field (only satellite links have a visibility).
    model_low: the lower bound on an engine with a physical model, where it is narrower (a link's
        base fidelity is a Werner state's, at least 0.25).
    """

    name: str
    scope: str
    label: str
    unit: str
    low: Optional[float]
    high: Optional[float]
    get: Callable[[Any], float]
    put: Callable[[Any, float], None]
    present: Callable[[Any], bool] = _always
    model_low: Optional[float] = None

    def clamp(self, value: float, scenario: Scenario) -> float:
        """`value` moved into the range the scenario's model accepts."""
        low = self.low
        if self.model_low is not None and _has_model(scenario):
            low = self.model_low
        if low is not None and value < low:
            return low
        if self.high is not None and value > self.high:
            return self.high
        return value


def _attribute(name: str) -> Tuple[Callable[[Any], float], Callable[[Any, float], None]]:
    def get(record: Any) -> float:
        return float(getattr(record, name))

    def put(record: Any, value: float) -> None:
        setattr(record, name, value)

    return get, put


def _part(
    part: str, name: str
) -> Tuple[Callable[[Any], float], Callable[[Any, float], None], Callable[[Any], bool]]:
    """Access to `record.part.name`, where `part` is a sub-record the binding hands out as a copy
    (and that may be None): a write changes a copy and stores it back."""

    def get(record: Any) -> float:
        return float(getattr(getattr(record, part), name))

    def put(record: Any, value: float) -> None:
        inner = getattr(record, part)
        setattr(inner, name, value)
        setattr(record, part, inner)

    def present(record: Any) -> bool:
        return getattr(record, part, None) is not None

    return get, put, present


def config_field(
    part: str,
    name: str,
    label: str,
    unit: str,
    low: Optional[float],
    high: Optional[float],
    key: Optional[str] = None,
) -> Field:
    """A network field that is the attribute `name` of the configuration's sub-record `part`
    (present when that sub-record is not None), keyed "{part}.{name}" unless `key` is given."""
    get, put, present = _part(part, name)
    return Field(
        key or f"{part}.{name}",
        NETWORK,
        label,
        unit,
        low,
        high,
        lambda scenario: get(scenario.config),
        lambda scenario, value: put(scenario.config, value),
        lambda scenario: present(scenario.config),
    )


def _alpha_loss(scenario: Scenario) -> float:
    # Files and the sensitivity analysis give the purification factor as a fiber attenuation,
    # ten times the factor.
    return float(scenario.config.physical.baseline_purify_factor) * 10.0


def _set_alpha_loss(scenario: Scenario, value: float) -> None:
    physical = scenario.config.physical
    physical.baseline_purify_factor = value / 10.0
    scenario.config.physical = physical


def _plain(
    name: str, scope: str, label: str, unit: str, low: Optional[float], high: Optional[float]
) -> Field:
    """A field that is an attribute of the same name of its record."""
    return Field(name, scope, label, unit, low, high, *_attribute(name))


def _cutoff(scenario: Scenario) -> float:
    # No cutoff is a cutoff that never acts.
    physics = scenario.config.physics
    assert physics is not None  # the field is present only then
    return math.inf if physics.link_cutoff_ms is None else float(physics.link_cutoff_ms)


def _set_cutoff(scenario: Scenario, value: float) -> None:
    physics = scenario.config.physics  # a copy: change it, then store it back
    assert physics is not None
    physics.link_cutoff_ms = None if math.isinf(value) else value
    scenario.config.physics = physics


def _has_model(scenario: Scenario) -> bool:
    return scenario.config.physics is not None


def _satellite(name: str, label: str) -> Field:
    return Field(name, LINK, label, "", 0.0, 1.0, *_part("satellite_conditions", name))


FIELDS: List[Field] = [
    _plain("memory_lifetime_t2", NODE, "Memory lifetime T2", "s", 0.0, None),
    _plain("distance_km", LINK, "Length", "km", 0.0, None),
    Field("base_fidelity", LINK, "Base fidelity", "", 0.0, 1.0, *_attribute("base_fidelity"),
          model_low=0.25),
    _plain("generation_rate_hz", LINK, "Generation rate", "Hz", 0.0, None),
    _satellite("visibility", "Visibility"),
    _satellite("weather_factor", "Weather factor"),
    Field(
        "alpha_loss_db_km",
        NETWORK,
        "Fiber attenuation",
        "dB/km",
        0.0,
        None,
        _alpha_loss,
        _set_alpha_loss,
        # The physical model reads physics.fiber_loss_db_km instead.
        lambda scenario: not _has_model(scenario),
    ),
    # The physical model's fields, on an engine that has one.
    config_field("physics", "detector_efficiency", "Detector efficiency", "", 0.0, 1.0),
    config_field("physics", "swap_success", "Swap success probability", "", 0.0, 1.0),
    config_field("physics", "fiber_loss_db_km", "Fiber loss (physical model)", "dB/km", 0.0, None),
    Field("physics.link_cutoff_ms", NETWORK, "Cutoff of stored pairs", "ms", 0.0, None, _cutoff,
          _set_cutoff, _has_model),
    _plain("fidelity_target", REQUEST, "Fidelity target", "", 0.0, 1.0),
    _plain("max_latency_ms", REQUEST, "Latency budget", "ms", 0.0, None),
]


@dataclass(frozen=True)
class Parameter:
    """One key of the vocabulary of a scenario: a field of one node, of the links joining two
    nodes in one direction, of the network or of the request."""

    key: str
    field: Field
    target: str  # node id, "{from}->{to}", or "" for network and request fields

    def _records(self, scenario: Scenario) -> List[Any]:
        if self.field.scope == NODE:
            return [node for node in scenario.nodes if node.id == self.target]
        if self.field.scope == LINK:
            return [link for link in scenario.links if _link_key(link) == self.target]
        return [scenario]

    def read(self, scenario: Scenario) -> float:
        """The value in `scenario`: of the node definition that counts (the last one with the id)
        or of the first link with the endpoints (the one routing uses)."""
        records = [r for r in self._records(scenario) if self.field.present(r)]
        return self.field.get(records[-1] if self.field.scope == NODE else records[0])

    def apply(self, scenario: Scenario, value: float) -> None:
        """Write `value` into `scenario`, on every record the key names."""
        for record in self._records(scenario):
            if self.field.present(record):
                self.field.put(record, value)

    @property
    def label(self) -> str:
        return describe(self.key)


def _link_key(link: Any) -> str:
    return f"{link.from_node}->{link.to}"


def vocabulary(scenario: Scenario) -> Dict[str, Parameter]:
    """Every key a sweep of `scenario` accepts, in order: node fields node by node, link fields
    link by link, then network and request fields."""
    table: Dict[str, Parameter] = {}

    def add(key: str, field: Field, target: str) -> None:
        if key not in table:  # the first record with a target names it
            table[key] = Parameter(key, field, target)

    for node in scenario.nodes:
        for field in FIELDS:
            if field.scope == NODE and field.present(node):
                add(f"{field.name}:{node.id}", field, str(node.id))
    for link in scenario.links:
        for field in FIELDS:
            if field.scope == LINK and field.present(link):
                add(f"{field.name}:{_link_key(link)}", field, _link_key(link))
    for scope in (NETWORK, REQUEST):
        for field in FIELDS:
            if field.scope == scope and field.present(scenario):
                add(field.name, field, "")
    return table


def lookup(table: Mapping[str, Parameter], key: str, scenario: Scenario) -> Parameter:
    """The parameter `key` names in `table` (the vocabulary of `scenario`); a ValueError that says
    why a key is missing: a field of the other model, or no such key."""
    if key in table:
        return table[key]
    if key.startswith("physics.") and not _has_model(scenario):
        raise ValueError(
            f"parameter {key!r} needs an engine with a physical model "
            "(SimulationConfig(physics=PhysicalModel()))"
        )
    if key == "alpha_loss_db_km" and _has_model(scenario):
        raise ValueError(
            "parameter 'alpha_loss_db_km' acts on the cycle model only; the physical model's "
            "fiber attenuation is 'physics.fiber_loss_db_km'"
        )
    raise ValueError(f"unknown parameter {key!r}; valid parameters: {', '.join(table)}")


def parameter_keys(engine: tavo_core.TavoEngine) -> List[str]:
    """The keys `sweep` accepts for `engine` (its network, configuration and any request)."""
    return list(vocabulary(Scenario.of(engine, 0.0, 0.0)))


def describe(key: str) -> str:
    """How plots and reports name a parameter key or a result column: "distance_km:A->B" reads
    "Length A–B (km)"; a name nobody described comes back as it is."""
    name, _, target = key.partition(":")
    for field in FIELDS:
        if field.name == name:
            label = f"{field.label} {target.replace('->', EN_DASH)}" if target else field.label
            return f"{label} ({field.unit})" if field.unit else label
    return COLUMN_LABELS.get(key, key)


# Result columns of sweeps, rankings and comparisons, as axes and tables name them.
COLUMN_LABELS = {
    "runs": "Trials",
    "success_rate": "Success rate",
    "success_ci_low": "Success rate, 95 % interval low",
    "success_ci_high": "Success rate, 95 % interval high",
    "mean_latency_ms": "Mean latency (ms)",
    "mean_fidelity": "Mean fidelity",
    "congestion_drops": "Congestion drops",
    "effect": "Effect on the success rate",
    "latency_effect": "Effect on the mean latency (ms)",
    "fidelity_effect": "Effect on the mean fidelity",
}


def _run_point(
    scenario: Scenario,
    request: Tuple[str, str],
    runs: int,
    strategy: Optional[str],
    seed: int,
) -> PointResult:
    stats = scenario.simulate(request[0], request[1], runs, strategy_from_name(strategy), seed)
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
        real(value, f"each value of {key!r}")
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

    `vary` maps parameter keys to the values to try. Keys name a node or link parameter as the
    sensitivity analysis reports it ("memory_lifetime_t2:{node}", "distance_km:{from}->{to}",
    "base_fidelity:{from}->{to}", "generation_rate_hz:{from}->{to}", and "visibility:{from}->{to}"
    and "weather_factor:{from}->{to}" of satellite links with conditions; a link key sets every
    link listed with those endpoints in that direction), a network parameter ("alpha_loss_db_km",
    the fiber attenuation that sets the cycle model's purification factor, and the fields of the
    engine's optional configuration records, such as "physics.fiber_loss_db_km") or a request parameter ("fidelity_target",
    "max_latency_ms"); `parameter_keys(engine)` lists them. Rows come in `itertools.product`
    order, the first key varying slowest.

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
    workers_planned = worker_count(workers)
    scenario = Scenario.of(engine, fidelity_target, max_latency_ms)
    table = vocabulary(scenario)
    grid: Dict[str, List[Any]] = {}
    for key, values in vary.items():
        lookup(table, key, scenario)
        grid[key] = _check_values(key, values)

    base_seed = resolve_seed(seed)
    name = strategy_name(strategy)
    points = list(itertools.product(*grid.values()))
    arguments = []
    for point in points:
        variant = scenario.copy()
        for key, value in zip(grid, point):
            table[key].apply(variant, float(value))
        arguments.append((variant, (from_node, to), total, name, base_seed))
    results = run_tasks(
        executor, workers_planned, _run_point, arguments, [1] * len(arguments), progress, "point"
    )

    rows = []
    for point, (point_runs, rate, latency, fidelity, drops) in zip(points, results):
        row = _stat_row(point_runs, rate, latency, fidelity, drops)
        rows.append(list(point) + list(row.values()))
    return pd.DataFrame(rows, columns=list(grid) + list(STAT_COLUMNS))
