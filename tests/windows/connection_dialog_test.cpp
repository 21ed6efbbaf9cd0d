// The connection dialog: its controls, the port list from the virtual-port
// folder, the recipient rules and "Подключить" against a simulated line.
#include "app/connect.h"
#include "app/host_qt.h"
#include "app/ini_file_chronavel.h"
#include "dialogs/connection_dialog.h"
#include "link/exchange.h"
#include "link/request.h"
#include "port/port.h"
#include "sim/sim.h"
#include "support/temp_dir.h"
#include "windows/support/modal_script.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace chronavel;

class ConnectionDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> ports_;
    std::unique_ptr<sim::Simulator> sim_;
    std::unique_ptr<QtHost> host_;

    void StartLine(const std::string& name)
    {
        sim::Options o;
        o.name = name;
        o.clocks = {1, 5};
        sim_ = std::make_unique<sim::Simulator>(o);
        std::string error;
        QVERIFY2(sim_->Start(&error), error.c_str());
    }
    static int EntryFor(TForm5& d, const QString& name)
    {
        for (int i = 0; i < d.ComboBox10->count(); ++i)
            if (d.ComboBox10->itemText(i).startsWith(name + QLatin1Char(' ')))
                return i;
        return -1;
    }

private slots:
    void init()
    {
        ResetExchangeState();
        ResetRequestState();
        ResetSettings();
        Connection.ComPort = "COM1";
        Connection.ComSpeed = 9600;
        ports_ = std::make_unique<test::TempDir>("chronavel-dialog");
        setenv("CHRONAVEL_PORTS_DIR", ports_->path().c_str(), 1);
        // No real ports in the list: only the virtual ones of this test.
        setenv("CHRONAVEL_TTY_CLASS_DIR", (ports_->path() / "no-sys").c_str(), 1);
        host_ = std::make_unique<QtHost>();
    }
    void cleanup()
    {
        // As the closing main window does: a thread waiting on this one is
        // let go first.
        host_->Shutdown();
        ResetExchangeState();
        ClosePort();
        ResetRequestState();
        ResetSettings();
        host_.reset();
        sim_.reset();
        ports_.reset();
        unsetenv("CHRONAVEL_PORTS_DIR");
        unsetenv("CHRONAVEL_TTY_CLASS_DIR");
        unsetenv("CHRONAVEL_SERIAL_BY_DIR");
    }

    void controls()
    {
        TForm5 d;
        QCOMPARE(Form5, &d);
        QCOMPARE(d.windowTitle(), QStringLiteral("Подключение"));
        QCOMPARE(d.size(), QSize(423, 204));
        QCOMPARE(d.minimumSize(), d.maximumSize());
        struct Place {
            QWidget* w;
            QRect at; // height -1: not checked
        };
        const Place places[] = {
            {d.GroupBox1, {8, 8, 409, 97}},      {d.Label11, {7, 27, -1, -1}},
            {d.ComboBox10, {106, 25, 263, -1}},  {d.SpeedButton2, {377, 23, 24, 24}},
            {d.Label12, {5, 62, -1, -1}},        {d.ComboBox11, {105, 60, 81, -1}},
            {d.RadioGroup1, {8, 104, 409, 58}},  {d.ComboBox50, {109, 137, 84, -1}},
            {d.SpeedButton1, {8, 165, 409, 33}}, {d.GroupBox2, {8, 104, 193, 57}},
            {d.ComboBox9, {277, 137, 64, -1}},
        };
        for (const Place& p : places) {
            QCOMPARE(p.w->pos(), p.at.topLeft());
            if (p.at.width() > 0)
                QCOMPARE(p.w->width(), p.at.width());
            if (p.at.height() > 0)
                QCOMPARE(p.w->height(), p.at.height());
        }
        QCOMPARE(d.GroupBox1->title(), QStringLiteral("Настройка порта: "));
        QCOMPARE(d.Label11->text(), QStringLiteral("Порт:  . . . . . . . . . . ."));
        QCOMPARE(d.Label12->text(), QStringLiteral("Скорость:  . . . . .  . . "));
        QVERIFY(d.ComboBox11->isEditable());
        QCOMPARE(d.ComboBox11->count(), 2);
        QCOMPARE(d.ComboBox11->itemText(1), QStringLiteral("115200"));
        QCOMPARE(d.ComboBox11->currentText(), QStringLiteral("9600"));
        QCOMPARE(d.RadioGroup1->title(), QStringLiteral("Кому отправлять"));
        QCOMPARE(d.RadioGroup1->Item(0)->text(), QStringLiteral("Всем"));
        QCOMPARE(d.RadioGroup1->Item(1)->text(), QStringLiteral("Адрес > . . . . . . . . . . "));
        QCOMPARE(d.RadioGroup1->ItemIndex(), 0);
        QCOMPARE(d.ComboBox50->count(), 256);
        QCOMPARE(d.ComboBox50->itemText(0), QStringLiteral("$00/0"));
        QCOMPARE(d.ComboBox50->itemText(255), QStringLiteral("$FF/255"));
        QCOMPARE(d.AddressIndex(), -1);
        QVERIFY(!d.ComboBox50->isEnabled());
        QCOMPARE(d.SpeedButton1->text(), QStringLiteral("Подключить"));
        QVERIFY(!d.SpeedButton1->icon().isNull());
        QVERIFY(!d.SpeedButton2->icon().isNull());
        QVERIFY(d.GroupBox2->isHidden());
        QCOMPARE(d.GroupBox2->title(), QStringLiteral("Табло: "));
        QCOMPARE(d.Button3->text(), QStringLiteral("Мастер..."));
        QCOMPARE(d.ComboBox51->count(), 6);
        QCOMPARE(d.ComboBox9->currentText(), QStringLiteral("$0"));
        QCOMPARE(d.ComboBox9->count(), 0);

        // The address list follows the recipient choice.
        d.RadioGroup1->Item(1)->click();
        QVERIFY(d.ComboBox50->isEnabled());
        d.RadioGroup1->Item(0)->click();
        QVERIFY(!d.ComboBox50->isEnabled());
    }

    void portListOnEveryShowingAndRefresh()
    {
        TForm5 d;
        test::ModalScript script;
        script.Then([&](QWidget* m) {
            if (m != &d)
                return false;
            d.reject();
            return true;
        });
        d.exec();
        QCOMPARE(d.ComboBox10->count(), 0); // no port yet
        StartLine("sim0");
        d.SpeedButton2->click();
        QCOMPARE(d.ComboBox10->count(), 1);
        QCOMPARE(d.ComboBox10->itemText(0), QStringLiteral("sim0 (virtual port)"));
        // The stored name was not listed: the first entry stands in for it.
        QCOMPARE(Connection.ComPort, std::string("sim0"));
    }

    void connectRules_data()
    {
        QTest::addColumn<bool>("toAll");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("target");
        QTest::newRow("Всем") << true << QStringLiteral("$05/5") << 0xFF;
        QTest::newRow("$05/5") << false << QStringLiteral("$05/5") << 5;
        QTest::newRow("$FF/255") << false << QStringLiteral("$FF/255") << 0xFF;
        QTest::newRow("nothing chosen") << false << QString() << 0xFF;
        QTest::newRow("typed text that is no entry") << false << QStringLiteral("7") << 0xFF;
    }
    void connectRules()
    {
        QFETCH(bool, toAll);
        QFETCH(QString, address);
        QFETCH(int, target);
        StartLine("line");
        TForm5 d;
        d.show();
        d.RadioGroup1->Item(toAll ? 0 : 1)->click();
        d.ComboBox50->setEditText(address);
        d.SpeedButton1->click();
        QVERIFY(d.isHidden()); // closed
        QCOMPARE(int(Connection.TargetAddress), target);
        QCOMPARE(Connection.ComPort, std::string("line"));
        QVERIFY(PortHandle.Get());
        QVERIFY(ExchangeThread.Get() && ExchangeThread.Get()->Running());
    }

    void speedTextAndPortChanges()
    {
        StartLine("line");
        TForm5 d;
        test::ModalScript script;
        script.AnswerBox(true);
        d.show();
        d.ComboBox11->setEditText(QStringLiteral("быстро"));
        d.SpeedButton1->click();
        QVERIFY(script.Done());
        QCOMPARE(script.Boxes(), QStringList{QStringLiteral("Chronavel|") +
                                             QString::fromStdString(SpeedErrorText("быстро"))});
        QVERIFY(d.isVisible()); // stays open, nothing changed
        QVERIFY(!PortHandle.Get());
        QCOMPARE(Connection.ComSpeed, 9600);

        d.ComboBox11->setEditText(QStringLiteral("19200"));
        d.SpeedButton1->click();
        QVERIFY(d.isHidden());
        QCOMPARE(Connection.ComSpeed, 19200);
        const platform::SerialPtr first = PortHandle.Get();
        QVERIFY(first);

        // A second line: choosing it closes the first port before opening it.
        sim::Options o;
        o.name = "other";
        sim::Simulator other(o);
        std::string error;
        QVERIFY2(other.Start(&error), error.c_str());
        d.show();
        const int entry = EntryFor(d, QStringLiteral("other"));
        QVERIFY(entry >= 0);
        d.ComboBox10->setCurrentIndex(entry);
        d.SpeedButton1->click();
        QVERIFY(d.isHidden());
        QCOMPARE(Connection.ComPort, std::string("other"));
        QVERIFY(PortHandle.Get() && PortHandle.Get() != first);
        const uint8_t byte = 0;
        QVERIFY(!first->Write(&byte, 1));
        ResetExchangeState();
        ClosePort();
    }

    // A port with a by-id link is listed by it, and "Подключить" opens and
    // keeps the link, so the settings file finds the adapter in any socket.
    // The link leads to the simulated line's terminal, whose name the fake
    // tty class carries.
    void stableNameListedConnectedAndKept()
    {
        namespace fs = std::filesystem;
        StartLine("line");
        const fs::path pty = fs::read_symlink(ports_->path() / "line");
        const fs::path sys = ports_->path() / "sys";
        fs::create_directories(sys / "devices/usb1/1-1/1-1:1.0");
        fs::create_directories(sys / "class/tty" / pty.filename());
        fs::create_directory_symlink(sys / "devices/usb1/1-1/1-1:1.0",
                                     sys / "class/tty" / pty.filename() / "device");
        const fs::path link = ports_->path() / "serial/by-id/usb-Sim_Line_A1-if00";
        fs::create_directories(link.parent_path());
        fs::create_symlink(pty, link);
        setenv("CHRONAVEL_TTY_CLASS_DIR", (sys / "class/tty").c_str(), 1);
        setenv("CHRONAVEL_SERIAL_BY_DIR", (ports_->path() / "serial").c_str(), 1);

        Connection.ComPort = "line";
        TForm5 d;
        d.show();
        QCOMPARE(d.ComboBox10->count(), 2);
        QCOMPARE(d.ComboBox10->itemText(0), QStringLiteral("usb-Sim_Line_A1-if00 → ") +
                                                QString::fromStdString(pty.filename().string()) +
                                                QStringLiteral(" (serial port)"));
        QCOMPARE(d.ComboBox10->currentIndex(), 1);
        // The open list is wide enough for the long entry.
        QVERIFY(d.ComboBox10->view()->minimumWidth() >
                d.ComboBox10->fontMetrics().horizontalAdvance(d.ComboBox10->itemText(0)));
        d.ComboBox10->setCurrentIndex(0);
        d.SpeedButton1->click();
        QVERIFY(d.isHidden());
        QVERIFY(PortHandle.Get());
        QCOMPARE(Connection.ComPort, link.string());
    }

    void noPortRefusesToConnect()
    {
        TForm5 d;
        test::ModalScript script;
        script.AnswerBox(true);
        d.show();
        QCOMPARE(d.ComboBox10->count(), 0);
        d.SpeedButton1->click();
        QCOMPARE(script.Boxes(),
                 QStringList{QStringLiteral("Chronavel|") + QString::fromUtf8(kNoPortText)});
        QVERIFY(d.isVisible());
        QVERIFY(!ExchangeThread.Get());
    }
};

QTEST_MAIN(ConnectionDialogTest)
#include "connection_dialog_test.moc"
