"""Sensitivity analysis of ensemble statistics.

On a one-hop route the processing losses cannot change a trial's outcome, so every ensemble of the
analysis is exact there; the expected impacts are computed with an independent model of the seeded
generator and of a one-hop trial.
"""

import math

import pytest

import tavo_core as tavo
from timeline_model import Config, ensemble

U64 = 2**64


def model_rate(link, target, limit, cutoff, factor, trials, seed):
    distance, fidelity = link
    links = [("A", "B", distance, fidelity, 500.0)]
    config = Config(purify_factor=factor, cutoff=cutoff)
    return ensemble(links, ["A", "B"], target, limit, trials, seed, config).empirical_success_rate


def one_hop_engine(extra_nodes=()):
    engine = tavo.TavoEngine()
    nodes = [tavo.NodeDefinition("A", 2.0), tavo.NodeDefinition("B", 3.0)]
    nodes += [tavo.NodeDefinition(name, 1.0) for name in extra_nodes]
    engine.define_network(nodes, [tavo.LinkDefinition("A", "B", 150.0, FIDELITY, 500.0)])
    return engine


TARGET, LIMIT, CUTOFF, FIDELITY = 0.93, 100.0, 5000.0, 0.85


def expected_impacts(stats, seed_base, node_ids, trials):
    base = stats.empirical_success_rate
    link = (150.0, FIDELITY)
    variants = []  # (result key, lowered (link, factor), raised (link, factor))
    for node in node_ids:
        variants.append((f"memory_lifetime_t2:{node}", (link, 0.12), (link, 0.12)))
    variants.append(("distance_km:A->B", ((150.0 * 0.9, FIDELITY), 0.12), ((150.0 * 1.1, FIDELITY), 0.12)))
    variants.append(("base_fidelity:A->B", ((150.0, FIDELITY * 0.9), 0.12), ((150.0, FIDELITY * 1.1), 0.12)))
    variants.append(("generation_rate_hz:A->B", (link, 0.12), (link, 0.12)))
    variants.append(("alpha_loss_db_km", (link, (0.9 * 0.2) / 10.0), (link, (1.1 * 0.2) / 10.0)))
    impacts = []
    seed = seed_base
    for key, (low_link, low_factor), (high_link, high_factor) in variants:
        low = model_rate(low_link, TARGET, LIMIT, CUTOFF, low_factor, trials, seed)
        high = model_rate(high_link, TARGET, LIMIT, CUTOFF, high_factor, trials, (seed + 1) % U64)
        seed = (seed + 2) % U64
        impact = 0.0 if base < 0.01 else (abs(high - base) + abs(low - base)) / base
        impacts.append((key, impact))
    return sorted(impacts, key=lambda item: -item[1])


class TestExactImpacts:
    def test_one_hop_network(self):
        stats = one_hop_engine().simulate("A", "B", TARGET, LIMIT, 400, seed=11)
        assert stats.empirical_success_rate == model_rate((150.0, FIDELITY), TARGET, LIMIT, CUTOFF, 0.12, 400, 11)
        result = stats.sensitivity_analysis(1000)
        expected = expected_impacts(stats, 1000, ["A", "B"], trials=200)
        assert list(result.items()) == expected
        # With the weak fixed purify factors one purification no longer reaches the target: both
        # variants fail every trial, and the impact is exactly 2.
        assert result["alpha_loss_db_km"] == 2.0
        assert list(result)[0] == "alpha_loss_db_km"

    def test_five_nodes_use_fifty_trials_each_and_seeds_wrap(self):
        stats = one_hop_engine(extra_nodes=("C", "D", "E")).simulate("A", "B", TARGET, LIMIT, 100, seed=3)
        seed_base = U64 - 3
        result = stats.sensitivity_analysis(seed_base)
        expected = expected_impacts(stats, seed_base, ["A", "B", "C", "D", "E"], trials=250)
        assert list(result.items()) == expected

    def test_a_changed_base_rate_rescales_every_impact(self):
        stats = one_hop_engine().simulate("A", "B", TARGET, LIMIT, 50, seed=5)
        stats.empirical_success_rate = 0.5
        result = stats.sensitivity_analysis(77)
        assert list(result.items()) == expected_impacts(stats, 77, ["A", "B"], trials=200)


