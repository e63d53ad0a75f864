#pragma once
// Lets pending events of the application run in the middle of a long decode.
#include <chrono>
#include <cstdint>

// Dispatches the pending events. When one of them asked the application to
// quit, the request is held back, posted again so that the main loop still
// ends, and true is returned so that the caller can stop its work.
bool PumpPendingEvents();

// When a long piece of work should let events run: at its first step, then
// at most once every kInterval, so that the work keeps the window responsive
// without paying for an event pass per step. Due() is cheap enough to ask
// after every byte: it looks at the clock only every kStepsPerCheck calls.
class TEventPumpSchedule {
public:
    static constexpr std::chrono::milliseconds kInterval{5};
    static constexpr uint32_t kStepsPerCheck = 256;

    bool Due()
    {
        if (++steps_ % kStepsPerCheck != 0)
            return false;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < kInterval)
            return false;
        last_ = now;
        return true;
    }

private:
    uint32_t steps_ = kStepsPerCheck - 1;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now() - kInterval;
};
