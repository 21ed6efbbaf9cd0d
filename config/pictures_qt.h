// The settings windows' own picture, drawn by the program at the size asked
// for (no icon theme needed, nothing scaled).
#pragma once

#include <QPixmap>

namespace chronavel {

// A wall clock: a round face with its hour marks and hands at ten past ten.
QPixmap ClockPicture(int size);

} // namespace chronavel
