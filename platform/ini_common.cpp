#include "platform/atomic_file.h"
#include "platform/ini.h"
#include "platform/utf8_path.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace chronavel::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

enum class Kind { kBlank, kOther, kSection, kKey };

struct Line {
    size_t end = 0;  // one past the content, before "\r\n" or "\n"
    size_t next = 0; // first byte of the next line
    Kind kind = Kind::kOther;
    std::string_view name;  // section name or key, trimmed
    size_t value_begin = 0; // keys: first byte after the "="
};

struct Parsed {
    std::vector<Line> lines;
    std::string newline = "\n"; // the file's own line end, for lines we add
};

Line Classify(std::string_view text, size_t begin, size_t end, size_t next)
{
    Line line{end, next, Kind::kOther, {}, 0};
    const std::string_view content = text.substr(begin, end - begin);
    const std::string_view s = Trim(content);
    if (s.empty()) {
        line.kind = Kind::kBlank;
        return line;
    }
    if (s.front() == '[') {
        // A header without its "]" is kept but opens no section.
        const auto close = s.rfind(']');
        if (close != std::string_view::npos) {
            line.kind = Kind::kSection;
            line.name = Trim(s.substr(1, close - 1));
        }
        return line;
    }
    if (s.front() == ';' || s.front() == '#')
        return line;
    const auto eq = content.find('=');
    if (eq == std::string_view::npos)
        return line; // a key without "=" has no value to read or replace
    const std::string_view key = Trim(content.substr(0, eq));
    if (key.empty())
        return line;
    line.kind = Kind::kKey;
    line.name = key;
    line.value_begin = begin + eq + 1;
    return line;
}

Parsed Parse(std::string_view text)
{
    Parsed p;
    bool newline_seen = false;
    size_t pos = text.substr(0, kBom.size()) == kBom ? kBom.size() : 0;
    while (pos < text.size()) {
        const auto nl = text.find('\n', pos);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        const size_t next = nl == std::string_view::npos ? text.size() : nl + 1;
        const bool crlf = nl != std::string_view::npos && end > pos && text[end - 1] == '\r';
        if (crlf)
            --end;
        if (nl != std::string_view::npos && !newline_seen) {
            p.newline = crlf ? "\r\n" : "\n";
            newline_seen = true;
        }
        p.lines.push_back(Classify(text, pos, end, next));
        pos = next;
    }
    return p;
}

// Index of the first key line named key inside a section named section, or
// -1. Sections of the same name are searched in file order, as one.
long FindKey(const Parsed& p, std::string_view section, std::string_view key)
{
    bool inside = false;
    for (size_t i = 0; i < p.lines.size(); ++i) {
        const Line& l = p.lines[i];
        if (l.kind == Kind::kSection)
            inside = SameName(l.name, section);
        else if (inside && l.kind == Kind::kKey && SameName(l.name, key))
            return static_cast<long>(i);
    }
    return -1;
}

long FindSection(const Parsed& p, std::string_view section)
{
    for (size_t i = 0; i < p.lines.size(); ++i) {
        if (p.lines[i].kind == Kind::kSection && SameName(p.lines[i].name, section))
            return static_cast<long>(i);
    }
    return -1;
}

enum class Load { kOk, kMissing, kFailed };

Load LoadFile(const std::string& path, std::string& text)
{
    text.clear();
    if (path.empty())
        return Load::kFailed;
    std::error_code ec;
    const fs::path file = PathFromUtf8(path);
    const auto st = fs::status(file, ec);
    if (st.type() == fs::file_type::not_found)
        return Load::kMissing;
    // Directories, devices and pipes are never read: a pipe would block.
    if (ec || st.type() != fs::file_type::regular)
        return Load::kFailed;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return Load::kFailed;
    const auto size = fs::file_size(file, ec);
    if (ec)
        return Load::kFailed;
    text.resize(static_cast<size_t>(size));
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    // The file may have shrunk since its size was taken.
    text.resize(static_cast<size_t>(in.gcount()));
    if (in.bad())
        return Load::kFailed;
    return Load::kOk;
}

// The value of the key, trimmed and without one pair of matching quotes;
// false when the file, the section or the key is not there.
bool Lookup(const std::string& path, std::string_view section, std::string_view key,
            std::string& value)
{
    std::string text;
    if (LoadFile(path, text) != Load::kOk)
        return false;
    const Parsed p = Parse(text);
    const long i = FindKey(p, section, key);
    if (i < 0)
        return false;
    const Line& l = p.lines[static_cast<size_t>(i)];
    std::string_view v = Trim(std::string_view(text).substr(l.value_begin, l.end - l.value_begin));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    value.assign(v);
    return true;
}

