#include "platform/ini.h"
#include "support/temp_dir.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <string>

using chronavel::platform::IniFile;
using chronavel::platform::ParseIniInteger;
namespace fs = std::filesystem;

namespace {

class IniTest : public ::testing::Test {
protected:
    void Put(const std::string& text) const { chronavel::test::PutFile(path_, text); }
    std::string Get() const { return chronavel::test::GetFile(path_); }

    chronavel::test::TempDir tmp_{"chronavel-ini"};
    const fs::path& dir_ = tmp_.path();
    const std::string path_ = (dir_ / "test.ini").string();
};

using IniRead = IniTest;
using IniWrite = IniTest;
using IniBadInput = IniTest;

TEST_F(IniRead, MissingFileGivesDefaultsAndCreatesNothing)
{
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Interface", "ComPort", "COM1"), "COM1");
    EXPECT_EQ(ini.ReadInteger("Interface", "ComSpeed", 9600), 9600);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(IniRead, MatchesSectionAndKeyIgnoringCaseAndTrimsValues)
{
    Put("[interface]\n  comport =  COM3  \nCOMSPEED=\t19200\t\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Interface", "ComPort", "COM1"), "COM3");
    EXPECT_EQ(ini.ReadInteger("INTERFACE", "ComSpeed", 9600), 19200);
}

TEST_F(IniRead, OnlyTheNamedSectionCounts)
{
    Put("ComPort=COM7\n[Other]\nComPort=COM8\n[Interface]\nComSpeed=1200\n[Later]\nComPort=COM9\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Interface", "ComPort", "COM1"), "COM1");
    EXPECT_EQ(ini.ReadString("Other", "ComPort", "COM1"), "COM8");
}

