#include "app/main_window.h"

#include "app/host_qt.h"
#include "app/look_qt.h"
#include "app/service_mode_qt.h"
#include "app/time_source.h"
#include "config/busy_qt.h"
#include "dialogs/connection_dialog.h"
#include "link/reception.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>
#include <chrono>
#include <cstdio>

using namespace chronavel;

TForm1* Form1 = nullptr;

namespace {

constexpr int kClientWidth = 484;
constexpr int kClientHeight = 280;
constexpr int kStatusHeight = 19;
// Where the hidden controls lie: below the visible client area.
constexpr int kHiddenTop = kClientHeight + 40;

const QString kHeadingFamily = QStringLiteral("MS Sans Serif");
const QString kDigitFamily = QStringLiteral("MS Reference Sans Serif");

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, const QFont& font,
                  const QColor& colour)
{
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, colour);
    l->setPalette(p);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, int x, int y)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(x, y, 75, 25);
    b->hide();
    return b;
}

} // namespace

// --- TDrawGrid

TDrawGrid::TDrawGrid(QWidget* parent)
    : QWidget(parent),
      canvas_(kClientWidth, RowCount * (DefaultRowHeight + 1), QImage::Format_RGB32)
{
    setObjectName(QStringLiteral("DrawGrid1"));
    resize(canvas_.size());
    FloodFillCanvas();
}

void TDrawGrid::FloodFillCanvas()
{
    canvas_.fill(Qt::black);
    update();
}

QRect TDrawGrid::CellRect(int col, int row) const
{
    const int w = width() / ColCount;
    return QRect(col * w, row * (DefaultRowHeight + 1), w, DefaultRowHeight);
}

void TDrawGrid::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, canvas_);
}

// --- TStatusBar

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("StatusBar1"));
    setSizeGripEnabled(false);
    setFixedHeight(kStatusHeight);
    const int widths[2] = {100, 50};
    for (int i = 0; i < 2; ++i) {
        Panels[i] = new QLabel(this);
        Panels[i]->setFixedWidth(widths[i]);
        Panels[i]->setFrameShape(QFrame::Panel);
        Panels[i]->setFrameShadow(QFrame::Sunken);
        addWidget(Panels[i]);
    }
}

QString TStatusBar::PanelText(int i) const
{
    return i >= 0 && i < 2 ? Panels[i]->text() : QString();
}

void TStatusBar::SetPanelText(int i, const QString& text)
{
    if (i >= 0 && i < 2)
        Panels[i]->setText(text);
}

// --- TForm1

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
    // Reachable from the first moment: the creation handler below uses it.
    Form1 = this;
    SetLineStopHook(nullptr); // a window closed before (tests) stops nothing now
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Chronavel"));

    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setAutoFillBackground(true);
    QPalette black = client->palette();
    black.setColor(QPalette::Window, Qt::black);
    client->setPalette(black);
    client->setFixedSize(kClientWidth, kClientHeight - kStatusHeight);
    setCentralWidget(client);

    BuildMenu();
    BuildDisplay(client);
    BuildHidden(client);

    StatusBar1 = new TStatusBar(this);
    setStatusBar(StatusBar1);
    ServiceMode = new TServiceMode(this, N4);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setSingleShot(true); // re-armed for each second boundary
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    Timer3 = new QTimer(this);
    Timer3->setObjectName(QStringLiteral("Timer3"));
    Timer3->setInterval(10);

    // Fixed size: the client area (status bar included) under the menu bar.
    setFixedSize(kClientWidth, MainMenu1->sizeHint().height() + kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    SetRequestFailedHandler(
        [this](std::unique_ptr<FailureBlock> block) { WMRequestFailed(std::move(block)); });
    SetClockDisplaySink([this](const std::string& shown, const FieldRows& table, int rows) {
        ShowClockDisplay(shown, table, rows);
    });

    ConnectServiceCommands();
    FormCreate();
    ArmTimer1();
}

