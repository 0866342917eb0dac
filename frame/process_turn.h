// One caller at a time, within the process, for work on something the
// process shares (the predefined-key redirect, a registry value's
// read-modify-write).
#pragma once

#include <windows.h>

#include <atomic>

namespace setupsup {

// Holds flag for as long as it lives, waiting for another holder to let it
// go. flag is a constinit std::atomic_flag of the work it guards: it needs
// no initialisation and nothing to free, and holds no per-call state. The
// wait is as long as the holder's work; the work each guards is bounded.
class ProcessTurn {
public:
    explicit ProcessTurn(std::atomic_flag& flag) noexcept : flag_(flag)
    {
        while (flag_.test_and_set(std::memory_order_acquire))
            ::Sleep(1);
    }
    ~ProcessTurn() { flag_.clear(std::memory_order_release); }
    ProcessTurn(const ProcessTurn&) = delete;
    ProcessTurn& operator=(const ProcessTurn&) = delete;

private:
    std::atomic_flag& flag_;
};

} // namespace setupsup
