// The remote settings window: the clock's configuration on ten tabs, read
// from the settings variables when shown and written back on "Сохранить".
#pragma once

#include "config/multiline_tabs_qt.h"
#include "config/settings_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimeEdit>
#include <QWidget>
#include <array>
#include <utility>
#include <vector>

namespace chronavel {

class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);
    ~TForm6() override;

    void FormCreate();
    void FormShow();
    void Stand_fields();
    void MakeRegistrs();
    static int CountPos(int field, int value, bool to_code);

    // The controls as the window's logic sees them, and back.
    SettingsView ReadView() const;
    void WriteView(const SettingsView& v);

    // Tab pages, in order.
    MultiLineTabs* PageControl1;
    QWidget* Panel1;
    QLabel* Image1;
    QLabel* LabelUnread;  // which settings the clock did not answer; hidden when none
    QPushButton* Button1; // "Сохранить"
    QPushButton* Button2; // "Отмена"
    QPushButton* Button3; // "Мастер..."

    QComboBox *ComboBox1, *ComboBox2, *ComboBox3, *ComboBox4, *ComboBox5, *ComboBox6, *ComboBox7,
        *ComboBox8, *ComboBox9, *ComboBox10, *ComboBox11, *ComboBox13, *ComboBox14, *ComboBox43,
        *ComboBox44, *ComboBox45, *ComboBox46, *ComboBox47, *ComboBox48, *ComboBox49, *ComboBox50,
        *ComboBox51, *ComboBox52, *ComboBox53, *ComboBox54, *ComboBox55, *ComboBox56, *ComboBox57,
        *ComboBox58, *ComboBox60, *ComboBox61, *ComboBox62, *ComboBox63;
    QCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4, *CheckBox5, *CheckBox6, *CheckBox7,
        *CheckBox8, *CheckBox9, *CheckBox10, *CheckBox11, *CheckBox12, *CheckBox29, *CheckBox30,
        *CheckBox31, *CheckBox32, *CheckBox33, *CheckBox34, *CheckBox35, *CheckBox36;
    QTimeEdit *DateTimePicker1, *DateTimePicker2, *DateTimePicker3, *DateTimePicker4;

public slots:
    void Button1Click();
    void Button3Click();
    // "Отмена" and the close box; refused while a save runs.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* BuildMainTab();
    QWidget* BuildModeTab();
    QWidget* BuildSignalsTab();
    QWidget* BuildCorrectionTab();
    QWidget* BuildDevicesTab();
    QWidget* BuildBrightnessTab();
    QWidget* BuildTimeTab();
    QWidget* BuildSensorsTab();
    QWidget* BuildViewTab();
    QWidget* BuildOtherTab();
    void BuildPanel();

    // The byte lists ("$00/0" .. "$FF/255") with their registers, found by
    // the names the register table gives them.
    std::vector<std::pair<uint8_t, QComboBox*>> ByteListsByRegister() const;
    std::vector<QComboBox*> ByteLists() const;
    // ComboBox1..ComboBox9, the exposure lists found by number.
    std::array<QComboBox*, kExpoCount> ExpoLists() const;
    // The format lists by field number.
    std::array<QComboBox*, kFieldFormatCount> FormatLists() const;
    std::array<QComboBox*, kTemperatureLists> FormatDigitLists() const;
    std::array<QTimeEdit*, kTimePickers> Pickers() const;
    std::array<QCheckBox*, kTimePickers> PickerBoxes() const;
    // The eight check boxes of each flag register, bit 7 first.
    std::array<QCheckBox*, 8> MasterBoxes() const;
    std::array<QCheckBox*, 8> OptionBoxes() const;

    bool saving_ = false;
    // The target as the window was shown, what it answered, and the
    // controls as shown: a save writes what the operator changed over it.
    uint8_t target_ = 0xFF;
    RegisterValues clock_;
    RegisterValues chosen_;
    SettingsView shown_;
};

extern TForm6* Form6;

} // namespace chronavel
