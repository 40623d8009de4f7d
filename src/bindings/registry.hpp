#pragma once
// The makers of everything the module registers, declared from the one registration list
// (registrations.def). To walk the list, define the macros you need and include "registry.inc".

#include "py/ref.hpp"

namespace bindings {

#define TAVO_CLASS(maker) py::Ref maker(PyObject* module);
#define TAVO_VALUE_CLASS(maker) py::Ref maker(PyObject* module);
#define TAVO_FUNCTION(maker) py::Ref maker(PyObject* module);
#define TAVO_PRIVATE_FUNCTION(maker) py::Ref maker(PyObject* module);
#define TAVO_PRIVATE_CLASS(maker) py::Ref maker(PyObject* module);
#define TAVO_ENGINE_METHOD(maker) PyMethodDef maker();
#include "registry.inc"

}  // namespace bindings