// Puts text in place of path in one step, on disk (see atomic_file.h). A
// symlink is followed so that the link itself survives.
bool StoreFile(const std::string& path, const std::string& text, bool existed)
{
    std::error_code ec;
    std::string target = path;
    if (fs::is_symlink(PathFromUtf8(path), ec)) {
        const auto real = fs::canonical(PathFromUtf8(path), ec);
        if (ec)
            return false;
        target = Utf8FromPath(real);
    }
    if (existed) {
        // The rename would replace a read-only file; respect its flag
        // instead, as writing into it would.
        std::FILE* probe = OpenFile(target, "r+b");
        if (!probe)
            return false;
        std::fclose(probe);
    }
    return WriteFileAtomically(target, text).empty();
}

bool HasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool StorableSection(std::string_view s)
{
    return !s.empty() && Trim(s) == s && !HasLineBreak(s) && s.find(']') == std::string_view::npos;
}

bool StorableKey(std::string_view k)
{
    return !k.empty() && Trim(k) == k && !HasLineBreak(k) &&
           k.find('=') == std::string_view::npos && k.front() != '[' && k.front() != ';' &&
           k.front() != '#';
}

} // namespace

bool ParseIniInteger(std::string_view text, int& out)
{
    std::string_view s = Trim(text);
    if (!s.empty() && s.front() == '+') {
        s.remove_prefix(1);
        if (!s.empty() && s.front() == '-')
            return false;
    }
    if (s.empty())
        return false;
    int value = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
    if (ec != std::errc{} || ptr != s.data() + s.size())
        return false;
    out = value;
    return true;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view def) const
{
    std::string value;
    return Lookup(path_, section, key, value) ? value : std::string(def);
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int def) const
{
    std::string text;
    int value = def;
    if (Lookup(path_, section, key, text) && ParseIniInteger(text, value))
        return value;
    return def;
}

namespace {

// The text with the key set to value, by the rules WriteString gives.
std::string WithValue(const std::string& text, std::string_view section, std::string_view key,
                      std::string_view value)
{
    const Parsed p = Parse(text);
    const std::string entry = std::string(key) + "=" + std::string(value);

    std::string out;
    out.reserve(text.size() + entry.size() + section.size() + 8);
    if (const long k = FindKey(p, section, key); k >= 0) {
        const Line& l = p.lines[static_cast<size_t>(k)];
        // Keep the key as written and any blanks after the "=".
        size_t keep = l.value_begin;
        while (keep < l.end && (text[keep] == ' ' || text[keep] == '\t'))
            ++keep;
        out.append(text, 0, keep);
        out.append(value);
        out.append(text, l.end, std::string::npos);
    } else if (const long s = FindSection(p, section); s >= 0) {
        // After the section's last non-blank line, so blank lines that part
        // it from the next section stay where they are.
        size_t last = static_cast<size_t>(s);
        for (size_t i = last + 1; i < p.lines.size() && p.lines[i].kind != Kind::kSection; ++i) {
            if (p.lines[i].kind != Kind::kBlank)
                last = i;
        }
        const Line& l = p.lines[last];
        out.append(text, 0, l.next);
        if (l.next == l.end) // the last line of a file without a final newline
            out.append(p.newline).append(entry);
        else
            out.append(entry).append(p.newline);
        out.append(text, l.next, std::string::npos);
    } else {
        out = text;
        if (!out.empty() && out.back() != '\n' && out != kBom)
            out.append(p.newline);
        out.append("[").append(section).append("]").append(p.newline);
        out.append(entry).append(p.newline);
    }
    return out;
}

} // namespace

bool IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    return WriteValues(section, {{std::string(key), std::string(value)}});
}

bool IniFile::WriteValues(std::string_view section,
                          const std::vector<std::pair<std::string, std::string>>& values)
{
    if (!StorableSection(section))
        return false;
    for (const auto& [key, value] : values)
        if (!StorableKey(key) || HasLineBreak(value))
            return false;
    std::string text;
    const Load state = LoadFile(path_, text);
    if (state == Load::kFailed)
        return false; // never replace a file we could not read
    for (const auto& [key, value] : values)
        text = WithValue(text, section, key, value);
    return StoreFile(path_, text, state == Load::kOk);
}

bool IniFile::WriteInteger(std::string_view section, std::string_view key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

} // namespace chronavel::platform
