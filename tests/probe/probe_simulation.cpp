// Checks that the ensemble's fast trial loop gives exactly the figures of the plain timeline run
// once per trial (the reference timeline, recording every attempt), on many random networks and
// requests. Loss draws are either a pure function of the event (hop and time), so that both sides
// see the same losses whatever order they draw them in, or each trial's own loss stream, which the
// fast loop must consume as the plain timeline does wherever it can change the outcome. Each trial
// is also played as a single request is, observing the result alone, by the library
// (coordinate_timeline on the fast loop) and by the reference timeline as single requests played
// it before: neither may change the result.
//
//   ensemble-equivalence CASES SEED [event|stream] [KERNEL]
//
// The last line counts the cases and mismatches, the cases whose trials run cycles, succeed, and
// succeed on a route with an intermediate node, the trials played as single requests and, of
// those, the ones that failed after a failed attempt.
//
// With each trial's own loss stream (the seeded ensembles of the library), the trials played in
// groups are also checked against the reference trial loop, and an ensemble split at random points
// into consecutive chunks must give, trial for trial, the outcomes of the whole. Run counts
// include 0 and counts that are not multiples of any group width, and some seeds wrap past 2^64
// within the ensemble. KERNEL selects the block function for everything (status 3 when this CPU
// cannot run it).

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "probe.hpp"
#include "reference_loops.hpp"
#include "tavo/montecarlo/ensemble.hpp"
#include "tavo/scheduler/orchestrator.hpp"