class TestStructure:
    def test_low_base_rate_gives_zero_impacts_in_parameter_order(self):
        engine = tavo.TavoEngine()
        engine.define_network(
            [tavo.NodeDefinition("X", 1.0), tavo.NodeDefinition("Y", 1.0)],
            [tavo.LinkDefinition("X", "Y", 10.0, 0.9, 100.0), tavo.LinkDefinition("Y", "Z", 10.0, 0.9, 100.0)],
        )
        stats = engine.simulate("X", "Y", 1.5, 100.0, 20, seed=1)  # unreachable target
        assert stats.empirical_success_rate == 0.0
        result = stats.sensitivity_analysis(0)
        assert list(result) == [
            "memory_lifetime_t2:X", "memory_lifetime_t2:Y",
            "distance_km:X->Y", "base_fidelity:X->Y", "generation_rate_hz:X->Y",
            "distance_km:Y->Z", "base_fidelity:Y->Z", "generation_rate_hz:Y->Z",
            "alpha_loss_db_km",
        ]
        assert set(result.values()) == {0.0}

    def test_nothing_to_perturb_still_reports_the_loss_parameter(self):
        engine = tavo.TavoEngine()
        engine.define_network([], [])
        stats = engine.simulate("A", "B", 0.8, 100.0, 10, seed=1)
        assert stats.sensitivity_analysis(0) == {"alpha_loss_db_km": 0.0}

    def test_parallel_links_share_result_keys(self):
        engine = tavo.TavoEngine()
        engine.define_network(
            [tavo.NodeDefinition("A", 1.0), tavo.NodeDefinition("B", 1.0)],
            [tavo.LinkDefinition("A", "B", 10.0, 0.9, 100.0), tavo.LinkDefinition("A", "B", 99.0, 0.5, 1.0)],
        )
        stats = engine.simulate("A", "B", 1.5, 100.0, 10, seed=1)
        result = stats.sensitivity_analysis(0)
        assert list(result) == [
            "memory_lifetime_t2:A", "memory_lifetime_t2:B",
            "distance_km:A->B", "base_fidelity:A->B", "generation_rate_hz:A->B", "alpha_loss_db_km",
        ]

    def test_without_context(self):
        stats = tavo.MonteCarloStats(10, 0.5, 1.0, 0.9, 0, {})
        with pytest.raises(ValueError) as error:
            stats.sensitivity_analysis(1)
        assert str(error.value) == (
            "No simulation context available. Pass store_context=True to simulate()."
        )

    def test_context_is_only_read(self):
        stats = one_hop_engine().simulate("A", "B", TARGET, LIMIT, 20, seed=2)
        before = (stats._context.nodes, stats._context.links, stats.empirical_success_rate)
        stats.sensitivity_analysis(3)
        assert (stats._context.nodes, stats._context.links, stats.empirical_success_rate) == before

    @pytest.mark.parametrize("seed_base, error", [(-1, OverflowError), (1.5, TypeError), ("1", TypeError)])
    def test_seed_base_conversion(self, seed_base, error):
        stats = one_hop_engine().simulate("A", "B", TARGET, LIMIT, 5, seed=2)
        with pytest.raises(error):
            stats.sensitivity_analysis(seed_base)

    def test_nan_base_rate_from_an_empty_ensemble(self):
        stats = one_hop_engine().simulate("A", "B", TARGET, LIMIT, 0, seed=2)
        result = stats.sensitivity_analysis(3)
        assert len(result) == 6 and all(math.isnan(v) for v in result.values())

    def test_signature_and_docstring(self):
        method = tavo.MonteCarloStats.sensitivity_analysis
        assert method.__text_signature__ == "($self, seed_base)"
        assert method.__doc__ == (
            "Perturb each simulation parameter \u00b110 %, re-run the ensemble, and report\n"
            "which parameters most influence `empirical_success_rate`.\n"
            "\n"
            "Returns a dict sorted by absolute impact (descending):\n"
            '  {"memory_lifetime_t2:node_A": 0.34, "base_fidelity:link_0->link_B": 0.28, ...}'
        )
