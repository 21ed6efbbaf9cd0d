// The main window's service commands: what they say without a connection,
// the register read from Edit2, the link check, the exchange items, the
// windows they open, and the settings read, edit and save end to end
// against the simulated clock line.
#include "app/core_state.h"
#include "app/host_qt.h"
#include "app/ini_file_chronavel.h"
#include "app/main_logic.h"
#include "app/main_window.h"
#include "app/service_commands.h"
#include "config/parameters_window.h"
#include "config/register_values.h"
#include "config/registers.h"
#include "config/settings_form.h"
#include "config/settings_window.h"
#include "dialogs/about_dialog.h"
#include "dialogs/connection_dialog.h"
#include "link/exchange.h"
#include "link/frames.h"
#include "link/request.h"
#include "port/port.h"
#include "port/sync.h"
#include "sim/sim.h"
#include "support/clock_port.h"
#include "support/temp_dir.h"
#include "windows/support/modal_script.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <memory>
#include <set>

using namespace chronavel;

namespace {

QString Box(const char* text)
{
    return QStringLiteral("Chronavel|") + QString::fromUtf8(text);
}

struct LoggedWrite {
    int Reg;
    int Value;
};

// The register writes the simulator received, in order.
std::vector<LoggedWrite> WritesInLog(const std::string& path)
{
    std::vector<LoggedWrite> out;
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    while (!f.atEnd()) {
        const QJsonObject o = QJsonDocument::fromJson(f.readLine()).object();
        if (o.value("dir").toString() == "rx" && o.value("cmd").toString() == "0x72")
            out.push_back({o.value("p1").toInt(), o.value("p2").toInt()});
    }
    return out;
}

} // namespace

class ServiceCommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<QtHost> host_;
    std::unique_ptr<TForm1> form_;

    // An exchange thread whose passes nobody runs, and a port: a connection
    // whose queue keeps what is put into it.
    void StandingConnection(const std::shared_ptr<platform::SerialDevice>& port)
    {
        PortHandle.Set(port);
        ExchangeThread.Set(TNewThread::CreateManual());
    }

