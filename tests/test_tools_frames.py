"""Results as rows: the Wilson interval, records that json accepts, and DataFrames of statistics,
comparison reports, sensitivity rankings and single results."""

import json
import math
from statistics import NormalDist

import pytest

import tavo_core as tavo
import tavo_tools
from tavo_tools.frames import wilson_interval
from tools_support import chain_engine

STATS = [
    "runs",
    "success_rate",
    "success_ci_low",
    "success_ci_high",
    "mean_latency_ms",
    "mean_fidelity",
    "congestion_drops",
]


def score(p_hat, p, runs):
    """The score statistic of the hypothesis that the success probability is p."""
    return abs(p_hat - p) / math.sqrt(p * (1.0 - p) / runs)


@pytest.mark.parametrize(
    "successes, runs", [(1, 10), (5, 10), (81, 263), (999, 1000), (40, 10_000)]
)
@pytest.mark.parametrize("confidence", [0.8, 0.95, 0.999])
def test_wilson_bounds_are_where_the_score_test_turns(successes, runs, confidence):
    # The Wilson interval holds the probabilities the score test does not reject: at each bound the
    # statistic equals the normal quantile of the confidence.
    low, high = wilson_interval(successes, runs, confidence)
    z = NormalDist().inv_cdf((1.0 + confidence) / 2.0)
    p_hat = successes / runs
    assert 0.0 < low < p_hat < high < 1.0
    assert score(p_hat, low, runs) == pytest.approx(z, rel=1e-9)
    assert score(p_hat, high, runs) == pytest.approx(z, rel=1e-9)


@pytest.mark.parametrize("runs", [1, 7, 500])
def test_wilson_at_the_edges(runs):
    z2 = NormalDist().inv_cdf(0.975) ** 2
    assert wilson_interval(0, runs) == (0.0, pytest.approx(z2 / (runs + z2)))
    low, high = wilson_interval(runs, runs)
    assert (low, high) == (pytest.approx(runs / (runs + z2)), 1.0)


def test_success_interval_of_statistics():
    stats = tavo.MonteCarloStats(263, 81 / 263, 1.0, 0.9, 0, {})
    assert tavo_tools.success_interval(stats) == wilson_interval(81, 263, 0.95)
    narrow, wide = tavo_tools.success_interval(stats, 0.5), tavo_tools.success_interval(stats, 0.99)
    assert wide[0] < narrow[0] < narrow[1] < wide[1]
    empty = tavo.MonteCarloStats(0, math.nan, math.nan, 0.0, 0, {})
    assert all(math.isnan(v) for v in tavo_tools.success_interval(empty))


@pytest.mark.parametrize(
    "confidence, error",
    [
        (0.0, ValueError),
        (1.0, ValueError),
        (1.5, ValueError),
        (-0.2, ValueError),
        (math.nan, ValueError),
        ("0.9", TypeError),
        (True, TypeError),
    ],
)
def test_confidence_is_checked(confidence, error):
    with pytest.raises(error):
        tavo_tools.success_interval(tavo.MonteCarloStats(10, 0.5, 1.0, 0.9, 0, {}), confidence)


@pytest.fixture(scope="module")
def engine():
    return chain_engine()


def test_statistics_rows(engine):
    one = engine.simulate("A", "C", 0.85, 300.0, 400, None, 1)
    other = engine.simulate("C", "D", 0.9, 400.0, 300, None, 1)
    frame = tavo_tools.to_frame([one, other])
    assert list(frame.columns) == STATS + ["attempts:A->B", "attempts:B->C", "attempts:C->D"]
    for stats, row in zip([one, other], tavo_tools.records([one, other])):
        heatmap = stats.link_utilization_heatmap
        assert row == {
            "runs": stats.total_runs,
            "success_rate": stats.empirical_success_rate,
            "success_ci_low": tavo_tools.success_interval(stats)[0],
            "success_ci_high": tavo_tools.success_interval(stats)[1],
            "mean_latency_ms": stats.mean_latency_ms,
            "mean_fidelity": stats.mean_fidelity,
            "congestion_drops": stats.aggregate_congestion_drops,
            **{f"attempts:{key}": heatmap.get(key, 0) for key in ("A->B", "B->C", "C->D")},
        }
    assert frame.to_dict("records") == tavo_tools.records([one, other])
    assert list(tavo_tools.to_frame(one).columns) == STATS + ["attempts:A->B", "attempts:B->C"]


def test_comparison_report_rows_in_report_order():
    endpoints = [
        tavo.TopologyEndpoints("repeater_chain", "N0", "N3"),
        tavo.TopologyEndpoints("hybrid", "Toronto", "London"),
        tavo.TopologyEndpoints("repeater_chain", "N1", "N2"),
    ]
    report = tavo.compare_topologies(endpoints, 0.7, 5000.0, 200)
    frame = tavo_tools.to_frame(report)
    assert list(frame.columns[:7]) == ["topology"] + STATS[:-1]
    assert list(frame.topology) == ["repeater_chain", "hybrid", "repeater_chain"]
    assert list(frame.success_rate) == [result.success_rate for result in report.results]
    assert list(frame.runs) == [200] * 3
    for row, result in zip(frame.to_dict("records"), report.results):
        attempts = {
            k[len("attempts:") :]: v for k, v in row.items() if k.startswith("attempts:") and v
        }
        assert attempts == dict(result.link_utilization)


def test_sensitivity_rows_keep_the_ranking_order(engine):
    ranking = engine.simulate("A", "B", 0.9, 200.0, 300, None, 3).sensitivity_analysis(5)
    frame = tavo_tools.to_frame(ranking)
    assert list(frame.columns) == ["parameter", "impact"]
    assert list(zip(frame.parameter, frame.impact)) == list(ranking.items())


def test_single_results_rows(engine):
    results = [
        engine.request_entanglement("A", "C", 0.85, 300.0),
        engine.request_entanglement("A", "Z", 0.9, 1.0),
    ]
    assert tavo_tools.records(results) == [
        {
            "success": r.success,
            "latency_ms": r.latency_ms,
            "final_fidelity": r.final_fidelity,
            "execution_path": r.execution_path,
        }
        for r in results
    ]
    assert list(tavo_tools.to_frame(results).columns) == [
        "success",
        "latency_ms",
        "final_fidelity",
        "execution_path",
    ]


def test_records_are_plain_json_values(engine):
    objects = [
        [engine.simulate("A", "B", 0.9, 200.0, 50, None, 1)],
        tavo.compare_topologies(
            [tavo.TopologyEndpoints("repeater_chain", "N0", "N3")], 0.7, 5000.0, 20
        ),
        {"alpha_loss_db_km": 0.25},
        [engine.request_entanglement("A", "C", 0.85, 300.0)],
    ]
    for obj in objects:
        rows = tavo_tools.records(obj)
        for row in rows:
            for value in row.values():
                assert type(value) in (str, int, float, bool, list)
        assert json.loads(json.dumps(rows)) == rows
    empty = engine.simulate("A", "B", 0.9, 200.0, 0, None, 1)
    text = json.dumps(tavo_tools.records(empty))
    assert '"success_rate": NaN' in text and '"success_ci_low": NaN' in text
    with pytest.raises(ValueError):
        json.dumps(tavo_tools.records(empty), allow_nan=False)


@pytest.mark.parametrize(
    "obj",
    [
        42,
        "stats",
        [1, 2],
        [tavo.MonteCarloStats(1, 1.0, 1.0, 1.0, 0, {}), 3],
        {"key": "not a number"},
    ],
)
def test_other_objects_are_refused(obj):
    with pytest.raises(TypeError):
        tavo_tools.records(obj)
