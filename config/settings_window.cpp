#include "config/settings_window.h"

#include "app/ini_file_chronavel.h"
#include "app/look_qt.h"
#include "app/master_search.h"
#include "config/busy_qt.h"
#include "config/register_table.h"
#include "config/registers.h"
#include "config/settings_dialog_qt.h"
#include "config/write_settings.h"
#include "dialogs/connection_dialog.h"
#include "link/host.h"

#include <QCloseEvent>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLocale>
#include <QShowEvent>
#include <QVBoxLayout>

namespace chronavel {

TForm6* Form6 = nullptr;

namespace {

constexpr int kWidth = 452;
constexpr int kHeight = 316;
constexpr int kSignalsTab = 2;

const char* const kTemperatureHint =
    "0x: -0.1*C; 1x: -0.1*; 2x: _-0.1*; 3x: -01.5*; 4x: -01.5*; 5x -01*_";

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

QComboBox* NewList(QWidget* parent, const char* name, bool editable = false)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(editable);
    if (editable)
        c->setInsertPolicy(QComboBox::NoInsert);
    c->setMaxVisibleItems(16);
    return c;
}

QTimeEdit* NewPicker(QWidget* parent, const char* name, int hour)
{
    auto* p = new QTimeEdit(QTime(hour, 0), parent);
    p->setObjectName(name);
    p->setDisplayFormat("HH:mm");
    return p;
}

QLabel* NewLabel(QWidget* parent, const QString& text)
{
    return new QLabel(text, parent);
}

// A page whose rows are label + control, top aligned.
QGridLayout* PageGrid(QWidget* page)
{
    auto* g = new QGridLayout(page);
    g->setContentsMargins(8, 6, 8, 6);
    g->setHorizontalSpacing(8);
    g->setVerticalSpacing(4);
    return g;
}

void EndGrid(QGridLayout* g, int rows, int columns)
{
    g->setRowStretch(rows, 1);
    g->setColumnStretch(columns, 1);
}

// The position of a list. An editable list whose text names none of its
// items has none, like a list nothing was chosen in.
int Position(const QComboBox* c)
{
    if (c->isEditable())
        return c->findText(c->currentText(), Qt::MatchExactly);
    return c->currentIndex();
}

void Select(QComboBox* c, int position)
{
    c->setCurrentIndex(position >= 0 && position < c->count() ? position : -1);
    if (c->isEditable() && c->currentIndex() < 0)
        c->setEditText(QString());
}

void FillPercent(QComboBox* c)
{
    for (int p = 0; p < kPercentEntries; ++p)
        c->addItem(Q(PercentText(p)));
}

void FillNumbers(QComboBox* c, int from, int to)
{
    for (int n = from; n <= to; ++n)
        c->addItem(QString::number(n));
}

// The pages, in tab order.
enum Page {
    kMainPage,
    kModePage,
    kSignalsPage,
    kCorrectionPage,
    kDevicesPage,
    kBrightnessPage,
    kTimePage,
    kSensorsPage,
    kViewPage,
    kOtherPage,
};

// What a list holds when the window is built.
enum class ListKind {
    kFilledLater, // its entries come with FormCreate, Stand_fields or the formats
    kAddress,     // editable, "$00/0".."$FF/255" (FormCreate fills it)
    kSpeed,       // editable, "9600" and "115200"
    kPercent,     // the brightness and volume percentages
    kCoefficient, // 0..3
};

// The pages' caption + list rows, one line each: the list's caption in
// column 0 and the list in column 1 of its page's grid row; List the
// member that keeps it, if any (a list found by name needs none). The
// register a list shows is in config/register_table.cpp; Chosen the entry
// chosen at build (-1: none, the showing chooses).
struct ListRow {
    Page Tab;
    int Row;
    const char* Caption;
    QComboBox* TForm6::*List;
    const char* Name;
    ListKind Kind;
    int Chosen;
};

// clang-format off
const ListRow kListRows[] = {
    {kMainPage, 0, "Адрес Табло :", &TForm6::ComboBox50, "ComboBox50", ListKind::kAddress, -1},
    {kMainPage, 1, "Скорость:", &TForm6::ComboBox11, "ComboBox11", ListKind::kSpeed, 0},
    {kSignalsPage, 0, "Громкость звучания :", &TForm6::ComboBox52, "ComboBox52", ListKind::kPercent, 9},
    {kCorrectionPage, 0, "Калибровочный коэффициент датчика давления: ", &TForm6::ComboBox13, "ComboBox13", ListKind::kCoefficient, 3},
    {kCorrectionPage, 1, "Калибровочный коэффициент датчика радиации: ", &TForm6::ComboBox14, "ComboBox14", ListKind::kCoefficient, 3},
    {kCorrectionPage, 2, "Суточная коррекция времени: ", &TForm6::ComboBox57, "ComboBox57", ListKind::kFilledLater, -1},
    {kDevicesPage, 1, "Нижний уровень:", &TForm6::ComboBox56, "ComboBox56", ListKind::kFilledLater, -1},
    {kDevicesPage, 2, "Верхний уровень:", &TForm6::ComboBox55, "ComboBox55", ListKind::kFilledLater, -1},
    {kBrightnessPage, 2, "Уровень пониженной яркости: ", &TForm6::ComboBox53, "ComboBox53", ListKind::kPercent, 0},
    {kBrightnessPage, 3, "Уровень нормальной яркости: ", &TForm6::ComboBox54, "ComboBox54", ListKind::kPercent, 9},
    {kTimePage, 0, "Время экспозиции Времени:  . . .", &TForm6::ComboBox1, "ComboBox1", ListKind::kFilledLater, -1},
    {kTimePage, 1, "Время экспозиции Даты: . . . . . . ", &TForm6::ComboBox2, "ComboBox2", ListKind::kFilledLater, -1},
    {kTimePage, 2, "Время экспозиции Года: . . . . . .  ", &TForm6::ComboBox3, "ComboBox3", ListKind::kFilledLater, -1},
    {kTimePage, 3, "Часовой пояс:", &TForm6::ComboBox51, "ComboBox51", ListKind::kFilledLater, -1},
    {kSensorsPage, 3, "Время экспозиции Давления: ", &TForm6::ComboBox7, "ComboBox7", ListKind::kFilledLater, -1},
    {kSensorsPage, 4, "Время экспозиции Влажности: ", &TForm6::ComboBox8, "ComboBox8", ListKind::kFilledLater, -1},
    {kSensorsPage, 5, "Время экспозиции Радиации: ", &TForm6::ComboBox9, "ComboBox9", ListKind::kFilledLater, -1},
    {kViewPage, 0, "Основное поле . . . . . . . . ", &TForm6::ComboBox10, "ComboBox10", ListKind::kFilledLater, -1},
    {kOtherPage, 1, "S6:", &TForm6::ComboBox58, "ComboBox58", ListKind::kFilledLater, -1},
    {kOtherPage, 2, "SE:", &TForm6::ComboBox60, "ComboBox60", ListKind::kFilledLater, -1},
};
// clang-format on

// Builds the page's rows of the table, in table order.
void AddListRows(TForm6& form, Page tab, QWidget* page, QGridLayout* g)
{
    for (const ListRow& r : kListRows) {
        if (r.Tab != tab)
            continue;
        const bool editable = r.Kind == ListKind::kAddress || r.Kind == ListKind::kSpeed;
        g->addWidget(NewLabel(page, r.Caption), r.Row, 0);
        QComboBox* c = NewList(page, r.Name, editable);
        if (r.List)
            form.*r.List = c;
        if (r.Kind == ListKind::kSpeed)
            c->addItems({"9600", "115200"});
        else if (r.Kind == ListKind::kPercent)
            FillPercent(c);
        else if (r.Kind == ListKind::kCoefficient)
            FillNumbers(c, 0, 3);
        if (r.Chosen >= 0)
            c->setCurrentIndex(r.Chosen);
        g->addWidget(c, r.Row, 1);
    }
}

} // namespace