TEST_F(IniRead, FirstOfDuplicateKeysWinsAcrossRepeatedSections)
{
    Put("[Interface]\nComSpeed=1200\n[X]\n[Interface]\nComPort=COM4\nComSpeed=2400\nComPort="
        "COM5\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("Interface", "ComSpeed", 0), 1200);
    EXPECT_EQ(ini.ReadString("Interface", "ComPort", ""), "COM4");
}

TEST_F(IniRead, EmptyValueIsEmptyAndQuotesAreStripped)
{
    Put("[S]\nEmpty=\nQuoted=\" a b \"\nHalf=\"abc\nSingle='x'\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("S", "Empty", "def"), "");
    EXPECT_EQ(ini.ReadString("S", "Quoted", ""), " a b ");
    EXPECT_EQ(ini.ReadString("S", "Half", ""), "\"abc");
    EXPECT_EQ(ini.ReadString("S", "Single", ""), "x");
}

TEST_F(IniRead, CommentsBrokenHeadersAndLinesWithoutEqualsAreNotKeys)
{
    Put("[S]\n;ComPort=COM9\n#ComSpeed=1\nDelayTime\n=5\n[T\nPeriod_sinhr=2\n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("S", ";ComPort", "d"), "d");
    EXPECT_EQ(ini.ReadString("S", "ComPort", "d"), "d");
    EXPECT_EQ(ini.ReadInteger("S", "ComSpeed", 7), 7);
    EXPECT_EQ(ini.ReadInteger("S", "DelayTime", 7), 7);
    // "[T" opens no section, so the key still belongs to S.
    EXPECT_EQ(ini.ReadInteger("S", "Period_sinhr", 4), 2);
    EXPECT_EQ(ini.ReadInteger("T", "Period_sinhr", 4), 4);
}

TEST_F(IniRead, CrlfBomAndMissingFinalNewline)
{
    Put("\xEF\xBB\xBF[Interface]\r\nComPort=COM2\r\nComSpeed=4800");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Interface", "ComPort", ""), "COM2");
    EXPECT_EQ(ini.ReadInteger("Interface", "ComSpeed", 0), 4800);
}

TEST_F(IniRead, IntegersAreWholeDecimalNumbers)
{
    struct Case {
        const char* text;
        bool ok;
        int value;
    };
    const Case cases[] = {
        {"12", true, 12},
        {"  -5  ", true, -5},
        {"+7", true, 7},
        {"0", true, 0},
        {"007", true, 7},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"99999999999999999999", false, 0},
        {"12abc", false, 0},
        {"abc", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"0x10", false, 0},
        {"1e3", false, 0},
        {"1 2", false, 0},
        {"1.5", false, 0},
        {"+-3", false, 0},
        {"--3", false, 0},
        {"-", false, 0},
    };
    for (const Case& c : cases) {
        int v = -999;
        EXPECT_EQ(ParseIniInteger(c.text, v), c.ok) << '"' << c.text << '"';
        if (c.ok)
            EXPECT_EQ(v, c.value) << c.text;
        else
            EXPECT_EQ(v, -999) << c.text;
    }
    Put("[S]\nA=12abc\nB= 42 \n");
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("S", "A", 100), 100);
    EXPECT_EQ(ini.ReadInteger("S", "B", 100), 42);
}

TEST_F(IniWrite, FirstWriteCreatesTheFile)
{
    IniFile ini(path_);
    EXPECT_TRUE(ini.WriteInteger("Interface", "DelayTime", 100));
    EXPECT_EQ(Get(), "[Interface]\nDelayTime=100\n");
    EXPECT_TRUE(ini.WriteString("Interface", "ComPort", "COM3"));
    EXPECT_EQ(Get(), "[Interface]\nDelayTime=100\nComPort=COM3\n");
}

TEST_F(IniWrite, EveryWriteReachesTheFileAtOnce)
{
    IniFile a(path_);
    IniFile b(path_);
    ASSERT_TRUE(a.WriteInteger("S", "K", 1));
    EXPECT_EQ(b.ReadInteger("S", "K", 0), 1);
    ASSERT_TRUE(b.WriteInteger("S", "K", 2));
    EXPECT_EQ(a.ReadInteger("S", "K", 0), 2);
}

TEST_F(IniWrite, ReplacingAValueKeepsEveryOtherByte)
{
    const std::string before = "; settings\n"
                               "[Other]\n"
                               "DelayTime=5\n"
                               "\n"
                               "[interface]\n"
                               "  delaytime = 20   \n"
                               "DelayTime=30\n"
                               "junk line\n"
                               "\n"
                               "[Last]\n"
                               "x=y\n";
    Put(before);
    IniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("Interface", "DelayTime", 100));
    std::string expected = before;
    expected.replace(expected.find("20   "), 5, "100");
    EXPECT_EQ(Get(), expected);
}

TEST_F(IniWrite, NewKeyGoesAtTheEndOfItsSectionBeforeBlankLines)
{
    Put("[Interface]\nComPort=COM1\n\n\n[Next]\na=1\n");
    IniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("interface", "DelayTime", 100));
    EXPECT_EQ(Get(), "[Interface]\nComPort=COM1\nDelayTime=100\n\n\n[Next]\na=1\n");
}

TEST_F(IniWrite, NewKeyGoesIntoTheFirstOfRepeatedSections)
{
    Put("[S]\na=1\n[T]\n[S]\nb=2\n");
    IniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("S", "c", 3));
    EXPECT_EQ(Get(), "[S]\na=1\nc=3\n[T]\n[S]\nb=2\n");
}

TEST_F(IniWrite, DuplicateKeyWriteReplacesTheFirst)
{
    Put("[S]\nk=1\nk=2\n");
    IniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("S", "K", 9));
    EXPECT_EQ(Get(), "[S]\nk=9\nk=2\n");
    EXPECT_EQ(ini.ReadInteger("S", "k", 0), 9);
}

