"""Results as rows: plain dicts for anyone, pandas DataFrames for those who have pandas."""

from __future__ import annotations

import math
import numbers
from statistics import NormalDist
from typing import TYPE_CHECKING, Any, Dict, List, Mapping, Sequence, Tuple

import tavo_core

from ._optional import missing
from ._shared import real, success_count

if TYPE_CHECKING:
    import pandas

__all__ = ["STAT_COLUMNS", "records", "success_interval", "to_frame", "wilson_interval"]

STAT_COLUMNS = (
    "runs",
    "success_rate",
    "success_ci_low",
    "success_ci_high",
    "mean_latency_ms",
    "mean_fidelity",
    "congestion_drops",
)
ATTEMPTS_PREFIX = "attempts:"
REPORT_COLUMNS = (
    "topology",
    "runs",
    "success_rate",
    "success_ci_low",
    "success_ci_high",
    "mean_latency_ms",
    "mean_fidelity",
)
SENSITIVITY_COLUMNS = ("parameter", "impact")
RESULT_COLUMNS = ("success", "latency_ms", "final_fidelity", "execution_path")

Row = Dict[str, Any]


def wilson_interval(successes: int, runs: int, confidence: float = 0.95) -> Tuple[float, float]:
    """The Wilson score interval of a success probability from `successes` out of `runs` trials;
    (nan, nan) when there are no trials."""
    if not 0.0 < real(confidence, "confidence") < 1.0:
        raise ValueError(f"confidence must lie strictly between 0 and 1, got {confidence!r}")
    if runs == 0:
        return math.nan, math.nan
    z = NormalDist().inv_cdf(0.5 + confidence / 2.0)
    p = successes / runs
    z2n = z * z / runs
    centre = (p + z2n / 2.0) / (1.0 + z2n)
    half = z / (1.0 + z2n) * math.sqrt(p * (1.0 - p) / runs + z2n / (4.0 * runs))
    # At 0 or all successes one bound is exactly 0 or 1; computed, it would be off by rounding.
    low = 0.0 if successes == 0 else max(0.0, centre - half)
    high = 1.0 if successes == runs else min(1.0, centre + half)
    return low, high


def success_interval(
    stats: tavo_core.MonteCarloStats, confidence: float = 0.95
) -> Tuple[float, float]:
    """The Wilson score interval (low, high) of the statistics' success rate at `confidence`."""
    runs = int(stats.total_runs)
    successes = success_count(stats.empirical_success_rate, runs)
    return wilson_interval(successes, runs, confidence)


def _stat_row(runs: int, rate: float, latency: float, fidelity: float, drops: Any) -> Row:
    low, high = wilson_interval(success_count(rate, runs), runs)
    row: Row = {
        "runs": runs,
        "success_rate": rate,
        "success_ci_low": low,
        "success_ci_high": high,
        "mean_latency_ms": latency,
        "mean_fidelity": fidelity,
    }
    if drops is not None:
        row["congestion_drops"] = int(drops)
    return row


def _with_attempts(rows: List[Row], heatmaps: Sequence[Mapping[str, Any]]) -> List[Row]:
    # One column per link key met in any row, in order of first appearance; a link a row's route
    # did not use had no attempts there.
    keys = list(dict.fromkeys(str(key) for heatmap in heatmaps for key in heatmap))
    for row, heatmap in zip(rows, heatmaps):
        for key in keys:
            row[ATTEMPTS_PREFIX + key] = int(heatmap.get(key, 0))
    return rows


def _stats_rows(items: Sequence[tavo_core.MonteCarloStats]) -> List[Row]:
    rows = [
        _stat_row(
            int(stats.total_runs),
            float(stats.empirical_success_rate),
            float(stats.mean_latency_ms),
            float(stats.mean_fidelity),
            stats.aggregate_congestion_drops,
        )
        for stats in items
    ]
    return _with_attempts(rows, [stats.link_utilization_heatmap for stats in items])


