// The Win32 serial device's reasons for an open that failed: a COM port
// opens for one handle at a time, so "access denied" there means in use.
#include "platform/serial.h"
#include "platform/utf16_win32.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace chronavel::platform {
namespace {

TEST(OpenCauseWin32, SystemErrorsByCause)
{
    const std::vector<std::pair<DWORD, OpenCause>> cases = {
        {ERROR_SUCCESS, OpenCause::kNone},           {ERROR_ACCESS_DENIED, OpenCause::kBusy},
        {ERROR_SHARING_VIOLATION, OpenCause::kBusy}, {ERROR_FILE_NOT_FOUND, OpenCause::kAbsent},
        {ERROR_PATH_NOT_FOUND, OpenCause::kAbsent},  {ERROR_GEN_FAILURE, OpenCause::kOther},
    };
    for (const auto& [code, cause] : cases)
        EXPECT_EQ(OpenCauseOf(static_cast<int>(code)), cause) << code;
}

// Real opens: a port that is not there, and a device held without sharing
// by another handle (a file stands in for the port: Wine does not keep a
// COM port to one handle, Windows does).
TEST(OpenCauseWin32, WhatTheSystemAnswers)
{
    OpenStatus status = OpenStatus::kOk;
    OpenFailure failure;
    EXPECT_FALSE(OpenSerial(SerialDevicePath("COM42"), 9600, status, &failure));
    EXPECT_EQ(status, OpenStatus::kOpenFailed);
    EXPECT_EQ(failure.cause, OpenCause::kAbsent) << failure.code << " " << failure.system_text;

    wchar_t dir[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, dir), 0u);
    const std::wstring path = std::wstring(dir) + L"chronavel-held-port";
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    failure = {};
    EXPECT_FALSE(OpenSerial(Utf8FromWide(path), 9600, status, &failure));
    EXPECT_EQ(failure.cause, OpenCause::kBusy) << failure.code << " " << failure.system_text;
    EXPECT_FALSE(failure.system_text.empty());
    CloseHandle(held);
    DeleteFileW(path.c_str());
}

} // namespace
} // namespace chronavel::platform
