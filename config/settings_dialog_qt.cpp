#include "config/settings_dialog_qt.h"

#include "app/look_qt.h"
#include "config/pictures_qt.h"

#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace chronavel {

namespace {

constexpr int kPanelHeight = 41;

} // namespace

QVBoxLayout* SetUpSettingsDialog(QDialog* dialog, const char* name, const QString& title, int width,
                                 int height, MultiLineTabs*& tabs)
{
    dialog->setObjectName(name);
    dialog->setWindowTitle(title);
    dialog->setModal(true);
    dialog->setFont(DialogFont());
    dialog->resize(width, height);

    auto* outer = new QVBoxLayout(dialog);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    tabs = new MultiLineTabs(dialog);
    tabs->setObjectName("PageControl1");
    outer->addWidget(tabs, 1);
    return outer;
}

SettingsPanel BuildSettingsPanel(QDialog* dialog)
{
    SettingsPanel p;
    p.Panel1 = new QWidget(dialog);
    p.Panel1->setObjectName("Panel1");
    p.Panel1->setFixedHeight(kPanelHeight);
    auto* row = new QHBoxLayout(p.Panel1);
    row->setContentsMargins(6, 4, 8, 4);
    p.Image1 = new QLabel(p.Panel1);
    p.Image1->setObjectName("Image1");
    p.Image1->setFixedSize(32, 32);
    p.Image1->setPixmap(ClockPicture(32));
    row->addWidget(p.Image1);
    row->addStretch(1);
    p.Button1 = new QPushButton("Сохранить", p.Panel1);
    p.Button1->setObjectName("Button1");
    p.Button2 = new QPushButton("Отмена", p.Panel1);
    p.Button2->setObjectName("Button2");
    row->addWidget(p.Button1);
    row->addWidget(p.Button2);
    return p;
}

QCheckBox* NewBox(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QCheckBox(caption, parent);
    b->setObjectName(name);
    return b;
}

} // namespace chronavel