TForm6::TForm6(QWidget* parent) : QDialog(parent)
{
    Form6 = this;
    QVBoxLayout* outer = SetUpSettingsDialog(this, "Form6", "Удаленная настройка часов", kWidth,
                                             kHeight, PageControl1);

    PageControl1->addTab(BuildMainTab(), "Основные настройки");
    PageControl1->addTab(BuildModeTab(), "Режим работы");
    PageControl1->addTab(BuildSignalsTab(), "Сигналы");
    PageControl1->addTab(BuildCorrectionTab(), "Коррекция");
    PageControl1->addTab(BuildDevicesTab(), "Внешние устройства");
    PageControl1->addTab(BuildBrightnessTab(), "Яркость");
    PageControl1->addTab(BuildTimeTab(), "Время и дата");
    PageControl1->addTab(BuildSensorsTab(), "Датчики");
    PageControl1->addTab(BuildViewTab(), "Вид");
    PageControl1->addTab(BuildOtherTab(), "Другое");
    PageControl1->setCurrentIndex(kSignalsTab);
    PageControl1->FlowFor(kWidth);

    BuildPanel();
    outer->addWidget(Panel1);

    FormCreate();
}

QWidget* TForm6::BuildMainTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    AddListRows(*this, kMainPage, page, g);
    Button3 = new QPushButton("Мастер...", page);
    Button3->setObjectName("Button3");
    connect(Button3, &QPushButton::clicked, this, &TForm6::Button3Click);
    g->addWidget(Button3, 2, 1, Qt::AlignLeft);
    EndGrid(g, 3, 2);
    return page;
}

