#include "ctlsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};

} // namespace

ctlSignals::ctlSignals(QObject* parent)
    : QObject(parent)
{
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &ctlSignals::drain);
    install(SIGINT);
    install(SIGTERM);
}

ctlSignals::~ctlSignals()
{
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(number, SIG_DFL);
    if (pipeEnds[0] < 0)
        return;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void ctlSignals::holdThroughHangUp()
{
    if (pipeEnds[1] < 0)
        return;
    install(SIGHUP);
    install(SIGPIPE);
}

void ctlSignals::install(int signalNumber)
{
    struct sigaction action = {};
    action.sa_handler = &ctlSignals::handle;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking read at a prompt returns instead of waiting on.
    action.sa_flags = 0;
    ::sigaction(signalNumber, &action, nullptr);
}

void ctlSignals::handle(int signalNumber)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the signal: enough of them are already waiting to be read.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &number, 1);
    errno = saved;
}

void ctlSignals::drain()
{
    unsigned char number = 0;
    while (::read(pipeEnds[0], &number, 1) == 1)
        emit received(number);
}
