#pragma once
// Queues whose main queue is the real one and whose background jobs are
// kept, never run, so that a state that waits on one stays as it is.

#include <vector>

#include "platform/queues.h"

namespace orbitreel::test_support {

class HoldingQueues : public Queues {
public:
    explicit HoldingQueues(Queues& main) : main_(main) {}
    void onMain(Work work) override { main_.onMain(std::move(work)); }
    void onMainAfter(std::chrono::milliseconds delay, Work work) override { main_.onMainAfter(delay, std::move(work)); }
    void onUserInitiated(Work work) override { held.push_back(std::move(work)); }
    std::vector<Work> held;

private:
    Queues& main_;
};

}  // namespace orbitreel::test_support
