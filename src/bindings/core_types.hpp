#pragma once
// Conversions for core types that Python sees as built-in containers.

#include "py/convert.hpp"
#include "tavo/simulation/telemetry.hpp"

namespace py {

// Counts per key appear as a dict, in insertion order.
template <>
struct Convert<tavo::KeyedCounts> {
    static tavo::KeyedCounts from(PyObject* object) {
        return tavo::KeyedCounts(Convert<Dict<std::string, std::uint64_t>>::from(object).items);
    }
    static PyObject* to(const tavo::KeyedCounts& counts) {
        return Convert<Dict<std::string, std::uint64_t>>::to({counts.entries()});
    }
    static std::string hint_in() { return "dict[str, int]"; }
    static std::string hint_out() { return "dict[str, int]"; }
};

}  // namespace py
