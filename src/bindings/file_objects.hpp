#pragma once
// The Python face of a topology file: the core record, plus the extensions section as any Python
// object, kept as that very object and never written to disk. The record's own (JSON) extensions
// section stays empty here: a file loaded into Python leaves its extensions behind.

#include "py/convert.hpp"
#include "tavo/files/records.hpp"

namespace bindings {

struct PyTavoFile : tavo::TavoFile {
    // May refer back to this file, hence the participation in garbage collection.
    py::Object python_extensions;

    int traverse(visitproc visit, void* arg) const {
        return python_extensions.ref.visit(visit, arg);
    }
    void clear() { python_extensions.ref.reset(); }
};

}  // namespace bindings
