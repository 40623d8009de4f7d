#pragma once
// Shared/exclusive access flags for objects that methods may re-enter.

#include "py/errors.hpp"

namespace py {

class BorrowFlag {
public:
    bool exclusively_held() const { return state_ < 0; }
    bool held() const { return state_ != 0; }

private:
    friend class SharedBorrow;
    friend class ExclusiveBorrow;
    int state_ = 0;  // > 0: that many shared holders; -1: one exclusive holder
};

class SharedBorrow {
public:
    explicit SharedBorrow(BorrowFlag& flag) : flag_(&flag) {
        if (flag.state_ < 0) raise(PyExc_RuntimeError, "Already mutably borrowed");
        ++flag.state_;
    }
    SharedBorrow(SharedBorrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    SharedBorrow(const SharedBorrow&) = delete;
    SharedBorrow& operator=(const SharedBorrow&) = delete;
    SharedBorrow& operator=(SharedBorrow&&) = delete;
    ~SharedBorrow() {
        if (flag_) --flag_->state_;
    }

private:
    BorrowFlag* flag_;
};

class ExclusiveBorrow {
public:
    explicit ExclusiveBorrow(BorrowFlag& flag) : flag_(&flag) {
        if (flag.state_ != 0) raise(PyExc_RuntimeError, "Already borrowed");
        flag.state_ = -1;
    }
    ExclusiveBorrow(ExclusiveBorrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    ExclusiveBorrow(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
    ExclusiveBorrow& operator=(ExclusiveBorrow&&) = delete;
    ~ExclusiveBorrow() {
        if (flag_) flag_->state_ = 0;
    }

private:
    BorrowFlag* flag_;
};

}  // namespace py
