#pragma once
// Physical and simulation configuration records.

#include <optional>

#include "tavo/network/physical_model.hpp"

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

}  // namespace tavo
