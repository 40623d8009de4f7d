// Topology snapshots (saving, loading, the engine's snapshot) and the two diffs.

#include <optional>
#include <string>
#include <vector>

#include "py/class_builder.hpp"
#include "py/module_builder.hpp"
#include "registry.hpp"
#include "tavo/diff/file_diff.hpp"
#include "tavo/diff/snapshot_diff.hpp"
#include "tavo/files/load_save.hpp"
#include "tavo/snapshot/engine_snapshot.hpp"

namespace bindings {
namespace {

using namespace tavo;

void save_engine_topology(py::Shared<TavoEngine> engine, std::string filepath) {
    save_topology(*engine, filepath);
}

void load_engine_topology(py::Exclusive<TavoEngine> engine, std::string filepath) {
    load_topology(*engine, filepath);
}

void set_item(PyObject* dict, const char* key, PyObject* owned_value) {
    py::Ref value = py::Ref::steal(owned_value);
    if (PyDict_SetItemString(dict, key, value.get()) < 0) py::raise_pending();
}

// Load failures come back in the dict, not as exceptions; both files are loaded before either
// outcome is looked at, and the first file's failure is the one reported.
py::Ref diff_tavo_files(std::string file1, std::string file2) {
    auto load = [](const std::string& path, std::optional<std::string>& failure) {
        std::optional<TavoFile> file;
        try {
            file = load_tavo_file(path);
        } catch (const TavoError& error) {
            failure = load_failure_text(path, error);
        }
        return file;
    };
    std::optional<std::string> first_failure;
    std::optional<std::string> second_failure;
    std::optional<TavoFile> first = load(file1, first_failure);
    std::optional<TavoFile> second = load(file2, second_failure);

    py::Ref result = py::Ref::steal(py::check(PyDict_New()));
    if (first_failure || second_failure) {
        const std::string& message = first_failure ? *first_failure : *second_failure;
        set_item(result.get(), "error", py::Convert<std::string>::to(message));
        return result;
    }
    const FileDiff diff = diff_files(file1, file2, *first, *second);
    using Keys = std::vector<std::string>;
    set_item(result.get(), "summary", py::Convert<std::string>::to(diff.summary));
    set_item(result.get(), "nodes_added", py::Convert<Keys>::to(diff.nodes_added));
    set_item(result.get(), "nodes_removed", py::Convert<Keys>::to(diff.nodes_removed));
    set_item(result.get(), "nodes_modified", py::Convert<Keys>::to(diff.nodes_modified));
    set_item(result.get(), "links_added", py::Convert<Keys>::to(diff.links_added));
    set_item(result.get(), "links_removed", py::Convert<Keys>::to(diff.links_removed));
    set_item(result.get(), "links_modified", py::Convert<Keys>::to(diff.links_modified));
    return result;
}

TopologyDiff diff_topology_snapshots(TopologySnapshot snapshot1,
                                           TopologySnapshot snapshot2) {
    return diff_snapshots(snapshot1, snapshot2);
}

}  // namespace

PyMethodDef snapshot_method() {
    return py::method_def<TavoEngine, &engine_snapshot, "snapshot">(
        "Return the engine's network as a TopologySnapshot, as save_topology would write it.");
}

py::Ref topology_snapshot_class(PyObject*) {
    return py::ClassBuilder<TopologySnapshot>("TopologySnapshot")
        .field<&TopologySnapshot::metadata>("metadata")
        .field<&TopologySnapshot::nodes>("nodes")
        .field<&TopologySnapshot::links>("links")
        .field<&TopologySnapshot::config>("config")
        .build();
}

py::Ref topology_metadata_class(PyObject*) {
    return py::ClassBuilder<TopologyMetadata>("TopologyMetadata")
        .field<&TopologyMetadata::name>("name")
        .field<&TopologyMetadata::version>("version")
        .build();
}

py::Ref topology_config_class(PyObject*) {
    return py::ClassBuilder<TopologyConfig>("TopologyConfig")
        .field<&TopologyConfig::alpha_loss>("alpha_loss")
        .field<&TopologyConfig::gamma_swapping>("gamma_swapping")
        .build();
}

py::Ref topology_diff_class(PyObject*) {
    return py::ClassBuilder<TopologyDiff>("TopologyDiff")
        .field<&TopologyDiff::name>("name")
        .field<&TopologyDiff::summary>("summary")
        .field<&TopologyDiff::nodes_added>("nodes_added")
        .field<&TopologyDiff::nodes_removed>("nodes_removed")
        .field<&TopologyDiff::nodes_modified>("nodes_modified")
        .field<&TopologyDiff::links_added>("links_added")
        .field<&TopologyDiff::links_removed>("links_removed")
        .field<&TopologyDiff::links_modified>("links_modified")
        .build();
}

py::Ref save_topology_function(PyObject* module) {
    return py::function<&save_engine_topology, "save_topology", "engine", "filepath">(
        module);
}

py::Ref load_topology_function(PyObject* module) {
    return py::function<&load_engine_topology, "load_topology", "engine", "filepath">(
        module);
}

py::Ref diff_function(PyObject* module) {
    return py::function<&diff_tavo_files, "diff", "file1", "file2">(module);
}

py::Ref diff_topologies_function(PyObject* module) {
    return py::function<&diff_topology_snapshots, "diff_topologies", "snapshot1",
                        "snapshot2">(module);
}

}  // namespace bindings
