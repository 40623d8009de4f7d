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

// The outcome of diff(): a load failure, or the differences.
struct FileDiffOutcome {
    std::optional<std::string> error;
    tavo::FileDiff diff;
};

}  // namespace bindings

namespace py {

// Texts quoting the paths (the summary, a load failure) decode as file names do.
template <>
struct Convert<bindings::FileDiffOutcome> {
    static PyObject* to(const bindings::FileDiffOutcome& outcome) {
        Ref result = Ref::steal(check(PyDict_New()));
        if (outcome.error) {
            set_item(result.get(), "error", FsText{*outcome.error});
            return result.release();
        }
        const tavo::FileDiff& diff = outcome.diff;
        set_item(result.get(), "summary", FsText{diff.summary});
        set_item(result.get(), "nodes_added", diff.nodes_added);
        set_item(result.get(), "nodes_removed", diff.nodes_removed);
        set_item(result.get(), "nodes_modified", diff.nodes_modified);
        set_item(result.get(), "links_added", diff.links_added);
        set_item(result.get(), "links_removed", diff.links_removed);
        set_item(result.get(), "links_modified", diff.links_modified);
        return result.release();
    }
    static std::string hint_out() { return "_FileDiffReport"; }
};

}  // namespace py

namespace bindings {
namespace {

using namespace tavo;

void save_engine_topology(py::Shared<TavoEngine> engine, py::FsPath filepath) {
    save_topology(*engine, filepath.bytes);
}

void load_engine_topology(py::Exclusive<TavoEngine> engine, py::FsPath filepath) {
    load_topology(*engine, filepath.bytes);
}

// Load failures come back in the dict, not as exceptions; both files are loaded before either
// outcome is looked at, and the first file's failure is the one reported.
FileDiffOutcome diff_tavo_files(py::FsPath file1, py::FsPath file2) {
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
    std::optional<TavoFile> first = load(file1.bytes, first_failure);
    std::optional<TavoFile> second = load(file2.bytes, second_failure);
    if (first_failure || second_failure) {
        return FileDiffOutcome{first_failure ? first_failure : second_failure, {}};
    }
    return FileDiffOutcome{std::nullopt, diff_files(file1.bytes, file2.bytes, *first, *second)};
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
        .field<&TopologyConfig::physics>("physics")
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
    return py::unlocked_function<&save_engine_topology, "save_topology", "engine", "filepath">(
        module);
}

py::Ref load_topology_function(PyObject* module) {
    return py::unlocked_function<&load_engine_topology, "load_topology", "engine", "filepath">(
        module);
}

py::Ref diff_function(PyObject* module) {
    return py::unlocked_function<&diff_tavo_files, "diff", "file1", "file2">(module);
}

py::Ref diff_topologies_function(PyObject* module) {
    return py::unlocked_function<&diff_topology_snapshots, "diff_topologies", "snapshot1",
                                 "snapshot2">(module);
}

}  // namespace bindings