QWidget* TForm6::BuildModeTab()
{
    auto* page = new QWidget;
    auto* row = new QHBoxLayout(page);
    row->setContentsMargins(8, 6, 8, 6);

    auto* master = new QGroupBox("Получить с ведущих часов  ", page);
    auto* m = new QVBoxLayout(master);
    m->setSpacing(0);
    m->setContentsMargins(8, 2, 8, 2);
    CheckBox4 = NewBox(master, "CheckBox4", "Ведущий");
    CheckBox5 = NewBox(master, "CheckBox5", "Время, дата");
    CheckBox6 = NewBox(master, "CheckBox6", "Температура 1");
    CheckBox7 = NewBox(master, "CheckBox7", "Температура 2");
    CheckBox8 = NewBox(master, "CheckBox8", "Температура 3");
    CheckBox9 = NewBox(master, "CheckBox9", "Давление");
    CheckBox10 = NewBox(master, "CheckBox10", "Влажность");
    CheckBox11 = NewBox(master, "CheckBox11", "Радиация");
    for (QCheckBox* b :
         {CheckBox4, CheckBox5, CheckBox6, CheckBox7, CheckBox8, CheckBox9, CheckBox10, CheckBox11})
        m->addWidget(b);
    m->addStretch(1);
    row->addWidget(master, 1);

    auto* mode = new QGroupBox("Режим работы", page);
    auto* o = new QVBoxLayout(mode);
    CheckBox35 = NewBox(mode, "CheckBox35", "115200/9600");
    CheckBox36 = NewBox(mode, "CheckBox36", "Полный \"slave\"");
    o->addWidget(CheckBox35);
    o->addWidget(CheckBox36);
    o->addStretch(1);
    row->addWidget(mode, 1, Qt::AlignTop);
    return page;
}

QWidget* TForm6::BuildSignalsTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    AddListRows(*this, kSignalsPage, page, g);

    auto* signals_box = new QGroupBox("Сигналы:  ", page);
    auto* s = new QVBoxLayout(signals_box);
    s->setSpacing(0);
    s->setContentsMargins(8, 2, 8, 2);
    CheckBox29 = NewBox(signals_box, "CheckBox29", "Сигнал хх:00");
    CheckBox30 = NewBox(signals_box, "CheckBox30", "Сигнал хх:15");
    CheckBox31 = NewBox(signals_box, "CheckBox31", "Сигнал хх:30");
    CheckBox32 = NewBox(signals_box, "CheckBox32", "Сигнал хх:45");
    CheckBox33 = NewBox(signals_box, "CheckBox33", "Сигнал датчика радиации");
    for (QCheckBox* b : {CheckBox29, CheckBox30, CheckBox31, CheckBox32, CheckBox33})
        s->addWidget(b);
    g->addWidget(signals_box, 1, 0);

    auto* alarms = new QGroupBox("Будильники: ", page);
    auto* a = new QGridLayout(alarms);
    DateTimePicker3 = NewPicker(alarms, "DateTimePicker3", 9);
    CheckBox12 = NewBox(alarms, "CheckBox12", QString());
    DateTimePicker4 = NewPicker(alarms, "DateTimePicker4", 18);
    CheckBox3 = NewBox(alarms, "CheckBox3", QString());
    a->addWidget(NewLabel(alarms, "Мелодия 1:"), 0, 0);
    a->addWidget(DateTimePicker3, 0, 1);
    a->addWidget(CheckBox12, 0, 2);
    a->addWidget(NewLabel(alarms, "Мелодия 2:"), 1, 0);
    a->addWidget(DateTimePicker4, 1, 1);
    a->addWidget(CheckBox3, 1, 2);
    a->setRowStretch(2, 1);
    g->addWidget(alarms, 1, 1, Qt::AlignTop);
    EndGrid(g, 2, 2);
    return page;
}

