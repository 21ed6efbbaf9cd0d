// The main window: layout, menu, clock display, period items, leaving, the
// emulated display and the failure dialogs, with the real menu items and
// the real host.
#include "app/host_qt.h"
#include "app/ini_file_chronavel.h"
#include "app/main_logic.h"
#include "app/main_window.h"
#include "config/registers.h"
#include "dialogs/connection_dialog.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "platform/tick.h"
#include "port/display.h"
#include "port/port.h"
#include "support/local_time.h"
#include "support/temp_dir.h"
#include "testkit/fake_port.h"
#include "testkit/fake_time.h"
#include "windows/support/modal_script.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <memory>
#include <thread>

using namespace chronavel;

namespace {

using test::At;

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<QtHost> host_;
    std::string ini_;

    std::unique_ptr<TForm1> MakeForm(const std::string& ini_text = {})
    {
        if (!ini_text.empty())
            test::PutFile(ini_, ini_text);
        return std::make_unique<TForm1>();
    }

private slots:
    void init()
    {
        ResetExchangeState();
        ResetRequestState();
        ResetSettings();
        ResetDisplayState();
        dir_ = std::make_unique<test::TempDir>("chronavel-mainwindow");
        ini_ = (dir_->path() / "chronavel.ini").string();
        SetSettingsPath(ini_);
        host_ = std::make_unique<QtHost>();
    }
    void cleanup()
    {
        // As the closing main window does: a thread waiting on this one is
        // let go first.
        host_->Shutdown();
        ResetExchangeState();
        PortHandle.Set(nullptr);
        ResetRequestState();
        ResetSettings();
        host_.reset();
        dir_.reset();
    }

    void layout()
    {
        auto form = MakeForm();
        QCOMPARE(Form1, form.get());
        QCOMPARE(form->windowTitle(), QStringLiteral("Chronavel"));
        QCOMPARE(form->centralWidget()->width(), 484);
        QCOMPARE(form->centralWidget()->height() + form->StatusBar1->height(), 280);
        QCOMPARE(form->StatusBar1->height(), 19);
        QCOMPARE(form->minimumSize(), form->maximumSize()); // fixed size
        QCOMPARE(form->centralWidget()->palette().color(QPalette::Window), QColor(Qt::black));

        struct Visible {
            QLabel* label;
            QPoint at;
            QString text;
            int pixels;
            QColor colour;
        };
        const Visible labels[] = {
            {form->Label6, {16, 8}, QStringLiteral("Время"), 24, Qt::white},
            {form->Label1, {16, 39}, QString(), 64, QColor(255, 0, 0)},
            {form->Label7, {24, 134}, QStringLiteral("Дата"), 24, Qt::white},
            {form->Label4, {16, 167}, QString(), 64, QColor(255, 0, 0)},
        };
        for (const Visible& v : labels) {
            QCOMPARE(v.label->pos(), v.at);
            QCOMPARE(v.label->text(), v.text); // the digits empty before the first tick
            QCOMPARE(v.label->font().pixelSize(), v.pixels);
            QVERIFY(v.label->font().bold());
            QCOMPARE(v.label->palette().color(QPalette::WindowText), v.colour);
            QVERIFY(!v.label->isHidden());
        }
        // The widest texts fit the window in the font actually used.
        const QFontMetrics digits(form->Label1->font());
        QVERIFY(16 + digits.horizontalAdvance(QStringLiteral("28.08.2028")) <= 484);
        QVERIFY(39 + digits.height() <= 167);

        QCOMPARE(form->StatusBar1->Panels[0]->width(), 100);
        QCOMPARE(form->StatusBar1->Panels[1]->width(), 50);
        QCOMPARE(form->StatusBar1->PanelText(0), QString());
        QCOMPARE(form->StatusBar1->PanelText(1), QString());

        const QList<QWidget*> hidden = {
            form->Label3,  form->Label8,    form->Label5,  form->DrawGrid1, form->Label2,
            form->Memo1,   form->RichEdit1, form->Edit1,   form->Edit2,     form->Button1,
            form->Button2, form->Button3,   form->Button4, form->Button5,   form->Button6};
        for (QWidget* w : hidden)
            QVERIFY2(w->isHidden() && w->y() >= 280, qPrintable(w->objectName()));
        QCOMPARE(form->Label3->text(), QStringLiteral("Основное поле"));
        QCOMPARE(form->Label5->text(), QStringLiteral("Дополнительные поля"));
        QCOMPARE(form->Label2->text(), QStringLiteral("1234567"));
        QCOMPARE(form->Edit2->text(), QStringLiteral("1"));
        QCOMPARE(form->Button2->text(), QStringLiteral("Установить S0=7F"));
        QCOMPARE(form->Button3->text(), QStringLiteral("Перевести в мастер"));
        QCOMPARE(form->Button4->text(), QStringLiteral("Перевести в Slave, считать параметры"));
        QCOMPARE(form->Button5->text(), QStringLiteral("Контроль подключения"));
        QCOMPARE(form->DrawGrid1->isEnabled(), false);

        QVERIFY(form->Timer1->isActive());
        QVERIFY(!form->Timer3->isActive());
        QCOMPARE(form->Timer3->interval(), 10);
    }

