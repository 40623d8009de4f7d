#include "tavo/scheduler/plan.hpp"

#include "tavo/network/link_key.hpp"
#include "tavo/routing/routing.hpp"
#include "tavo/scheduler/physics.hpp"

namespace tavo {

TimelinePlan plan_timeline(const QuantumNetwork& network, const SimulationConfig& config,
                           const EntanglementRequest& request) {
    TimelinePlan plan;
    plan.fidelity_target = request.fidelity_target;
    plan.latency_limit = request.max_latency_ms;
    plan.cutoff = config.total_time_cutoff_ms;
    plan.purify_factor = config.physical.baseline_purify_factor;
    const double target = request.fidelity_target;

    // One index serves both searches and the per-hop lookups, which would otherwise each scan the
    // link list.
    const LinkIndex index(network);
    std::optional<RouteInfo> route = choose_route(index, request);
    if (!route) {
        plan.outcome = SimulationResult{};
        return plan;
    }
    plan.route_fidelity = route->fidelity;
    plan.path = std::move(route->path);

    auto fail_at = [&](double latency) {
        plan.outcome = SimulationResult{false, latency, 0.0, plan.path};
        return std::move(plan);
    };

    // Not even one purification step could lift the route to the target.
    if (target > plan.route_fidelity && target > purify(plan.route_fidelity, plan.purify_factor)) {
        return fail_at(0.0);
    }

    // Route hops always have their joining link; the propagation check comes before the per-hop
    // texts are built, as a request refused here never needs them.
    double propagation = 0.0;
    for (const LinkDefinition* link : route->links) {
        propagation += link->distance_km / config.physical.speed_of_light_in_fiber_km_ms;
    }
    if (propagation > plan.latency_limit) return fail_at(propagation);
    if (!(plan.latency_limit > 0.0) || !(plan.cutoff > 0.0)) return fail_at(0.0);

    plan.hops.reserve(route->links.size());
    for (std::size_t i = 1; i < plan.path.size(); ++i) {
        const LinkDefinition& link = *route->links[i - 1];
        TimelinePlan::Hop hop;
        hop.from = plan.path[i - 1];
        hop.to = plan.path[i];
        hop.key = link_key(hop.from, hop.to);
        hop.link = &link;
        hop.success_probability =
            link_success_probability(link.distance_km, link.base_fidelity, target);
        hop.fidelity = link.base_fidelity;
        plan.hops.push_back(std::move(hop));
    }
    return plan;
}

}  // namespace tavo
