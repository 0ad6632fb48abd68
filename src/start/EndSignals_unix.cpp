// Unix only: everything below is compiled on Unix alone; elsewhere the
// function does nothing.

#include "start/EndSignals.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace start {

namespace {

// A signal handler may call almost nothing, Qt least of all: it writes one
// byte into a socket pair, and a socket notifier reads it in the event loop
// (Qt's "Calling Qt Functions From Unix Signal Handlers").
int g_signalSockets[2] = {-1, -1}; // [0] written by the handler, [1] read by the notifier
std::function<void()> g_onEnd;

void noteEndSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalSockets[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

void watchEndSignals(std::function<void()> onEnd)
{
    g_onEnd = std::move(onEnd);
    if (g_signalSockets[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalSockets) != 0)
        return;
    for (int fd : g_signalSockets)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC); // not handed to the programs it starts
    // A handler never blocks, even if the notifier has fallen behind.
    ::fcntl(g_signalSockets[0], F_SETFL, ::fcntl(g_signalSockets[0], F_GETFL) | O_NONBLOCK);

    auto *notifier = new QSocketNotifier(g_signalSockets[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier] {
        notifier->setEnabled(false);
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_signalSockets[1], &byte, 1);
        if (g_onEnd)
            g_onEnd();
        notifier->setEnabled(true);
    });

    struct sigaction action = {};
    action.sa_handler = noteEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace start

#else

namespace start {
void watchEndSignals(std::function<void()>) {}
} // namespace start

#endif
