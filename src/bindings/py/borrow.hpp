#pragma once
// Shared and exclusive access to the value an object holds, safe across threads.
//
// A method that changes an object takes it exclusively, every other access takes it shared. Any
// number of shared holders may hold an object at once, from any threads; an exclusive holder holds
// it alone. A thread that asks for an access another thread's holding excludes waits for it, with
// the interpreter lock released; a thread that re-enters an object it holds itself in a
// conflicting way gets "Already borrowed" (asking for exclusive access) or "Already mutably
// borrowed" (asking for shared access) at once, since waiting for itself would never end.

#include "py/errors.hpp"

namespace py {

class BorrowFlag {
public:
    bool held() const;

private:
    friend class SharedBorrow;
    friend class ExclusiveBorrow;
    // Guarded by one lock for all flags; waiting for a flag never holds the interpreter lock.
    int shared_ = 0;
    bool exclusive_ = false;
};

class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& flag);
    SharedBorrow(SharedBorrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    SharedBorrow& operator=(SharedBorrow&&) = delete;
    ~SharedBorrow();

private:
    BorrowFlag* flag_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& flag);
    ExclusiveBorrow(ExclusiveBorrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(ExclusiveBorrow&&) = delete;
    ~ExclusiveBorrow();

private:
    BorrowFlag* flag_;
};

}  // namespace py
