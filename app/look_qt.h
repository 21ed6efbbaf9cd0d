// Fonts and pictures of the windows. The designer's fonts are Windows
// fonts; where they are missing a bold sans with Cyrillic stands in, so the
// digits keep their weight and fit the window.
#pragma once

#include <QFont>
#include <QIcon>
#include <QString>

namespace chronavel {

// The family if the machine has it, else "DejaVu Sans", else the default
// sans-serif; sized in pixels.
QFont WindowFont(const QString& family, int pixel_size, bool bold);
// The same sized in points (the grid's 20-point captions).
QFont WindowPointFont(const QString& family, int point_size, bool bold);
// The dialogs' small font (the designer's 11-pixel MS Sans Serif).
QFont DialogFont(bool underline = false);

// Makes the fonts built into the program (resource folder ":/fonts", the
// Windows executable's DejaVu Sans) known to the font database, so the
// stand-in is there on a Windows without it. Nothing where none are built in.
// Returns how many font files were taken.
int AddBundledFonts();

// The family WindowFont settles on for a wanted family.
QString FontFamilyFor(const QString& family);

// Our own small pictures for the flat buttons, drawn at the size asked for.
QIcon RefreshIcon(int size);     // the port list's refresh button
QIcon ConnectIcon(int w, int h); // "Подключить"

} // namespace chronavel
