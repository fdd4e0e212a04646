#pragma once
// Dispatch: the main queue, delayed main-queue work and a background queue.

#include <chrono>
#include <functional>

namespace orbitreel {

class Queues {
public:
    virtual ~Queues() = default;
    using Work = std::function<void()>;
    // Runs on the main thread, in submission order.
    virtual void onMain(Work work) = 0;
    virtual void onMainAfter(std::chrono::milliseconds delay, Work work) = 0;
    // Runs on a background thread of the user-initiated pool.
    virtual void onUserInitiated(Work work) = 0;
};

}  // namespace orbitreel
