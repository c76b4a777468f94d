#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// The watchdog looks once a second after the signal. A loop that has not turned
// for this many looks is stuck; a service manager waits far longer than the cap.
constexpr int kStuckAfterLooks = 3;
constexpr int kLastLook = 10;
// How often the loop shows it still turns while the program quits.
constexpr int kHeartbeatMs = 500;
// What is still running this long after the quit was asked for refused it.
constexpr int kOverruleMs = 300;

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_signalPipe[2] = {-1, -1};
pthread_t g_mainThread{};
std::atomic<int> g_received{0};
timer_t g_watchdog{};
bool g_hasWatchdog = false;
// Written by the event loop, read by the watchdog.
std::atomic<bool> g_loopRuns{false};
std::atomic<bool> g_loopEnded{false};
std::atomic<unsigned> g_heartbeat{0};
// The watchdog's own count.
std::atomic<int> g_looks{0};
std::atomic<int> g_stillLooks{0};
std::atomic<unsigned> g_lastBeat{0};

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
    ::pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

void onSignal(int signal)
{
    // Only async-signal-safe work here; the event loop does the rest.
    // Decided on the main thread only, where the handler's mask keeps the
    // signals in the order they came: one taken by another thread while the
    // main thread handles the first waits there for its turn.
    if (!::pthread_equal(::pthread_self(), g_mainThread)) {
        ::pthread_kill(g_mainThread, signal);
        return;
    }
    int first = 0;
    if (!g_received.compare_exchange_strong(first, signal))
        dieOf(signal);
    if (g_hasWatchdog) {
        g_lastBeat = g_heartbeat.load();
        struct itimerspec looks = {};
        looks.it_value.tv_sec = 1;
        looks.it_interval.tv_sec = 1;
        ::timer_settime(g_watchdog, 0, &looks, nullptr);
    }
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}

void onWatchdog(int, siginfo_t* info, void*)
{
    // Someone else's alarm is none of ours.
    if (info->si_code != SI_TIMER || info->si_value.sival_ptr != &g_watchdog)
        return;
    const int signal = g_received.load();
    if (!signal)
        return;
    if (++g_looks >= kLastLook)
        dieOf(signal);
    // Before the loop runs the program is still setting up, and once it has
    // ended it writes what it keeps: only the cap holds then.
    if (!g_loopRuns || g_loopEnded)
        return;
    const unsigned beat = g_heartbeat.load();
    if (beat != g_lastBeat.exchange(beat)) {
        g_stillLooks = 0;
        return;
    }
    if (++g_stillLooks >= kStuckAfterLooks)
        dieOf(signal);
}

}  // namespace

void installTerminationSignals()
{
    if (g_signalPipe[0] >= 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0)
        return;
    g_mainThread = ::pthread_self();
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

    struct sigaction action = {};
    action.sa_handler = onSignal;
    // A second signal waits until the first has been taken down.
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

void quitOnTerminationSignals(QCoreApplication& application, std::function<void()> beforeQuit)
{
    installTerminationSignals();
    if (g_signalPipe[1] < 0)
        return;
    static bool listening = false;
    if (std::exchange(listening, true))
        return;
    QTimer::singleShot(0, &application, [] { g_loopRuns = true; });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [] { g_loopEnded = true; });

    // Never disabled: the loop hears every signal until it ends, those taken before it ran too.
    auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application,
                     [beforeQuit = std::move(beforeQuit), quitting = false]() mutable {
                         char bytes[16];
                         while (::read(g_signalPipe[1], bytes, sizeof bytes) > 0) {
                         }
                         if (std::exchange(quitting, true))
                             return;
                         // Tells the watchdog the loop still turns while the quit works.
                         ++g_heartbeat;
                         auto* heartbeat = new QTimer(QCoreApplication::instance());
                         QObject::connect(heartbeat, &QTimer::timeout, [] { ++g_heartbeat; });
                         heartbeat->start(kHeartbeatMs);
                         if (beforeQuit)
                             beforeQuit();
                         // Closes the windows, which write what they keep.
                         QCoreApplication::quit();
                         // A window refusing to close cancels quit(); exit() ends every loop, nested ones too.
                         QTimer::singleShot(kOverruleMs, QCoreApplication::instance(),
                                            [] { QCoreApplication::exit(0); });
                     });
}
