#include "tavo/network/physical_model.hpp"

#include <cmath>
#include <type_traits>

#include "text/forms.hpp"

namespace tavo {

namespace {

// A field's value as reprs and diffs show it; a field of another type needs its form here.
std::string value_text(double value) { return text::debug(value); }
std::string value_text(const std::optional<double>& value) {
    return value ? text::debug(*value) : std::string("None");
}
std::string value_text(HeraldingScheme scheme) {
    for (const auto& [value, name] : kHeraldingSchemeNames) {
        if (value == scheme) return "HeraldingScheme." + std::string(name);
    }
    return "?";
}

}  // namespace

std::string field_text(const PhysicalModel& model, std::string_view field) {
    std::string text = "?";
    for_each_field<PhysicalModel>([&](const auto& row) {
        if (row.name == field) text = value_text(model.*std::decay_t<decltype(row)>::member);
    });
    return text;
}

std::string repr(const PhysicalModel& model) {
    std::string text = "PhysicalModel(";
    bool first = true;
    for_each_field<PhysicalModel>([&](const auto& row) {
        if (!first) text += ", ";
        first = false;
        text.append(row.name).append("=").append(field_text(model, row.name));
    });
    return text + ")";
}

std::vector<ModelFieldProblem> physical_model_problems(const PhysicalModel& model) {
    std::vector<ModelFieldProblem> problems;
    auto fraction = [](double x) { return x > 0.0 && x <= 1.0; };
    auto finite_at_least_zero = [](double x) { return x >= 0.0 && std::isfinite(x); };
    if (!fraction(model.detector_efficiency)) {
        problems.push_back({"detector_efficiency", model.detector_efficiency, "in (0, 1]"});
    }
    if (!fraction(model.swap_success)) {
        problems.push_back({"swap_success", model.swap_success, "in (0, 1]"});
    }
    if (!finite_at_least_zero(model.fiber_loss_db_km)) {
        problems.push_back(
            {"fiber_loss_db_km", model.fiber_loss_db_km, "a finite number at least 0"});
    }
    if (!finite_at_least_zero(model.satellite_loss_db)) {
        problems.push_back(
            {"satellite_loss_db", model.satellite_loss_db, "a finite number at least 0"});
    }
    if (model.link_cutoff_ms && !(*model.link_cutoff_ms >= 0.0)) {
        problems.push_back({"link_cutoff_ms", *model.link_cutoff_ms, "at least 0 or None"});
    }
    return problems;
}

}  // namespace tavo