    void menuItems()
    {
        auto form = MakeForm();
        struct Item {
            QAction* action;
            const char* name;
            QString caption;
            bool visible;
        };
        const Item items[] = {
            {form->N1, "N1", QStringLiteral("Файл"), true},
            {form->N2, "N2", QStringLiteral("Выход"), true},
            {form->N3, "N3", QStringLiteral("Настройка"), true},
            {form->N8, "N8", QStringLiteral("Удаленная настройка часов"), false},
            {form->N9, "N9", QStringLiteral("Синхронизация времени"), true},
            {form->N14, "N14", QStringLiteral("Частота синхронизации"), true},
            {form->N15, "N15", QStringLiteral("Минута"), true},
            {form->N16, "N16", QStringLiteral("Час"), true},
            {form->N17, "N17", QStringLiteral("3 часа"), true},
            {form->N18, "N18", QStringLiteral("Сутки"), true},
            {form->N4, "N4", QStringLiteral("Сервис"), true},
            {form->N12, "N12", QStringLiteral("Получение информации"), false},
            {form->N5, "N5", QStringLiteral("Параметры"), false},
            {form->N13, "N13", QStringLiteral("Подключение"), true},
            {form->N6, "N6", QStringLiteral("Вид"), false},
            {form->N19, "N19", QStringLiteral("Справка"), true},
            {form->N20, "N20", QStringLiteral("О программе"), true},
        };
        for (const Item& i : items) {
            QVERIFY(i.action);
            QCOMPARE(i.action->objectName(), QString::fromLatin1(i.name));
            QCOMPARE(i.action->text(), i.caption);
            QCOMPARE(i.action->isVisible(), i.visible);
        }
        // The top-level menus in menu order.
        QList<QAction*> top = form->MainMenu1->actions();
        QCOMPARE(top, (QList<QAction*>{form->N1, form->N3, form->N4, form->N6, form->N19}));
        QCOMPARE(form->N3->menu()->actions(), (QList<QAction*>{form->N8, form->N9, form->N14}));
        QCOMPARE(form->N4->menu()->actions(), (QList<QAction*>{form->N12, form->N5, form->N13}));
        // "Вид" and its items hide together.
        QCOMPARE(form->N6->menu()->actions(), (QList<QAction*>{form->N7, form->N10, form->N11}));
        QCOMPARE(form->N7->text(), QStringLiteral("Включено"));
        QCOMPARE(form->N10->text(), QStringLiteral("Компьютер-мастер"));
        QCOMPARE(form->N11->text(), QStringLiteral("Табло-мастер"));
        for (QAction* a :
             {form->N7, form->N10, form->N11, form->N15, form->N16, form->N17, form->N18})
            QVERIFY(a->isCheckable());
    }

    void clockDisplayRollsOverTheYear()
    {
        test::FakeTime time(test::LocalWall(2026, 12, 31, 23, 59, 59));
        auto form = MakeForm();
        QCOMPARE(form->Label1->text(), QString());
        const int tick = DisplayTick.load();
        form->Timer1Timer();
        QCOMPARE(form->Label1->text(), QStringLiteral("23.59.59"));
        QCOMPARE(form->Label4->text(), QStringLiteral("31.12.2026"));
        time.SetWall(test::LocalWall(2027, 1, 1, 0, 0, 0));
        form->Timer1Timer();
        QCOMPARE(form->Label1->text(), QStringLiteral("00.00.00"));
        QCOMPARE(form->Label4->text(), QStringLiteral("01.01.2027"));
        QCOMPARE(DisplayTick.load(), tick + 2);
        // The next tick is armed for the next second boundary.
        QVERIFY(form->Timer1->isActive());
        QVERIFY(form->Timer1->remainingTime() <= 1002);
    }

