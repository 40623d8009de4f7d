#include "tavo/network/physical_model.hpp"

#include "text/forms.hpp"

namespace tavo {

std::string repr(const PhysicalModel& model) {
    std::string scheme = "?";
    for (const auto& [value, name] : kHeraldingSchemeNames) {
        if (value == model.scheme) scheme = name;
    }
    return "PhysicalModel(scheme=HeraldingScheme." + scheme +
           ", detector_efficiency=" + text::debug(model.detector_efficiency) +
           ", swap_success=" + text::debug(model.swap_success) +
           ", fiber_loss_db_km=" + text::debug(model.fiber_loss_db_km) +
           ", satellite_loss_db=" + text::debug(model.satellite_loss_db) + ", link_cutoff_ms=" +
           (model.link_cutoff_ms ? text::debug(*model.link_cutoff_ms) : std::string("None")) + ")";
}

}  // namespace tavo
