// Topology files: the file classes, loading, saving and validation, and building engines from files.

#include "file_objects.hpp"
#include "py/class_builder.hpp"
#include "py/enum.hpp"
#include "py/module_builder.hpp"
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

TavoMetadata new_metadata(std::string name, optional<std::string> description,
                          optional<std::string> author, optional<std::string> created_at) {
    return TavoMetadata{std::move(name), std::move(description), std::move(author),
                        std::move(created_at)};
}

// TavoFile.add_node takes exactly the constructor's arguments.
using NodeParams = py::Names<"id", "memory_lifetime_ms", "memory_capacity", "node_type">;

TavoNode new_node(std::string id, optional<double> memory_lifetime_ms,
                  optional<std::uint32_t> memory_capacity, optional<TavoNodeType> node_type) {
    return TavoNode{std::move(id), memory_lifetime_ms, memory_capacity, node_type};
}

// TavoFile.add_link takes exactly the constructor's arguments.
using LinkParams = py::Names<"id", "src", "to", "distance_km", "base_fidelity",
                             "generation_rate_hz", "link_type", "satellite">;

TavoLink new_link(std::string id, std::string src, std::string to, double distance_km,
                  double base_fidelity, double generation_rate_hz, optional<TavoLinkType> link_type,
                  optional<TavoSatelliteExtension> satellite) {
    return TavoLink{std::move(id), std::move(src),     std::move(to), distance_km,
                    base_fidelity, generation_rate_hz, link_type,     std::move(satellite)};
}

// A link's id is always a text in Python; a file link without one reads as "".
std::string link_id(const TavoLink& link) { return link.id.value_or(""); }
void set_link_id(TavoLink& link, std::string id) { link.id = std::move(id); }

TavoConfig new_config(optional<double> alpha_loss, optional<double> beta_fidelity_decay,
                      optional<double> gamma_swapping, optional<std::uint32_t> max_attempts) {
    return TavoConfig{alpha_loss, beta_fidelity_decay, gamma_swapping, max_attempts};
}

TavoConstraints new_constraints(optional<double> fidelity_target, optional<double> max_latency_ms) {
    return TavoConstraints{fidelity_target, max_latency_ms};
}

TavoSatelliteExtension new_satellite(optional<double> visibility, optional<double> weather_factor) {
    return TavoSatelliteExtension{visibility.value_or(1.0), weather_factor.value_or(1.0)};
}

void append_node(PyTavoFile& file, TavoNode node) { file.nodes.push_back(std::move(node)); }
void append_link(PyTavoFile& file, TavoLink link) { file.links.push_back(std::move(link)); }

void save_method(const PyTavoFile& file, py::FsPath filepath) {
    save_tavo_file_or_fail(filepath.bytes, to_record(file));
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
void define_network_from_file(TavoEngine& engine, py::FileRecord qf) {
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
           ", max_attempts=" + text::debug_optional(config.max_attempts) + ")";
}

std::string constraints_repr(const TavoConstraints& constraints) {
    return "TavoConstraints(fidelity_target=" + text::debug_optional(constraints.fidelity_target) +
           ", max_latency_ms=" + text::debug_optional(constraints.max_latency_ms) + ")";
}

// == and != only; the host refuses ordering once both sides have declined. NaN fields never compare
// equal.
PyObject* constraints_richcompare(PyObject* self, PyObject* other, int op) {
    return py::guarded(
        [&]() -> PyObject* {
            if ((op != Py_EQ && op != Py_NE) || !py::holds<TavoConstraints>(self) ||
                !py::holds<TavoConstraints>(other)) {
                return py::new_ref(Py_NotImplemented);
            }
            auto* left = py::box_of<TavoConstraints>(self);
            auto* right = py::box_of<TavoConstraints>(other);
            py::SharedBorrow left_borrow(left->borrow);
            py::SharedBorrow right_borrow(right->borrow);
            bool equal = left->value == right->value;
            return py::boolean(op == Py_EQ ? equal : !equal);
        },
        nullptr);
}

constexpr const char* kLoadDoc =
    "Load a .tavo file from disk and return it as a TavoFile object.\n"
    "\n"
    "Validates version (must be \"1.0\") and graph connectivity before returning.\n"
    "Raises RuntimeError on IO errors, parse errors, or validation failures.";

constexpr const char* kSaveDoc =
    "Save a PyTavoFile to disk (module-level save alias for PyTavoFile.save())";

constexpr const char* kFromFileDoc =
    "Classmethod alternative to `TavoEngine(config?)`: load a .tavo file and return an initialized "
    "engine.\n"
    "This is the \"from_file\" pattern \u2014 one call to start simulating.";

constexpr const char* kValidateDoc =
    "Validate a .tavo file and return structured results as a Python dict.\n"
    "\n"
    "Returns:\n"
    "    dict with keys:\n"
    "        - \"valid\" (bool): True if the file is valid\n"
    "        - \"filepath\" (str): The path that was validated\n"
    "        - \"errors\" (list[dict]): List of error dicts with \"type\" and \"message\" keys\n"
    "        - \"warnings\" (list[dict]): List of warning dicts with \"message\" and optional "
    "\"path\" keys";

}  // namespace

TavoFile to_record(const PyTavoFile& file) {
    TavoFile record = file;
    for (auto& link : record.links) {
        if (!link.id) link.id.emplace();
    }
    record.extensions.reset();
    return record;
}

PyMethodDef define_network_from_tavo_method() {
    return py::unlocked_method_def<TavoEngine, &define_network_from_file,
                                   "define_network_from_tavo", "qf">(
        "Load a topology from a loaded .tavo file directly into the engine.\n"
        "Bridges both type systems \u2014 no manual NodeDefinition / LinkDefinition needed.");
}