TForm1::~TForm1()
{
    SetClockDisplaySink(nullptr);
    SetRequestFailedHandler(nullptr);
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::BuildMenu()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    auto name = [](QAction* a, const char* n) {
        a->setObjectName(QString::fromLatin1(n));
        return a;
    };
    auto submenu = [&](QMenu* in, const QString& caption, const char* n) {
        QMenu* m = in ? in->addMenu(caption) : MainMenu1->addMenu(caption);
        return name(m->menuAction(), n);
    };

    N1 = submenu(nullptr, QStringLiteral("Файл"), "N1");
    N2 = name(N1->menu()->addAction(QStringLiteral("Выход")), "N2");

    N3 = submenu(nullptr, QStringLiteral("Настройка"), "N3");
    QMenu* settings = N3->menu();
    N8 = name(settings->addAction(QStringLiteral("Удаленная настройка часов")), "N8");
    N8->setVisible(false);
    N9 = name(settings->addAction(QStringLiteral("Синхронизация времени")), "N9");
    N14 = submenu(settings, QStringLiteral("Частота синхронизации"), "N14");
    N14->setCheckable(true);
    QMenu* periods = N14->menu();
    N15 = name(periods->addAction(QStringLiteral("Минута")), "N15");
    N16 = name(periods->addAction(QStringLiteral("Час")), "N16");
    N17 = name(periods->addAction(QStringLiteral("3 часа")), "N17");
    N18 = name(periods->addAction(QStringLiteral("Сутки")), "N18");
    for (QAction* a : {N15, N16, N17, N18}) {
        // Each toggles its own mark; the handler clears the others.
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, [this, a] { N15Click(a); });
    }

    N4 = submenu(nullptr, QStringLiteral("Сервис"), "N4");
    QMenu* service = N4->menu();
    N12 = name(service->addAction(QStringLiteral("Получение информации")), "N12");
    N12->setVisible(false);
    N5 = name(service->addAction(QStringLiteral("Параметры")), "N5");
    N5->setVisible(false);
    N13 = name(service->addAction(QStringLiteral("Подключение")), "N13");

    N6 = submenu(nullptr, QStringLiteral("Вид"), "N6");
    N6->setVisible(false);
    QMenu* view = N6->menu();
    N7 = name(view->addAction(QStringLiteral("Включено")), "N7");
    N7->setCheckable(true);
    auto* group1 = new QActionGroup(this);
    group1->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    N10 = name(view->addAction(QStringLiteral("Компьютер-мастер")), "N10");
    N11 = name(view->addAction(QStringLiteral("Табло-мастер")), "N11");
    for (QAction* a : {N10, N11}) {
        a->setCheckable(true);
        group1->addAction(a);
    }

    N19 = submenu(nullptr, QStringLiteral("Справка"), "N19");
    N20 = name(N19->menu()->addAction(QStringLiteral("О программе")), "N20");

    connect(N2, &QAction::triggered, this, &TForm1::N2Click);
    connect(N9, &QAction::triggered, this, &TForm1::N9Click);
    connect(N13, &QAction::triggered, this, &TForm1::N13Click);
}

void TForm1::BuildDisplay(QWidget* client)
{
    const QFont heading = WindowFont(kHeadingFamily, 24, true);
    const QFont digits = WindowFont(kDigitFamily, 64, true);
    Label6 = MakeLabel(client, QStringLiteral("Время"), 16, 8, heading, Qt::white);
    Label6->setObjectName(QStringLiteral("Label6"));
    Label1 = MakeLabel(client, QString(), 16, 39, digits, QColor(255, 0, 0));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label7 = MakeLabel(client, QStringLiteral("Дата"), 24, 134, heading, Qt::white);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label4 = MakeLabel(client, QString(), 16, 167, digits, QColor(255, 0, 0));
    Label4->setObjectName(QStringLiteral("Label4"));
    // The digits change every second: room for the widest text up front.
    const int digit_height = QFontMetrics(digits).height();
    Label1->resize(kClientWidth - 16, digit_height);
    Label4->resize(kClientWidth - 16, digit_height);
}

