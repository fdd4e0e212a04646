#pragma once
// Quit requests from the system (SIGTERM, SIGINT, SIGHUP) turned into a call
// on the main thread, where the application can end in an orderly way.

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace orbitreel {

class QuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers; `onQuit` runs on the thread that made this
    // object, once per signal received.
    explicit QuitSignals(std::function<void()> onQuit, QObject* parent = nullptr);
    ~QuitSignals() override;

    // Whether the handlers could be installed.
    bool isListening() const { return notifier_ != nullptr; }

private:
    void drain();

    std::function<void()> onQuit_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace orbitreel
