#include "platform/linux/qt_queues.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

namespace orbitreel {

namespace {

class QtQueues final : public Queues {
public:
    QtQueues() {
        // Everything posted to the main queue runs in this object's thread.
        if (auto* app = QCoreApplication::instance()) mainContext_.moveToThread(app->thread());
    }

    ~QtQueues() override {
        // Jobs still running may post to the main queue; let them finish
        // while the context they post to still exists.
        pool_.waitForDone();
    }

    void onMain(Work work) override {
        QMetaObject::invokeMethod(&mainContext_, std::move(work), Qt::QueuedConnection);
    }

    void onMainAfter(std::chrono::milliseconds delay, Work work) override {
        // A timer fires in the thread that started it, so start it there.
        auto* context = &mainContext_;
        auto arm = [context, delay, work = std::move(work)]() mutable {
            QTimer::singleShot(delay, context, std::move(work));
        };
        if (QThread::currentThread() == mainContext_.thread())
            arm();
        else
            QMetaObject::invokeMethod(&mainContext_, std::move(arm), Qt::QueuedConnection);
    }

    void onUserInitiated(Work work) override { pool_.start(std::move(work)); }

private:
    QObject mainContext_;
    QThreadPool pool_;
};

}  // namespace

std::unique_ptr<Queues> makeQtQueues() { return std::make_unique<QtQueues>(); }

}  // namespace orbitreel
