#pragma once
#include <csignal>
#include <pthread.h>

// An interrupt (Ctrl+C) or a termination request ends a run at the next record, as Cancel does in
// the window. While a StopOnSignals lives, SIGINT and SIGTERM only set the flag stopSignalled()
// reads; a signal the caller chose to ignore (a job started in the background) stays ignored.
class StopOnSignals {
public:
    StopOnSignals();
    ~StopOnSignals();
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
    sigset_t m_oldMask{};
};

// True once SIGINT or SIGTERM came while a StopOnSignals lived.
bool stopSignalled();
