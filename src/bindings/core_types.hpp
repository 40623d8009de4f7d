#pragma once
// Conversions for core types that Python sees as built-in containers.

#include "py/convert.hpp"
#include "tavo/simulation/telemetry.hpp"

namespace py {

// Counts per key appear as a dict, in insertion order.
template <>
struct Convert<tavo::KeyedCounts> {
    static tavo::KeyedCounts from(PyObject* object) {
        tavo::KeyedCounts counts;
        counts.entries = Convert<Dict<std::string, std::uint64_t>>::from(object).items;
        return counts;
    }
    static PyObject* to(const tavo::KeyedCounts& counts) {
        return Convert<Dict<std::string, std::uint64_t>>::to({counts.entries});
    }
};

}  // namespace py