def _report_rows(report: tavo_core.TopologyComparisonReport) -> List[Row]:
    runs = int(report.runs)
    results = report.results
    rows = []
    for result in results:
        row: Row = {"topology": str(result.topology_name)}
        row.update(
            _stat_row(
                runs,
                float(result.success_rate),
                float(result.mean_latency_ms),
                float(result.mean_fidelity),
                None,
            )
        )
        rows.append(row)
    return _with_attempts(rows, [result.link_utilization for result in results])


def _is_simulation_result(item: Any) -> bool:
    return type(item).__name__ == "SimulationResult" and hasattr(item, "execution_path")


def _table(obj: Any) -> Tuple[List[str], List[Row]]:
    """The columns and rows of any result this module understands."""
    if isinstance(obj, tavo_core.MonteCarloStats):
        rows = _stats_rows([obj])
        return list(rows[0]), rows
    if isinstance(obj, tavo_core.TopologyComparisonReport):
        rows = _report_rows(obj)
        attempts = [key for key in (rows[0] if rows else {}) if key.startswith(ATTEMPTS_PREFIX)]
        return list(REPORT_COLUMNS) + attempts, rows
    if isinstance(obj, Mapping):
        rows = []
        for key, impact in obj.items():
            if (
                not isinstance(key, str)
                or isinstance(impact, bool)
                or not isinstance(impact, numbers.Real)
            ):
                raise TypeError("a sensitivity ranking maps parameter names to impacts")
            rows.append({"parameter": key, "impact": float(impact)})
        return list(SENSITIVITY_COLUMNS), rows
    if isinstance(obj, (list, tuple)):
        items = list(obj)
        if all(isinstance(item, tavo_core.MonteCarloStats) for item in items):
            # An empty list is read as an empty list of statistics.
            rows = _stats_rows(items)
            return (list(rows[0]) if rows else list(STAT_COLUMNS)), rows
        if all(_is_simulation_result(item) for item in items):
            return list(RESULT_COLUMNS), [
                {
                    "success": bool(item.success),
                    "latency_ms": float(item.latency_ms),
                    "final_fidelity": float(item.final_fidelity),
                    "execution_path": [str(node) for node in item.execution_path],
                }
                for item in items
            ]
        raise TypeError("a list must hold only MonteCarloStats or only SimulationResult objects")
    raise TypeError(
        "expected MonteCarloStats, a list of MonteCarloStats or of SimulationResult, "
        f"a TopologyComparisonReport or a sensitivity dict, not {type(obj).__name__}"
    )


def records(obj: Any) -> List[Dict[str, Any]]:
    """The rows of `to_frame(obj)` as plain dicts of Python str, int, float, bool and list values.

    `json.dumps` accepts them; it writes a NaN (the rates of an empty ensemble) as the bare token
    NaN, which strict JSON readers refuse (pass allow_nan=False to have it raise instead).
    """
    return _table(obj)[1]


def to_frame(obj: Any) -> pandas.DataFrame:
    """A pandas DataFrame of a result, one row per item.

    - `MonteCarloStats` or a list of them: "runs", "success_rate", "success_ci_low",
      "success_ci_high" (95 % Wilson interval), "mean_latency_ms", "mean_fidelity",
      "congestion_drops", and one "attempts:{link}" column per heatmap key.
    - `TopologyComparisonReport`: one row per topology in report order: "topology", then the
      statistics of the report's run count (no drops), and "attempts:{link}" columns.
    - a sensitivity ranking dict: "parameter", "impact", in ranking order.
    - a list of `SimulationResult`: "success", "latency_ms", "final_fidelity", "execution_path".
    """
    try:
        import pandas as pd
    except ImportError as exc:
        raise missing("pandas", "frames", "to_frame") from exc
    columns, rows = _table(obj)
    return pd.DataFrame(rows, columns=columns)
