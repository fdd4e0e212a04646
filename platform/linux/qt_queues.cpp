#include "platform/linux/qt_queues.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <deque>
#include <mutex>

#include "core/thread_affinity.h"

namespace orbitreel {

namespace {

// The main queue: work waits in a queue of our own, guarded by a standard
// mutex, and a queued call with no payload wakes the main thread to drain it.
// The hand-over of the work itself is then visible to race checkers, which
// cannot see inside Qt's own event queue.
class MainQueue : public QObject {
    Q_OBJECT
public:
    void post(Queues::Work work) {
        {
            std::lock_guard lock(mutex_);
            pending_.push_back(std::move(work));
        }
        QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
    }

    Q_INVOKABLE void drain() {
        assertOn(Affinity::main);
        std::deque<Queues::Work> ready;
        {
            std::lock_guard lock(mutex_);
            ready.swap(pending_);
        }
        // In submission order; work posted meanwhile waits for its own wake-up.
        for (auto& work : ready) work();
    }

private:
    std::mutex mutex_;
    std::deque<Queues::Work> pending_;
};

class QtQueues final : public Queues {
public:
    QtQueues() {
        // Made on the thread that runs the event loop: that is the main thread.
        markThisThread(Affinity::main);
        // Everything posted to the main queue runs in this object's thread.
        if (auto* app = QCoreApplication::instance()) main_.moveToThread(app->thread());
    }

    ~QtQueues() override {
        // Jobs still running may post to the main queue; let them finish
        // while the queue they post to still exists.
        pool_.waitForDone();
        // The pool's wait is invisible to race checkers; each job's last
        // step under the same mutex makes its end visible here.
        std::lock_guard lock(mutex_);
    }

    void onMain(Work work) override { main_.post(std::move(work)); }

    void onMainAfter(std::chrono::milliseconds delay, Work work) override {
        // A timer fires in the thread that started it, so start it there.
        auto* context = &main_;
        auto arm = [context, delay, work = std::move(work)]() mutable {
            QTimer::singleShot(delay, context, [work = std::move(work)] {
                assertOn(Affinity::main);
                work();
            });
        };
        if (QThread::currentThread() == main_.thread()) arm();
        else main_.post(std::move(arm));
    }

    void onUserInitiated(Work work) override {
        // As on the main queue, the work crosses through our own mutex; the
        // pool only learns that there is one more job to take.
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(work));
        }
        pool_.start([this] {
            markThisThread(Affinity::background);
            Work job;
            {
                std::lock_guard lock(mutex_);
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
            std::lock_guard ended(mutex_);
        });
    }

private:
    MainQueue main_;
    std::mutex mutex_;
    std::deque<Work> jobs_;
    QThreadPool pool_;
};

}  // namespace

std::unique_ptr<Queues> makeQtQueues() { return std::make_unique<QtQueues>(); }

}  // namespace orbitreel

#include "qt_queues.moc"
