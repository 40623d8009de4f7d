#include "py/cancellation.hpp"

#include <algorithm>
#include <vector>

namespace py {
namespace {

std::vector<Cancellation>& watched_here() {
    thread_local std::vector<Cancellation> watched;
    return watched;
}

}  // namespace

void watch(const Cancellation& cancellation) { watched_here().push_back(cancellation); }

bool unwatch(const Cancellation& cancellation) {
    auto& watched = watched_here();
    auto found = std::find_if(watched.rbegin(), watched.rend(), [&](const Cancellation& entry) {
        return entry.flag == cancellation.flag;
    });
    if (found == watched.rend()) return false;
    watched.erase(std::next(found).base());
    return true;
}

bool cancelled_here() {
    for (const Cancellation& cancellation : watched_here()) {
        if (cancellation.cancelled()) return true;
    }
    return false;
}

bool stop_requested() {
    if (PyErr_CheckSignals() < 0) return true;
    if (!cancelled_here()) return false;
    PyErr_SetNone(PyExc_KeyboardInterrupt);
    return true;
}

}  // namespace py
