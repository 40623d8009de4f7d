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
        .doc(R"(
            For tavo_tools (private): cancels the long calls of the threads that watch it.

            Signals reach the main thread only. A pool's worker thread runs its calls inside
            `with cancellation:`; once any thread calls cancel(), every long call of the watching
            threads stops at its next look for Ctrl-C (within a few tens of ms) with
            KeyboardInterrupt, leaving every object as it was, and so does every later one until
            the watch ends. A copy or an unpickled one is a new, uncancelled handle.)")
        .constructor<&new_cancellation>()
        .method<&cancel, "cancel">(
            "Stop the long calls of the threads that watch this (from any thread; idempotent).")
        .method<&enter, "__enter__">(
            "Watch this from the calling thread until the matching __exit__ (watches nest).")
        .method<&leave, "__exit__", "exc_type", "exc_value", "traceback">(R"(
            End the calling thread's latest watch of this.

            Args:
                exc_type: Ignored (the context-manager protocol).
                exc_value: Ignored.
                traceback: Ignored.

            Raises:
                RuntimeError: the calling thread does not watch this.)")
        .build();
}

}  // namespace bindings