private slots:
    void init()
    {
        ResetCoreState();
        dir_ = std::make_unique<test::TempDir>("chronavel-service");
        SetSettingsPath((dir_->path() / "chronavel.ini").string());
        host_ = std::make_unique<QtHost>();
        form_ = std::make_unique<TForm1>();
    }
    void cleanup()
    {
        form_.reset();
        ResetExchangeState();
        ClosePort();
        ResetCoreState();
        host_.reset();
        dir_.reset();
    }

    void commandsThatNeedTheQueueSaySoWithoutAConnection()
    {
        test::ModalScript script;
        for (int i = 0; i < 5; ++i)
            script.AnswerBox(true);
        form_->N8->trigger();
        form_->Button4->click();
        form_->Button2->click();
        form_->Button3->click();
        form_->Button6->click();
        QVERIFY(script.Done());
        QCOMPARE(script.Boxes(), QStringList(5, Box(kNoConnectionMessage)));
        QVERIFY(!form_->Timer3->isActive());
        QVERIFY(RingEmpty());
    }

    void registerReadTakesEdit2AsHexadecimal()
    {
        test::ClockPort clock;
        StandingConnection(clock.port);
        Connection.TargetAddress = 0x07;
        test::ModalScript script;
        script.AnswerBox(true);
        form_->Edit2->setText(QStringLiteral("zz"));
        form_->Button6->click();
        QCOMPARE(script.Boxes(), QStringList{Box(NotHexMessage("zz").c_str())});
        QVERIFY(RingEmpty());

        for (const char* text : {"4D", "1FF"}) {
            form_->Edit2->setText(QString::fromLatin1(text));
            form_->Button6->click();
        }
        const TRequestRec first = GetRequest();
        const TRequestRec second = GetRequest();
        QVERIFY(RingEmpty());
        QCOMPARE(int(first.Param1), 0x4D);
        QCOMPARE(int(second.Param1), 0xFF);
        QCOMPARE(int(second.Cmd), 0x74);
        QCOMPARE(int(second.Addr), 0x07);

        form_->Button2->click(); // S0: 0x00 into 0x4D
        const TRequestRec write = GetRequest();
        QCOMPARE(int(write.Cmd), 0x72);
        QCOMPARE(int(write.Param1), 0x4D);
        QCOMPARE(int(write.Param2), 0x00);
    }

    void linkCheck()
    {
        test::ClockPort clock;
        PortHandle.Set(clock.port);
        const struct {
            uint8_t Target;
            bool Silent;
            const char* Shown;
            size_t Writes;
        } cases[] = {
            {0xFF, false, kLinkDown, 0}, {0x03, false, kLinkUp, 1}, {0x03, true, kLinkDown, 10}};
        for (const auto& c : cases) {
            const size_t before = clock.port->WriteCount();
            clock.silent = c.Silent;
            Connection.TargetAddress = c.Target;
            form_->StatusBar1->SetPanelText(0, QString());
            form_->Button5->click();
            QCOMPARE(form_->StatusBar1->PanelText(0), QString::fromUtf8(c.Shown));
            QCOMPARE(clock.port->WriteCount() - before, c.Writes);
        }
        QVERIFY(QApplication::activeModalWidget() == nullptr); // silent: no box
    }

    void exchangeItemsNeverRunTwoThreads()
    {
        // "Включено" with no port: the mark goes again, nothing starts.
        form_->N7->trigger();
        QVERIFY(!form_->N7->isChecked());
        QVERIFY(!ExchangeThread.Get());

        test::ClockPort clock;
        PortHandle.Set(clock.port);
        const auto running = StartExchangeThread(); // as the connection dialog does
        form_->N7->trigger();
        QVERIFY(form_->N7->isChecked());
        QCOMPARE(ExchangeThread.Get(), running);
        form_->N11->trigger(); // one was started in this run: nothing
        QCOMPARE(ExchangeThread.Get(), running);

        form_->N7->trigger(); // unchecked: the exchange stops
        QVERIFY(running->WaitEnded(std::chrono::seconds(5)));
        form_->N7->trigger(); // checked again: a new one
        const auto second = ExchangeThread.Get();
        QVERIFY(second && second != running && second->Running());

        form_->N12->trigger(); // stop and close the port
        QVERIFY(second->WaitEnded(std::chrono::seconds(5)));
        QVERIFY(!PortHandle.Get());
    }

    void windowsOpenModally()
    {
        TForm3 parameters;
        TfrmAbout about;
        test::ModalScript script;
        QStringList seen;
        for (int i = 0; i < 2; ++i)
            script.Then([&](QWidget* modal) {
                seen << modal->windowTitle();
                static_cast<QDialog*>(modal)->reject();
                return true;
            });
        form_->N5->trigger();
        form_->N20->trigger();
        QCOMPARE(seen, QStringList({"Параметры ", "О программе"}));
    }

    void settingsReadEditAndSaveAgainstTheSimulator()
    {
        const std::string log = (dir_->path() / "sim.log").string();
        sim::Options o;
        o.name = "service";
        o.publish_link = false;
        o.clocks = {1};
        o.seed = 11;
        o.log_path = log;
        sim::Simulator sim(o);
        std::string error;
        QVERIFY2(sim.Start(&error), error.c_str());
        sim.SetRegister(1, 0xFF, 7); // the batch's last register, not zero
        std::array<uint8_t, 256> before{};
        for (int r = 0; r < 256; ++r)
            before[r] = sim.Register(1, static_cast<uint8_t>(r));

        PortHandle.Set(OpenPort(sim.DevicePath(), 9600));
        QVERIFY(PortHandle.Get());
        StartExchangeThread();
        Connection.TargetAddress = 1;
        TForm6 settings;

        // "Параметры получены!" only once the last read is answered; then the
        // window with the clock's values; one change on one tab; save.
        int last_register_seen = -1;
        bool idle_at_message = false;
        test::ModalScript script;
        script.Then([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box || box->text() != QString::fromUtf8(kSettingsReceivedMessage))
                return false;
            last_register_seen = AnsweredBy(1).At(0xFF);
            idle_at_message = QueuesIdle();
            box->button(QMessageBox::Ok)->click();
            return true;
        });
        QStringList shown;
        script.Then([&](QWidget* modal) {
            if (modal != &settings)
                return false;
            shown << settings.ComboBox1->currentText() << settings.ComboBox51->currentText()
                  << settings.ComboBox52->currentText() << settings.ComboBox53->currentText()
                  << settings.DateTimePicker1->time().toString("HH:mm")
                  << settings.ComboBox55->currentText() << settings.ComboBox56->currentText()
                  << settings.ComboBox50->currentText();
            settings.PageControl1->setCurrentIndex(5);       // "Яркость"
            settings.DateTimePicker3->setTime(QTime(6, 45)); // alarm 1: 06:30 -> 06:45
            // Clicked after this step has returned, so the script can answer
            // what the save shows.
            QTimer::singleShot(0, settings.Button1, &QPushButton::click);
            return true;
        });
        form_->N8->trigger();
        QVERIFY(form_->Timer3->isActive());
        QVERIFY(test::WaitUntil([&] { return script.Done() && !settings.isVisible(); }, 90000));
        QCOMPARE(last_register_seen, 7);
        QVERIFY(idle_at_message);
        QCOMPARE(sim.FramesReceived(kCmdReadRegister), size_t(71));
        QCOMPARE(settings.result(), int(QDialog::Accepted));
        const QString plus3 = QString::fromStdString(
            TimeZoneItem(30, QLocale::system().decimalPoint().toStdString()));
        QCOMPARE(shown, QStringList({"5", plus3, "50%", "30%", "22:00", "25", "10", "$01/1"}));

        // The alarm's minutes changed and nothing else did; every other write
        // carried the value the clock already had.
        for (int r = 0; r < 256; ++r) {
            const int now = sim.Register(1, static_cast<uint8_t>(r));
            QVERIFY2(now == (r == 0x3F ? 0x45 : before[r]),
                     qPrintable(QString("register 0x%1").arg(r, 2, 16)));
        }
        const auto writes = WritesInLog(log);
        QVERIFY(!writes.empty());
        int minute_writes = 0;
        for (const LoggedWrite& w : writes) {
            if (w.Reg == 0x3F && w.Value == 0x45)
                ++minute_writes;
            else
                QVERIFY2(w.Value == before[w.Reg],
                         qPrintable(QString("0x%1 := %2").arg(w.Reg, 2, 16).arg(w.Value)));
        }
        QCOMPARE(minute_writes, 3);

        // The clock falls silent: the save stops at the first unanswered
        // write with the message, says where, and the window stays open with
        // the operator's values.
        sim::Faults silent;
        silent.silent = true;
        sim.SetFaults(0xFF, silent);
        const size_t logged = writes.size();
        script.Then([&](QWidget* modal) {
            if (modal != &settings)
                return false;
            settings.DateTimePicker3->setTime(QTime(7, 0));
            QTimer::singleShot(0, settings.Button1, &QPushButton::click);
            return true;
        });
        script.AnswerBox(true);
        bool stopped_told = false;
        script.Then([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box)
                return false;
            stopped_told = box->text().contains("0x3E");
            box->button(QMessageBox::Ok)->click();
            QTimer::singleShot(0, &settings, [&] {
                QCOMPARE(settings.DateTimePicker3->time(), QTime(7, 0));
                settings.reject();
            });
            return true;
        });
        settings.exec();
        QVERIFY(script.Done());
        QCOMPARE(script.Boxes(), QStringList{Box(NoAnswerMessage(1).c_str())});
        QVERIFY(stopped_told);
        QCOMPARE(settings.result(), int(QDialog::Rejected));
        const auto later = WritesInLog(log);
        QVERIFY(later.size() > logged);
        for (size_t i = logged; i < later.size(); ++i)
            QCOMPARE(later[i].Reg, later[logged].Reg); // only the first register was tried
    }

    // The field as it is: a master streaming status and text blocks beside
    // the clock being set, every register the batch reads non-zero on both.
    // Each clock's registers are compared before and after: an unchanged
    // save, a read with 0x4C unanswered (Cancel, Cancel), an address change.
    void settingsOfOneClockBesideAStreamingMaster()
    {
        const std::string log = (dir_->path() / "sim2.log").string();
        sim::Options o;
        o.name = "service2";
        o.publish_link = false;
        o.clocks = {1, 2};
        o.master = 1;
        o.status_interval_ms = 200;
        o.text_interval_ms = 400;
        o.seed = 12;
        o.log_path = log;
        sim::Simulator sim(o);
        std::string error;
        QVERIFY2(sim.Start(&error), error.c_str());
        const auto setting = [](int clock, int reg) {
            if (reg == 0x4D)
                return clock == 1 ? 0x80 : 0x3E;
            if (reg >= 0xE0)
                return reg < 0xE2 ? 3 + clock + (reg - 0xE0) : 0;
            if (reg >= 0xD8)
                return clock == 1 ? 2 : 4 + (reg & 1);
            return clock * 3 + (reg & 7) + 1;
        };
        for (int clock : {1, 2})
            for (uint8_t reg : ReadBatchRegisters())
                if (reg != 0x4C)
                    sim.SetRegister(clock, reg, static_cast<uint8_t>(setting(clock, reg)));
        const auto regs = [&](int clock) {
            std::array<uint8_t, 256> r{};
            for (int n = 0; n < 256; ++n)
                r[n] = sim.Register(static_cast<uint8_t>(clock), static_cast<uint8_t>(n));
            return r;
        };
        const auto master_before = regs(1);
        const auto target_before = regs(2);

        PortHandle.Set(OpenPort(sim.DevicePath(), 9600));
        QVERIFY(PortHandle.Get());
        StartExchangeThread();
        Connection.TargetAddress = 2;
        TForm5 connection;
        TForm6 settings;
        QVERIFY(test::WaitUntil([&] { return sim.TextBlocksSent() > 0; }, 10000));

        // 1. Read, nothing changed, save.
        test::ModalScript script;
        script.AnswerBox(true); // "Параметры получены!"
        QString address_shown;
        script.Then([&](QWidget* modal) {
            if (modal != &settings)
                return false;
            address_shown = settings.ComboBox50->currentText();
            QTimer::singleShot(0, settings.Button1, &QPushButton::click);
            return true;
        });
        form_->N8->trigger();
        QVERIFY(test::WaitUntil([&] { return script.Done() && !settings.isVisible(); }, 90000));
        QCOMPARE(settings.result(), int(QDialog::Accepted));
        QCOMPARE(address_shown, QString("$02/2"));
        QVERIFY(regs(1) == master_before);
        QVERIFY(regs(2) == target_before);
        auto writes = WritesInLog(log);
        // Formats, 3 lengths, 0x51, 0x52, 0x4D, 0x4C; a write is sent again
        // at once when one of the master's blocks comes in its place.
        std::set<int> written;
        for (const LoggedWrite& w : writes)
            written.insert(w.Reg);
        QCOMPARE(written, (std::set<int>{0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF, 0xE0, 0xE1,
                                         0xE2, 0x51, 0x52, 0x4D, 0x4C}));
        for (const LoggedWrite& w : writes)
            QVERIFY2(w.Value == target_before[w.Reg],
                     qPrintable(QString("0x%1 := %2").arg(w.Reg, 2, 16).arg(w.Value)));

        // 2. 0x4C goes unanswered, Cancel, Cancel: the save is refused and
        // nothing is sent.
        sim.SetSilentRegister(2, 0x4C, true);
        script.AnswerBox(false); // "Значение не прочитано! Повторить чтение?"
        script.AnswerBox(false); // "Устройство не отвечает! Повторить подключение?"
        script.AnswerBox(true); // "Параметры получены!"
        int address_index = 0;
        script.Then([&](QWidget* modal) {
            if (modal != &settings)
                return false;
            address_index = settings.ComboBox50->currentIndex();
            QTimer::singleShot(0, settings.Button1, &QPushButton::click);
            return true;
        });
        QString refusal;
        script.Then([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box)
                return false;
            refusal = box->text();
            box->button(QMessageBox::Ok)->click();
            QTimer::singleShot(0, &settings, &QDialog::reject);
            return true;
        });
        form_->N8->trigger();
        QVERIFY(test::WaitUntil([&] { return script.Done() && !settings.isVisible(); }, 120000));
        QCOMPARE(address_index, -1);
        QVERIFY2(refusal.contains("0x4C"), qPrintable(refusal));
        QCOMPARE(WritesInLog(log).size(), writes.size());
        QVERIFY(regs(2) == target_before);
        sim.SetSilentRegister(2, 0x4C, false);

        // 3. A new address: every write answered, the program follows it.
        script.AnswerBox(true); // "Параметры получены!"
        script.Then([&](QWidget* modal) {
            if (modal != &settings)
                return false;
            settings.ComboBox50->setCurrentIndex(9);
            QTimer::singleShot(0, settings.Button1, &QPushButton::click);
            return true;
        });
        form_->N8->trigger();
        QVERIFY(test::WaitUntil([&] { return script.Done() && !settings.isVisible(); }, 90000));
        QCOMPARE(settings.result(), int(QDialog::Accepted));
        QCOMPARE(int(Connection.TargetAddress), 9);
        QCOMPARE(connection.ComboBox50->currentIndex(), 9);
        QCOMPARE(connection.RadioGroup1->ItemIndex(), 1);
        auto moved = regs(9);
        QCOMPARE(int(moved[0x4C]), 9);
        moved[0x4C] = 2;
        QVERIFY(moved == target_before);
        QVERIFY(regs(1) == master_before);
        writes = WritesInLog(log);
        QCOMPARE(writes.back().Reg, 0x4C);
        QCOMPARE(writes.back().Value, 9);
    }
};

QTEST_MAIN(ServiceCommandsTest)
#include "service_commands_test.moc"
