#pragma once
// Teleportation of a state over one requested entangled pair, plus the classical side channel's cost
// per relay node.

#include <cstdint>
#include <string>
#include <vector>

#include "tavo/record.hpp"

namespace tavo {

class TavoEngine;

struct TeleportationParameters {
    std::string source_node;
    std::string target_node;
    std::vector<std::string> relay_nodes;  // reported in the path; routing ignores them
    double state_fidelity = 0.95;           // also the fidelity target of the resource request
    double classical_bandwidth_ms = 100.0;  // latency budget of the resource request
};

struct TeleportationOutcome {
    bool success = false;
    double teleportation_fidelity = 0.0;
    double resource_entanglement_fidelity = 0.0;
    double latency_ms = 0.0;
    std::vector<std::string> path;  // source, relays, target
    std::uint64_t classical_bits_transferred = 0;
};

// A summary of several teleportations, filled in by the caller.
struct TeleportationStats {
    std::uint64_t total_runs = 0;
    double success_rate = 0.0;
    double mean_teleportation_fidelity = 0.0;
    double teleportation_fidelity_stddev = 0.0;
    double mean_latency_ms = 0.0;
};

// Teleports once; without a network on the engine no request is made and the path stops at the
// last relay.
TeleportationOutcome execute_teleportation(const TavoEngine& engine,
                                           const TeleportationParameters& params);

std::string repr(const TeleportationOutcome& outcome);
std::string repr(const TeleportationStats& stats);

template <>
struct Fields<TeleportationParameters> {
    using P = TeleportationParameters;
    static constexpr std::string_view name = "TeleportationParameters";
    static constexpr std::string_view doc = R"(
        Parameters of a teleportation (TavoEngine.execute_teleportation).

        A record; the teleportation copies it and never changes it.

        Teleportation parameters without relay nodes; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&P::source_node>({
            .name = "source_node",
            .doc = "Node id holding the state to send.",
        }),
        field<&P::target_node>({
            .name = "target_node",
            .doc = "Node id receiving the state.",
            .argument = "Node id receiving it.",
        }),
        field<&P::relay_nodes>({
            .name = "relay_nodes",
            .doc = R"(
                Node ids listed between source and target in the outcome's path, each adding 0.25
                ms; they do not change the route (a new list on reading; empty by default).)",
            .parameter = Parameter::Omitted,
        }),
        field<&P::state_fidelity>({
            .name = "state_fidelity",
            .doc = R"(
                Fidelity of the state to send, a fraction (default 0.95); also the resource
                request's target.)",
            .parameter = Parameter::Optional,
            .argument = "Fidelity of the state, a fraction; None: 0.95.",
        }),
        field<&P::classical_bandwidth_ms>({
            .name = "classical_bandwidth_ms",
            .doc = R"(
                Latency budget of the resource request in ms (default 100.0); +inf is refused.)",
            .parameter = Parameter::Optional,
            .argument = "Latency budget of the resource request in ms; None: 100.0.",
        }),
    };
};

template <>
struct Fields<TeleportationOutcome> {
    using O = TeleportationOutcome;
    static constexpr std::string_view name = "TeleportationOutcome";
    static constexpr std::string_view doc = R"(
        The outcome of a teleportation.

        An outcome record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&O::success>({
            .name = "success",
            .doc = "Whether the resource pair's fidelity is above 0.5.",
            .argument = "Whether the resource fidelity is above 0.5.",
        }),
        field<&O::teleportation_fidelity>({
            .name = "teleportation_fidelity",
            .doc = R"(
                Fidelity of the teleported state, a fraction: min(state_fidelity * resource
                fidelity, 0.999), on the physical model (2 * resource fidelity + 1)/3; 0.0 when
                the resource request failed.)",
            .argument = "Fidelity of the teleported state, a fraction.",
        }),
        field<&O::resource_entanglement_fidelity>({
            .name = "resource_entanglement_fidelity",
            .doc = R"(
                Fidelity of the pair the resource request delivered, a fraction (0.0 when it
                failed).)",
            .argument = "Fidelity of the resource pair, a fraction.",
        }),
        field<&O::latency_ms>({
            .name = "latency_ms",
            .doc = "The resource request's latency plus 0.25 ms per relay node, in ms.",
            .argument = "Time taken in ms.",
        }),
        field<&O::path>({
            .name = "path",
            .doc = R"(
                Source, relay nodes, target (a new list); without a network the target is missing.)",
            .argument = "Source, relay nodes, target.",
        }),
        field<&O::classical_bits_transferred>({
            .name = "classical_bits_transferred",
            .doc = R"(
                Classical bits sent for the Bell measurement outcome: always 2 from the protocol.)",
            .argument = "Classical bits sent.",
        }),
    };
};

template <>
struct Fields<TeleportationStats> {
    using S = TeleportationStats;
    static constexpr std::string_view name = "TeleportationStats";
    static constexpr std::string_view doc = R"(
        Summary of several teleportations. No operation produces it: a record to fill yourself.

        A summary record; nothing is checked.)";
    static constexpr auto list = std::tuple{
        field<&S::total_runs>({
            .name = "total_runs",
            .doc = "Number of teleportations summarised.",
            .argument = "Number of teleportations.",
        }),
        field<&S::success_rate>({
            .name = "success_rate",
            .doc = "Fraction of successful teleportations, 0..1.",
            .argument = "Fraction of successful teleportations.",
        }),
        field<&S::mean_teleportation_fidelity>({
            .name = "mean_teleportation_fidelity",
            .doc = "Mean teleported fidelity, a fraction.",
        }),
        field<&S::teleportation_fidelity_stddev>({
            .name = "teleportation_fidelity_stddev",
            .doc = "Standard deviation of that fidelity.",
        }),
        field<&S::mean_latency_ms>({
            .name = "mean_latency_ms",
            .doc = "Mean latency in ms.",
        }),
    };
};

}  // namespace tavo
