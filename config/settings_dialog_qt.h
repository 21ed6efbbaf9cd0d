// What the two settings windows (the remote settings and the parameters)
// share: the modal dialog with its title and dialog font, the wrapping tabs
// that fill it, and the panel at its foot with the clock picture,
// "Сохранить" and "Отмена".
#pragma once

#include "config/multiline_tabs_qt.h"

#include <QString>

class QCheckBox;
class QDialog;
class QLabel;
class QPushButton;
class QVBoxLayout;
class QWidget;

namespace chronavel {

// Names and titles the dialog, makes it modal at width x height with the
// dialog font, and fills it with the tabs (PageControl1); the returned
// column holds the tabs, the panel goes below them.
QVBoxLayout* SetUpSettingsDialog(QDialog* dialog, const char* name, const QString& title, int width,
                                 int height, MultiLineTabs*& tabs);

struct SettingsPanel {
    QWidget* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QPushButton* Button1 = nullptr; // "Сохранить"
    QPushButton* Button2 = nullptr; // "Отмена"
};

// The foot panel, 41 pixels high: the picture on the left, the two
// buttons on the right.
SettingsPanel BuildSettingsPanel(QDialog* dialog);

// A check box by its designer name.
QCheckBox* NewBox(QWidget* parent, const char* name, const QString& caption);

} // namespace chronavel
