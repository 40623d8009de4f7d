#pragma once
// The physical model's settings: how links herald pairs and the losses the network's own records do
// not carry. An engine whose configuration holds one plays every request on the physical model
// (src/tavo/physics); without one it plays them on cycles.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tavo/enum_name.hpp"
#include "tavo/record.hpp"

namespace tavo {

// Direct: one end emits, the photon crosses the whole link and the far end heralds back.
// Midpoint: both ends emit towards a station in the middle of the link, which heralds a pair on
// two clicks.
enum class HeraldingScheme : std::uint8_t { Direct = 0, Midpoint = 1 };

inline constexpr EnumName<HeraldingScheme> kHeraldingSchemeNames[] = {
    {HeraldingScheme::Direct, "Direct"},
    {HeraldingScheme::Midpoint, "Midpoint"},
};

// The spellings of .tavo files.
inline constexpr EnumName<HeraldingScheme> kHeraldingSchemeSpellings[] = {
    {HeraldingScheme::Direct, "direct"},
    {HeraldingScheme::Midpoint, "midpoint"},
};

template <>
struct JsonSpellings<HeraldingScheme> {
    static constexpr const auto& table = kHeraldingSchemeSpellings;
};

struct PhysicalModel {
    HeraldingScheme scheme = HeraldingScheme::Direct;
    double detector_efficiency = 1.0;      // fraction in (0, 1]
    double swap_success = 1.0;             // probability that a Bell measurement succeeds, (0, 1]
    double fiber_loss_db_km = 0.2;         // attenuation of fiber, dB/km
    double satellite_loss_db = 30.0;       // total loss of a 1000 km satellite link, dB
    std::optional<double> link_cutoff_ms;  // pairs awaiting a swap live at most this long

    bool operator==(const PhysicalModel&) const = default;
};

// "PhysicalModel(scheme=HeraldingScheme.Direct, detector_efficiency=1.0, ...)": every field, as
// field_text shows it.
std::string repr(const PhysicalModel& model);
// One field's text: the member's name for the scheme, the debug form of numbers, None.
std::string field_text(const PhysicalModel& model, std::string_view field);

// A field of a model that the model cannot use: its name, the value and the rule it breaks
// ("in (0, 1]").
struct ModelFieldProblem {
    std::string_view field;
    double value;
    std::string_view rule;
};

// Every such field, in declaration order.
std::vector<ModelFieldProblem> physical_model_problems(const PhysicalModel& model);

template <>
struct Fields<PhysicalModel> {
    static constexpr std::string_view name = "PhysicalModel";
    static constexpr std::string_view doc = R"(
        The physical model: an engine whose SimulationConfig holds one plays every request on it
        instead of on 2.5 ms cycles.

        Every parameter of the network then has its physical effect. Per hop of length L (km),
        base fidelity F0 and rate R (Hz): transmission eta = 10^(-fiber_loss_db_km L / 10) for
        fiber, visibility x weather_factor x min(1, 10^(-(satellite_loss_db + 20 log10(max(L,
        1)/1000))/10)) for satellite links; each attempt succeeds with p = detector_efficiency x
        eta (Direct) or detector_efficiency^2 x eta / 2 (Midpoint); attempts repeat every
        max(1000/R, 2L/c) ms (Direct) or max(1000/R, L/c) ms (Midpoint). Fresh pairs are Werner
        states of fidelity F0; a qubit stored in node X multiplies its pair's Werner parameter by
        exp(-t/T2_X). Nodes swap as soon as they hold both pairs (w = w1 w2, success
        swap_success); the end-to-end pair arrives after the route's propagation time; below the
        target it is purified (BBPSSW) with the next one. All fields are read and written as
        attributes; the model pickles, copies and compares equal by value. Values are checked
        when a request or an ensemble starts (ValueError), not here.)";
    static constexpr auto list = std::tuple{
        field<&PhysicalModel::scheme>({
            .name = "scheme",
            .doc = R"(
                How a link heralds a pair: Direct (one end emits, the far end heralds back) or
                Midpoint (both ends emit to a station in the middle; double-click heralding).)",
            .json = JsonPresence::DefaultedOrNull,
            .parameter = Parameter::Optional,
            .argument = "HeraldingScheme.Direct or .Midpoint; None: Direct.",
        }),
        field<&PhysicalModel::detector_efficiency>({
            .name = "detector_efficiency",
            .doc = "Detector efficiency eta_d, a fraction in (0, 1].",
            .json = JsonPresence::DefaultedOrNull,
            .parameter = Parameter::Optional,
            .argument = "Detector efficiency, in (0, 1]; None: 1.0.",
        }),
        field<&PhysicalModel::swap_success>({
            .name = "swap_success",
            .doc = R"(
                Probability that a Bell measurement at a repeater succeeds, in (0, 1]. A failed
                swap loses both pairs and their hops start again.)",
            .json = JsonPresence::DefaultedOrNull,
            .parameter = Parameter::Optional,
            .argument = "Swap success probability, in (0, 1]; None: 1.0.",
        }),
        field<&PhysicalModel::fiber_loss_db_km>({
            .name = "fiber_loss_db_km",
            .doc = R"(
                Fiber attenuation alpha in dB/km, finite and at least 0 (the configuration's
                alpha_loss_db_km keeps its meaning in the cycle model only).)",
            .unit = "dB/km",
            .json = JsonPresence::DefaultedOrNull,
            .parameter = Parameter::Optional,
            .argument = "Fiber attenuation in dB/km, at least 0; None: 0.2.",
        }),
        field<&PhysicalModel::satellite_loss_db>({
            .name = "satellite_loss_db",
            .doc = R"(
                Total loss of a 1000 km satellite link in dB, finite and at least 0; it grows
                with the square of the distance (20 log10(L/1000) dB more).)",
            .unit = "dB",
            .json = JsonPresence::DefaultedOrNull,
            .parameter = Parameter::Optional,
            .argument = "Loss of a 1000 km satellite link in dB, at least 0; None: 30.0.",
        }),
        field<&PhysicalModel::link_cutoff_ms>({
            .name = "link_cutoff_ms",
            .doc = R"(
                Cutoff in ms, or None (never): a pair awaiting a swap is discarded as soon as
                the oldest fresh pair it was made from is older than this, and its hops start
                again. End-to-end pairs are exempt.)",
            .unit = "ms",
            .argument = "Cutoff in ms, at least 0, or None for none.",
        }),
    };
};

}  // namespace tavo
