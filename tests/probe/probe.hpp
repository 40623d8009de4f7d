#pragma once
// A small command-line window onto the core, used by the pytest suite for what the Python module does
// not expose (raw generator outputs, the JSON reader and writer on their own). Each area registers its
// commands from its own file.

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace probe {

using Command = std::function<int(const std::vector<std::string>& args)>;

std::map<std::string, Command>& registry();

struct Register {
    Register(const std::string& name, Command command) { registry()[name] = std::move(command); }
};

}  // namespace probe
