#include <cstdio>
#include <string>
#include <vector>

#include "probe.hpp"

namespace probe {
std::map<std::string, Command>& registry() {
    static std::map<std::string, Command> commands;
    return commands;
}
}  // namespace probe

int main(int argc, char** argv) {
    if (argc < 2 || !probe::registry().count(argv[1])) {
        std::fprintf(stderr, "usage: tavo_probe COMMAND [ARGS...]\ncommands:\n");
        for (const auto& [name, command] : probe::registry()) std::fprintf(stderr, "  %s\n", name.c_str());
        return 2;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    return probe::registry()[argv[1]](args);
}
