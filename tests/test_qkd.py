"""Key distribution: the round loop and its time budget, the error rate, the twice-truncated key length,
and the Python surface."""

import math

import pytest

from tavo_core import LinkDefinition, NodeDefinition, QKDParameters, QKDResult, QKDStats, StrategyType, TavoEngine, qkd

U64_MAX = 2**64 - 1
EMPTY = (False, 0, 0.0, 1.0, 0.0, [], 0, 0)


@pytest.fixture(scope="module")
def engine():
    """One-hop routes only. A-B (0 km, 0.9) meets a target of 0.8 at once; B-D (0 km, 0.86) needs one
    purification step (0.85 ms) to meet 0.9; A-C (1000 km) takes 5 ms to propagate."""
    engine = TavoEngine()
    links = [("A", "B", 0.0, 0.9), ("A", "C", 1000.0, 0.9), ("B", "D", 0.0, 0.86)]
    engine.define_network([NodeDefinition(n, 1.0) for n in "ABCD"], [LinkDefinition(*l, 100.0) for l in links])
    return engine


def fields(r):
    return (r.success, r.secret_key_length_bits, r.efficiency_rate, r.qber, r.latency_ms, r.execution_path,
            r.rounds_completed, r.rounds_failed)


def qber_of(fidelity, completed):
    total = 0.0
    for _ in range(completed):
        total += fidelity
    return (1.0 - total / completed) * 0.5


def test_every_round_succeeding_gives_the_worked_example(engine):
    one = engine.request_entanglement("A", "B", 0.8, 100.0, StrategyType.HighestFidelity)
    assert (one.success, one.latency_ms, one.final_fidelity) == (True, 0.0, 0.9)
    assert fields(qkd(engine, "A", "B", 0.8, 100.0)) == (True, 40, 0.4, qber_of(0.9, 100), 0.0, ["A", "B"], 100, 0)


@pytest.mark.parametrize(
    "with_network, rounds, budget, failed",
    [(False, None, 100.0, 0), (False, 0, 100.0, 0), (True, 0, 100.0, 0),
     (True, None, 0.0, 1), (True, None, -5.0, 1), (True, 5, -math.inf, 1)],
)
def test_nothing_requested(engine, with_network, rounds, budget, failed):
    # A spent budget fails exactly one round; no network or no rounds fail none.
    chosen = engine if with_network else TavoEngine()
    assert fields(chosen.run_qkd(QKDParameters("A", "B", 0.8, budget, rounds))) == EMPTY[:7] + (failed,)


def test_budget_running_out_after_successful_rounds(engine):
    # Each round costs 0.85 ms, even when less budget than that is left.
    one = engine.request_entanglement("B", "D", 0.9, 0.1, StrategyType.HighestFidelity)
    assert (one.success, one.latency_ms) == (True, 0.85)
    elapsed = 0.0
    for _ in range(12):
        elapsed += 0.85
    assert fields(qkd(engine, "B", "D", 0.9, 10.0)) == (
        True, 4, 0.04, qber_of(one.final_fidelity, 12), elapsed, ["B", "D"], 12, 1)


@pytest.mark.parametrize(
    "target, budget, rounds, failed, latency",
    [
        ("Z", 10.0, 100, 5, 10.0),  # four failed rounds of 2.5 ms, then the one that finds the budget spent
        ("Z", 10.5, 100, 6, 12.5),
        ("Z", 100.0, 3, 3, 7.5),  # the rounds run out first
        ("C", 3.0, 100, 3, 5.0),  # requests fail at 5 ms with a path: still 2.5 ms each, and no path kept
    ],
)
def test_failed_rounds_cost_2_5_ms(engine, target, budget, rounds, failed, latency):
    assert fields(qkd(engine, "A", target, 0.8, budget, rounds)) == EMPTY[:4] + (latency, [], 0, failed)


