#pragma once
// The physical model's settings: how links herald pairs and the losses the network's own records do
// not carry. An engine whose configuration holds one plays every request on the physical model
// (src/tavo/physics); without one it plays them on cycles.

#include <cstdint>
#include <optional>
#include <string>

#include "tavo/enum_name.hpp"

namespace tavo {

// Direct: one end emits, the photon crosses the whole link and the far end heralds back.
// Midpoint: both ends emit towards a station in the middle of the link, which heralds a pair on
// two clicks.
enum class HeraldingScheme : std::uint8_t { Direct = 0, Midpoint = 1 };

inline constexpr EnumName<HeraldingScheme> kHeraldingSchemeNames[] = {
    {HeraldingScheme::Direct, "Direct"},
    {HeraldingScheme::Midpoint, "Midpoint"},
};

struct PhysicalModel {
    HeraldingScheme scheme = HeraldingScheme::Direct;
    double detector_efficiency = 1.0;  // fraction in (0, 1]
    double swap_success = 1.0;         // probability that a Bell measurement succeeds, in (0, 1]
    double fiber_loss_db_km = 0.2;     // attenuation of fiber, dB/km
    double satellite_loss_db = 30.0;   // total loss of a 1000 km satellite link, dB
    std::optional<double> link_cutoff_ms;  // pairs awaiting a swap live at most this long

    bool operator==(const PhysicalModel&) const = default;
};

// "PhysicalModel(scheme=HeraldingScheme.Direct, detector_efficiency=1.0, ...)".
std::string repr(const PhysicalModel& model);

}  // namespace tavo
