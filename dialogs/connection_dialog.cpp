#include "dialogs/connection_dialog.h"

#include "app/connect.h"
#include "app/ini_file_chronavel.h"
#include "app/look_qt.h"
#include "app/master_search.h"
#include "app/port_box_qt.h"
#include "config/busy_qt.h"
#include "dialogs/find_master_dialog.h"
#include "link/exchange.h"
#include "port/port.h"
#include "port/port_list.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>
#include <chrono>

using namespace chronavel;

TForm5* Form5 = nullptr;

namespace {

constexpr int kComboHeight = 22;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->move(x, y);
    l->adjustSize();
    return l;
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int x, int y, int width, bool editable)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setEditable(editable);
    if (editable)
        c->setInsertPolicy(QComboBox::NoInsert);
    c->setGeometry(x, y, width, kComboHeight);
    return c;
}

} // namespace

// --- TRadioGroup

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent)
{
    for (const QString& text : items) {
        auto* b = new QRadioButton(text, this);
        connect(b, &QRadioButton::clicked, this, &TRadioGroup::Clicked);
        items_.push_back(b);
    }
}

int TRadioGroup::ItemIndex() const
{
    for (int i = 0; i < items_.size(); ++i) {
        if (items_[i]->isChecked())
            return i;
    }
    return -1;
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index >= 0 && index < items_.size())
        items_[index]->setChecked(true);
}

QRadioButton* TRadioGroup::Item(int index) const
{
    return index >= 0 && index < items_.size() ? items_[index] : nullptr;
}

// --- TForm5

TForm5::TForm5(QWidget* parent) : QDialog(parent)
{
    Form5 = this;
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Подключение"));
    setFont(DialogFont());
    setFixedSize(423, 204);

    GroupBox1 = new QGroupBox(QStringLiteral("Настройка порта: "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 409, 97);
    Label11 =
        MakeLabel(GroupBox1, "Label11", QStringLiteral("Порт:  . . . . . . . . . . ."), 7, 27);
    ComboBox10 = MakeCombo(GroupBox1, "ComboBox10", 106, 25, 263, false);
    SpeedButton2 = new QToolButton(GroupBox1);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setAutoRaise(true);
    SpeedButton2->setGeometry(377, 23, 24, 24);
    SpeedButton2->setIcon(RefreshIcon(20));
    SpeedButton2->setIconSize(QSize(20, 20));
    SpeedButton2->setToolTip(QStringLiteral("Обновить список портов"));
    Label12 = MakeLabel(GroupBox1, "Label12", QStringLiteral("Скорость:  . . . . .  . . "), 5, 62);
    ComboBox11 = MakeCombo(GroupBox1, "ComboBox11", 105, 60, 81, true);
    ComboBox11->addItems({QStringLiteral("9600"), QStringLiteral("115200")});
    ComboBox11->setCurrentIndex(0);

    // Under the radio group, which covers it: it has no role.
    ComboBox9 = MakeCombo(this, "ComboBox9", 277, 137, 64, true);
    ComboBox9->setEditText(QStringLiteral("$0"));

    RadioGroup1 = new TRadioGroup(
        QStringLiteral("Кому отправлять"),
        {QStringLiteral("Всем"), QStringLiteral("Адрес > . . . . . . . . . . ")}, this);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    RadioGroup1->setGeometry(8, 104, 409, 58);
    RadioGroup1->setAutoFillBackground(true);
    RadioGroup1->Item(0)->setGeometry(8, 14, 399, 20);
    RadioGroup1->Item(1)->setGeometry(8, 34, 399, 20);
    RadioGroup1->SetItemIndex(0);

    ComboBox50 = MakeCombo(this, "ComboBox50", 109, 137, 84, true);
    ComboBox50->setEnabled(false);

    SpeedButton1 = new QPushButton(QStringLiteral("Подключить"), this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setFlat(true);
    SpeedButton1->setAutoDefault(false);
    SpeedButton1->setGeometry(8, 165, 409, 33);
    SpeedButton1->setIcon(ConnectIcon(41, 38));
    SpeedButton1->setIconSize(QSize(41, 28));

    GroupBox2 = new QGroupBox(QStringLiteral("Табло: "), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->setGeometry(8, 104, 193, 57);
    Label1 = MakeLabel(GroupBox2, "Label1", QStringLiteral("Адрес Табло : . . . . "), 8, 24);
    ComboBox51 = MakeCombo(GroupBox2, "ComboBox51", 120, 20, 41, false);
    for (int i = 0; i <= 5; ++i)
        ComboBox51->addItem(QString::number(i));
    Button3 = new QPushButton(QStringLiteral("Мастер..."), GroupBox2);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setGeometry(120, 0, 65, 20);
    GroupBox2->hide();

    connect(SpeedButton2, &QToolButton::clicked, this, &TForm5::SpeedButton2Click);
    connect(RadioGroup1, &TRadioGroup::Clicked, this, &TForm5::RadioGroup1Click);
    connect(SpeedButton1, &QPushButton::clicked, this, &TForm5::SpeedButton1Click);
    connect(Button3, &QPushButton::clicked, this, &TForm5::Button3Click);

    FormCreate();
}

TForm5::~TForm5()
{
    if (Form5 == this)
        Form5 = nullptr;
    // A search still open must not select the master in a dialog that went.
    if (MasterSearchCaller == this)
        MasterSearchCaller = nullptr;
}

void TForm5::FormCreate()
{
    for (const std::string& entry : AddressEntries())
        ComboBox50->addItem(QString::fromStdString(entry));
    // No entry is chosen until the operator picks one.
    ComboBox50->setCurrentIndex(-1);
    ComboBox50->setEditText(QString());
}

void TForm5::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormActivate();
}

void TForm5::FormActivate()
{
    SpeedButton2Click();
}

void TForm5::SpeedButton2Click()
{
    ComboPortBox box(ComboBox10);
    EnumPorts(box, Connection.ComPort);
}

void TForm5::RadioGroup1Click()
{
    ComboBox50->setEnabled(RadioGroup1->ItemIndex() == 1);
}

int TForm5::AddressIndex() const
{
    return ComboBox50->findText(ComboBox50->currentText(), Qt::MatchExactly);
}

void TForm5::SelectAddress(uint8_t addr)
{
    ComboBox50->setCurrentIndex(addr);
    RadioGroup1->SetItemIndex(1);
    RadioGroup1Click();
}

void TForm5::SpeedButton1Click()
{
    ConnectChoice choice;
    choice.SpeedText = ComboBox11->currentText().toStdString();
    choice.PortIndex = ComboBox10->currentIndex();
    choice.PortCount = ComboBox10->count();
    choice.ToAll = RadioGroup1->ItemIndex() != 1;
    choice.AddressIndex = AddressIndex();
    if (Connect(choice) == ConnectResult::kClose)
        accept();
}

void TForm5::Button3Click()
{
    MasterSearchCaller = this;
    // A search on another port first ends the connection's exchange thread,
    // which may be waiting for this thread: the windows keep painting and
    // answering it meanwhile instead of freezing for seconds.
    const int index = ComboBox10->currentIndex();
    if (index >= 0 && index < kMaxPortNames && PortHandle.Get() &&
        PortNames[static_cast<size_t>(index)] != Connection.ComPort)
        RunOffWindowThread([] { StopExchangeThread(std::chrono::seconds(3)); });
    // The port stays open for the search and is closed after it, unless it
    // is the connection's own.
    const std::unique_ptr<MasterSearchPort> port =
        OpenSearchPort(ComboBox10->currentIndex(), ComboBox10->count());
    if (port && Form4)
        Form4->exec();
}