TEST_F(IniWrite, CrlfLineEndsAndBomAreKept)
{
    Put("\xEF\xBB\xBF[Interface]\r\nComPort=COM1\r\n[B]\r\nz=1\r\n");
    IniFile ini(path_);
    ASSERT_TRUE(ini.WriteString("Interface", "ComPort", "COM2"));
    ASSERT_TRUE(ini.WriteInteger("Interface", "DelayTime", 100));
    ASSERT_TRUE(ini.WriteInteger("New", "n", 1));
    EXPECT_EQ(Get(), "\xEF\xBB\xBF[Interface]\r\nComPort=COM2\r\nDelayTime=100\r\n"
                     "[B]\r\nz=1\r\n[New]\r\nn=1\r\n");
}

TEST_F(IniWrite, FileWithoutFinalNewline)
{
    Put("[Interface]\nComPort=COM1");
    IniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("Interface", "DelayTime", 100));
    EXPECT_EQ(Get(), "[Interface]\nComPort=COM1\nDelayTime=100");
    Put("[Interface]\nComPort=COM1");
    ASSERT_TRUE(ini.WriteString("Interface", "ComPort", "COM5"));
    EXPECT_EQ(Get(), "[Interface]\nComPort=COM5");
    Put("[A]\nx=1");
    ASSERT_TRUE(ini.WriteInteger("Interface", "DelayTime", 100));
    EXPECT_EQ(Get(), "[A]\nx=1\n[Interface]\nDelayTime=100\n");
}

TEST_F(IniWrite, EmptyFileAndBomOnlyFile)
{
    Put("");
    IniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("Interface", "DelayTime", 100));
    EXPECT_EQ(Get(), "[Interface]\nDelayTime=100\n");
    Put("\xEF\xBB\xBF");
    ASSERT_TRUE(ini.WriteInteger("Interface", "DelayTime", 100));
    EXPECT_EQ(Get(), "\xEF\xBB\xBF[Interface]\nDelayTime=100\n");
}

TEST_F(IniWrite, WhatCannotBeStoredOnOneLineIsRefusedAndChangesNothing)
{
    Put("[S]\nk=1\n");
    IniFile ini(path_);
    EXPECT_FALSE(ini.WriteString("S", "k", "a\nb"));
    EXPECT_FALSE(ini.WriteString("S", "k", "a\rb"));
    EXPECT_FALSE(ini.WriteString("S", "a=b", "1"));
    EXPECT_FALSE(ini.WriteString("S", "", "1"));
    EXPECT_FALSE(ini.WriteString("S", " k", "1"));
    EXPECT_FALSE(ini.WriteString("S", ";k", "1"));
    EXPECT_FALSE(ini.WriteString("S", "[k", "1"));
    EXPECT_FALSE(ini.WriteString("S]", "k", "1"));
    EXPECT_FALSE(ini.WriteString("", "k", "1"));
    EXPECT_FALSE(ini.WriteString("S\n[T", "k", "1"));
    // Several values go in together or not at all.
    EXPECT_FALSE(ini.WriteValues("S", {{"k", "2"}, {"j", "a\nb"}}));
    EXPECT_EQ(Get(), "[S]\nk=1\n");
    EXPECT_TRUE(ini.WriteValues("S", {{"k", "2"}, {"j", "3"}, {"k", "4"}}));
    EXPECT_EQ(Get(), "[S]\nk=4\nj=3\n");
}

TEST_F(IniWrite, LeavesNoTemporaryFilesAndKeepsPermissions)
{
    Put("[S]\nk=1\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
    IniFile ini(path_);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(ini.WriteInteger("S", "k", i));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator{}), 1);
#if !defined(_WIN32) // Windows keeps a read-only flag, not these bits
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif
}

TEST_F(IniWrite, ASymlinkedFileStaysALink)
{
    const std::string real = (dir_ / "real.ini").string();
    {
        std::ofstream out(real);
        out << "[S]\nk=1\n";
    }
    std::error_code ec;
    fs::create_symlink(real, path_, ec);
    if (ec)
        GTEST_SKIP() << "no symbolic links for this user: " << ec.message(); // Windows
    IniFile ini(path_);
    ASSERT_TRUE(ini.WriteInteger("S", "k", 2));
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(Get(), "[S]\nk=2\n");
}