QWidget* TForm6::BuildCorrectionTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    AddListRows(*this, kCorrectionPage, page, g);
    EndGrid(g, 3, 2);
    return page;
}

QWidget* TForm6::BuildDevicesTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    g->addWidget(NewLabel(page, "Уровни срабатывания опронтов Температуры1:"), 0, 0, 1, 2);
    AddListRows(*this, kDevicesPage, page, g);
    EndGrid(g, 3, 2);
    return page;
}

QWidget* TForm6::BuildBrightnessTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    DateTimePicker1 = NewPicker(page, "DateTimePicker1", 18);
    CheckBox1 = NewBox(page, "CheckBox1", QString());
    DateTimePicker2 = NewPicker(page, "DateTimePicker2", 9);
    CheckBox2 = NewBox(page, "CheckBox2", QString());
    g->addWidget(NewLabel(page, "Время включения пониженной яркости: "), 0, 0);
    g->addWidget(DateTimePicker1, 0, 1);
    g->addWidget(CheckBox1, 0, 2);
    g->addWidget(NewLabel(page, "Время выключения пониженной яркости: "), 1, 0);
    g->addWidget(DateTimePicker2, 1, 1);
    g->addWidget(CheckBox2, 1, 2);
    AddListRows(*this, kBrightnessPage, page, g);
    EndGrid(g, 4, 3);
    return page;
}

QWidget* TForm6::BuildTimeTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    AddListRows(*this, kTimePage, page, g);
    // The caption stands left of the box.
    CheckBox34 = NewBox(page, "CheckBox34", "Переход на летнее время: ");
    CheckBox34->setLayoutDirection(Qt::RightToLeft);
    g->addWidget(CheckBox34, 4, 0, Qt::AlignLeft);
    EndGrid(g, 5, 2);
    return page;
}

QWidget* TForm6::BuildSensorsTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    ComboBox4 = NewList(page, "ComboBox4");
    ComboBox5 = NewList(page, "ComboBox5");
    ComboBox6 = NewList(page, "ComboBox6");
    ComboBox61 = NewList(page, "ComboBox61", true);
    ComboBox62 = NewList(page, "ComboBox62", true);
    ComboBox63 = NewList(page, "ComboBox63", true);
    const struct {
        const char* Caption;
        QComboBox* Exposure;
        QComboBox* Format;
        const char* HintTail;
    } temperatures[] = {
        {"Время экспозиции Температуры 1:", ComboBox4, ComboBox61, ""},
        {"Время экспозиции Температуры 2:", ComboBox5, ComboBox62, ""},
        {"Время экспозиции Температуры 3:", ComboBox6, ComboBox63, " вкл. изм. влаж."}};
    int row = 0;
    for (const auto& t : temperatures) {
        QLabel* label = NewLabel(page, t.Caption);
        label->setToolTip(QString(kTemperatureHint) + t.HintTail);
        g->addWidget(label, row, 0);
        g->addWidget(t.Exposure, row, 1);
        g->addWidget(NewLabel(page, "Формат:"), row, 2);
        FillNumbers(t.Format, 0, 5);
        t.Format->setCurrentIndex(0);
        t.Format->setMinimumContentsLength(2);
        g->addWidget(t.Format, row, 3);
        ++row;
    }
    AddListRows(*this, kSensorsPage, page, g);
    EndGrid(g, row + 3, 4);
    return page;
}

