// <windows.h> as every *_win32 file takes it: without the rarely used APIs,
// and without the min/max macros that would break std::min and std::max.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX // libstdc++ may have defined it already
#define NOMINMAX
#endif
#include <windows.h>
