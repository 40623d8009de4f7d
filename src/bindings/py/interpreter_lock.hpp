#pragma once
// Releasing the interpreter lock and taking it back, and what that means at interpreter exit.
//
// At exit the interpreter ends every other thread that tries to take the lock back (with
// pthread_exit: from inside PyEval_RestoreThread, also when the interpreter itself takes the lock
// back between two steps of Python code that a call of ours runs). The ended thread's stack
// unwinds without the lock, by a forced unwinding that may be neither swallowed nor stopped by a
// noexcept frame. So the lock is taken back only on normal paths (never from a destructor, which
// would end the thread in the middle of another unwinding); the frames above let the unwinding
// through (guarded() in errors.hpp), and on the way they leave the interpreter alone: references
// are not dropped (Ref), as the interpreter's own C frames leave theirs.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace py {

inline PyThreadState* release_lock() { return PyEval_SaveThread(); }
inline void take_lock_back(PyThreadState* state) { PyEval_RestoreThread(state); }

// False only in a thread that runs without the interpreter lock while the interpreter finalizes:
// one that the interpreter is ending. Cheap otherwise (one load).
inline bool may_use_interpreter() {
#if PY_VERSION_HEX >= 0x030D0000
    return !Py_IsFinalizing() || PyGILState_Check();
#else
    return !_Py_IsFinalizing() || PyGILState_Check();
#endif
}

}  // namespace py