py::Ref tavo_file_class(PyObject*) {
    return py::ClassBuilder<PyTavoFile>("TavoFile")
        .constructor<&new_file, "name">()
        .field<&PyTavoFile::version>("version")
        .field<&PyTavoFile::metadata>("metadata")
        .field<&PyTavoFile::nodes>("nodes")
        .field<&PyTavoFile::links>("links")
        .field<&PyTavoFile::config>("config")
        .field<&PyTavoFile::constraints>("constraints")
        .field<&PyTavoFile::python_extensions>("extensions")
        .building_method<&new_node, &append_node, "add_node", NodeParams>(
            "Add a node with optional fields.\n"
            "If optional args are None, the .tavo file will write null for that field.")
        .building_method<&new_link, &append_link, "add_link", LinkParams>(
            "Add a link with optional fields.\n"
            "link_type and satellite default to None (writes null in .tavo JSON).")
        .unlocked_method<&save_method, "save", "filepath">(
            "Save this .tavo file to disk as pretty-printed JSON.")
        .repr<&file_repr>()
        .build();
}

py::Ref tavo_node_class(PyObject*) {
    return py::ClassBuilder<TavoNode>("TavoNode")
        .constructor_named<&new_node, NodeParams>()
        .field<&TavoNode::id>("id")
        .field<&TavoNode::memory_lifetime_ms>("memory_lifetime_ms")
        .field<&TavoNode::memory_capacity>("memory_capacity")
        .field<&TavoNode::node_type>("node_type")
        .repr<&node_repr>()
        .build();
}

py::Ref tavo_link_class(PyObject*) {
    return py::ClassBuilder<TavoLink>("TavoLink")
        .constructor_named<&new_link, LinkParams>()
        .property<&link_id, &set_link_id>("id")
        .field<&TavoLink::src>("src")
        .field<&TavoLink::to>("to")
        .field<&TavoLink::distance_km>("distance_km")
        .field<&TavoLink::base_fidelity>("base_fidelity")
        .field<&TavoLink::generation_rate_hz>("generation_rate_hz")
        .field<&TavoLink::link_type>("link_type")
        .field<&TavoLink::satellite>("satellite")
        .repr<&link_repr>()
        .build();
}

py::Ref tavo_config_class(PyObject*) {
    return py::ClassBuilder<TavoConfig>("TavoConfig")
        .constructor<&new_config, "alpha_loss", "beta_fidelity_decay", "gamma_swapping",
                     "max_attempts">()
        .field<&TavoConfig::alpha_loss>("alpha_loss")
        .field<&TavoConfig::beta_fidelity_decay>("beta_fidelity_decay")
        .field<&TavoConfig::gamma_swapping>("gamma_swapping")
        .field<&TavoConfig::max_attempts>("max_attempts")
        .repr<&config_repr>()
        .build();
}

py::Ref tavo_constraints_class(PyObject*) {
    return py::ClassBuilder<TavoConstraints>("TavoConstraints")
        .constructor<&new_constraints, "fidelity_target", "max_latency_ms">()
        .field<&TavoConstraints::fidelity_target>("fidelity_target")
        .field<&TavoConstraints::max_latency_ms>("max_latency_ms")
        .repr<&constraints_repr>()
        .slot(Py_tp_richcompare, reinterpret_cast<void*>(&constraints_richcompare))
        .build();
}

py::Ref tavo_metadata_class(PyObject*) {
    return py::ClassBuilder<TavoMetadata>("TavoMetadata")
        .constructor<&new_metadata, "name", "description", "author", "created_at">()
        .field<&TavoMetadata::name>("name")
        .field<&TavoMetadata::description>("description")
        .field<&TavoMetadata::author>("author")
        .field<&TavoMetadata::created_at>("created_at")
        .repr<&metadata_repr>()
        .build();
}

py::Ref tavo_node_type_class(PyObject*) {
    return py::EnumBuilder<TavoNodeType>("TavoNodeType", kTavoNodeTypeNames).build();
}

py::Ref tavo_link_type_class(PyObject*) {
    return py::EnumBuilder<TavoLinkType>("TavoLinkType", kTavoLinkTypeNames).build();
}

py::Ref tavo_satellite_extension_class(PyObject*) {
    return py::ClassBuilder<TavoSatelliteExtension>("TavoSatelliteExtension")
        .constructor<&new_satellite, "visibility", "weather_factor">()
        .field<&TavoSatelliteExtension::visibility>("visibility")
        .field<&TavoSatelliteExtension::weather_factor>("weather_factor")
        .method<&TavoSatelliteExtension::effective_rate, "effective_rate", "base_rate">(
            "Calculate effective generation rate based on conditions")
        .build();
}

py::Ref validate_function(PyObject* module) {
    return py::unlocked_function<&validate_file, "validate", "filepath">(module, kValidateDoc);
}

py::Ref load_tavo_file_function(PyObject* module) {
    return py::unlocked_function<&load_function, "load_tavo_file", "filepath">(module, kLoadDoc);
}

py::Ref from_tavo_file_function(PyObject* module) {
    return py::unlocked_function<&from_file_function, "from_tavo_file", "filepath">(module,
                                                                                    kFromFileDoc);
}

py::Ref save_tavo_file_wrapper_function(PyObject* module) {
    return py::unlocked_function<&save_function, "save_tavo_file_wrapper", "qf", "filepath">(
        module, kSaveDoc);
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
    auto* box = box_of<PyTavoFile>(object);
    SharedBorrow borrow(box->borrow);
    return FileRecord{bindings::to_record(box->value)};
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