QWidget* TForm6::BuildViewTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    AddListRows(*this, kViewPage, page, g);

    auto* extra = new QGroupBox("Дополнительные поля ", page);
    auto* e = new QGridLayout(extra);
    e->setVerticalSpacing(3);
    ComboBox43 = NewList(extra, "ComboBox43");
    ComboBox44 = NewList(extra, "ComboBox44");
    ComboBox45 = NewList(extra, "ComboBox45");
    ComboBox46 = NewList(extra, "ComboBox46");
    ComboBox47 = NewList(extra, "ComboBox47");
    ComboBox48 = NewList(extra, "ComboBox48");
    ComboBox49 = NewList(extra, "ComboBox49");
    const std::pair<const char*, QComboBox*> fields[] = {
        {"Дата", ComboBox43},          {"Температура 1", ComboBox44}, {"Температура 2", ComboBox45},
        {"Температура 3", ComboBox46}, {"Давление", ComboBox47},      {"Влажность", ComboBox48},
        {"Радиация", ComboBox49}};
    // Two columns of label + list, so the seven fit the page.
    for (int i = 0; i < 7; ++i) {
        const int r = i % 4, c = (i / 4) * 2;
        e->addWidget(NewLabel(extra, fields[i].first), r, c);
        e->addWidget(fields[i].second, r, c + 1);
    }
    g->addWidget(extra, 1, 0, 1, 3);

    const auto lists = FormatLists();
    for (int f = 0; f < kFieldFormatCount; ++f) {
        for (const std::string& item : FormatItems(f))
            lists[f]->addItem(Q(item));
        lists[f]->setCurrentIndex(0);
    }
    EndGrid(g, 2, 2);
    return page;
}

QWidget* TForm6::BuildOtherTab()
{
    auto* page = new QWidget;
    auto* g = PageGrid(page);
    g->addWidget(NewLabel(page, "Свободные регистры:"), 0, 0, 1, 2);
    AddListRows(*this, kOtherPage, page, g);
    EndGrid(g, 3, 2);
    return page;
}

void TForm6::BuildPanel()
{
    const SettingsPanel panel = BuildSettingsPanel(this);
    Panel1 = panel.Panel1;
    Image1 = panel.Image1;
    Button1 = panel.Button1;
    Button2 = panel.Button2;
    // Between the picture and the buttons, taking the room the stretch had;
    // the stretch keeps the buttons right while the line is hidden.
    LabelUnread = new QLabel(Panel1);
    LabelUnread->setObjectName("LabelUnread");
    LabelUnread->setWordWrap(true);
    LabelUnread->hide();
    auto* row = static_cast<QHBoxLayout*>(Panel1->layout());
    row->insertWidget(1, LabelUnread, 1);
    row->setStretch(2, 0);
    connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm6::reject);
}

TForm6::~TForm6()
{
    if (Form6 == this)
        Form6 = nullptr;
}

void TForm6::FormCreate()
{
    ComboBox51->clear();
    const std::string point = QLocale::system().decimalPoint().toStdString();
    for (int p = 0; p < kTimeZoneEntries; ++p)
        ComboBox51->addItem(Q(TimeZoneItem(p, point)));

    for (QComboBox* c : ByteLists()) {
        c->clear();
        for (int n = 0; n <= 255; ++n)
            c->addItem(Q(AddressItem(n)));
        Select(c, -1);
    }
    for (QComboBox* c : {ComboBox55, ComboBox56}) {
        c->clear();
        FillNumbers(c, -99, 99);
    }
    ComboBox57->clear();
    FillNumbers(ComboBox57, -59, 59);
    // Lists built in code start with nothing chosen; the showing chooses.
    for (QComboBox* c : {ComboBox51, ComboBox55, ComboBox56, ComboBox57})
        Select(c, -1);
    // A picker disabled for a pair that was no time (or was not read) comes
    // back when its box is ticked, so the operator can set that time.
    const auto pickers = Pickers();
    const auto boxes = PickerBoxes();
    for (int t = 0; t < kTimePickers; ++t)
        connect(boxes[t], &QCheckBox::toggled, pickers[t], [picker = pickers[t]](bool on) {
            if (on)
                picker->setEnabled(true);
        });
}

void TForm6::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm6::FormShow()
{
    // What this clock itself answered in its last read batch, nothing of
    // another clock's, a status block's or an earlier save's.
    target_ = Connection.TargetAddress;
    clock_ = AnsweredBy(target_);
    Stand_fields();
}

