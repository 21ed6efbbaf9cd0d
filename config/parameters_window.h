// The parameters window: program options on three tabs. Only its port list
// is live; the other controls keep what the operator typed for the run.
#pragma once

#include "config/multiline_tabs_qt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace chronavel {

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    // Refills the port list (on every showing and on the refresh button).
    void FormActivate();

    MultiLineTabs* PageControl1;
    QWidget* Panel1;
    QLabel* Image1;
    QPushButton *Button1, *Button2, *Button3;
    QToolButton *SpeedButton1, *SpeedButton2;
    QComboBox *ComboBox10, *ComboBox11;
    QCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4, *CheckBox5, *CheckBox6, *CheckBox7,
        *CheckBox8, *CheckBox9, *CheckBox10, *CheckBox11, *CheckBox12, *CheckBox13, *CheckBox14;
    QLineEdit *Edit1, *Edit2, *Edit3, *Edit4, *Edit5, *Edit6;

public slots:
    void SpeedButton2Click();

protected:
    void showEvent(QShowEvent* event) override;
};

extern TForm3* Form3;

} // namespace chronavel
