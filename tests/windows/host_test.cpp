// The windows' host: calls from another thread run on the window thread
// while the caller waits, calls on the window thread run at once, boxes
// are QMessageBox, and shutting down lets every waiting caller go.
#include "app/host_qt.h"
#include "windows/support/modal_script.h"

#include <QApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <chrono>
#include <thread>

using namespace chronavel;
using namespace std::chrono_literals;

class HostTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QApplication::setApplicationName(QStringLiteral("Chronavel")); }

    void callsFromAnotherThreadRunOnTheWindowThreadAndWait()
    {
        QtHost host;
        QCOMPARE(&CurrentHost(), static_cast<Host*>(&host));
        std::atomic<bool> ran_here{false};
        std::atomic<bool> returned{false};
        int value = 0; // written on the window thread, read by the caller after
        std::thread worker([&] {
            host.Synchronize([&] {
                ran_here = QThread::currentThread() == qApp->thread();
                value = 42;
            });
            returned = value == 42;
        });
        QVERIFY(test::WaitUntil([&] { return returned.load(); }, 5000));
        worker.join();
        QVERIFY(ran_here);

        // On the window thread itself: at once, no event loop needed.
        bool direct = false;
        host.Synchronize([&] { direct = true; });
        QVERIFY(direct);
    }

    void boxesFromTheExchangeThread()
    {
        QtHost host;
        test::ModalScript script;
        script.AnswerBox(true);
        script.AnswerBox(false);
        script.AnswerBox(true);
        std::atomic<int> answers{-1};
        std::atomic<bool> done{false};
        std::thread worker([&] {
            host.ShowMessage("Данных нет!");
            const bool cancel = host.ShowWarning("Значение не прочитано! Повторить чтение?");
            const bool ok = host.ShowWarning("Устройство не отвечает! Повторить подключение?");
            answers = (cancel ? 1 : 0) + (ok ? 2 : 0);
            done = true;
        });
        QVERIFY(test::WaitUntil([&] { return done.load(); }, 10000));
        worker.join();
        QCOMPARE(answers.load(), 2);
        QCOMPARE(script.Boxes(),
                 QStringList(
                     {QStringLiteral("Chronavel|Данных нет!"),
                      QStringLiteral("Warning|Значение не прочитано! Повторить чтение?"),
                      QStringLiteral("Warning|Устройство не отвечает! Повторить подключение?")}));
    }

    void shutdownLetsAWaitingCallerGo()
    {
        QtHost host;
        std::atomic<bool> ran{false};
        std::atomic<bool> returned{false};
        // No event loop runs: the call stays queued until the host shuts down.
        std::thread worker([&] {
            host.Synchronize([&] { ran = true; });
            returned = true;
        });
        std::this_thread::sleep_for(50ms);
        QVERIFY(!returned);
        const auto started = std::chrono::steady_clock::now();
        host.Shutdown();
        worker.join();
        QVERIFY(std::chrono::steady_clock::now() - started <
                5s); // at once, but the machine may be busy
        QVERIFY(returned);
        QTest::qWait(20);
        QVERIFY(!ran);
        // Later calls return at once, and boxes are not shown any more.
        std::atomic<bool> warned{true};
        std::thread late([&] {
            host.Synchronize([&] { ran = true; });
            warned = host.ShowWarning("x");
        });
        late.join();
        QVERIFY(!ran);
        QVERIFY(!warned);
        QVERIFY(host.Closing());
    }

    void shutdownDuringABoxWaitsForTheCallToEnd()
    {
        QtHost host;
        std::atomic<bool> answered{false};
        std::atomic<bool> result{true};
        bool answered_before_close = true;
        // While the box is up: shut down, then close the box the way the main
        // window's closing does. The caller must not return before that, as
        // the box still uses its text.
        test::ModalScript script;
        script.Then([&](QWidget* modal) {
            host.Shutdown();
            QTest::qWait(50);
            answered_before_close = answered.load();
            modal->close();
            return true;
        });
        std::thread worker([&] {
            result = host.ShowWarning("Значение не прочитано! Повторить чтение?");
            answered = true;
        });
        QVERIFY(test::WaitUntil([&] { return answered.load(); }, 5000));
        worker.join();
        QVERIFY(!answered_before_close);
        QVERIFY(!result);
    }
};

QTEST_MAIN(HostTest)
#include "host_test.moc"
