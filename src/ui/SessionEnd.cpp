#include "ui/SessionEnd.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace vexo {

namespace {

// The write end is all a signal handler touches (write is async-signal-safe).
int pipeFds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

void OnSignal(int signal) {
    const auto byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t written = write(pipeFds[1], &byte, 1);
}

}  // namespace

TSessionEnd::TSessionEnd(std::function<void()> onEnd, QObject* parent) : QObject(parent), onEnd_(std::move(onEnd)) {
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // without the pipe the signals keep their default action: the program ends at once
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (read(pipeFds[0], bytes, sizeof bytes) > 0) {
        }
        notifier_->setEnabled(false);  // the first signal ends the program; later ones change nothing
        if (onEnd_)
            onEnd_();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
}

TSessionEnd::~TSessionEnd() {
    for (int signal : kSignals)
        std::signal(signal, SIG_DFL);
}

}  // namespace vexo
