#include "tavo/physics/plan.hpp"

#include <cmath>
#include <limits>

#include "tavo/error.hpp"
#include "tavo/network/link_key.hpp"
#include "tavo/physics/werner.hpp"
#include "tavo/routing/routing.hpp"
#include "text/forms.hpp"

namespace tavo {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

[[noreturn]] void refuse(const std::string& where, const char* field, const char* rule,
                         double value) {
    throw InvalidValue(where + field + " must be " + rule + ", got " + text::plain(value));
}

bool finite_at_least_zero(double x) { return x >= 0.0 && std::isfinite(x); }
bool share(double x) { return x >= 0.0 && x <= 1.0; }

void check_model(const PhysicalModel& model) {
    const std::vector<ModelFieldProblem> problems = physical_model_problems(model);
    if (problems.empty()) return;
    const ModelFieldProblem& first = problems.front();
    throw InvalidValue("physics: " + std::string(first.field) + " must be " +
                       std::string(first.rule) + ", got " + text::plain(first.value));
}

void check_link(const LinkDefinition& link, const QuantumNetwork& network) {
    const std::string where = "link " + link_key(link.from_node, link.to) + ": ";
    for (const std::string* end : {&link.from_node, &link.to}) {
        if (!network.has_node(*end)) {
            throw InvalidValue(where + "node '" + *end +
                               "' is not defined (the physical model needs its "
                               "memory_lifetime_t2)");
        }
    }
    if (!finite_at_least_zero(link.distance_km)) {
        refuse(where, "distance_km", "a finite number at least 0", link.distance_km);
    }
    if (!(link.base_fidelity >= 0.25 && link.base_fidelity <= 1.0)) {
        refuse(where, "base_fidelity", "in [0.25, 1]", link.base_fidelity);
    }
    if (!(link.generation_rate_hz > 0.0 && std::isfinite(link.generation_rate_hz))) {
        refuse(where, "generation_rate_hz", "a finite number above 0", link.generation_rate_hz);
    }
    if (link.link_type == LinkType::Satellite && link.satellite_conditions) {
        const SatelliteConditions& conditions = *link.satellite_conditions;
        if (!share(conditions.visibility)) {
            refuse(where, "satellite_conditions.visibility", "in [0, 1]", conditions.visibility);
        }
        if (!share(conditions.weather_factor)) {
            refuse(where, "satellite_conditions.weather_factor", "in [0, 1]",
                   conditions.weather_factor);
        }
    }
}

}  // namespace

double link_transmission(const LinkDefinition& link, const PhysicalModel& model) {
    if (link.link_type == LinkType::Satellite) {
        const SatelliteConditions conditions =
            link.satellite_conditions.value_or(SatelliteConditions{});
        const double loss_db =
            model.satellite_loss_db + 20.0 * std::log10(std::fmax(link.distance_km, 1.0) / 1000.0);
        return conditions.visibility * conditions.weather_factor *
               std::fmin(1.0, std::pow(10.0, -loss_db / 10.0));
    }
    return std::pow(10.0, -model.fiber_loss_db_km * link.distance_km / 10.0);
}

double attempt_success_probability(const LinkDefinition& link, const PhysicalModel& model) {
    const double eta = link_transmission(link, model);
    const double detector = model.detector_efficiency;
    if (model.scheme == HeraldingScheme::Midpoint) return 0.5 * detector * detector * eta;
    return detector * eta;
}

double signal_speed_km_ms(const LinkDefinition& link, const SimulationConfig& config) {
    return link.link_type == LinkType::Satellite ? kSpeedOfLightKmMs
                                                 : config.physical.speed_of_light_in_fiber_km_ms;
}

double propagation_ms(const LinkDefinition& link, const SimulationConfig& config) {
    return link.distance_km / signal_speed_km_ms(link, config);
}

double attempt_period_ms(const LinkDefinition& link, const PhysicalModel& model,
                         const SimulationConfig& config) {
    const double one_way = propagation_ms(link, config);
    const double heralding = model.scheme == HeraldingScheme::Midpoint ? one_way : 2.0 * one_way;
    return std::fmax(1000.0 / link.generation_rate_hz, heralding);
}

void check_physical_inputs(const QuantumNetwork& network, const SimulationConfig& config,
                           const PhysicalModel& model, const EntanglementRequest& request) {
    check_model(model);
    const double speed = config.physical.speed_of_light_in_fiber_km_ms;
    if (!(speed > 0.0)) refuse("config: ", "speed_of_light_in_fiber_km_ms", "above 0", speed);
    for (const NodeDefinition& node : network.nodes()) {
        if (!(node.memory_lifetime_t2 > 0.0)) {
            refuse("node '" + node.id + "': ", "memory_lifetime_t2", "above 0 (seconds)",
                   node.memory_lifetime_t2);
        }
    }
    for (const LinkDefinition& link : network.links()) check_link(link, network);
    if (!network.has_node(request.from_node)) {
        throw InvalidValue("request: from_node '" + request.from_node +
                           "' is not a node of the network");
    }
    if (!network.has_node(request.to)) {
        throw InvalidValue("request: to '" + request.to + "' is not a node of the network");
    }
}

PhysicalPlan plan_physical(const QuantumNetwork& network, const SimulationConfig& config,
                           const PhysicalModel& model, const EntanglementRequest& request) {
    check_physical_inputs(network, config, model, request);
    PhysicalPlan plan;
    plan.fidelity_target = request.fidelity_target;
    const double latency = request.max_latency_ms, cutoff = config.total_time_cutoff_ms;
    plan.limit_ms =
        std::isnan(latency) || std::isnan(cutoff) ? std::nan("") : std::fmin(latency, cutoff);
    plan.swap_success = model.swap_success;
    plan.cutoff_ms = model.link_cutoff_ms.value_or(kInfinity);

    const LinkIndex index(network);
    std::optional<RouteInfo> route = choose_route(index, request);
    if (!route) return plan;
    plan.routed = true;
    plan.path = std::move(route->path);

    // Every node of a route is defined (checked above), so its T2 is found.
    plan.decay_per_ms.reserve(plan.path.size());
    for (const std::string& id : plan.path) {
        plan.decay_per_ms.push_back(1.0 / (1000.0 * network.find_node(id)->memory_lifetime_t2));
    }
    plan.hops.reserve(route->links.size());
    for (std::size_t i = 0; i < route->links.size(); ++i) {
        const LinkDefinition& link = *route->links[i];
        PhysicalHop hop;
        hop.key = link_key(plan.path[i], plan.path[i + 1]);
        hop.success_probability = attempt_success_probability(link, model);
        hop.log_failure = std::log1p(-hop.success_probability);
        hop.attempt_period_ms = attempt_period_ms(link, model, config);
        hop.fresh_excess = link.base_fidelity - kMixedFidelity;
        plan.propagation_ms += propagation_ms(link, config);
        plan.hops.push_back(std::move(hop));
    }
    return plan;
}

}  // namespace tavo
