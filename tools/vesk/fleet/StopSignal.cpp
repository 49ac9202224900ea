#include "tools/vesk/fleet/StopSignal.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vesk_fleet {
namespace {

std::atomic<bool> stopping{false};

#if defined(_WIN32)
BOOL WINAPI onConsoleEvent(DWORD)
{
    stopping = true;
    return TRUE;
}
#else
extern "C" void onSignal(int)
{
    stopping = true;
}
#endif

} // namespace

void installStopHandlers()
{
    stopping = false; // a stop asked of an earlier command in this process is not this one's
#if defined(_WIN32)
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

bool stopRequested()
{
    return stopping;
}

void requestStop()
{
    stopping = true;
}

} // namespace vesk_fleet
