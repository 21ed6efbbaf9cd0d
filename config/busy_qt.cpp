#include "config/busy_qt.h"

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

namespace chronavel {

namespace {

int busy_depth = 0; // window thread only
std::atomic<int> works_running{0};

} // namespace

void RunOffWindowThread(const std::function<void()>& work)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++busy_depth;
    QEventLoop loop;
    std::exception_ptr error;
    ++works_running;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        --works_running;
        // Queued, so it is taken up by the loop below even when the work
        // ended before the loop started.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    // Paint, timers and the host's calls from other threads go on; keys,
    // clicks and close requests wait until the work is done.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    --busy_depth;
    QApplication::restoreOverrideCursor();
    if (error)
        std::rethrow_exception(error);
}

void RunInBackground(QObject* context, std::function<void()> work, std::function<void()> done)
{
    ++works_running;
    std::thread([context, work = std::move(work), done = std::move(done)]() mutable {
        work();
        QMetaObject::invokeMethod(context, std::move(done), Qt::QueuedConnection);
        --works_running;
    }).detach();
}

bool WindowThreadBusy()
{
    return busy_depth > 0;
}

void WaitForBlockingWork()
{
    while (works_running.load() > 0) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace chronavel
