// Topology files: the file classes, loading, saving and validation, and building engines from files.

#include <utility>

#include "file_objects.hpp"
#include "json_values.hpp"
#include "py/class_builder.hpp"
#include "py/enum.hpp"
#include "py/module_builder.hpp"
#include "py/unlocked.hpp"
#include "registry.hpp"
#include "tavo/engine/engine.hpp"
#include "tavo/files/load_save.hpp"
#include "tavo/files/records.hpp"
#include "tavo/files/validation.hpp"
#include "text/forms.hpp"

namespace bindings {
namespace {

using namespace tavo;
using std::optional;

static_assert(py::Traversable<PyTavoFile>);

}  // namespace

PyTavoFile to_python_file(TavoFile file) {
    PyTavoFile result;
    // The extensions section as plain data: the whole section when it is known, else its one field.
    if (const auto& extensions = file.extensions) {
        json::Value section = extensions->section ? *extensions->section : json::Value::object({});
        if (!extensions->section && extensions->custom) {
            section = json::Value::object({json::Member{"custom", *extensions->custom}});
        }
        result.python_extensions = py::Object{python_from_json(section)};
    }
    static_cast<TavoFile&>(result) = std::move(file);
    result.extensions.reset();
    return result;
}

namespace {

// ---- constructors and methods ----

PyTavoFile new_file(std::string name) {
    PyTavoFile file;
    file.version = kTavoVersion;
    file.metadata.name = std::move(name);
    return file;
}

// A link's id is always a text in Python; a file link without one reads as "".
std::string link_id(const TavoLink& link) { return link.id.value_or(""); }
void set_link_id(TavoLink& link, std::string id) { link.id = std::move(id); }

// The extensions attribute holds any Python object, as given. The setter hands back the object it
// replaces, to be released once the file is no longer held.
py::Object file_extensions(const PyTavoFile& file) { return file.python_extensions; }
py::Object set_file_extensions(PyTavoFile& file, py::Object extensions) {
    return std::exchange(file.python_extensions, std::move(extensions));
}

void append_node(PyTavoFile& file, TavoNode node) { file.nodes.push_back(std::move(node)); }
void append_link(PyTavoFile& file, TavoLink link) { file.links.push_back(std::move(link)); }

// A copy of the file, its extensions converted with the interpreter lock (and the file no longer
// held), the file written without it.
void save_method(PyTavoFile file, py::FsPath filepath) {
    const TavoFile record = to_record(std::move(file));
    py::without_lock([&] { save_tavo_file_or_fail(filepath.bytes, record); });
}

// ---- module functions ----

py::LoadedFile load_function(py::FsPath filepath) {
    return py::LoadedFile{load_tavo_file_or_fail(filepath.bytes)};
}

void save_function(py::FileRecord qf, py::FsPath filepath) {
    save_tavo_file_or_fail(filepath.bytes, qf.record);
}

TavoEngine from_file_function(py::FsPath filepath) { return engine_from_tavo_file(filepath.bytes); }

// The engine's network from a file object; only its nodes and links are read.
void define_network_from_file(TavoEngine& engine, py::FileTopology qf) {
    define_network_from_tavo(engine, qf.record);
}

ValidationReport validate_file(py::FsPath filepath) {
    return ValidationReport{validate_tavo_file_or_fail(filepath.bytes), std::move(filepath)};
}

// ---- representations ----

std::string node_type_debug(const optional<TavoNodeType>& type) {
    return type ? "Some(" + py::EnumNames<TavoNodeType>::name_of(*type) + ")" : "None";
}

std::string file_repr(const PyTavoFile& file) {
    return "TavoFile(version='" + file.version + "', metadata={name:'" + file.metadata.name +
           "'}, nodes=" + std::to_string(file.nodes.size()) +
           ", links=" + std::to_string(file.links.size()) + ")";
}

std::string metadata_repr(const TavoMetadata& metadata) {
    return "TavoMetadata(name='" + metadata.name +
           "', description=" + text::debug_optional(metadata.description) +
           ", author=" + text::debug_optional(metadata.author) + ")";
}

std::string node_repr(const TavoNode& node) {
    return "TavoNode(id='" + node.id + "', memory=" + text::debug_optional(node.memory_lifetime_ms) +
           ", capacity=" + text::debug_optional(node.memory_capacity) +
           ", type=" + node_type_debug(node.node_type) + ")";
}

std::string link_repr(const TavoLink& link) {
    return "TavoLink(id=" + text::debug_string(link_id(link)) + ", src='" + link.src + "', to='" +
           link.to + "', dist=" + text::plain(link.distance_km) +
           "km, fid=" + text::fixed(link.base_fidelity, 2) +
           ", rate=" + text::plain(link.generation_rate_hz) + "Hz)";
}

std::string config_repr(const TavoConfig& config) {
    return "TavoConfig(alpha_loss=" + text::debug_optional(config.alpha_loss) +
           ", beta_fidelity_decay=" + text::debug_optional(config.beta_fidelity_decay) +
           ", gamma_swapping=" + text::debug_optional(config.gamma_swapping) +
           ", max_attempts=" + text::debug_optional(config.max_attempts) +
           // Shown only when there is one, so that a config without one reads as it always did.
           (config.physics ? ", physics=" + repr(*config.physics) : std::string()) + ")";
}

std::string constraints_repr(const TavoConstraints& constraints) {
    return "TavoConstraints(fidelity_target=" + text::debug_optional(constraints.fidelity_target) +
           ", max_latency_ms=" + text::debug_optional(constraints.max_latency_ms) + ")";
}

constexpr std::string_view kDefineNetworkFromTavoDoc = R"doc(
    Load a topology from a loaded .tavo file directly into the engine.
    Bridges both type systems — no manual NodeDefinition / LinkDefinition needed.

