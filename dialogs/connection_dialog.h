// The connection dialog: the serial port, the line speed and the clock to
// talk to; "Подключить" opens the port and starts the exchange thread.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <cstdint>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QToolButton;

// A group box of radio items, told apart by position.
class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent);
    int ItemIndex() const; // -1 when none is selected
    void SetItemIndex(int index);
    QRadioButton* Item(int index) const;
    int Count() const { return static_cast<int>(items_.size()); }

signals:
    void Clicked();

private:
    QList<QRadioButton*> items_;
};

class TForm5 : public QDialog {
    Q_OBJECT

public:
    explicit TForm5(QWidget* parent = nullptr);
    ~TForm5() override;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label11 = nullptr;
    QComboBox* ComboBox10 = nullptr;     // the port list
    QToolButton* SpeedButton2 = nullptr; // refreshes the port list
    QLabel* Label12 = nullptr;
    QComboBox* ComboBox11 = nullptr;     // the speed, editable
    TRadioGroup* RadioGroup1 = nullptr;  // "Всем" / "Адрес > . . ."
    QComboBox* ComboBox50 = nullptr;     // the 256 addresses, editable
    QPushButton* SpeedButton1 = nullptr; // "Подключить", flat
    QGroupBox* GroupBox2 = nullptr;      // hidden "Табло: "
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox51 = nullptr;
    QPushButton* Button3 = nullptr; // hidden "Мастер..."
    QComboBox* ComboBox9 = nullptr; // "$0", no role

    void FormCreate();
    void FormActivate();
    void SpeedButton2Click();
    void RadioGroup1Click();
    void SpeedButton1Click();
    void Button3Click();

    // The position of the chosen address entry: the entry whose text the
    // box holds, -1 when it holds none of them.
    int AddressIndex() const;
    // "Адрес >" with the entry of addr chosen: the target has moved there.
    void SelectAddress(uint8_t addr);

protected:
    void showEvent(QShowEvent* event) override;
};

extern TForm5* Form5;