void TForm6::Stand_fields()
{
    const auto lists = ExpoLists();
    for (int i = 0; i < kExpoCount; ++i) {
        QComboBox* c = lists[i];
        const bool temperature = i >= 3 && i <= 5;
        c->clear();
        c->addItem("-");
        FillNumbers(c, 1, temperature ? 9 : 49);
    }
    SettingsView v = ReadView();
    StandFields(v, clock_);
    WriteView(v);
    shown_ = ReadView();
    const std::string unread = UnreadText(clock_);
    LabelUnread->setText(Q(unread));
    LabelUnread->setVisible(!unread.empty());
}

void TForm6::MakeRegistrs()
{
    chosen_ = ChosenRegisters(shown_, ReadView(), clock_);
}

int TForm6::CountPos(int field, int value, bool to_code)
{
    return chronavel::CountPos(field, value, to_code);
}

SettingsView TForm6::ReadView() const
{
    SettingsView v;
    const auto expo = ExpoLists();
    for (int i = 0; i < kExpoCount; ++i)
        v.Expo[i] = Position(expo[i]);
    const auto digits = FormatDigitLists();
    for (int t = 0; t < kTemperatureLists; ++t)
        v.TempFormat[t] = Position(digits[t]);
    for (const auto& [reg, list] : ByteListsByRegister())
        v.Bytes[reg] = Position(list);
    const auto master = MasterBoxes();
    const auto option = OptionBoxes();
    v.MasterEnabled = master[0]->isEnabled();
    v.OptionEnabled = option[0]->isEnabled();
    for (int b = 0; b < 8; ++b) {
        v.MasterFlags = WithFlag(v.MasterFlags, MasterFlagBits()[b].Mask, master[b]->isChecked());
        v.OptionFlags = WithFlag(v.OptionFlags, OptionFlagBits()[b].Mask, option[b]->isChecked());
    }
    const auto formats = FormatLists();
    for (int f = 0; f < kFieldFormatCount; ++f)
        v.FieldFormat[f] = Position(formats[f]);
    v.TimeZone = Position(ComboBox51);
    v.Volume = Position(ComboBox52);
    v.DimLevel = Position(ComboBox53);
    v.NormLevel = Position(ComboBox54);
    const auto pickers = Pickers();
    const auto boxes = PickerBoxes();
    for (int t = 0; t < kTimePickers; ++t) {
        const QTime time = pickers[t]->time();
        v.Times[t] = {time.hour(), time.minute(), pickers[t]->isEnabled(), boxes[t]->isChecked()};
    }
    v.UpperLevel = Position(ComboBox55);
    v.LowerLevel = Position(ComboBox56);
    v.Correction = Position(ComboBox57);
    return v;
}

void TForm6::WriteView(const SettingsView& v)
{
    const auto expo = ExpoLists();
    for (int i = 0; i < kExpoCount; ++i)
        Select(expo[i], v.Expo[i]);
    const auto digits = FormatDigitLists();
    for (int t = 0; t < kTemperatureLists; ++t)
        Select(digits[t], v.TempFormat[t]);
    for (const auto& [reg, list] : ByteListsByRegister())
        if (const auto it = v.Bytes.find(reg); it != v.Bytes.end())
            Select(list, it->second);
    const auto master = MasterBoxes();
    const auto option = OptionBoxes();
    for (int b = 0; b < 8; ++b) {
        master[b]->setChecked(HasFlag(v.MasterFlags, MasterFlagBits()[b].Mask));
        master[b]->setEnabled(v.MasterEnabled);
        option[b]->setChecked(HasFlag(v.OptionFlags, OptionFlagBits()[b].Mask));
        option[b]->setEnabled(v.OptionEnabled);
    }
    const auto formats = FormatLists();
    for (int f = 0; f < kFieldFormatCount; ++f)
        Select(formats[f], v.FieldFormat[f]);
    Select(ComboBox51, v.TimeZone);
    Select(ComboBox52, v.Volume);
    Select(ComboBox53, v.DimLevel);
    Select(ComboBox54, v.NormLevel);
    const auto pickers = Pickers();
    const auto boxes = PickerBoxes();
    for (int t = 0; t < kTimePickers; ++t) {
        pickers[t]->setTime(QTime(v.Times[t].Hour, v.Times[t].Minute));
        pickers[t]->setEnabled(v.Times[t].Enabled);
        boxes[t]->setChecked(v.Times[t].Checked);
    }
    Select(ComboBox55, v.UpperLevel);
    Select(ComboBox56, v.LowerLevel);
    Select(ComboBox57, v.Correction);
}