void TForm1::BuildHidden(QWidget* client)
{
    const QFont heading = WindowFont(kHeadingFamily, 24, true);
    Label3 = MakeLabel(client, QStringLiteral("Основное поле"), 16, kHiddenTop, heading, Qt::white);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label8 = MakeLabel(client, QString(), 16, kHiddenTop + 32, WindowFont(kDigitFamily, 64, true),
                       QColor(255, 0, 0));
    Label8->setObjectName(QStringLiteral("Label8"));
    Label8->resize(kClientWidth - 16, QFontMetrics(Label8->font()).height());
    Label5 = MakeLabel(client, QStringLiteral("Дополнительные поля"), 16, kHiddenTop + 120, heading,
                       Qt::white);
    Label5->setObjectName(QStringLiteral("Label5"));
    DrawGrid1 = new TDrawGrid(client);
    DrawGrid1->move(0, kHiddenTop + 156);
    DrawGrid1->setEnabled(false);
    const int below_grid = kHiddenTop + 156 + DrawGrid1->height() + 8;
    Label2 = MakeLabel(client, QStringLiteral("1234567"), 16, below_grid, font(), Qt::white);
    Label2->setObjectName(QStringLiteral("Label2"));
    LabelTimeSource = MakeLabel(client, QString(), 16, kHiddenTop, font(), Qt::white);
    LabelTimeSource->setObjectName(QStringLiteral("LabelTimeSource"));
    LabelTimeSource->resize(kClientWidth - 24, QFontMetrics(font()).height() + 4);
    // The PC clock's state and the last extra synchronisation together run
    // past one line: wrapped rather than cut off.
    LabelTimeSource->setWordWrap(true);
    LabelTimeSource->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Memo1 = new QPlainTextEdit(client);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFont(QFont(QStringLiteral("Courier New")));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setGeometry(16, below_grid + 24, 220, 90);
    RichEdit1 = new QTextEdit(client);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(248, below_grid + 24, 220, 90);
    Edit1 = new QLineEdit(client);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(16, below_grid + 122, 120, 22);
    Edit2 = new QLineEdit(QStringLiteral("1"), client);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(148, below_grid + 122, 120, 22);

    const int row = below_grid + 154;
    Button1 = MakeButton(client, QStringLiteral("Button1"), QStringLiteral("Button1"), 16, row);
    Button2 =
        MakeButton(client, QStringLiteral("Button2"), QStringLiteral("Установить S0=7F"), 96, row);
    Button3 = MakeButton(client, QStringLiteral("Button3"), QStringLiteral("Перевести в мастер"),
                         176, row);
    Button4 = MakeButton(client, QStringLiteral("Button4"),
                         QStringLiteral("Перевести в Slave, считать параметры"), 256, row);
    Button5 = MakeButton(client, QStringLiteral("Button5"), QStringLiteral("Контроль подключения"),
                         336, row);
    Button6 = MakeButton(client, QStringLiteral("Button6"), QStringLiteral("Button6"), 416, row);

    for (QWidget* w : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label8),
                       static_cast<QWidget*>(Label5), static_cast<QWidget*>(DrawGrid1),
                       static_cast<QWidget*>(Label2), static_cast<QWidget*>(LabelTimeSource),
                       static_cast<QWidget*>(Memo1), static_cast<QWidget*>(RichEdit1),
                       static_cast<QWidget*>(Edit1), static_cast<QWidget*>(Edit2)})
        w->hide();
}

// --- Creation, activation, closing

void TForm1::FormCreate()
{
    Load_settings(*this);
    // DisplayTickLock is a process-wide lock that exists from the start.
}

bool TForm1::event(QEvent* e)
{
    // The first activation, or the first showing where a window manager
    // does not activate new windows: once per run either way.
    const bool first = e->type() == QEvent::WindowActivate || e->type() == QEvent::Show;
    if (first && !activated_ && !closing_) {
        activated_ = true;
        // After the event has been delivered, not inside it.
        QTimer::singleShot(0, this, &TForm1::FormActivate);
    }
    return QMainWindow::event(e);
}

void TForm1::FormActivate()
{
    ShowConnectionDialog();
}

void TForm1::closeEvent(QCloseEvent* e)
{
    if (!closing_)
        FormClose();
    e->accept();
}

namespace {
// Installed as the main window closes: a header search or transaction still
// in progress on any thread (a save, the link check) ends at once. No flag
// of its own, so nothing outlives the link's reset.
bool WindowClosed()
{
    return true;
}
} // namespace

void TForm1::FormClose()
{
    closing_ = true;
    SetLineStopHook(&WindowClosed);
    Timer1->stop();
    Timer2->stop();
    Timer3->stop();
    // An exchange thread waiting on this thread is let go; no box is shown
    // from now on.
    if (QtHost* host = TheQtHost())
        host->Shutdown();
    // A save or link check still running keeps its port until it ends.
    WaitForBlockingWork();
    CloseSteps();
    // A dialog or box open on top of this window (a failure report, the
    // connection dialog) would hold the program: they are answered Cancel.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(w);
        if (dialog && dialog->isVisible())
            dialog->reject();
    }
    if (OnClosed)
        OnClosed();
}

bool TForm1::Closing() const
{
    return closing_;
}

// --- Clock display

void TForm1::ArmTimer1()
{
    if (closing_)
        return;
    // A few milliseconds past the boundary, so the new second has begun.
    Timer1->start(MsToNextSecond(std::chrono::system_clock::now()) + 2);
}

void TForm1::Timer1Timer()
{
    DisplayTick.fetch_add(1);
    const LocalTime now = CurrentLocalTime();
    Label1->setText(QString::fromStdString(TimeText(now)));
    Label4->setText(QString::fromStdString(DateText(now)));
    // A step of the PC's clock, summer time, a new zone or a resume: the
    // clocks get the time at once, and the period runs on as it was.
    if (const std::optional<TimeEvent> e = time_events_.Check(); e && Connected()) {
        if (SyncTime(Connection.TargetAddress) == SyncOutcome::kQueued) {
            platform::TimeSource& t = *platform::Time();
            last_extra_sync_ =
                ExtraSyncText(t.Local(std::chrono::system_clock::to_time_t(t.Wall())), *e);
        }
    }
    if (LabelTimeSource->isVisible())
        LabelTimeSource->setText(QString::fromStdString(
            TimeSourceText(platform::QueryClockSync()) +
            (last_extra_sync_.empty() ? std::string() : ". " + last_extra_sync_)));
    ArmTimer1();
}