    Replace the engine's network with the nodes and links of a TavoFile.

    A node's memory_lifetime_ms becomes memory_lifetime_t2 in seconds (divided by 1000;
    1.0 s when absent); memory_capacity, node_type and link ids are dropped; a link without
    link_type is Fiber. The file's config, constraints and metadata are not used: the engine
    keeps its configuration (from_tavo_file makes an engine with the file's config). Nothing
    is validated here; the rest is as define_network.

    Args:
        qf: The file object (copied).)doc";

constexpr std::string_view kAddNodeDoc = R"doc(
    Add a node with optional fields.
    If optional args are None, the .tavo file will write null for that field.

    Append a node entry; nothing is checked.

    Raises:
        OverflowError: memory_capacity is outside 0..4294967295.)doc";

constexpr std::string_view kAddLinkDoc = R"doc(
    Add a link with optional fields.
    link_type and satellite default to None (writes null in .tavo JSON).

    Append a link entry; nothing is checked.)doc";

// What a failed write raises besides TypeError, in the documentation of both ways to save.
constexpr std::string_view kSaveErrors = R"doc(
        ValueError: a number is NaN or infinite, which JSON cannot hold ("links[0].distance_km
            is not a finite number"); nothing is written.
        RuntimeError: the write failed: "IO error: " and the system's reason, e.g. "IO
            error: No such file or directory (os error 2)".
        FileNotFoundError, PermissionError, OSError: a RuntimeError of a failed file
            operation is also the operating system's error, with errno and filename.)doc";

constexpr std::string_view kFileSaveHead = R"doc(
    Save this .tavo file to disk as pretty-printed JSON.

    Write the file as pretty-printed JSON (two-space indentation).

    The file is replaced as a whole: the content goes to a new file that then takes the
    old one's place, so a failure leaves the old file as it was. A symbolic link is followed
    (the file it points to is replaced); a FIFO or a device is written in place; an existing
    file keeps its permission bits. Nothing is validated; optional values that are None are
    left out, and the extensions attribute is written as the file's extensions section.

    Args:
        filepath: Path as str, bytes or os.PathLike.

    Raises:
        TypeError: the extensions attribute is not a dict, or holds something without a JSON
            form (dict keys must be str; values None, bool, int within 64 bits, float,
            str, lists, tuples and dicts); the message names where it sits, e.g.
            "extensions['layout']['A']: an object of type 'set' has no JSON form"; nothing
            is written.)doc";