TEST_F(IniWrite, WriteThatCannotReachTheFileReportsFalse)
{
    IniFile nowhere((dir_ / "missing-dir" / "x.ini").string());
    EXPECT_FALSE(nowhere.WriteInteger("S", "k", 1));
    EXPECT_EQ(nowhere.ReadInteger("S", "k", 5), 5);

    // A directory where the file should be: never read, never replaced.
    fs::create_directory(path_);
    IniFile dir(path_);
    EXPECT_EQ(dir.ReadString("S", "k", "d"), "d");
    EXPECT_FALSE(dir.WriteInteger("S", "k", 1));
    EXPECT_TRUE(fs::is_directory(path_));

    IniFile empty("");
    EXPECT_EQ(empty.ReadInteger("S", "k", 3), 3);
    EXPECT_FALSE(empty.WriteInteger("S", "k", 1));
}

TEST_F(IniWrite, ReadOnlyFileIsNotReplaced)
{
    Put("[S]\nk=1\n");
    fs::permissions(path_, fs::perms::owner_read);
    // Root writes through read-only permissions (so does Wine run as root).
    if (std::FILE* f = std::fopen(path_.c_str(), "r+b")) {
        std::fclose(f);
        GTEST_SKIP() << "this user writes through read-only permissions";
    }
    IniFile ini(path_);
    EXPECT_FALSE(ini.WriteInteger("S", "k", 2));
    EXPECT_EQ(Get(), "[S]\nk=1\n");
}

TEST_F(IniBadInput, BinaryGarbageNeverCrashesAndSurvivesAWrite)
{
    std::mt19937 gen(12345);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage)
        c = static_cast<char>(gen() & 0xFF);
    Put(garbage);
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("Interface", "DelayTime", 100), 100);
    EXPECT_EQ(ini.ReadString("Interface", "ComPort", "COM1"), "COM1");
    ASSERT_TRUE(ini.WriteInteger("Interface", "DelayTime", 77));
    const std::string after = Get();
    ASSERT_GE(after.size(), garbage.size());
    EXPECT_EQ(after.compare(0, garbage.size(), garbage), 0);
    EXPECT_EQ(ini.ReadInteger("Interface", "DelayTime", 100), 77);
}

TEST_F(IniBadInput, NulBytesAndStrayCarriageReturnsInsideLines)
{
    Put(std::string("[Interface]\nComPort=CO\0M\r1\r\nDelayTime=\0\n\r\r\nComSpeed=1200\r", 57));
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("Interface", "ComPort", ""), std::string("CO\0M\r1", 6));
    EXPECT_EQ(ini.ReadInteger("Interface", "DelayTime", 100), 100);
    EXPECT_EQ(ini.ReadInteger("Interface", "ComSpeed", 0), 1200);
}

TEST_F(IniBadInput, TenMegabyteFile)
{
    std::string big;
    big.reserve(10 * 1024 * 1024 + 100);
    big += "[Filler]\n";
    while (big.size() < 10 * 1024 * 1024)
        big += "Key" + std::to_string(big.size()) + "=some value that takes up room\n";
    big += "[Interface]\nComSpeed=57600\n";
    Put(big);
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("Interface", "ComSpeed", 9600), 57600);
    ASSERT_TRUE(ini.WriteInteger("Interface", "DelayTime", 100));
    EXPECT_EQ(Get(), big + "DelayTime=100\n");

    // One endless line with no newline at all.
    Put(std::string(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(ini.ReadInteger("Interface", "ComSpeed", 9600), 9600);
    ASSERT_TRUE(ini.WriteInteger("Interface", "ComSpeed", 1));
    EXPECT_EQ(Get().size(), 10u * 1024 * 1024 + std::string("\n[Interface]\nComSpeed=1\n").size());
}

} // namespace
