#include "py/borrow.hpp"

#include "py/cancellation.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace py {
namespace {

// One lock and one condition for all flags: contention is rare and holds are short.
std::mutex& flags_lock() {
    static std::mutex* lock = new std::mutex;  // never destroyed: threads may outlive exit handlers
    return *lock;
}

std::condition_variable& flags_released() {
    static std::condition_variable* condition = new std::condition_variable;
    return *condition;
}

// The accesses the calling thread holds, to tell re-entering from waiting for another thread.
struct Held {
    const BorrowFlag* flag;
    bool exclusive;
};

std::vector<Held>& held_here() {
    thread_local std::vector<Held> held;
    return held;
}

enum class Holding { Nothing, Shared, Exclusive };

Holding holding_here(const BorrowFlag* flag) {
    Holding holding = Holding::Nothing;
    for (const Held& held : held_here()) {
        if (held.flag != flag) continue;
        if (held.exclusive) return Holding::Exclusive;
        holding = Holding::Shared;
    }
    return holding;
}

void forget_here(const BorrowFlag* flag, bool exclusive) {
    auto& held = held_here();
    for (auto it = held.rbegin(); it != held.rend(); ++it) {
        if (it->flag == flag && it->exclusive == exclusive) {
            held.erase(std::next(it).base());
            return;
        }
    }
}

// Gives back an access taken while the interpreter lock was released, should the thread be ended
// as it takes the lock back (at interpreter exit, see interpreter_lock.hpp): the access is then
// never handed to its holder, whose destructor would give it back.
template <class Untake>
struct GiveBackIfEnded {
    BorrowFlag* flag;
    Untake untake;
    explicit GiveBackIfEnded(Untake give_back) : flag(nullptr), untake(give_back) {}
    GiveBackIfEnded(const GiveBackIfEnded&) = delete;
    GiveBackIfEnded& operator=(const GiveBackIfEnded&) = delete;
    ~GiveBackIfEnded() {
        if (!flag) return;
        {
            std::lock_guard<std::mutex> guard(flags_lock());
            untake(*flag);
        }
        flags_released().notify_all();
    }
};

// Takes the flag once `available(flag)` holds, by `take(flag)` (`untake(flag)` undoes it). While
// another thread's access is in the way this waits with the interpreter lock released, looking for
// pending signals (Ctrl-C) and the thread's cancellations every few milliseconds; a signal
// handler's exception, or a cancellation, ends the wait. While the interpreter finalizes, the
// other thread never gives the object back (it waits for the process to end, see
// interpreter_lock.hpp): the access is refused at once with `conflict`, as when re-entering.
template <class Available, class Take, class Untake>
void acquire(BorrowFlag& flag, Available available, Take take, Untake untake,
             const char* conflict) {
    {
        std::lock_guard<std::mutex> guard(flags_lock());
        if (available(flag)) return take(flag);
    }
    if (interpreter_finalizing()) raise(PyExc_RuntimeError, conflict);
    for (;;) {
        PyThreadState* state = release_lock();
        GiveBackIfEnded<Untake> taken(untake);
        {
            std::unique_lock<std::mutex> guard(flags_lock());
            if (flags_released().wait_for(guard, std::chrono::milliseconds(20),
                                          [&] { return available(flag); })) {
                take(flag);
                taken.flag = &flag;
            }
        }
        take_lock_back(state);
        if (taken.flag) {
            taken.flag = nullptr;
            return;
        }
        if (stop_requested()) throw PythonErrorSet{};
    }
}

void release(const BorrowFlag* flag, bool exclusive, int& shared, bool& exclusive_flag) {
    {
        std::lock_guard<std::mutex> guard(flags_lock());
        if (exclusive) {
            exclusive_flag = false;
        } else {
            --shared;
        }
    }
    forget_here(flag, exclusive);
    flags_released().notify_all();
}

}  // namespace

bool BorrowFlag::held() const {
    std::lock_guard<std::mutex> guard(flags_lock());
    return shared_ != 0 || exclusive_;
}

SharedBorrow::SharedBorrow(BorrowFlag& flag) : flag_(&flag) {
    const Holding holding = holding_here(&flag);
    if (holding == Holding::Exclusive) raise(PyExc_RuntimeError, "Already mutably borrowed");
    if (holding == Holding::Shared) {
        // A thread holding an object shared may take it shared again, even past a waiting writer.
        std::lock_guard<std::mutex> guard(flags_lock());
        ++flag.shared_;
    } else {
        acquire(
            flag, [](const BorrowFlag& f) { return !f.exclusive_; },
            [](BorrowFlag& f) { ++f.shared_; }, [](BorrowFlag& f) { --f.shared_; },
            "Already mutably borrowed");
    }
    held_here().push_back({&flag, false});
}

SharedBorrow::~SharedBorrow() {
    if (flag_) release(flag_, false, flag_->shared_, flag_->exclusive_);
}

ExclusiveBorrow::ExclusiveBorrow(BorrowFlag& flag) : flag_(&flag) {
    if (holding_here(&flag) != Holding::Nothing) raise(PyExc_RuntimeError, "Already borrowed");
    acquire(
        flag, [](const BorrowFlag& f) { return !f.exclusive_ && f.shared_ == 0; },
        [](BorrowFlag& f) { f.exclusive_ = true; }, [](BorrowFlag& f) { f.exclusive_ = false; },
        "Already borrowed");
    held_here().push_back({&flag, true});
}

ExclusiveBorrow::~ExclusiveBorrow() {
    if (flag_) release(flag_, true, flag_->shared_, flag_->exclusive_);
}

}  // namespace py
