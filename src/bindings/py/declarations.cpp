#include "py/declarations.hpp"

#include "py/box.hpp"

namespace py {
namespace {

std::vector<CallableDeclaration>& callables() {
    static std::vector<CallableDeclaration> declared;
    return declared;
}

std::vector<AttributeDeclaration>& attributes() {
    static std::vector<AttributeDeclaration> declared;
    return declared;
}

// Names and type hints are identifiers, brackets, commas, blanks and "|": nothing to escape.
std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

const char* kind_name(CallKind kind) {
    switch (kind) {
        case CallKind::Function: return "function";
        case CallKind::Method: return "method";
        case CallKind::Constructor: return "constructor";
        case CallKind::StaticMethod: return "static";
    }
    return "?";
}

}  // namespace

void declare(CallableDeclaration declaration) { callables().push_back(std::move(declaration)); }
void declare(AttributeDeclaration declaration) { attributes().push_back(std::move(declaration)); }

std::string declarations_json() {
    std::string out = "{\"callables\": [";
    bool first = true;
    for (const auto& callable : callables()) {
        out += first ? "\n" : ",\n";
        first = false;
        const std::string owner =
            callable.owner && *callable.owner ? std::string(short_name(*callable.owner)) : "";
        out += "{\"owner\": " + quoted(owner) + ", \"kind\": " + quoted(kind_name(callable.kind)) +
               ", \"name\": " + quoted(callable.name) + ", \"parameters\": [";
        for (std::size_t i = 0; i < callable.parameters.size(); ++i) {
            const auto& parameter = callable.parameters[i];
            out += (i ? ", " : "") + std::string("{\"name\": ") + quoted(parameter.name) +
                   ", \"type\": " + quoted(parameter.type()) +
                   ", \"optional\": " + (parameter.optional ? "true" : "false") + "}";
        }
        out += "], \"returns\": " + quoted(callable.returns()) +
               ", \"releases_lock\": " + (callable.releases_lock ? "true" : "false") + "}";
    }
    out += "\n], \"attributes\": [";
    first = true;
    for (const auto& attribute : attributes()) {
        out += first ? "\n" : ",\n";
        first = false;
        out += "{\"owner\": " + quoted(attribute.owner) + ", \"name\": " + quoted(attribute.name) +
               ", \"get\": " + quoted(attribute.get()) +
               ", \"set\": " + (attribute.set ? quoted(attribute.set()) : "null") + "}";
    }
    out += "\n]}\n";
    return out;
}

}  // namespace py
