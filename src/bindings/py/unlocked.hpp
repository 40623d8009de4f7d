#pragma once
// Running core code without the interpreter lock, so that other Python threads run meanwhile.
//
// While an Unlocked lives the lock is released, and long loops of the core that look for
// interruption (tavo/interrupt.hpp) take it back briefly every few milliseconds to run pending
// signal handlers: Ctrl-C raises KeyboardInterrupt in the middle of a long call, which then unwinds
// as Interrupted with the handler's exception pending.
//
// Only values that hold no Python object may be made, used or destroyed while the lock is
// released; HoldsPython tells them apart at compile time.

#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "py/box.hpp"
#include "py/convert.hpp"
#include "tavo/interrupt.hpp"

namespace py {

class Unlocked {
public:
    Unlocked() : state_(PyEval_SaveThread()), interrupts_(&poll, this) {}
    ~Unlocked() { PyEval_RestoreThread(state_); }
    Unlocked(const Unlocked&) = delete;
    Unlocked& operator=(const Unlocked&) = delete;

private:
    static bool poll(void* context) {
        auto* self = static_cast<Unlocked*>(context);
        PyEval_RestoreThread(self->state_);
        const bool stop = PyErr_CheckSignals() < 0;
        self->state_ = PyEval_SaveThread();
        return stop;
    }

    PyThreadState* state_;
    tavo::InterruptScope interrupts_;
};

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
