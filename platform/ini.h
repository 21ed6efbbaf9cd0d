// Private-profile INI access on a named file: read a string or an integer
// with a default, write a string or an integer straight to the file.
//
// There is no cache: every read looks at the file as it is now, and every
// write reads the file, changes its lines, and puts the whole file back
// through a temporary file on disk and a rename, so a crash or a power cut
// never leaves half a file. Sections and keys match case-insensitively (ASCII). Every other
// line (sections, keys, comments, blank lines, lines that are none of
// these) is kept byte for byte and in its order, as are the line ends
// (CRLF or LF) and a UTF-8 byte-order mark.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace chronavel::platform {

class IniFile {
public:
    explicit IniFile(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }

    // The value of the first key of that name in the first section of that
    // name that has it, without surrounding blanks and one pair of matching
    // surrounding quotes. A key present with an empty value gives "". No
    // file, no section, no such key: the default.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;

    // The value read as a decimal integer: optional blanks, an optional
    // sign, digits, optional blanks, within the range of int. Anything else
    // ("12abc", "0x10", "", "1e3", out of range) gives the default.
    int ReadInteger(std::string_view section, std::string_view key, int def) const;

    // Replaces the value of the first matching key, or adds the key at the
    // end of the first matching section, or adds the section at the end of
    // the file; creates the file when it does not exist (its directory must
    // exist). False when nothing was written: the file could not be read or
    // written, or the section, key or value cannot be stored on one line
    // (line breaks; a "=", leading or trailing blanks, or a leading "[",
    // ";" or "#" in the key; a "]" in the section; an empty section or key).
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    bool WriteInteger(std::string_view section, std::string_view key, int value);
    // Several values of one section in one rewrite of the file, all or
    // none.
    bool WriteValues(std::string_view section,
                     const std::vector<std::pair<std::string, std::string>>& values);

private:
    std::string path_;
};

// The parsing behind ReadInteger, for callers that hold a value already.
bool ParseIniInteger(std::string_view text, int& out);

} // namespace chronavel::platform