constexpr std::string_view kEffectiveRateDoc = R"doc(
    Calculate effective generation rate based on conditions

    The generation rate left by these factors: base_rate * visibility * weather_factor.

    Args:
        base_rate: A generation rate in Hz.

    Returns:
        The rate in Hz, a float.)doc";

// What loading a file may raise, in the documentation of each call that loads one.
constexpr std::string_view kLoadErrors = R"doc(
        RuntimeError: "Failed to load {filepath}: " followed by "IO error: ..." (unreadable,
            not UTF-8, or beyond 1 GiB: "IO error: document exceeds the size limit of 1 GiB
            (1073741824 bytes)"), "JSON parse error: ... at line L column C", "Unsupported tavo
            version: ..." (only "1.0" is read) or "Validation failed: ..." (what validate
            reports).
        FileNotFoundError, PermissionError, OSError: a RuntimeError of a failed file
            operation is also the operating system's error, with errno and filename.)doc";

constexpr std::string_view kValidateDoc = R"doc(
    Validate a .tavo file and return structured results as a Python dict.

    Returns:
        dict with keys:
            - "valid" (bool): True if the file is valid
            - "filepath" (str): The path that was validated
            - "errors" (list[dict]): List of error dicts with "type" and "message" keys
            - "warnings" (list[dict]): List of warning dicts with "message" and optional "path" keys

    Check a .tavo file and return what is wrong with it instead of raising.

    Errors (the file does not load): node ids are not unique; a link joins unknown nodes or
    a node with itself; distance_km <= 0; base_fidelity outside (0, 1]; generation_rate_hz
    <= 0; the graph is not connected; a physical model's value it cannot use.

    Warnings (the file loads): a memory_lifetime_ms that is not positive; a satellite
    visibility or weather_factor outside 0..1; a negative alpha_loss; a constraint fidelity
    target outside 0..1 or latency budget that is not positive.

    Args:
        filepath: Path as str, bytes or os.PathLike.

    Returns:
        A new dict: "valid" (bool), "filepath" (the path; bytes when given as bytes), "errors"
        (dicts with "type", "message" and, for the physical model's values, "path"), and
        "warnings" (dicts with "message" and "path", e.g. "nodes[0].memory_lifetime_ms").

    Raises:
        RuntimeError: the file cannot be read (or is beyond 1 GiB), is not JSON of the
            format, or its version is not "1.0" ("Failed to load {filepath}: ...").
        FileNotFoundError, PermissionError, OSError: a RuntimeError of a failed file
            operation is also the operating system's error, with errno and filename.)doc";

constexpr std::string_view kLoadHead = R"doc(
    Load a .tavo file from disk and return it as a TavoFile object.

    Validates version (must be "1.0") and graph connectivity before returning.
    Raises RuntimeError on IO errors, parse errors, or validation failures.

    Read, parse and validate a .tavo file (alias: load).

    Args:
        filepath: Path as str, bytes or os.PathLike.

    Returns:
        A new TavoFile. Links without an id get ""; the file's extensions section becomes
        the extensions attribute as plain data (a dict; None without a section).

    Raises:)doc";

constexpr std::string_view kFromFileHead = R"doc(
    Classmethod alternative to `TavoEngine(config?)`: load a .tavo file and return an initialized engine.
    This is the "from_file" pattern — one call to start simulating.

    Load a .tavo file as load_tavo_file does and return an engine with its network.

    The configuration comes from the file's config section: without one, the engine default
    (baseline_purify_factor 0.12, total_time_cutoff_ms 5000); with one, alpha_loss / 10
    (0.22 when absent) and 50 * max_attempts ms (5000 when absent). The signal speed is
    200 km/ms and step_resolution_ms 0.1. Nodes and links become definitions as in
    TavoEngine.define_network_from_tavo (memory lifetimes from ms to s).

    Args:
        filepath: Path as str, bytes or os.PathLike.

    Returns:
        A new TavoEngine.

    Raises:)doc";

