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

constexpr std::string_view kSnapshotDoc = R"doc(
    The engine's network as a TopologySnapshot, as save_topology would write it.

    Metadata name "exported_topology" and version "1.0"; the nodes in definition order with
    their lifetimes in seconds; the links in order with their link types and satellite
    conditions; config alpha_loss = 10 * baseline_purify_factor and
    gamma_swapping = baseline_purify_factor.

    Returns:
        A new TopologySnapshot (compare two with diff_topologies).

    Raises:
        RuntimeError: the engine has no network ("No network defined. Call
            define_network() first.").)doc";

constexpr std::string_view kSaveTopologyDoc = R"doc(
    Write the engine's network to a snapshot file.

    The content is that of TavoEngine.snapshot(), as JSON with camelCase keys. The file is replaced
    as a whole, as TavoFile.save does (symbolic links followed, permissions kept).

    Args:
        engine: The engine whose network is written.
        filepath: Path as str, bytes or os.PathLike.

    Raises:
        RuntimeError: the engine has no network ("No network topology to save").
        ValueError: a number is NaN or infinite ("links[0].distanceKm is not a finite
            number"); nothing is written.
        RuntimeError: the write failed ("Failed to write topology file: ...").
        FileNotFoundError, PermissionError, OSError: a RuntimeError of a failed file
            operation is also the operating system's error, with errno and filename.)doc";

constexpr std::string_view kLoadTopologyDoc = R"doc(
    Replace the engine's network with the one in a snapshot file.

    The engine keeps its configuration; the snapshot's config and metadata are not used,
    and nothing is validated. On failure the engine keeps its
    network.

    Args:
        engine: The engine whose network is replaced.
        filepath: Path as str, bytes or os.PathLike.

    Raises:
        RuntimeError: "Failed to read topology file: ..." (also for a file beyond 1 GiB) or
            "Failed to parse topology JSON: ... at line L column C".
        FileNotFoundError, PermissionError, OSError: a RuntimeError of a failed file
            operation is also the operating system's error, with errno and filename.)doc";

constexpr std::string_view kDiffDoc = R"doc(
    Compare two .tavo files, both loaded (and validated) as load_tavo_file does.

    Nodes are matched by id and links by "from->to"; an entry is modified when any of its
    fields differs (floats compared exactly).

    Args:
        file1: The old file: a path as str, bytes or os.PathLike.
        file2: The new file: a path as str, bytes or os.PathLike.

    Returns:
        A new dict: "summary" (several lines; the only place that reports version, metadata,
        config, constraints and extension changes) and the lists "nodes_added",
        "nodes_removed", "nodes_modified", "links_added", "links_removed", "links_modified"
        (removed and modified in the first file's order, added in the second's). When a file
        cannot be loaded, only {"error": "Failed to load {path}: ..."} (the first file's
        failure when both fail): load failures are not raised.)doc";

constexpr std::string_view kDiffTopologiesDoc = R"doc(
    Compare two snapshots: their metadata names, nodes and links (configs are ignored).

    Args:
        snapshot1: The old snapshot (copied).
        snapshot2: The new snapshot (copied).

    Returns:
        A new TopologyDiff.)doc";

}  // namespace

PyMethodDef snapshot_method() {
    return py::method_def<TavoEngine, &engine_snapshot, "snapshot">(kSnapshotDoc);
}

py::Ref topology_snapshot_class(PyObject*) {
    return py::ClassBuilder<TopologySnapshot>("TopologySnapshot").record().build();
}

py::Ref topology_metadata_class(PyObject*) {
    return py::ClassBuilder<TopologyMetadata>("TopologyMetadata").record().build();
}

py::Ref topology_config_class(PyObject*) {
    return py::ClassBuilder<TopologyConfig>("TopologyConfig").record().build();
}

py::Ref topology_diff_class(PyObject*) {
    return py::ClassBuilder<TopologyDiff>("TopologyDiff").record().build();
}

py::Ref save_topology_function(PyObject* module) {
    return py::unlocked_function<&save_engine_topology, "save_topology", "engine", "filepath">(
        module, kSaveTopologyDoc);
}

py::Ref load_topology_function(PyObject* module) {
    return py::unlocked_function<&load_engine_topology, "load_topology", "engine", "filepath">(
        module, kLoadTopologyDoc);
}

py::Ref diff_function(PyObject* module) {
    return py::unlocked_function<&diff_tavo_files, "diff", "file1", "file2">(module, kDiffDoc);
}

py::Ref diff_topologies_function(PyObject* module) {
    return py::unlocked_function<&diff_topology_snapshots, "diff_topologies", "snapshot1",
                                 "snapshot2">(module, kDiffTopologiesDoc);
}

}  // namespace bindings