namespace {

using namespace tavo;

struct EventHashLossDraw {
    double operator()(std::string_view a, std::string_view b, double time) const {
        std::uint64_t h = 1469598103934665603ull;
        auto mix = [&](std::uint64_t v) {
            h ^= v;
            h *= 1099511628211ull;
            h ^= h >> 29;
        };
        for (char c : a) mix(std::uint8_t(c));
        mix(0x100);
        for (char c : b) mix(std::uint8_t(c));
        mix(std::bit_cast<std::uint64_t>(time));
        mix(h >> 17);
        return half_open_from_u64(h * 0x9E3779B97F4A7C15ull);
    }
};

bool same(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_result(const SimulationResult& a, const SimulationResult& b) {
    return a.success == b.success && same(a.latency_ms, b.latency_ms) &&
           same(a.final_fidelity, b.final_fidelity) && a.execution_path == b.execution_path;
}

// How the single requests of a case compared with the reference timeline.
struct SingleRequests {
    std::uint64_t played = 0;     // trials also played as single requests
    std::uint64_t cut_short = 0;  // of them, failed after a failed attempt (drawn no further)
    std::uint64_t differing = 0;  // the library's single request or the reference timeline
                                  // observing the result alone differ from the full timeline
};

// The reference timeline recording everything, once per trial, summed as an ensemble sums. Each
// trial is also played as a single request is: by the library's coordinate_timeline and by the
// reference timeline observing the result alone, both of which skip what cannot change the result.
MonteCarloSummary plain_ensemble(const QuantumNetwork& network, const SimulationConfig& config,
                                 const EntanglementRequest& request, std::uint64_t runs,
                                 std::uint64_t seed, bool stream_losses, SingleRequests& singles) {
    MonteCarloSummary summary;
    std::uint64_t successes = 0;
    CompensatedSum latency_sum, fidelity_sum;
    for (std::uint64_t i = 0; i < runs; ++i) {
        ChaCha12Rng rng = ChaCha12Rng::seed_from_u64(seed + i);
        auto play = [&](NetworkTelemetry& telemetry, SimulationRuntime& runtime,
                        reference::Observed observed) {
            return stream_losses
                       ? reference::play_timeline(telemetry, network, runtime, request, &rng,
                                                  TrialLossDraw(rng.key()), observed)
                       : reference::play_timeline(telemetry, network, runtime, request, &rng,
                                                  EventHashLossDraw{}, observed);
        };
        SimulationRuntime runtime;
        NetworkTelemetry telemetry(config);
        const SimulationResult result = play(telemetry, runtime, reference::Observed::Everything);

        SimulationRuntime spare_runtime;
        NetworkTelemetry spare_telemetry(config);
        const SimulationResult result_only =
            play(spare_telemetry, spare_runtime, reference::Observed::ResultOnly);
        const SimulationResult single =
            stream_losses
                ? NetworkOrchestratorPolicy::coordinate_timeline(spare_telemetry, network,
                                                                 spare_runtime, request, &rng,
                                                                 TrialLossDraw(rng.key()))
                : NetworkOrchestratorPolicy::coordinate_timeline(
                      spare_telemetry, network, spare_runtime, request, &rng, EventHashLossDraw{});
        ++singles.played;
        singles.cut_short += !result.success && runtime.congestion_drops != 0;
        singles.differing += !same_result(result_only, result) || !same_result(single, result);

        if (result.success) fidelity_sum.add(result.final_fidelity);
        latency_sum.add(result.latency_ms);
        summary.aggregate_congestion_drops += runtime.congestion_drops;
        for (const auto& [key, count] : telemetry.link_firings().entries()) {
            summary.link_utilization_heatmap.add(key, count);
        }
        successes += result.success;
    }
    summary.total_runs = runs;
    summary.empirical_success_rate = double(successes) / double(runs);
    summary.mean_latency_ms = latency_sum.value() / double(runs);
    summary.mean_fidelity = successes ? fidelity_sum.value() / double(successes) : 0.0;
    return summary;
}

// The library's ensemble of trials played one at a time with the fast trial loop, each trial
// drawing its losses from a pure function of the event.
MonteCarloSummary fast_ensemble_with_event_losses(const QuantumNetwork& network,
                                                  const SimulationConfig& config,
                                                  const EntanglementRequest& request,
                                                  std::uint64_t runs, std::uint64_t seed) {
    require_finite_limits(request, config);
    const TimelinePlan plan = plan_timeline(network, config, request);
    const detail::FastPlan fast = detail::make_fast_plan(plan);
    detail::EnsembleTotals totals;
    InterruptCountdown interrupt;
    for (std::uint64_t i = 0; i < runs; ++i) {
        if (plan.outcome) {
            totals.add({plan.outcome->success, plan.outcome->latency_ms,
                        plan.outcome->final_fidelity, 0, 0});
        } else {
            ChaCha12Rng rng = ChaCha12Rng::seed_from_u64(seed + i);
            EventHashLossDraw loss;
            totals.add(detail::play_trial(fast, rng, loss, interrupt));
        }
    }
    return totals.summary(plan, runs);
}

// Heatmaps are compared as sets of entries: both sides list keys in a fixed but possibly different order.
bool same_counts(const KeyedCounts& a, const KeyedCounts& b) {
    if (a.entries().size() != b.entries().size()) return false;
    for (const auto& [key, count] : a.entries()) {
        if (b.get(key) != count) return false;
    }
    return true;
}

bool same_summary(const MonteCarloSummary& a, const MonteCarloSummary& b) {
    return a.total_runs == b.total_runs &&
           same(a.empirical_success_rate, b.empirical_success_rate) &&
           same(a.mean_latency_ms, b.mean_latency_ms) && same(a.mean_fidelity, b.mean_fidelity) &&
           a.aggregate_congestion_drops == b.aggregate_congestion_drops &&
           same_counts(a.link_utilization_heatmap, b.link_utilization_heatmap);
}

bool same_outcome(const detail::TrialOutcome& a, const detail::TrialOutcome& b) {
    return a.success == b.success && same(a.latency_ms, b.latency_ms) &&
           same(a.fidelity, b.fidelity) && a.drops == b.drops && a.cycles == b.cycles;
}

// The outcomes of the seeded trials seed .. seed + runs - 1 played in groups.
std::vector<detail::TrialOutcome> grouped_outcomes(const detail::FastPlan& plan, std::uint64_t runs,
                                                   std::uint64_t seed) {
    std::vector<detail::TrialOutcome> outcomes;
    InterruptCountdown interrupt;
    detail::play_seeded_trials(plan, runs, seed, interrupt, [&](const detail::TrialOutcome& trial) {
        outcomes.push_back(trial);
    });
    return outcomes;
}

// Whether the ensemble split at `cuts` into consecutive chunks, chunk k seeded where it starts,
// plays each trial as the whole does.
bool chunks_match_whole(const detail::FastPlan& plan, std::uint64_t runs, std::uint64_t seed,
                        std::vector<std::uint64_t> cuts) {
    const auto whole = grouped_outcomes(plan, runs, seed);
    if (whole.size() != runs) return false;
    cuts.push_back(runs);
    std::sort(cuts.begin(), cuts.end());
    std::uint64_t start = 0;
    for (std::uint64_t end : cuts) {
        const auto chunk = grouped_outcomes(plan, end - start, seed + start);
        for (std::uint64_t i = start; i < end; ++i) {
            if (!same_outcome(chunk[i - start], whole[i])) return false;
        }
        start = end;
    }
    return true;
}

// A plan for the trial loops made up directly, with what no network gives: thresholds at which
// every attempt fails or succeeds, budgets that are not multiples of the cycle, paths longer than
// block 0 holds. `names` keeps the hop names alive.
detail::FastPlan random_plan(const std::function<std::uint64_t(std::uint64_t)>& below,
                             std::vector<std::string>& names) {
    detail::FastPlan plan{};
    const std::size_t hops = 1 + below(10);
    names.clear();
    for (std::size_t i = 0; i <= hops; ++i) names.push_back("P" + std::to_string(i));
    for (std::size_t h = 0; h < hops; ++h) {
        const double ps[] = {0.5, 0.8875, 0.95, 0.98, 0.999};
        switch (below(6)) {
            case 0: plan.thresholds.push_back(0); break;
            case 1: plan.thresholds.push_back(std::uint64_t{1} << 52); break;
            default: plan.thresholds.push_back(inclusive_threshold(ps[below(5)])); break;
        }
        plan.hop_from.push_back(names[h]);
        plan.hop_to.push_back(names[h + 1]);
    }
    // Now and then every hop alike, all failing or all succeeding.
    if (below(6) == 0) {
        const std::uint64_t fixed = below(2) ? 0 : std::uint64_t{1} << 52;
        for (auto& threshold : plan.thresholds) threshold = fixed;
    }
    detail::derive_attempt_counts(plan);
    const double limits[] = {2.5, 3.7, 10.0, 51.3, 100.0, 1000.0, 5000.0};
    plan.limit = limits[below(7)];
    plan.cutoff = limits[below(7)];
    const double fidelities[] = {0.45, 0.6, 0.8, 0.9, 0.95, 0.99, 1.0};
    plan.target = fidelities[below(7)];
    plan.route_fidelity = fidelities[below(7)];
    plan.swapped_fidelity = fidelities[below(7)];
    plan.purify_factor = below(2) ? 0.02 : 0.001;
    plan.swaps = hops >= 2 && below(4) != 0;
    return plan;
}

// The seeded trials of a made-up plan played in groups against the reference trial loop, each
// trial with its own loss stream.
bool plan_trials_match(const detail::FastPlan& plan, std::uint64_t runs, std::uint64_t seed) {
    const auto grouped = grouped_outcomes(plan, runs, seed);
    InterruptCountdown interrupt;
    for (std::uint64_t i = 0; i < runs; ++i) {
        ChaCha12Rng rng = ChaCha12Rng::seed_from_u64(seed + i);
        TrialLossDraw loss(rng.key());
        if (!same_outcome(grouped[i],
                          reference::play_trial_reference(plan, rng, loss, interrupt))) {
            return false;
        }
    }
    return true;
}

int ensemble_equivalence(const std::vector<std::string>& args) {
    std::uint64_t cases = args.size() > 0 ? std::stoull(args[0]) : 200;
    ChaCha12Rng pick = ChaCha12Rng::seed_from_u64(args.size() > 1 ? std::stoull(args[1]) : 1);
    // "stream": both sides draw each trial's losses from its own stream, as ensembles do;
    // otherwise from a pure function of the event.
    const bool stream_losses = args.size() > 2 && args[2] == "stream";
    if (args.size() > 3) {
        bool known = false;
        for (auto kernel : {ChaChaKernel::Portable, ChaChaKernel::Avx2, ChaChaKernel::Avx512}) {
            if (args[3] != chacha_kernel_name(kernel)) continue;
            known = true;
            if (!select_chacha_kernel(kernel)) {
                std::fprintf(stderr, "%s is not supported here\n", args[3].c_str());
                return 3;
            }
        }
        if (!known) {
            std::fprintf(stderr, "bad kernel: %s\n", args[3].c_str());
            return 2;
        }
    }
    auto below = [&](std::uint64_t n) { return pick.next_u64() % n; };
    auto one_of = [&](std::initializer_list<double> values) {
        return *(values.begin() + below(values.size()));
    };

    std::uint64_t mismatches = 0, with_success = 0, with_swaps = 0, with_cycles = 0;
    std::uint64_t single_requests = 0, cut_short = 0;
    for (std::uint64_t c = 0; c < cases; ++c) {
        QuantumNetwork network;
        std::size_t node_count = 2 + below(5);
        for (std::size_t i = 0; i < node_count; ++i) {
            network.add_node({"N" + std::to_string(i), 1.0});
        }
        std::size_t name_count = node_count + below(2);  // some names appear only in links
        std::size_t link_count = 1 + below(8);
        for (std::size_t i = 0; i < link_count; ++i) {
            std::string a = "N" + std::to_string(below(name_count));
            std::string b = "N" + std::to_string(below(name_count));
            const double distance = one_of({0.0, 5.0, 10.0, 80.0, 100.0, 600.0, 2000.0});
            const double fidelity = one_of({0.5, 0.75, 0.85, 0.9, 0.95, 0.99, 1.0});
            const double rate = one_of({100.0, 1000.0});
            network.add_link({a, b, distance, fidelity, rate, LinkType::Fiber, std::nullopt});
        }
        SimulationConfig config;
        config.physical.baseline_purify_factor = one_of({0.02, 0.12, 0.3});
        config.total_time_cutoff_ms = one_of({0.0, 5.0, 100.0, 5000.0});
        EntanglementRequest request;
        request.from_node = "N" + std::to_string(below(name_count));
        request.to = "N" + std::to_string(below(name_count));
        request.fidelity_target = one_of({0.3, 0.5, 0.7, 0.8, 0.9, 0.95, 0.99});
        request.max_latency_ms = one_of({0.0, 2.5, 10.0, 100.0, 1000.0});
        switch (below(4)) {
            case 0: request.strategy = StrategyType::LowestLatency; break;
            case 1: request.strategy = StrategyType::HighestFidelity; break;
            case 2: request.strategy = StrategyType::HighestSuccess; break;
            default: break;
        }
        // Zero runs now and then; otherwise up to a few groups of the widest kernel.
        std::uint64_t runs = below(25) == 0 ? 0 : 1 + below(70);
        // Every few cases the seeds of the ensemble wrap past 2^64.
        std::uint64_t seed = below(8) == 0 ? 0 - below(runs + 1) : pick.next_u64();

        SingleRequests singles;
        MonteCarloSummary plain =
            plain_ensemble(network, config, request, runs, seed, stream_losses, singles);
        if (singles.differing != 0) {
            ++mismatches;
            std::printf("mismatch in case %llu: %llu single requests differ from the timeline\n",
                        (unsigned long long)c, (unsigned long long)singles.differing);
        }
        single_requests += singles.played;
        cut_short += singles.cut_short;
        MonteCarloSummary fast =
            stream_losses
                ? MonteCarloSimulationEngine::execute_ensemble(network, config, request, runs, seed)
                : fast_ensemble_with_event_losses(network, config, request, runs, seed);
        bool equal = same_summary(plain, fast);
        if (stream_losses) {
            const MonteCarloSummary one_by_one =
                reference::seeded_ensemble(network, config, request, runs, seed);
            if (!same_summary(plain, one_by_one)) {
                ++mismatches;
                std::printf("mismatch in case %llu: the reference trial loop differs\n",
                            (unsigned long long)c);
            }
            std::vector<std::string> names;
            if (!plan_trials_match(random_plan(below, names), runs, seed)) {
                ++mismatches;
                std::printf("mismatch in case %llu: a made-up plan's trials differ\n",
                            (unsigned long long)c);
            }
            const TimelinePlan plan = plan_timeline(network, config, request);
            if (!plan.outcome && runs > 0) {
                std::vector<std::uint64_t> cuts;
                for (std::uint64_t k = below(4); k > 0; --k) cuts.push_back(below(runs + 1));
                if (!chunks_match_whole(detail::make_fast_plan(plan), runs, seed, cuts)) {
                    ++mismatches;
                    std::printf("mismatch in case %llu: chunks differ from the whole\n",
                                (unsigned long long)c);
                }
            }
        }
        if (!equal) {
            ++mismatches;
            std::printf("mismatch in case %llu: plain %.17g %.17g %.17g %llu, fast %.17g %.17g %.17g %llu\n",
                        (unsigned long long)c, plain.empirical_success_rate, plain.mean_latency_ms,
                        plain.mean_fidelity, (unsigned long long)plain.aggregate_congestion_drops,
                        fast.empirical_success_rate, fast.mean_latency_ms, fast.mean_fidelity,
                        (unsigned long long)fast.aggregate_congestion_drops);
        }
        with_success += plain.empirical_success_rate > 0;
        with_cycles += !plain.link_utilization_heatmap.entries().empty();
        with_swaps += plain.link_utilization_heatmap.entries().size() >= 2 &&
                      plain.empirical_success_rate > 0;
    }
    std::printf(
        "cases %llu mismatches %llu with_cycles %llu with_success %llu multi_hop_success %llu "
        "single_requests %llu cut_short %llu\n",
        (unsigned long long)cases, (unsigned long long)mismatches, (unsigned long long)with_cycles,
        (unsigned long long)with_success, (unsigned long long)with_swaps,
        (unsigned long long)single_requests, (unsigned long long)cut_short);
    return mismatches == 0 ? 0 : 1;
}

probe::Register registration("ensemble-equivalence", ensemble_equivalence);

}  // namespace
