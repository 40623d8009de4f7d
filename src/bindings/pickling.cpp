// The reconstructor that pickled and copied objects name (see py/pickling.hpp).

#include <optional>
#include <string>

#include "py/module_builder.hpp"
#include "py/pickling.hpp"
#include "registry.hpp"

namespace bindings {
namespace {

py::Ref reconstruct(std::string name, std::optional<py::Object> state) {
    return py::reconstruct(name, state ? state->ref.get() : nullptr);
}

}  // namespace

py::Ref reconstruct_function(PyObject* module) {
    py::Ref function = py::function<&reconstruct, "_reconstruct", "name", "state">(
        module,
        "Rebuild an object of this module from its pickled form (used by pickle and copy).");
    py::set_reconstructor(function);
    return function;
}

}  // namespace bindings
