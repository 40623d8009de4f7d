#include "tavo/interrupt.hpp"

#include <chrono>

namespace tavo {
namespace {

struct ThreadPoll {
    InterruptPoll poll = nullptr;
    void* context = nullptr;
    std::chrono::steady_clock::time_point next{};
};

ThreadPoll& thread_poll() noexcept {
    thread_local ThreadPoll state;
    return state;
}

}  // namespace

InterruptScope::InterruptScope(InterruptPoll poll, void* context) noexcept {
    ThreadPoll& state = thread_poll();
    previous_poll_ = state.poll;
    previous_context_ = state.context;
    state.poll = poll;
    state.context = context;
    state.next = std::chrono::steady_clock::now() + std::chrono::milliseconds(kInterruptPollMs);
}

InterruptScope::~InterruptScope() {
    ThreadPoll& state = thread_poll();
    state.poll = previous_poll_;
    state.context = previous_context_;
}

void check_interrupt() {
    ThreadPoll& state = thread_poll();
    if (!state.poll) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < state.next) return;
    state.next = now + std::chrono::milliseconds(kInterruptPollMs);
    if (state.poll(state.context)) throw Interrupted();
}

}  // namespace tavo
