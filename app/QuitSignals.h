// SIGTERM, SIGINT and SIGHUP (a kill, Ctrl+C, the end of the session) delivered to the event loop:
// the signal handlers only write the signal's number into a pipe, and a socket notifier on the main
// thread reads it there and calls the handler given here.
#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace varnel {

class QuitSignals {
  public:
    // Installs the signal handlers; false from installed() when that could not be done (the signals
    // then keep their default action).
    explicit QuitSignals(std::function<void(int signalNumber)> onSignal);
    ~QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    bool installed() const { return notifier_ != nullptr; }

  private:
    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace varnel
