#include "config/parameters_window.h"

#include "app/ini_file_chronavel.h"
#include "app/look_qt.h"
#include "app/port_box_qt.h"
#include "config/settings_dialog_qt.h"
#include "port/port_list.h"

#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QVBoxLayout>
#include <array>
#include <utility>

namespace chronavel {

TForm3* Form3 = nullptr;

namespace {

constexpr int kWidth = 450;
constexpr int kHeight = 337;

QLineEdit* NewEdit(QWidget* parent, const char* name, const QString& text)
{
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(name);
    return e;
}

} // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    Form3 = this;
    QVBoxLayout* outer =
        SetUpSettingsDialog(this, "Form3", "Параметры ", kWidth, kHeight, PageControl1);

    // "Основные": the port and the log file.
    auto* main_page = new QWidget;
    auto* main_column = new QVBoxLayout(main_page);
    auto* port_group = new QGroupBox("Настройка порта: ", main_page);
    auto* pg = new QGridLayout(port_group);
    ComboBox10 = new QComboBox(port_group);
    ComboBox10->setObjectName("ComboBox10");
    ComboBox10->setEditable(true);
    ComboBox10->setInsertPolicy(QComboBox::NoInsert);
    ComboBox10->setMinimumContentsLength(14);
    SpeedButton2 = new QToolButton(port_group);
    SpeedButton2->setObjectName("SpeedButton2");
    SpeedButton2->setFixedSize(24, 24);
    SpeedButton2->setAutoRaise(true);
    SpeedButton2->setIcon(RefreshIcon(20));
    SpeedButton2->setIconSize(QSize(20, 20));
    SpeedButton2->setToolTip("Обновить список портов");
    connect(SpeedButton2, &QToolButton::clicked, this, &TForm3::SpeedButton2Click);
    ComboBox11 = new QComboBox(port_group);
    ComboBox11->setObjectName("ComboBox11");
    ComboBox11->setEditable(true);
    ComboBox11->setInsertPolicy(QComboBox::NoInsert);
    ComboBox11->addItems({"9600", "115200"});
    ComboBox11->setCurrentIndex(0);
    SpeedButton1 = new QToolButton(port_group);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setText("Подключить");
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SpeedButton1->setIcon(ConnectIcon(41, 28));
    SpeedButton1->setIconSize(QSize(41, 28));
    pg->addWidget(new QLabel("Порт:  . . . . . . . . . . .", port_group), 0, 0);
    pg->addWidget(ComboBox10, 0, 1);
    pg->addWidget(SpeedButton2, 0, 2);
    pg->addWidget(new QLabel("Скорость:  . . . . .  . . ", port_group), 1, 0);
    pg->addWidget(ComboBox11, 1, 1);
    pg->addWidget(SpeedButton1, 1, 2, 1, 2, Qt::AlignLeft);
    pg->setColumnStretch(3, 1);
    main_column->addWidget(port_group);

    auto* log_group = new QGroupBox("Log - файл", main_page);
    auto* lg = new QGridLayout(log_group);
    CheckBox1 = NewBox(log_group, "CheckBox1", "Вести Log-файл");
    Edit3 = NewEdit(log_group, "Edit3", "C:\\log.txt");
    Button3 = new QPushButton("...", log_group);
    Button3->setObjectName("Button3");
    Button3->setFixedWidth(28);
    CheckBox2 = NewBox(log_group, "CheckBox2", "Записывать каждое значение");
    lg->addWidget(CheckBox1, 0, 0, 1, 3);
    lg->addWidget(new QLabel("Файл: ", log_group), 1, 0);
    lg->addWidget(Edit3, 1, 1);
    lg->addWidget(Button3, 1, 2);
    lg->addWidget(CheckBox2, 2, 0, 1, 3);
    main_column->addWidget(log_group);
    main_column->addStretch(1);
    PageControl1->addTab(main_page, "Основные");