void TForm1::ShowClockDisplay(const std::string& shown, const FieldRows& table, int rows)
{
    Label8->setText(QString::fromStdString(shown));
    FieldTable = table;
    DrawGrid1->FloodFillCanvas();
    for (int col = 0; col < TDrawGrid::ColCount; ++col) {
        for (int row = 0; row < rows && row < TDrawGrid::RowCount; ++row)
            DrawGrid1DrawCell(DrawGrid1, col, row, DrawGrid1->CellRect(col, row), 0);
    }
}

void TForm1::DrawGrid1DrawCell(QObject*, int ACol, int ARow, const QRect&, int)
{
    if (ARow < 0 || ARow >= TDrawGrid::RowCount)
        return;
    const FieldEntry& entry = FieldTable[static_cast<size_t>(ARow)];
    QPainter p(&DrawGrid1->Canvas());
    p.setFont(WindowPointFont(kDigitFamily, 20, true));
    int x = 2;
    QString text;
    if (ACol == 0) {
        p.setPen(Qt::white);
        text = QString::fromStdString(entry.Name);
    } else {
        p.setPen(QColor(255, 0, 0));
        text = QString::fromStdString(entry.Value);
        x = 300;
    }
    // Positioned by row, not by the cell rectangle, and nothing cleared first.
    p.drawText(QRect(x, 41 * ARow + 3, DrawGrid1->Canvas().width(), 41),
               Qt::AlignLeft | Qt::AlignTop, text);
    DrawGrid1->update();
}

void TForm1::Update_memo()
{
    RichEdit1->clear();
    Memo1->clear();
    QString text;
    for (uint8_t b : ReceivedBytes())
        text += QStringLiteral(" %1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    text += QLatin1Char(' ');
    Memo1->setPlainText(text);
}

void TForm1::Show_err_read()
{
    ErrReadAnswer = CurrentHost().ShowWarning(kRetryReadText);
}

// --- Synchronisation

QAction* TForm1::PeriodEntry(int index) const
{
    switch (index) {
    case 0:
        return N14;
    case 1:
        return N15;
    case 2:
        return N16;
    case 3:
        return N17;
    case 4:
        return N18;
    default:
        return nullptr;
    }
}

bool TForm1::Checked(int index) const
{
    const QAction* a = PeriodEntry(index);
    return a && a->isChecked();
}

void TForm1::SetChecked(int index, bool checked)
{
    if (QAction* a = PeriodEntry(index))
        a->setChecked(checked);
}

void TForm1::N15Click(int sender)
{
    N15Click(PeriodEntry(sender));
}

void TForm1::N15Click(QObject* Sender)
{
    // The sender is told apart by its component name (N14..N18).
    int sender = -1;
    if (Sender) {
        const QString n = Sender->objectName();
        if (n.startsWith(QLatin1Char('N')))
            sender = n.mid(1).toInt() - 14;
    }
    PeriodChecks checks{};
    for (int i = 0; i < PeriodMenu::kEntries; ++i)
        checks[static_cast<size_t>(i)] = Checked(i);
    SyncPeriod = PeriodClick(checks, sender);
    for (int i = 0; i < PeriodMenu::kEntries; ++i)
        SetChecked(i, checks[static_cast<size_t>(i)]);
    Timer2->stop();
    Timer2->setInterval(SyncPeriod * 1000);
    if (SyncPeriod > 0)
        Timer2->start();
}

SyncOutcome TForm1::Sinkhr_date()
{
    return SyncTime(Connection.TargetAddress);
}

void TForm1::Timer2Timer()
{
    // With no connection the tick is skipped; the next one tries again.
    Sinkhr_date();
}

void TForm1::N9Click()
{
    Timer2->stop();
    // An interval of 0 would fire at once and forever: no period, no timer.
    if (SyncPeriod > 0)
        Timer2->start();
    const std::string text = SyncOutcomeText(Sinkhr_date());
    if (!text.empty())
        CurrentHost().ShowMessage(text);
}

// --- Failure dialogs

void TForm1::WMRequestFailed(std::unique_ptr<FailureBlock> block)
{
    HandleRequestFailed(std::move(block), *this);
}

void TForm1::WaitForPortWork()
{
    WaitForBlockingWork();
}

void TForm1::ClearN7()
{
    N7->setChecked(false);
}

void TForm1::StopTimer3()
{
    Timer3->stop();
}

void TForm1::ShowConnectionDialog()
{
    if (!closing_ && Form5)
        Form5->exec();
}

// --- Menu commands

void TForm1::N2Click()
{
    ExitSteps(*this);
    close();
}

void TForm1::N13Click()
{
    ShowConnectionDialog();
}
