#pragma once
// Running core code without the interpreter lock, so that other Python threads run meanwhile.
//
// without_lock(body) releases the lock, runs body, and takes the lock back, whether body returned
// or threw. Meanwhile long loops of the core that look for interruption (tavo/interrupt.hpp) take
// the lock back briefly every few milliseconds to run pending signal handlers and to look at the
// thread's cancellations (py/cancellation.hpp): Ctrl-C raises KeyboardInterrupt in the middle of a
// long call, which then unwinds as Interrupted with the handler's exception pending.
//
// Only values that hold no Python object may be made, used or destroyed while the lock is
// released; HoldsPython tells them apart at compile time.

#include <exception>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "py/box.hpp"
#include "py/cancellation.hpp"
#include "py/convert.hpp"
#include "tavo/interrupt.hpp"

namespace py {

// The lock released, and the interrupt poll installed, for as long as it lives.
class Unlocked {
public:
    Unlocked() : state_(release_lock()), interrupts_(&poll, this) {}
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

    // Takes the lock back, on the normal path: a destructor may not (see interpreter_lock.hpp).
    void relock() { take_lock_back(std::exchange(state_, nullptr)); }

private:
    static bool poll(void* context) {
        auto* self = static_cast<Unlocked*>(context);
        take_lock_back(self->state_);
        const bool stop = stop_requested();
        self->state_ = release_lock();
        return stop;
    }

    PyThreadState* state_;
    tavo::InterruptScope interrupts_;
};

template <class Body>
void without_lock(Body&& body) {
    Unlocked unlocked;
    std::exception_ptr failure;
    try {
        body();
    } catch (...) {
        // The interpreter ended the thread as a poll took the lock back (interpreter_lock.hpp):
        // there is no lock to take.
        if (taking_lock_back) throw;
        failure = std::current_exception();
    }
    unlocked.relock();
    if (failure) std::rethrow_exception(failure);
}

// Whether a value of type T holds (or may hold) a Python object.
template <class T>
struct HoldsPython
    : std::bool_constant<std::is_same_v<T, Ref> || std::is_same_v<T, Object> || Traversable<T>> {};
template <class T>
struct HoldsPython<std::optional<T>> : HoldsPython<T> {};
template <class T>
struct HoldsPython<std::vector<T>> : HoldsPython<T> {};
template <class A, class B>
struct HoldsPython<std::pair<A, B>> : std::disjunction<HoldsPython<A>, HoldsPython<B>> {};
template <class... T>
struct HoldsPython<std::tuple<T...>> : std::disjunction<HoldsPython<T>...> {};
template <class K, class V>
struct HoldsPython<Dict<K, V>> : std::disjunction<HoldsPython<K>, HoldsPython<V>> {};

template <class T>
inline constexpr bool holds_python = HoldsPython<std::decay_t<T>>::value;

}  // namespace py