@pytest.mark.parametrize("rounds, key", [(1, 0), (3, 0), (4, 1), (10, 4)])
def test_key_length_truncates_twice(engine, rounds, key):
    # 3 rounds: 1.5 sifted bits become 1, then 0.8 key bits become 0; the exchange still succeeded.
    result = qkd(engine, "A", "B", 0.8, 100.0, rounds)
    assert (result.success, result.secret_key_length_bits, result.efficiency_rate) == (True, key, key / rounds)


def test_error_rate_must_be_strictly_below_the_tolerance(engine):
    qber = qber_of(0.9, 10)
    at = qkd(engine, "A", "B", 0.8, 100.0, 10, qber)
    assert (at.success, at.secret_key_length_bits, at.efficiency_rate, at.qber) == (True, 0, 0.0, qber)
    assert qkd(engine, "A", "B", 0.8, 100.0, 10, math.nextafter(qber, 1.0)).secret_key_length_bits == 4
    assert qkd(engine, "A", "B", 0.8, 100.0, 10, math.nan).secret_key_length_bits == 0


@pytest.mark.parametrize(
    "sifting, amplification, key",
    [(0.0, 1.0, 10), (1.0, 0.8, 0), (1.5, 0.8, 0), (0.5, -1.0, 0), (math.nan, 0.8, 0), (0.5, math.nan, 0),
     (-1e30, 1.0, U64_MAX), (0.5, 1e30, U64_MAX), (0.5, math.inf, U64_MAX)],
)
def test_key_length_conversion_saturates(engine, sifting, amplification, key):
    result = engine.run_qkd(QKDParameters("A", "B", 0.8, 100.0, 10, None, sifting, amplification))
    assert (result.secret_key_length_bits, result.efficiency_rate) == (key, float(key) / 10)


def test_parameter_defaults_and_the_module_function(engine):
    params = QKDParameters("A", "B", 0.8, 100.0, None, None, None, None)
    assert (params.rounds, params.error_rate_tolerance, params.sifting_overhead_ratio,
            params.privacy_amplification_factor) == (100, 0.11, 0.5, 0.8)
    assert fields(qkd(engine, "A", "B", 0.8, 100.0)) == fields(engine.run_qkd(params))
    params.sifting_overhead_ratio, params.privacy_amplification_factor = 0.0, 1.0
    assert engine.run_qkd(params).secret_key_length_bits == 100


@pytest.mark.parametrize(
    "call",
    [lambda e: QKDParameters("A", "B", 0.8, 1.0, -1), lambda e: QKDResult(True, -1, 0.0, 0.0, 0.0, [], 0, 0),
     lambda e: setattr(QKDParameters("A", "B", 0.8, 1.0), "rounds", -1), lambda e: qkd(e, "A", "B", 0.8, 1.0, -1)],
)
def test_negative_counts_are_refused(engine, call):
    with pytest.raises(OverflowError):
        call(engine)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda e: qkd("e", "A", "B", 0.8, 1.0), "argument 'engine': 'str' object cannot be converted to 'TavoEngine'"),
        (lambda e: e.run_qkd(QKDStats(1, 0.0, 0.0, 0.0, 0.0)),
         "argument 'params': 'QKDStats' object cannot be converted to 'QKDParameters'"),
        (lambda e: qkd(e, "A", "B", 0.8, 1.0, 2.5), "argument 'rounds': "),
    ],
)
def test_argument_errors_name_the_argument(engine, call, message):
    with pytest.raises(TypeError) as error:
        call(engine)
    assert str(error.value).startswith(message)


@pytest.mark.parametrize(
    "value, text",
    [
        (QKDResult(True, 40, 0.4, 0.05, 1.0, [], 100, 0), "QKDResult(success=true, key_bits=40, qber=0.0500)"),
        (QKDResult(False, U64_MAX, 0.0, 0.123456, 0.0, [], 1, 0),
         f"QKDResult(success=false, key_bits={U64_MAX}, qber=0.1235)"),
        (QKDStats(10, 0.456, 12.34, 0.1, 0.02), "QKDStats(runs=10, success=46, mean_key_len=12.3)"),
    ],
)
def test_representations(value, text):
    assert repr(value) == text