    void periodItemsThroughTheMenu()
    {
        auto form = MakeForm(); // no settings file: "Сутки"
        QVERIFY(form->N18->isChecked());
        QCOMPARE(form->SyncPeriod, 86400);
        QVERIFY(form->Timer2->isActive());
        QCOMPARE(form->Timer2->interval(), 86'400'000);

        form->N15->trigger();
        form->N16->trigger(); // "Час" after "Минута"
        QVERIFY(form->N16->isChecked());
        for (QAction* a : {form->N14, form->N15, form->N17, form->N18})
            QVERIFY(!a->isChecked());
        QCOMPARE(form->SyncPeriod, 3600);
        QCOMPARE(form->Timer2->interval(), 3'600'000);
        QVERIFY(form->Timer2->isActive());

        form->N16->trigger(); // clearing the checked item stops the timer
        for (int i = 0; i < 5; ++i)
            QVERIFY(!form->Checked(i));
        QCOMPARE(form->SyncPeriod, 0);
        QVERIFY(!form->Timer2->isActive());

        // "Синхронизация времени" with no period leaves the timer stopped.
        test::ModalScript script;
        script.AnswerBox(true);
        form->N9->trigger();
        QVERIFY(!form->Timer2->isActive());
    }

    void storedPeriodAtStartUp_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("checked");
        QTest::addColumn<int>("interval");
        QTest::newRow("none") << QString() << 4 << 86'400'000;
        QTest::newRow("0") << QStringLiteral("0") << 0 << 0;
        QTest::newRow("1") << QStringLiteral("1") << 1 << 60'000;
        QTest::newRow("3") << QStringLiteral("3") << 3 << 10'800'000;
        QTest::newRow("out of range") << QStringLiteral("9") << 4 << 86'400'000;
    }
    void storedPeriodAtStartUp()
    {
        QFETCH(QString, stored);
        QFETCH(int, checked);
        QFETCH(int, interval);
        auto form =
            MakeForm(stored.isEmpty() ? std::string()
                                      : "[Interface]\nPeriod_sinhr=" + stored.toStdString() + "\n");
        for (int i = 0; i < 5; ++i)
            QCOMPARE(form->Checked(i), i == checked);
        QCOMPARE(form->Timer2->isActive(), interval > 0);
        if (interval > 0)
            QCOMPARE(form->Timer2->interval(), interval);
    }

    void exitStoresTheSettingsTheCloseBoxDoesNot()
    {
        {
            auto form = MakeForm("[Interface]\nComPort=ttyUSB3\nDelayTime=20\n");
            const std::string after_start = test::GetFile(ini_);
            QCOMPARE(after_start, std::string("[Interface]\nComPort=ttyUSB3\nDelayTime=100\n"));
            form->N16->trigger();
            form->show();
            form->close(); // the close box
            QVERIFY(form->Closing());
            QCOMPARE(test::GetFile(ini_), after_start);
        }
        ResetSettings();
        SetSettingsPath(ini_);
        {
            auto form = MakeForm();
            form->N16->trigger();
            Connection.ComSpeed = 19200;
            form->show();
            form->N2->trigger(); // "Выход"
            QVERIFY(form->Closing());
            QVERIFY(form->isHidden());
        }
        const std::string saved = test::GetFile(ini_);
        QVERIFY(saved.find("Period_sinhr=2") != std::string::npos);
        QVERIFY(saved.find("ComPort=ttyUSB3") != std::string::npos);
        QVERIFY(saved.find("ComSpeed=19200") != std::string::npos);
        QVERIFY(saved.find("DelayTime=100") != std::string::npos);
    }

    void synchronisationWithoutConnectionSaysSo()
    {
        auto form = MakeForm();
        test::ModalScript script;
        script.AnswerBox(true);
        form->N9->trigger();
        QCOMPARE(script.Boxes(),
                 QStringList{QStringLiteral("Chronavel|") + QString::fromUtf8(kNoConnectionText)});
        // The periodic tick says nothing and queues nothing.
        form->Timer2Timer();
        QVERIFY(script.Done());
        QVERIFY(RingEmpty());
    }

    void emulatedDisplayFromTheExchangeThread()
    {
        auto form = MakeForm();
        ResetClockSettings();
        Registers.RegImage[56] = 0x12;
        Registers.RegImage[55] = 0x45;
        Registers.RegImage[42] = 0x07;
        Registers.RegImage[57] = 0x06;
        Registers.RegImage[58] = 0x12;
        ClockSettings.FieldFormat[0] = 6;
        ClockSettings.FieldFormat[1] = 3; // temperature 1
        ClockSettings.FieldFormat[7] = 3; // date
        FormatClockFields();
        // As the decoder does it: from its own thread, through the host.
        std::thread exchange([] { CurrentHost().Synchronize([] { ShowClockFields(); }); });
        QVERIFY(test::WaitUntil([&] { return !form->Label8->text().isEmpty(); }, 5000));
        exchange.join();
        QCOMPARE(form->Label8->text(), QStringLiteral("12.45.07"));
        QCOMPARE(form->FieldTable[0].Name, std::string("Дата"));
        QCOMPARE(form->FieldTable[1].Name, std::string("Температура 1"));
        QCOMPARE(form->FieldTable[2].Name, std::string());
        // Names in white on the left, values in red at x = 300, rows 41 apart.
        const QImage& canvas = form->DrawGrid1->Canvas();
        auto any = [&](int x0, int x1, int y0, int y1, QRgb colour) {
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x)
                    if (canvas.pixel(x, y) == colour)
                        return true;
            return false;
        };
        QVERIFY(any(2, 290, 0, 41, qRgb(255, 255, 255)));
        QVERIFY(any(300, canvas.width(), 0, 41, qRgb(255, 0, 0)));
        QVERIFY(any(2, 290, 41, 82, qRgb(255, 255, 255)));
        QVERIFY(!any(0, canvas.width(), 82, canvas.height(), qRgb(255, 255, 255)));
        ResetClockSettings();
    }

    void diagnostics()
    {
        auto form = MakeForm();
        form->Memo1->setPlainText(QStringLiteral("old"));
        form->Update_memo();
        QCOMPARE(form->Memo1->toPlainText(), QStringLiteral(" "));
        test::ModalScript script;
        script.AnswerBox(true);
        form->Show_err_read();
        QVERIFY(form->ErrReadAnswer);
        QCOMPARE(script.Boxes(),
                 QStringList{QStringLiteral("Warning|") + QString::fromUtf8(kRetryReadText)});
    }

    void failureDialogsRetryThenReconnect()
    {
        auto form = MakeForm();
        TForm5 dialog;
        test::FakeTime time(test::FakeTime::TickOnly{}, 50'000);
        auto port = std::make_shared<test::FakePort>();
        PortHandle.Set(port);
        std::shared_ptr<TNewThread> thread = TNewThread::CreateManual();
        ExchangeThread.Set(thread);
        form->N7->setChecked(true);
        form->Timer3->start();

        test::ModalScript script;
        form->N9->trigger();
        QVERIFY(script.Done()); // queued, nothing said
        auto spend = [&] {
            // Sent, then resent three times, then reported on the next pass.
            for (int i = 0; i < 5; ++i) {
                thread->RunPass();
                time.AdvanceTick(3000);
            }
        };
        // OK: the entry is re-armed and a fresh copy queued.
        script.AnswerBox(true);
        spend();
        QVERIFY(script.Done());
        QCOMPARE(port->WriteCount(), size_t(4));
        QCOMPARE(PendCursor()->Rec.Retries, 3);
        QVERIFY(!RingEmpty());

        // Cancel, then OK: reconnect, and the connection dialog shows.
        script.AnswerBox(false);
        script.AnswerBox(true);
        bool dialog_shown = false;
        script.Then([&](QWidget* modal) {
            if (modal != &dialog)
                return false;
            dialog_shown = PortHandle.Get() == nullptr;
            dialog.reject();
            return true;
        });
        spend();
        QVERIFY(script.Done());
        QVERIFY(dialog_shown);
        QCOMPARE(script.Boxes(),
                 (QStringList{QStringLiteral("Warning|") + QString::fromUtf8(kRetryReadText),
                              QStringLiteral("Warning|") + QString::fromUtf8(kRetryReadText),
                              QStringLiteral("Warning|") + QString::fromUtf8(kReconnectText)}));
        QVERIFY(!thread->Running());
        QVERIFY(!form->N7->isChecked());
        QVERIFY(!form->Timer3->isActive());
        QVERIFY(!PortHandle.Get());
        QVERIFY(port->Purges() >= 1);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
