#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <ctime>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// Long enough for a normal quit to write what it writes; short enough that a
// service manager's stop never waits for its SIGKILL.
constexpr long kWatchdogNs = 1'500'000'000;
// What is still running this long after the quit was asked for refused it.
constexpr int kOverruleMs = 300;

int g_signalPipe[2] = {-1, -1};
std::atomic<int> g_received{0};
timer_t g_watchdog{};
bool g_hasWatchdog = false;

// Ends the process as the signal's default action would, so a shell or a
// service manager sees what ended it.
[[noreturn]] void dieOf(int signal)
{
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    sigaddset(&unblocked, signal);
    ::sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

void onSignal(int signal)
{
    // Only async-signal-safe work here; the event loop does the rest.
    int first = 0;
    if (!g_received.compare_exchange_strong(first, signal))
        dieOf(signal);
    if (g_hasWatchdog) {
        struct itimerspec due = {};
        due.it_value.tv_sec = kWatchdogNs / 1'000'000'000;
        due.it_value.tv_nsec = kWatchdogNs % 1'000'000'000;
        ::timer_settime(g_watchdog, 0, &due, nullptr);
    }
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}

void onWatchdog(int, siginfo_t* info, void*)
{
    // Someone else's alarm is none of ours.
    if (info->si_code != SI_TIMER || info->si_value.sival_ptr != &g_watchdog)
        return;
    if (const int signal = g_received.load())
        dieOf(signal);
}

}  // namespace

void quitOnTerminationSignals(QCoreApplication& application, std::function<void()> beforeQuit)
{
    if (g_signalPipe[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    struct sigevent event = {};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGALRM;
    event.sigev_value.sival_ptr = &g_watchdog;
    // Without a timer the signals still quit; only the deadline is lost.
    g_hasWatchdog = ::timer_create(CLOCK_MONOTONIC, &event, &g_watchdog) == 0;
    if (g_hasWatchdog) {
        struct sigaction watchdog = {};
        watchdog.sa_sigaction = onWatchdog;
        sigemptyset(&watchdog.sa_mask);
        watchdog.sa_flags = SA_SIGINFO | SA_RESTART;
        ::sigaction(SIGALRM, &watchdog, nullptr);
    }

    // Never disabled: the loop hears every signal until it ends.
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application,
                     [beforeQuit = std::move(beforeQuit), quitting = false]() mutable {
                         char bytes[16];
                         while (::read(g_signalPipe[1], bytes, sizeof bytes) > 0) {
                         }
                         if (std::exchange(quitting, true))
                             return;
                         if (beforeQuit)
                             beforeQuit();
                         // Closes the windows, which write what they keep.
                         QCoreApplication::quit();
                         // A window refusing to close cancels quit(); exit() ends every loop, nested ones too.
                         QTimer::singleShot(kOverruleMs, QCoreApplication::instance(),
                                            [] { QCoreApplication::exit(0); });
                     });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
