// The services' folder as SecureFolder leaves it, read back with the
// system's own security calls, whether the folder was new or a user had
// made it (and a file in it) with rights for everyone first: nobody but
// SYSTEM, the Administrators and the owner may write. Where the system
// keeps the descriptor as given (Windows) it is checked whole: owned by the
// Administrators, SYSTEM and the Administrators with full control, the
// users reading only, nothing taken from above. Wine keeps only what Unix
// modes hold (its owner is the Unix user's, its rights are remade from the
// modes, never protected): there the writers are what is checked. A hard
// link planted there, which would pass the rights on to a file elsewhere,
// and a file in the folder's place are refused.
#include "platform/utf16_win32.h"
#include "platform/win_service.h"
#include "support/temp_dir.h"

#include <aclapi.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <ostream>
#include <sddl.h>
#include <string>
#include <vector>

namespace chronavel::platform {
namespace {

struct Ace {
    std::string who; // SDDL alias
    DWORD mask;
    BYTE flags;
    bool operator==(const Ace&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Ace& a)
    {
        return out << a.who << " " << std::hex << a.mask << " flags " << int(a.flags) << std::dec;
    }
};

std::string Alias(PSID sid, PSID owner)
{
    for (const auto& [alias, type] :
         {std::pair{"SY", WinLocalSystemSid}, std::pair{"BA", WinBuiltinAdministratorsSid},
          std::pair{"BU", WinBuiltinUsersSid}, std::pair{"WD", WinWorldSid}})
        if (IsWellKnownSid(sid, type))
            return alias;
    return owner && EqualSid(sid, owner) ? "owner" : "other";
}

struct Rights {
    std::string owner;
    bool is_protected = false;
    std::vector<Ace> aces;
};

Rights Read(const std::filesystem::path& path)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    Rights r;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                              OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                              nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS) {
        r.owner = "unreadable";
        return r;
    }
    r.owner = Alias(owner, nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    r.is_protected = (control & SE_DACL_PROTECTED) != 0;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        GetAce(dacl, i, reinterpret_cast<void**>(&header));
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            r.aces.push_back({"not allowed", 0, header->AceType});
            continue;
        }
        auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
        r.aces.push_back({Alias(&ace->SidStart, owner), ace->Mask, header->AceFlags});
    }
    LocalFree(sd);
    return r;
}

// A folder and a file in it as a user might have made them first:
// everyone may do anything.
void OpenToEveryone(const std::filesystem::path& path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    EXPECT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, dacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(sd);
}

TEST(SecureFolder, OnlySystemAndAdministratorsWrite)
{
    constexpr DWORD kFull = FILE_ALL_ACCESS, kRead = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    constexpr BYTE kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    // Any right to change what is there, its rights or its owner.
    constexpr DWORD kWrite = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                             FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC |
                             WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    const std::vector<Ace> folder_aces = {
        {"SY", kFull, kInherit}, {"BA", kFull, kInherit}, {"BU", kRead, kInherit}};
    const std::vector<Ace> entry_aces = {{"SY", kFull, 0}, {"BA", kFull, 0}, {"BU", kRead, 0}};
    test::TempDir base;
    for (const bool made_first : {false, true}) {
        // A Cyrillic name on the way, as a school's folder may have.
        const auto dir = base.path() / (made_first ? L"занята" : L"новая");
        const auto lock = dir / L"chronavel-sync-COM3.json.lock";
        if (made_first) {
            std::filesystem::create_directory(dir);
            std::ofstream(lock) << "held";
            OpenToEveryone(dir);
            OpenToEveryone(lock);
        }
        const std::string utf8 = Utf8FromWide(dir.wstring());
        ASSERT_EQ(SecureFolder(utf8), "") << made_first;
        for (const auto& [path, aces] :
             {std::pair{dir, folder_aces}, std::pair{lock, entry_aces}}) {
            if (!made_first && path == lock)
                continue;
            const Rights r = Read(path);
            int writers = 0;
            for (const Ace& a : r.aces) {
                if ((a.mask & kWrite) == 0)
                    continue;
                ++writers;
                EXPECT_TRUE(a.who == "SY" || a.who == "BA" || a.who == "owner")
                    << path << ": " << a;
            }
            EXPECT_GT(writers, 0) << path;
            if (r.is_protected) {
                EXPECT_EQ(r.owner, "BA") << path;
                EXPECT_EQ(r.aces, aces) << path;
            }
        }
        // Again over its own rights: nothing to change, no error.
        EXPECT_EQ(SecureFolder(utf8), "");
    }
    // A second name planted for a file elsewhere would hand that file the
    // folder's rights: it is refused, named, and the file left as it was.
    const auto outside = base.path() / L"чужой.txt";
    std::ofstream(outside) << "x";
    OpenToEveryone(outside);
    const auto planted = base.path() / L"занята" / L"history.jsonl";
    ASSERT_TRUE(CreateHardLinkW(planted.c_str(), outside.c_str(), nullptr));
    const std::string why = SecureFolder(Utf8FromWide((base.path() / L"занята").wstring()));
    EXPECT_NE(why.find("history.jsonl"), std::string::npos) << why;
    bool everyone_writes = false;
    for (const Ace& a : Read(outside).aces)
        everyone_writes = everyone_writes || (a.who == "WD" && (a.mask & FILE_WRITE_DATA));
    EXPECT_TRUE(everyone_writes);
    // A file where the folder should be is not taken for it.
    const auto file = base.path() / L"файл";
    std::ofstream(file) << "x";
    EXPECT_NE(SecureFolder(Utf8FromWide(file.wstring())), "");
}

} // namespace
} // namespace chronavel::platform
