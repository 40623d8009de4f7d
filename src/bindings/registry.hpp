#pragma once
// Makers of the module's classes and functions, one per area file; module.cpp lists them in
// registration order.

#include "py/ref.hpp"

namespace bindings {

using Maker = py::Ref (*)(PyObject* module);

// model.cpp
py::Ref physical_config_class(PyObject*);
py::Ref simulation_config_class(PyObject*);
py::Ref node_definition_class(PyObject*);
py::Ref satellite_conditions_class(PyObject*);
py::Ref link_definition_class(PyObject*);
py::Ref link_type_class(PyObject*);
py::Ref strategy_type_class(PyObject*);
py::Ref entanglement_request_class(PyObject*);
py::Ref network_topology_payload_class(PyObject*);

// engine.cpp
py::Ref tavo_engine_class(PyObject*);

// simulation.cpp
py::Ref simulation_result_class(PyObject*);
py::Ref monte_carlo_context_class(PyObject*);
py::Ref monte_carlo_stats_class(PyObject*);

}  // namespace bindings
