#pragma once
// The Python face of a topology file: the core record, plus the extensions section as any Python
// object, kept as that very object and never written to disk. The record's own (JSON) extensions
// section stays empty here: a file loaded into Python leaves its extensions behind.

#include "py/convert.hpp"
#include "tavo/files/records.hpp"
#include "tavo/files/validation.hpp"

namespace bindings {

struct PyTavoFile : tavo::TavoFile {
    // May refer back to this file, hence the participation in garbage collection.
    py::Object python_extensions;

    int traverse(visitproc visit, void* arg) const {
        return python_extensions.ref.visit(visit, arg);
    }
    void clear() { python_extensions.ref.reset(); }
};

// What a TavoFile saves as: every link with an id (one loaded without an id is written with ""),
// and the extensions attribute as the JSON section (None: no section); anything in it without a
// JSON form raises TypeError naming where it sits.
tavo::TavoFile to_record(PyTavoFile&& file);
// The same without an extensions section, for what reads only the topology.
tavo::TavoFile topology_record(const PyTavoFile& file);

// A loaded file in Python, its extensions section as plain data in the extensions attribute.
PyTavoFile to_python_file(tavo::TavoFile file);

// What validate() returns: the findings, and the path as the caller gave it.
struct ValidationReport {
    tavo::ValidationResult result;
    py::FsPath filepath;
};

}  // namespace bindings

namespace py {

// A TavoFile argument taken as the record it saves as (to_record): it holds no Python object.
struct FileRecord {
    tavo::TavoFile record;
};

template <>
struct Convert<FileRecord> {
    static FileRecord from(PyObject* object);
    static std::string hint_in() { return "TavoFile"; }
};

// A TavoFile argument of which only the topology is read (topology_record).
struct FileTopology {
    tavo::TavoFile record;
};

template <>
struct Convert<FileTopology> {
    static FileTopology from(PyObject* object);
    static std::string hint_in() { return "TavoFile"; }
};

// A file loaded from disk, handed to Python as a TavoFile.
struct LoadedFile {
    tavo::TavoFile record;
};

template <>
struct Convert<LoadedFile> {
    static PyObject* to(const LoadedFile& file);
    static std::string hint_out() { return "TavoFile"; }
};

template <>
struct Convert<bindings::ValidationReport> {
    static PyObject* to(const bindings::ValidationReport& report);
    static std::string hint_out() { return "_ValidationReport"; }
};

}  // namespace py