constexpr std::string_view kSaveHead = R"doc(
    Save a PyTavoFile to disk (module-level save alias for PyTavoFile.save())

    Save a TavoFile: the same as qf.save(filepath) (alias: save).

    Args:
        qf: The file to write (copied).
        filepath: Path as str, bytes or os.PathLike.

    Raises:
        TypeError: the file's extensions have no JSON form (as for TavoFile.save, with
            "argument 'qf': " before the message); nothing is written.)doc";

}  // namespace

namespace {

// A file's topology as it is saved: every link with an id ("" when it has none), no extensions.
TavoFile saved_topology(TavoFile record) {
    for (auto& link : record.links) {
        if (!link.id) link.id.emplace();
    }
    record.extensions.reset();
    return record;
}

}  // namespace

TavoFile to_record(PyTavoFile&& file) {
    std::optional<TavoExtensions> written;
    PyObject* extensions = file.python_extensions.ref.get();
    if (extensions && extensions != Py_None) {
        if (!PyDict_Check(extensions)) {
            py::raise_type_error("extensions: the section of a .tavo file is a dict, not '" +
                                 py::type_name(extensions) + "'");
        }
        json::Value section = json_from_python(extensions, "extensions");
        written.emplace();
        if (const json::Value* custom = section.find("custom");
            custom && custom->kind() != json::Value::Kind::Null) {
            written->custom = *custom;
        }
        written->section = std::move(section);
    }
    // The records move out of the file (a copy already): a file of millions of nodes is not
    // copied again.
    TavoFile record = saved_topology(std::move(static_cast<TavoFile&>(file)));
    record.extensions = std::move(written);
    return record;
}

TavoFile topology_record(const PyTavoFile& file) { return saved_topology(file); }

PyMethodDef define_network_from_tavo_method() {
    return py::unlocked_method_def<TavoEngine, &define_network_from_file,
                                   "define_network_from_tavo", "qf">(kDefineNetworkFromTavoDoc);
}

py::Ref tavo_file_class(PyObject*) {
    return py::ClassBuilder<PyTavoFile>("TavoFile")
        .own_attribute<&file_extensions, &set_file_extensions>("extensions")
        .record<TavoFile>()
        .constructor<&new_file, "name">(R"(
            An empty file of version "1.0": no nodes, no links, no optional sections.

            Args:
                name: The metadata name.)")
        .record_building_method<TavoNode, &append_node, "add_node">(kAddNodeDoc)
        .record_building_method<TavoLink, &append_link, "add_link">(kAddLinkDoc)
        .method<&save_method, "save", "filepath">(py::joined({kFileSaveHead, kSaveErrors}))
        .repr<&file_repr>()
        .build();
}

py::Ref tavo_node_class(PyObject*) {
    return py::ClassBuilder<TavoNode>("TavoNode")
        .record()
        .record_constructor()
        .repr<&node_repr>()
        .build();
}

py::Ref tavo_link_class(PyObject*) {
    return py::ClassBuilder<TavoLink>("TavoLink")
        .own_attribute<&link_id, &set_link_id>("id")
        .record()
        .record_constructor()
        .repr<&link_repr>()
        .build();
}

py::Ref tavo_config_class(PyObject*) {
    return py::ClassBuilder<TavoConfig>("TavoConfig")
        .record()
        .record_constructor()
        .repr<&config_repr>()
        .build();
}

py::Ref tavo_constraints_class(PyObject*) {
    return py::ClassBuilder<TavoConstraints>("TavoConstraints")
        .record()
        .record_constructor()
        .repr<&constraints_repr>()
        .value_equality()
        .build();
}

py::Ref tavo_metadata_class(PyObject*) {
    return py::ClassBuilder<TavoMetadata>("TavoMetadata")
        .record()
        .record_constructor()
        .repr<&metadata_repr>()
        .build();
}

py::Ref tavo_node_type_class(PyObject*) {
    return py::EnumBuilder<TavoNodeType>("TavoNodeType", kTavoNodeTypeNames)
        .doc(R"(
            Type of a node entry; "ground", "satellite" or "repeater" in the file. Recorded only.

            Members:
                Ground: A ground station ("ground").
                Satellite: A satellite ("satellite").
                Repeater: A repeater ("repeater").)")
        .build();
}

