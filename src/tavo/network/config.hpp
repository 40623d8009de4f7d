#pragma once
// Physical and simulation configuration records.

#include <optional>
#include <tuple>

#include "tavo/network/physical_model.hpp"
#include "tavo/record.hpp"

namespace tavo {

struct PhysicalConfig {
    double baseline_purify_factor = 0.022;
    double speed_of_light_in_fiber_km_ms = 200.0;

    // The purify factor is derived from a fiber attenuation in dB/km when one is given.
    static PhysicalConfig from_alpha_loss(std::optional<double> alpha_loss_db_km) {
        PhysicalConfig config;
        if (alpha_loss_db_km) config.baseline_purify_factor = *alpha_loss_db_km / 10.0;
        return config;
    }
};

struct SimulationConfig {
    PhysicalConfig physical;
    double total_time_cutoff_ms = 5000.0;
    double step_resolution_ms = 0.1;
    // The physical model requests are played on; none: the cycle model.
    std::optional<PhysicalModel> physics;

    // What an engine uses when it is given no configuration. Note the purify factor: 0.12 here,
    // against the 0.022 of a default-constructed PhysicalConfig.
    static SimulationConfig engine_default() {
        SimulationConfig config;
        config.physical.baseline_purify_factor = 0.12;
        return config;
    }
};

template <>
struct Fields<PhysicalConfig> {
    static constexpr std::string_view name = "PhysicalConfig";
    static constexpr std::string_view doc = R"(
        Physical constants of a simulation: the purification factor and the signal speed in fiber.

        Part of a SimulationConfig. Reading SimulationConfig.physical returns a copy: change a
        field of the copy, then assign the whole PhysicalConfig back.)";
    static constexpr auto list = std::tuple{
        field<&PhysicalConfig::baseline_purify_factor>({
            .name = "baseline_purify_factor",
            .doc = R"(
                Purification factor, a fraction added to the result of every purification step.

                One step maps a fidelity F to
                min(0.999, (F**2 + (1 - F)**2 / 9) / ((1 + 2 * F) / 3)**2 + baseline_purify_factor).
                Default 0.022 here, 0.12 in the engine's default configuration.)",
        }),
        field<&PhysicalConfig::speed_of_light_in_fiber_km_ms>({
            .name = "speed_of_light_in_fiber_km_ms",
            .doc = R"(
                Signal speed in fiber in km/ms (default 200).

                In the cycle model only used to check a route's propagation delay (the sum of
                distance_km / speed) against max_latency_ms; it is not added to a trial's time.
                The physical model takes fiber links' heralding times and the delivery delay
                from it (satellite links signal at 299.792458 km/ms).)",
            .unit = "km/ms",
        }),
    };
};

template <>
struct Fields<SimulationConfig> {
    static constexpr std::string_view name = "SimulationConfig";
    static constexpr std::string_view doc = R"(
        The configuration of an engine: physical constants and the time cutoff of a trial.

        An engine copies it at construction and never changes it. Reading physical returns a
        copy: change a field of that copy, then assign it back (config.physical = physical).
        Note that SimulationConfig() has baseline_purify_factor 0.022 while an engine made
        without a configuration uses 0.12.)";
    static constexpr auto list = std::tuple{
        field<&SimulationConfig::physical>({
            .name = "physical",
            .doc = R"(
                The physical constants (a copy on reading; assign a whole PhysicalConfig to change
                them).)",
        }),
        field<&SimulationConfig::step_resolution_ms>({
            .name = "step_resolution_ms",
            .doc = R"(
                A time resolution in ms, carried with the configuration and recorded in contexts;
                neither model uses it (the cycle model advances in cycles of 2.5 ms, the
                physical model from event to event).)",
            .unit = "ms",
        }),
        field<&SimulationConfig::total_time_cutoff_ms>({
            .name = "total_time_cutoff_ms",
            .doc = R"(
                Time limit of one trial in ms (default 5000): a trial still running at this time
                fails. 0 or less, or NaN, fails every trial before its first cycle; +inf is
                refused when a request runs, and on the cycle model so is a cutoff beyond 2**55
                ms when the request's budget is too.)",
            .unit = "ms",
        }),
        field<&SimulationConfig::physics>({
            .name = "physics",
            .doc = R"(
                The PhysicalModel every request of an engine with this configuration is played
                on (single requests, ensembles, sensitivity analyses, the protocols), or None for
                the cycle model (a copy on reading).)",
        }),
    };
};

}  // namespace tavo
