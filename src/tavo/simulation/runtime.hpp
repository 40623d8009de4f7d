#pragma once
// The event runtime of one trial: generated links wait in a time-ordered queue, and processing them
// loses a fixed share on the way.

#include <cstdint>
#include <optional>
#include <queue>
#include <string>
#include <vector>

#include "tavo/random/chacha.hpp"

namespace tavo {

struct EventWrapper {
    std::string node_a;
    std::string node_b;
    double fidelity = 0.0;
    double time = 0.0;
};

struct CompletedLink {
    std::string node_a;
    std::string node_b;
    double fidelity = 0.0;
};

// A generated link is lost when its loss draw falls below this share.
inline constexpr double kLinkLossProbability = 0.1;

// The loss draw of the running system: the per-thread generator, whose values depend on nothing a
// caller controls. Tests substitute a draw that is a pure function of the event.
struct ThreadLossDraw {
    double operator()(std::string_view, std::string_view, double) const {
        return thread_rng().uniform_half_open();
    }
};

// The stream number of a seeded trial's loss draws; its link attempts use stream 0 of the same key.
inline constexpr std::uint64_t kLossStream = 1;

// The loss draws of one seeded trial: the trial generator's key on the loss stream, one half-open
// draw per processed event, so that the trial's outcome depends on its seed alone. The generator is
// made when the first loss is drawn: many trials never draw one. An ensemble that computed block 0
// of the stream already (for several trials at once) hands it over as `first_block`.
class TrialLossDraw {
public:
    explicit TrialLossDraw(const ChaChaKey& key,
                           const std::uint32_t* first_block = nullptr) noexcept
        : key_(key), first_block_(first_block) {}

    double operator()(std::string_view, std::string_view, double) {
        if (!rng_) [[unlikely]] {
            if (first_block_) {
                rng_.emplace(ChaCha12Rng::with_first_block(key_, kLossStream, first_block_));
            } else {
                rng_.emplace(ChaCha12Rng::from_key(key_, kLossStream));
            }
        }
        return rng_->uniform_half_open();
    }

private:
    ChaChaKey key_;
    const std::uint32_t* first_block_;
    std::optional<ChaCha12Rng> rng_;
};

class SimulationRuntime {
public:
    // Inserts an event; the queue yields the earliest time first.
    void push(EventWrapper event) { queue_.push(std::move(event)); }

    // Consumes every queued event due at or before t: each is lost or appended to `completed`.
    template <class LossDraw = ThreadLossDraw>
    void process_events_up_to(double t, LossDraw&& draw = LossDraw{}) {
        while (!queue_.empty() && !(queue_.top().time > t)) {
            EventWrapper event = queue_.top();
            queue_.pop();
            double r = draw(event.node_a, event.node_b, event.time);
            if (r < kLinkLossProbability) {
                ++loss_count;
            } else {
                completed.push_back({std::move(event.node_a), std::move(event.node_b), event.fidelity});
            }
        }
    }

    std::size_t queued() const { return queue_.size(); }

    std::vector<CompletedLink> completed;
    std::uint64_t loss_count = 0;
    std::uint64_t congestion_drops = 0;

private:
    struct Later {
        bool operator()(const EventWrapper& a, const EventWrapper& b) const { return a.time > b.time; }
    };
    std::priority_queue<EventWrapper, std::vector<EventWrapper>, Later> queue_;
};

}  // namespace tavo
