#pragma once
// Stopping the long calls another thread makes.
//
// Signals reach the main thread only, so Ctrl-C stops the main thread's calls alone. A thread that
// works for another (a pool's worker) watches a Cancellation instead: once a watched Cancellation
// is cancelled, from any thread, the watching thread's long calls stop at their next look for
// interruption (every few milliseconds), with KeyboardInterrupt as Ctrl-C stops them, leaving
// every object as it was.

#include <atomic>
#include <memory>

#include "py/interpreter_lock.hpp"

namespace py {

// A flag that copies share.
struct Cancellation {
    std::shared_ptr<std::atomic<bool>> flag = std::make_shared<std::atomic<bool>>(false);

    void cancel() const { flag->store(true, std::memory_order_relaxed); }
    bool cancelled() const { return flag->load(std::memory_order_relaxed); }
};

// The calling thread watches `cancellation` until the matching unwatch; watches nest, and any
// cancelled one stops the calls. unwatch ends the latest watch of the same flag, and says whether
// there was one.
void watch(const Cancellation& cancellation);
bool unwatch(const Cancellation& cancellation);

// Whether the calling thread watches a cancelled Cancellation. Needs no interpreter lock.
bool cancelled_here();

// With the interpreter lock held: runs pending signal handlers (on the main thread) and looks at
// the watched cancellations. True, with the exception to raise set, when the calling thread's
// call should stop.
bool stop_requested();

}  // namespace py
