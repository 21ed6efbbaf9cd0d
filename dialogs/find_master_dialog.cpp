#include "dialogs/find_master_dialog.h"

#include "app/ini_file_chronavel.h"
#include "app/master_search.h"
#include "dialogs/connection_dialog.h"
#include "link/host.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>

using namespace chronavel;

TForm4* Form4 = nullptr;
TForm5* MasterSearchCaller = nullptr;

namespace {

constexpr int kPanelWidth = 50;
constexpr int kBarWidth = 320;
constexpr int kStatusHeight = 19;

} // namespace

TForm4::TForm4(QWidget* parent) : QDialog(parent)
{
    Form4 = this;
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Form4"));
    resize(347, 92);

    Button1 = new QPushButton(QStringLiteral("Поиск мастера....."), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(0, 3, 331, 33);
    Button1->setAutoDefault(false);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(120, 16);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(true);
    StatusBar1->setFixedHeight(kStatusHeight);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    PlaceStatusBar();

    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    FormCreate();
}

TForm4::~TForm4()
{
    DropSearch();
    if (Form4 == this)
        Form4 = nullptr;
}

void TForm4::FormCreate()
{
    ProgressBar1->setParent(StatusBar1);
    ProgressBar1->move(0, 2);
    ProgressBar1->resize(kPanelWidth, StatusBar1->height() - 2);
    ProgressBar1->setMinimum(0);
    ProgressBar1->setValue(0);
    ProgressBar1->setMaximum(kLastSearchAddress);
    ProgressBar1->resize(kBarWidth, ProgressBar1->height());
    ProgressBar1->show();
}

void TForm4::FormActivate()
{
    ProgressBar1->setValue(0);
}

void TForm4::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormActivate();
}

void TForm4::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    PlaceStatusBar();
}

void TForm4::PlaceStatusBar()
{
    StatusBar1->setGeometry(0, height() - kStatusHeight, width(), kStatusHeight);
}

void TForm4::Button1Click()
{
    if (run_)
        return;
    const int speed = Connection.ComSpeed > 0 ? Connection.ComSpeed : 9600;
    run_ = std::make_unique<MasterSearchRun>(speed);
    // Nothing else to start while the search runs; the window stays modal.
    Button1->setEnabled(false);
    QTimer::singleShot(0, this, &TForm4::SearchStep);
}

void TForm4::SearchStep()
{
    if (!run_)
        return; // closed meanwhile
    const uint8_t candidate = run_->Next();
    ProgressBar1->setValue(ProgressBar1->value() + 1);
    // Painted now: the probe holds this thread for a while, and the event
    // loop between two probes may not get round to it.
    ProgressBar1->repaint();
    if (OnProbe)
        OnProbe(candidate);
    // One probe (tens of milliseconds at 9600 Bd); the window paints and
    // takes a close between two.
    if (run_->Step())
        FinishSearch();
    else
        QTimer::singleShot(0, this, &TForm4::SearchStep);
}

void TForm4::FinishSearch()
{
    const uint8_t master = run_->Found();
    run_.reset();
    Button1->setEnabled(true);
    Connection.TargetAddress = master;
    if (master != 0) {
        if (TForm5* caller = MasterSearchCaller) {
            caller->ComboBox50->setCurrentIndex(master);
            // "Подключить" then keeps the master as the target.
            caller->RadioGroup1->SetItemIndex(1);
            caller->RadioGroup1Click();
        }
        ProgressBar1->setValue(kLastSearchAddress);
    } else {
        CurrentHost().ShowMessage("Мастер не найден!");
    }
    close();
}

void TForm4::DropSearch()
{
    // The search ends before its next probe; TargetAddress stays.
    run_.reset();
    Button1->setEnabled(true);
}

void TForm4::closeEvent(QCloseEvent* event)
{
    DropSearch();
    QDialog::closeEvent(event);
}

void TForm4::done(int result)
{
    DropSearch();
    QDialog::done(result);
}
