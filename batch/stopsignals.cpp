#include "batch/stopsignals.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;

extern "C" void requestStop(int) {
    g_stop = 1;
}
} // namespace

bool stopSignalled() {
    return g_stop != 0;
}

StopOnSignals::StopOnSignals() {
    g_stop = 0;
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, nullptr, &m_oldInt);
    sigaction(SIGTERM, nullptr, &m_oldTerm);
    if (m_oldInt.sa_handler != SIG_IGN)
        sigaction(SIGINT, &action, nullptr);
    if (m_oldTerm.sa_handler != SIG_IGN)
        sigaction(SIGTERM, &action, nullptr);
    // A signal that came while it was blocked is taken now, as a request to stop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, &m_oldMask);
}

StopOnSignals::~StopOnSignals() {
    pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
}
