// Route commands: both route searches on networks read from standard input.
//
//   route       reads blocks of lines
//                   node ID
//                   link FROM TO DISTANCE FIDELITY RATE      (numbers as strtod reads them)
//                   query FROM TO STRATEGY                   (0, 1 or 2)
//                   end
//               and for every query prints two lines, the exhaustive search's route and then the
//               indexed one's: "PATH FIDELITY" with the ids joined by commas and the fidelity as
//               0x-prefixed IEEE-754 bits, or "none".

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "probe.hpp"
#include "tavo/routing/routing.hpp"

namespace {

using namespace tavo;

double parse_double(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0') throw std::invalid_argument("bad number: " + text);
    return value;
}

void print_route(const std::optional<RouteInfo>& route) {
    if (!route) {
        std::printf("none\n");
        return;
    }
    std::string path;
    for (const auto& id : route->path) path += (path.empty() ? "" : ",") + id;
    std::uint64_t bits;
    std::memcpy(&bits, &route->fidelity, sizeof bits);
    std::printf("%s 0x%016" PRIx64 "\n", path.c_str(), bits);
}

int routes(const std::vector<std::string>&) {
    QuantumNetwork network;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "node") {
            std::string id;
            words >> id;
            network.add_node({id, 1.0});
        } else if (kind == "link") {
            std::string from, to, distance, fidelity, rate;
            words >> from >> to >> distance >> fidelity >> rate;
            network.add_link({from, to, parse_double(distance), parse_double(fidelity),
                              parse_double(rate), LinkType::Fiber, std::nullopt});
        } else if (kind == "query") {
            std::string from, to;
            int strategy = -1;
            words >> from >> to >> strategy;
            if (strategy < 0 || strategy > 2) throw std::invalid_argument("bad query: " + line);
            const auto chosen = static_cast<StrategyType>(strategy);
            print_route(find_route_exhaustive(network, from, to, chosen));
            print_route(find_route(network, from, to, chosen));
        } else if (kind == "end") {
            network = QuantumNetwork{};
        } else if (!kind.empty()) {
            throw std::invalid_argument("bad line: " + line);
        }
    }
    return 0;
}

probe::Register registration("route", [](const std::vector<std::string>& args) {
    try {
        return routes(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
});

}  // namespace
