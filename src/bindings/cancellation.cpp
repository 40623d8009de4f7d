// The private cancellation handle that tavo_tools gives to the threads of a pool (see
// py/cancellation.hpp): it cancels, from the thread that waits for the pool, the long calls its
// workers are making.

#include "py/cancellation.hpp"

#include "py/class_builder.hpp"
#include "registry.hpp"

namespace bindings {
namespace {

using py::Cancellation;

Cancellation new_cancellation() { return Cancellation{}; }

void cancel(const Cancellation& cancellation) { cancellation.cancel(); }

void enter(const Cancellation& cancellation) { py::watch(cancellation); }

void leave(const Cancellation& cancellation, py::Object, py::Object, py::Object) {
    if (!py::unwatch(cancellation)) {
        py::raise(PyExc_RuntimeError, "this thread does not watch the cancellation");
    }
}

}  // namespace

py::Ref cancellation_class(PyObject*) {
    return py::ClassBuilder<Cancellation>("_Cancellation")
        .doc("Cancels the long calls of the threads that watch it (with KeyboardInterrupt).")
        .constructor<&new_cancellation>()
        .method<&cancel, "cancel">(
            "Stop the long calls of the threads watching this, at their next look for Ctrl-C.")
        .method<&enter, "__enter__">("Watch this cancellation from the calling thread.")
        .method<&leave, "__exit__", "exc_type", "exc_value", "traceback">(
            "End the calling thread's latest watch of this cancellation.")
        .build();
}

}  // namespace bindings
