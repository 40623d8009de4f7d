#pragma once
// Stopping a long operation from outside. Whoever runs an operation may install a poll for its
// thread; long loops of the core ask it now and then, and when it says stop they throw
// Interrupted, which unwinds the operation before it has changed anything the caller can see.
// Without a poll installed, the checks cost a thread-local read.

#include <cstdint>
#include <exception>

namespace tavo {

// Thrown out of an operation whose caller asked it to stop. The caller already knows why.
class Interrupted : public std::exception {
public:
    const char* what() const noexcept override { return "operation interrupted"; }
};

// "Should the operation stop?"; true stops it.
using InterruptPoll = bool (*)(void* context);

// Installs `poll` for the calling thread while the scope lives (scopes nest).
class InterruptScope {
public:
    InterruptScope(InterruptPoll poll, void* context) noexcept;
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    InterruptPoll previous_poll_;
    void* previous_context_;
};

// Asks the installed poll if at least kInterruptPollMs have passed since it was last asked, and
// throws Interrupted when it says stop. Cheap enough to call every few microseconds of work.
inline constexpr int kInterruptPollMs = 20;
void check_interrupt();

// For hot loops: counts units of work (link attempts, path steps, ...) and calls check_interrupt()
// once every `every` units, so that a loop pays one subtraction per step.
class InterruptCountdown {
public:
    explicit InterruptCountdown(std::int64_t every = 1 << 16) noexcept
        : every_(every), left_(every) {}

    void tick(std::int64_t units = 1) {
        left_ -= units;
        if (left_ <= 0) [[unlikely]] {
            left_ = every_;
            check_interrupt();
        }
    }

private:
    std::int64_t every_;
    std::int64_t left_;
};

}  // namespace tavo
