"""Sensitivity analysis of ensemble statistics.

Every variant is compared with the unchanged network run on the same seeds (seed_base for lowered
variants, seed_base + 1 for raised ones). The expected impacts of one-hop networks are computed with
an independent model of the seeded generator and of a one-hop trial; on longer routes the analysis
is checked through what common random numbers guarantee.
"""

import math

import pytest
from docs_support import documented_after

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
    seed_low, seed_high = seed_base, (seed_base + 1) % U64
    reference_low = model_rate(link, TARGET, LIMIT, CUTOFF, 0.12, trials, seed_low)
    reference_high = model_rate(link, TARGET, LIMIT, CUTOFF, 0.12, trials, seed_high)
    impacts = []
    for key, (low_link, low_factor), (high_link, high_factor) in variants:
        low = model_rate(low_link, TARGET, LIMIT, CUTOFF, low_factor, trials, seed_low)
        high = model_rate(high_link, TARGET, LIMIT, CUTOFF, high_factor, trials, seed_high)
        impact = 0.0 if base < 0.01 else (abs(high - reference_high) + abs(low - reference_low)) / base
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
        # variants fail every trial, which is their whole reference rate each.
        reference = [model_rate((150.0, FIDELITY), TARGET, LIMIT, CUTOFF, 0.12, 200, s) for s in (1000, 1001)]
        assert result["alpha_loss_db_km"] == sum(reference) / stats.empirical_success_rate
        assert list(result)[0] == "alpha_loss_db_km"
        # Memory lifetimes and generation rates do not enter a fidelity-first request.
        assert result["memory_lifetime_t2:A"] == result["generation_rate_hz:A->B"] == 0.0

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
        documented_after(method.__doc__, (
            "Perturb each simulation parameter \u00b110 %, re-run the ensemble, and report\n"
            "which parameters most influence `empirical_success_rate`.\n"
            "\n"
            "Returns a dict sorted by absolute impact (descending):\n"
            '  {"memory_lifetime_t2:node_A": 0.34, "base_fidelity:link_0->link_B": 0.28, ...}'
        ))


class TestCommonRandomNumbers:
    """A five-node chain A-B-C-D-E, requested from A to C: the links C-D and D-E are off the route."""

    @staticmethod
    def chain_stats(strategy=None):
        engine = tavo.TavoEngine()
        names = "ABCDE"
        engine.define_network([tavo.NodeDefinition(n, 1.0) for n in names],
                              [tavo.LinkDefinition(a, b, 90.0, 0.93, 500.0) for a, b in zip(names, names[1:])])
        return engine.simulate("A", "C", 0.9, 40.0, 300, strategy, seed=5)

    def test_parameters_off_the_route_and_timeline_score_exactly_zero(self):
        stats = self.chain_stats()
        assert 0.05 < stats.empirical_success_rate < 0.95
        result = stats.sensitivity_analysis(123)
        untouched = [key for key in result if key.startswith("memory_lifetime_t2:")
                     or key.endswith(("C->D", "D->E")) or key.startswith("generation_rate_hz:")]
        assert len(untouched) == 5 + 6 + 2
        assert {result[key] for key in untouched} == {0.0}
        # Lengths and fidelities on the route change the link attempts' success probabilities.
        moving = ["distance_km:A->B", "base_fidelity:A->B", "distance_km:B->C", "base_fidelity:B->C"]
        assert all(result[key] > 0.0 for key in moving), result
        assert set(list(result)[:4]) == set(moving)

    @pytest.mark.parametrize("strategy", [None, tavo.StrategyType.HighestSuccess])
    def test_the_same_seed_base_gives_the_same_ranking(self, strategy):
        stats = self.chain_stats(strategy)
        first = stats.sensitivity_analysis(2**64 - 1)
        assert list(first.items()) == list(stats.sensitivity_analysis(2**64 - 1).items())
        assert list(first.items()) == list(self.chain_stats(strategy).sensitivity_analysis(2**64 - 1).items())
