#include "tavo/network/physical_model.hpp"

#include <cmath>

#include "text/forms.hpp"

namespace tavo {

std::string field_text(const PhysicalModel& model, std::string_view field) {
    if (field == "scheme") {
        for (const auto& [value, name] : kHeraldingSchemeNames) {
            if (value == model.scheme) return "HeraldingScheme." + std::string(name);
        }
        return "?";
    }
    if (field == "detector_efficiency") return text::debug(model.detector_efficiency);
    if (field == "swap_success") return text::debug(model.swap_success);
    if (field == "fiber_loss_db_km") return text::debug(model.fiber_loss_db_km);
    if (field == "satellite_loss_db") return text::debug(model.satellite_loss_db);
    if (field == "link_cutoff_ms") {
        return model.link_cutoff_ms ? text::debug(*model.link_cutoff_ms) : std::string("None");
    }
    return "?";
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
