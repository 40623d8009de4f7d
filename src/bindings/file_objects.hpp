#pragma once
// The Python face of a topology file. It differs from the core record in two ways: a link's id is
// always a text (a file link without one reads as ""), and the extensions section is any Python
// object, kept as that very object and never written to disk.

#include <optional>
#include <string>
#include <vector>

#include "py/class_builder.hpp"
#include "tavo/files/records.hpp"

namespace bindings {

struct PyTavoLink {
    std::string id;
    std::string src;
    std::string to;
    double distance_km = 0.0;
    double base_fidelity = 0.0;
    double generation_rate_hz = 0.0;
    std::optional<tavo::TavoLinkType> link_type;
    std::optional<tavo::TavoSatelliteExtension> satellite;
};

struct PyTavoFile {
    std::string version;
    tavo::TavoMetadata metadata;
    std::vector<tavo::TavoNode> nodes;
    std::vector<PyTavoLink> links;
    std::optional<tavo::TavoConfig> config;
    std::optional<tavo::TavoConstraints> constraints;
    // May refer back to this file, hence the participation in garbage collection.
    py::Object extensions;

    int traverse(visitproc visit, void* arg) const { return extensions.ref.visit(visit, arg); }
    void clear() { extensions.ref.reset(); }
};

}  // namespace bindings