void TForm6::Button1Click()
{
    if (saving_)
        return;
    Host& host = CurrentHost();
    const uint8_t target = target_;
    if (const std::string why = SaveRefusal(target); !why.empty()) {
        host.ShowMessage(why);
        return; // nothing converted or sent; the operator's changes stay
    }
    MakeRegistrs();
    const SavePlan plan = PlanSave(clock_, chosen_);
    if (const std::string why = RefusalText(plan); !why.empty()) {
        host.ShowMessage(why);
        return;
    }
    if (plan.NewAddress && CensusSawClockAt(*plan.NewAddress) &&
        !host.ShowWarning("По адресу " + AddressItem(*plan.NewAddress) +
                          " на линии уже отвечали другие часы. Два табло с одним адресом "
                          "мешают друг другу. Всё равно записать новый адрес?"))
        return;
    saving_ = true;
    WriteOutcome outcome;
    try {
        RunOffWindowThread([&] { outcome = WriteSettings(target, plan); });
    } catch (const std::exception& e) {
        saving_ = false;
        host.ShowMessage(e.what());
        return;
    }
    saving_ = false;
    for (const LineNotice& told : outcome.Told)
        ShowLineNotice(told);
    if (const std::string why = OutcomeText(target, outcome); !why.empty()) {
        host.ShowMessage(why);
        return; // the window stays open with the operator's values
    }
    if (outcome.Address != target) {
        // The clock answers at its new address: the program follows it.
        Connection.TargetAddress = outcome.Address;
        if (Form5)
            Form5->SelectAddress(outcome.Address);
    }
    accept();
}

void TForm6::Button3Click() {}

void TForm6::closeEvent(QCloseEvent* event)
{
    if (saving_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm6::reject()
{
    if (!saving_)
        QDialog::reject();
}

std::array<QComboBox*, kExpoCount> TForm6::ExpoLists() const
{
    return {ComboBox1, ComboBox2, ComboBox3, ComboBox4, ComboBox5,
            ComboBox6, ComboBox7, ComboBox8, ComboBox9};
}

std::vector<std::pair<uint8_t, QComboBox*>> TForm6::ByteListsByRegister() const
{
    // The register table names each byte list's control.
    std::vector<std::pair<uint8_t, QComboBox*>> lists;
    for (uint8_t reg : ByteListRegisters())
        if (auto* c = findChild<QComboBox*>(RowOf(reg)->Controls[0]))
            lists.emplace_back(reg, c);
    return lists;
}

std::vector<QComboBox*> TForm6::ByteLists() const
{
    std::vector<QComboBox*> lists;
    for (const auto& [reg, list] : ByteListsByRegister())
        lists.push_back(list);
    return lists;
}

std::array<QComboBox*, kFieldFormatCount> TForm6::FormatLists() const
{
    return {ComboBox10, ComboBox44, ComboBox45, ComboBox46,
            ComboBox47, ComboBox48, ComboBox49, ComboBox43};
}

std::array<QComboBox*, kTemperatureLists> TForm6::FormatDigitLists() const
{
    return {ComboBox61, ComboBox62, ComboBox63};
}

std::array<QTimeEdit*, kTimePickers> TForm6::Pickers() const
{
    return {DateTimePicker1, DateTimePicker2, DateTimePicker3, DateTimePicker4};
}

std::array<QCheckBox*, kTimePickers> TForm6::PickerBoxes() const
{
    return {CheckBox1, CheckBox2, CheckBox12, CheckBox3};
}

std::array<QCheckBox*, 8> TForm6::MasterBoxes() const
{
    return {CheckBox4, CheckBox11, CheckBox10, CheckBox9,
            CheckBox8, CheckBox7,  CheckBox6,  CheckBox5};
}

std::array<QCheckBox*, 8> TForm6::OptionBoxes() const
{
    return {CheckBox29, CheckBox30, CheckBox31, CheckBox32,
            CheckBox33, CheckBox34, CheckBox35, CheckBox36};
}

} // namespace chronavel