py::Ref tavo_link_type_class(PyObject*) {
    return py::EnumBuilder<TavoLinkType>("TavoLinkType", kTavoLinkTypeNames)
        .doc(R"(
            Type of a link entry: "fiber" or "satellite" in the file.

            An engine gets the LinkType of the same name (Fiber when None).

            Members:
                Fiber: A fiber link ("fiber").
                Satellite: A satellite link ("satellite").)")
        .build();
}

py::Ref tavo_satellite_extension_class(PyObject*) {
    return py::ClassBuilder<TavoSatelliteExtension>("TavoSatelliteExtension")
        .record()
        .record_constructor()
        .method<&TavoSatelliteExtension::effective_rate, "effective_rate", "base_rate">(
            kEffectiveRateDoc)
        .build();
}

py::Ref validate_function(PyObject* module) {
    return py::unlocked_function<&validate_file, "validate", "filepath">(module, kValidateDoc);
}

py::Ref load_tavo_file_function(PyObject* module) {
    return py::unlocked_function<&load_function, "load_tavo_file", "filepath">(
        module, py::joined({kLoadHead, kLoadErrors}));
}

py::Ref from_tavo_file_function(PyObject* module) {
    return py::unlocked_function<&from_file_function, "from_tavo_file", "filepath">(
        module, py::joined({kFromFileHead, kLoadErrors}));
}

py::Ref save_tavo_file_wrapper_function(PyObject* module) {
    return py::unlocked_function<&save_function, "save_tavo_file_wrapper", "qf", "filepath">(
        module, py::joined({kSaveHead, kSaveErrors}));
}

}  // namespace bindings

namespace py {

PyObject* Convert<LoadedFile>::to(const LoadedFile& file) {
    return wrap<bindings::PyTavoFile>(bindings::to_python_file(file.record)).release();
}

FileRecord Convert<FileRecord>::from(PyObject* object) {
    using bindings::PyTavoFile;
    if (!holds<PyTavoFile>(object))
        raise_cannot_convert(object, short_name(python_type<PyTavoFile>));
    // A copy, converted once the file is no longer held: converting makes Python objects.
    PyTavoFile file = [&] {
        auto* box = box_of<PyTavoFile>(object);
        SharedBorrow borrow(box->borrow);
        return box->value;
    }();
    return FileRecord{bindings::to_record(std::move(file))};
}

FileTopology Convert<FileTopology>::from(PyObject* object) {
    using bindings::PyTavoFile;
    if (!holds<PyTavoFile>(object))
        raise_cannot_convert(object, short_name(python_type<PyTavoFile>));
    auto* box = box_of<PyTavoFile>(object);
    SharedBorrow borrow(box->borrow);
    return FileTopology{bindings::topology_record(box->value)};
}

// {"valid", "filepath", "errors": [{"type", "message", "path"?}], "warnings": [{"message",
// "path"?}]}
PyObject* Convert<bindings::ValidationReport>::to(const bindings::ValidationReport& report) {
    const tavo::ValidationResult& result = report.result;
    Ref errors = Ref::steal(check(PyList_New(0)));
    for (const auto& error : result.errors) {
        Ref entry = Ref::steal(check(PyDict_New()));
        set_item(entry.get(), "type", error.type_text());
        set_item(entry.get(), "message", error.message());
        if (error.path) set_item(entry.get(), "path", *error.path);
        append(errors.get(), entry);
    }
    Ref warnings = Ref::steal(check(PyList_New(0)));
    for (const auto& warning : result.warnings) {
        Ref entry = Ref::steal(check(PyDict_New()));
        set_item(entry.get(), "message", warning.message);
        if (warning.path) set_item(entry.get(), "path", *warning.path);
        append(warnings.get(), entry);
    }
    Ref dict = Ref::steal(check(PyDict_New()));
    set_item(dict.get(), "valid", result.valid);
    set_item(dict.get(), "filepath", report.filepath);
    set_item(dict.get(), "errors", errors);
    set_item(dict.get(), "warnings", warnings);
    return dict.release();
}

}  // namespace py