    // "Отображение на экране": which readings to show in each mode.
    auto* show_page = new QWidget;
    auto* show_row = new QHBoxLayout(show_page);
    // The same six readings in each mode, each box under its own name.
    const auto readings = [show_page](
                              const char* title,
                              const std::array<std::pair<QCheckBox**, const char*>, 6>& boxes) {
        static const char* const kReadings[] = {"Температура 1", "Температура 2", "Температура 3",
                                                "Давление",      "Влажность",     "Радиация"};
        auto* group = new QGroupBox(title, show_page);
        auto* column = new QVBoxLayout(group);
        for (size_t i = 0; i < boxes.size(); ++i) {
            *boxes[i].first = NewBox(group, boxes[i].second, kReadings[i]);
            column->addWidget(*boxes[i].first);
        }
        column->addStretch(1);
        return group;
    };
    show_row->addWidget(readings("В режиме Мастер: ", {{{&CheckBox6, "CheckBox6"},
                                                        {&CheckBox7, "CheckBox7"},
                                                        {&CheckBox8, "CheckBox8"},
                                                        {&CheckBox9, "CheckBox9"},
                                                        {&CheckBox10, "CheckBox10"},
                                                        {&CheckBox11, "CheckBox11"}}}));
    show_row->addWidget(readings("В режиме Slave: ", {{{&CheckBox3, "CheckBox3"},
                                                       {&CheckBox4, "CheckBox4"},
                                                       {&CheckBox5, "CheckBox5"},
                                                       {&CheckBox12, "CheckBox12"},
                                                       {&CheckBox13, "CheckBox13"},
                                                       {&CheckBox14, "CheckBox14"}}}));
    PageControl1->addTab(show_page, "Отображение на экране");

    // "Импорт погоды".
    auto* weather_page = new QWidget;
    auto* wg = new QGridLayout(weather_page);
    Edit1 = NewEdit(weather_page, "Edit1", "Edit1");
    Edit2 = NewEdit(weather_page, "Edit2", "Edit2");
    Edit4 = NewEdit(weather_page, "Edit4", "Edit4");
    Edit5 = NewEdit(weather_page, "Edit5", "Edit5");
    Edit6 = NewEdit(weather_page, "Edit6", "Edit6");
    wg->addWidget(new QLabel("URL сайта:  . . . ", weather_page), 0, 0);
    wg->addWidget(Edit1, 0, 1);
    wg->addWidget(new QLabel("Префикс температуры:  . . . ", weather_page), 1, 0);
    wg->addWidget(Edit2, 1, 1);
    wg->addWidget(new QLabel("Префикс влажности:  . . . . . ", weather_page), 2, 0);
    wg->addWidget(Edit4, 2, 1);
    wg->addWidget(new QLabel("Префикс давления:  . . . . . . ", weather_page), 3, 0);
    wg->addWidget(Edit5, 3, 1);
    auto* period = new QLabel(
        "Частота обновления информации, мин:   . . . . . . . . . . . . . . . . . . . . . . . . . .",
        weather_page);
    wg->addWidget(period, 4, 0, 1, 2);
    Edit6->setMaximumWidth(60);
    wg->addWidget(Edit6, 5, 1, Qt::AlignLeft);
    wg->setRowStretch(6, 1);
    PageControl1->addTab(weather_page, "Импорт погоды");

    const SettingsPanel panel = BuildSettingsPanel(this);
    Panel1 = panel.Panel1;
    Image1 = panel.Image1;
    Button1 = panel.Button1;
    Button2 = panel.Button2;
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);
    outer->addWidget(Panel1);
    PageControl1->FlowFor(kWidth);
}

TForm3::~TForm3()
{
    if (Form3 == this)
        Form3 = nullptr;
}

void TForm3::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormActivate();
}

void TForm3::FormActivate()
{
    ComboPortBox box(ComboBox10);
    EnumPorts(box, Connection.ComPort);
}

void TForm3::SpeedButton2Click()
{
    FormActivate();
}

} // namespace chronavel
