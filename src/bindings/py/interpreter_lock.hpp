#pragma once
// Releasing the interpreter lock and taking it back, and what that means at interpreter exit.
//
// At exit the interpreter ends every other thread that tries to take the lock back, with
// pthread_exit, which unwinds the thread's stack without the lock by a forced unwinding: through
// destructors, while the process is being torn down. So a thread of ours that comes to take the
// lock back while the interpreter finalizes waits for the process to end instead, its stack left
// as it is (as CPython itself does from 3.14 on). The interpreter may still end a thread that
// runs Python code for a call of ours (a conversion's __float__, a sequence's items), or one that
// comes just as finalizing starts: the frames above let that unwinding through (guarded() in
// errors.hpp, without_lock in unlocked.hpp) and leave the interpreter alone on the way (Ref drops
// no references then). The lock is never taken back from a destructor, which would end the
// thread in the middle of another unwinding.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace py {

// Whether the interpreter finalizes (from its main thread).
inline bool interpreter_finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing();
#else
    return _Py_IsFinalizing();
#endif
}

// False only in a thread that runs without the interpreter lock while the interpreter finalizes:
// one that the interpreter is ending. Cheap otherwise (one load).
inline bool may_use_interpreter() { return !interpreter_finalizing() || PyGILState_Check(); }

// Set while the calling thread takes the interpreter lock back: still set while the thread
// unwinds, if the interpreter ended it there.
inline thread_local bool taking_lock_back = false;

// The interpreter's main thread, which finalizes it (0 when unknown: then no thread waits).
inline std::atomic<unsigned long> main_thread_id{0};
// Records it, from threading.main_thread(); called once, with the lock held, as the module loads.
void note_main_thread();

// Whether the interpreter finalizes and would end the calling thread, should it take the lock
// back. Needs no lock.
inline bool ended_if_taking_lock_back() {
    const unsigned long main = main_thread_id.load(std::memory_order_relaxed);
    return main != 0 && interpreter_finalizing() && PyThread_get_thread_ident() != main;
}

inline PyThreadState* release_lock() { return PyEval_SaveThread(); }

inline void take_lock_back(PyThreadState* state) {
    if (ended_if_taking_lock_back()) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));  // until the process ends
    }
    taking_lock_back = true;
    PyEval_RestoreThread(state);
    taking_lock_back = false;
}

}  // namespace py
