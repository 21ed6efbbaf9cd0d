#include "app/host_qt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <atomic>

namespace chronavel {

namespace {

std::atomic<QtHost*> the_host{nullptr};

QWidget* BoxParent()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

} // namespace

QtHost* TheQtHost()
{
    return the_host.load();
}

QtHost::QtHost()
{
    the_host.store(this);
    SetHost(this);
}

QtHost::~QtHost()
{
    SetHost(nullptr);
    the_host.store(nullptr);
    Shutdown();
    // A caller let go by the shutdown may still be on its way out of the
    // wait, using the lock and the condition variable that die with us.
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [this] { return waiters_ == 0; });
}

bool QtHost::OnWindowThread() const
{
    return QThread::currentThread() == thread();
}

void QtHost::Synchronize(const std::function<void()>& fn)
{
    if (OnWindowThread()) {
        if (!Closing())
            fn();
        return;
    }
    auto call = std::make_shared<Call>();
    call->Fn = fn;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (closing_)
            return;
        queue_.push_back(call);
        ++waiters_;
    }
    // Only a wake-up crosses through Qt; the call itself is handed over
    // under lock_, where ThreadSanitizer can see it.
    QMetaObject::invokeMethod(this, "RunQueued", Qt::QueuedConnection);
    std::unique_lock<std::mutex> hold(lock_);
    // A call the window thread has begun is waited for to its end even when
    // closing (it uses the caller's stack); one not begun is abandoned.
    done_.wait(hold, [&] { return call->Done || (closing_ && !call->Started); });
    --waiters_;
    done_.notify_all();
}

void QtHost::RunQueued()
{
    for (;;) {
        std::shared_ptr<Call> call;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (queue_.empty() || closing_)
                return;
            call = queue_.front();
            queue_.pop_front();
            call->Started = true;
        }
        // The caller waits; what fn reaches of its stack stays valid.
        call->Fn();
        std::lock_guard<std::mutex> hold(lock_);
        call->Done = true;
        // Notified under the lock: the waiter cannot return (and drop what
        // it owns) before this call is finished with it.
        done_.notify_all();
    }
}

void QtHost::ShowMessage(const std::string& text)
{
    Synchronize([&] {
        if (Closing())
            return;
        QMessageBox box(QMessageBox::NoIcon, MessageTitle(), QString::fromStdString(text),
                        QMessageBox::Ok, BoxParent());
        box.exec();
    });
}

bool QtHost::ShowWarning(const std::string& text)
{
    bool ok = false;
    Synchronize([&] {
        if (Closing())
            return;
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                        QString::fromStdString(text), QMessageBox::Ok | QMessageBox::Cancel,
                        BoxParent());
        box.setDefaultButton(QMessageBox::Ok);
        ok = box.exec() == QMessageBox::Ok && !Closing();
    });
    return ok;
}

void QtHost::Shutdown()
{
    std::lock_guard<std::mutex> hold(lock_);
    closing_ = true;
    queue_.clear();
    done_.notify_all();
}

bool QtHost::Closing() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return closing_;
}

QString QtHost::MessageTitle()
{
    return QStringLiteral("Chronavel");
}

} // namespace chronavel
