// The core's host for the windows: calls from the exchange thread run on
// the window thread while the caller waits; calls on the window thread run
// at once. Message boxes are QMessageBox. Once the program is closing, a
// waiting call is abandoned and no box is shown any more.
#pragma once

#include "link/host.h"

#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

class QWidget;

namespace chronavel {

class QtHost final : public QObject, public Host {
    Q_OBJECT

public:
    // Lives on the thread that creates it (the window thread) and installs
    // itself as the core's host.
    QtHost();
    ~QtHost() override;
    QtHost(const QtHost&) = delete;
    QtHost& operator=(const QtHost&) = delete;

    void Synchronize(const std::function<void()>& fn) override;
    void ShowMessage(const std::string& text) override;
    bool ShowWarning(const std::string& text) override;

    // From now on every waiting and every later call from another thread
    // returns without running, and no box is shown. Window thread.
    void Shutdown();
    bool Closing() const;

    // The title of the plain message boxes: the application's title.
    static QString MessageTitle();

private slots:
    void RunQueued();

private:
    struct Call {
        std::function<void()> Fn;
        bool Started = false;
        bool Done = false;
    };

    bool OnWindowThread() const;

    mutable std::mutex lock_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Call>> queue_; // guarded by lock_
    bool closing_ = false;                    // guarded by lock_
    int waiters_ = 0;                         // callers inside Synchronize; guarded by lock_
};

// The host of the running program (null before one is made).
QtHost* TheQtHost();

} // namespace chronavel
