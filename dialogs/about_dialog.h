// The About box: the program's name and version, its maker, and a link to
// the program's own documentation.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

namespace chronavel {

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);
    ~TfrmAbout() override;

    // The address the link opens (a file URL; empty when no documentation
    // was found).
    QUrl Address() const { return address_; }
    void SetAddress(const QUrl& address);

    QLabel *Label1, *Label2, *Label3, *Label4;
    QPushButton* Button1;

public slots:
    void Label3Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QUrl address_;
};

extern TfrmAbout* frmAbout;

} // namespace chronavel
