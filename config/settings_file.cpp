#include "config/settings_file.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

namespace chronavel {

namespace {

// A JSON value as far as the settings need it: an integer, a string, a
// list, or anything else.
struct JsonValue {
    enum Type { kInteger, kString, kList, kOther } Kind = kOther;
    long long Integer = 0;
    std::string Text;
    std::vector<JsonValue> Items;
    std::map<std::string, JsonValue> Members; // an object's, last of a name wins
    bool IsObject = false;
};

// A strict reader of one JSON text; nullopt when the text is no JSON.
class JsonReader {
public:
    explicit JsonReader(const std::string& text) : s_(text) {}

    std::optional<JsonValue> Whole()
    {
        JsonValue v;
        if (!Value(v, 0))
            return std::nullopt;
        Blanks();
        if (at_ != s_.size())
            return std::nullopt;
        return v;
    }

private:
    static constexpr int kDeepest = 256;

    void Blanks()
    {
        while (at_ < s_.size() &&
               (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r'))
            ++at_;
    }

    bool Take(char c)
    {
        Blanks();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool Word(const char* w)
    {
        const std::string word(w);
        if (s_.compare(at_, word.size(), word) != 0)
            return false;
        at_ += word.size();
        return true;
    }

    static void PutUtf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool Hex4(unsigned& cp)
    {
        if (at_ + 4 > s_.size())
            return false;
        cp = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s_[at_++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0)
                return false;
            cp = cp * 16 + static_cast<unsigned>(d);
        }
        return true;
    }

    bool String(std::string& out)
    {
        if (!Take('"'))
            return false;
        while (at_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[at_++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return false;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= s_.size())
                return false;
            const char e = s_[at_++];
            const char* plain = "\"\\/bfnrt";
            const char* meant = "\"\\/\b\f\n\r\t";
            if (const char* p = std::char_traits<char>::find(plain, 8, e)) {
                out += meant[p - plain];
                continue;
            }
            unsigned cp = 0;
            if (e != 'u' || !Hex4(cp))
                return false;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                unsigned low = 0;
                if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                return false;
            }
            PutUtf8(out, cp);
        }
        return false;
    }

    bool Number(JsonValue& v)
    {
        const size_t from = at_;
        if (at_ < s_.size() && s_[at_] == '-')
            ++at_;
        const auto digits = [&] {
            const size_t d = at_;
            while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9')
                ++at_;
            return at_ - d;
        };
        const size_t first = at_;
        const size_t whole = digits();
        if (whole == 0 || (whole > 1 && s_[first] == '0'))
            return false;
        bool integer = true;
        if (at_ < s_.size() && s_[at_] == '.') {
            ++at_;
            integer = false;
            if (digits() == 0)
                return false;
        }
        if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
            ++at_;
            integer = false;
            if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-'))
                ++at_;
            if (digits() == 0)
                return false;
        }
        if (integer) {
            errno = 0;
            const long long n = std::strtoll(s_.c_str() + from, nullptr, 10);
            if (errno != ERANGE) {
                v.Kind = JsonValue::kInteger;
                v.Integer = n;
            }
        }
        return true;
    }

    bool Value(JsonValue& v, int depth)
    {
        if (depth > kDeepest)
            return false;
        Blanks();
        if (at_ >= s_.size())
            return false;
        const char c = s_[at_];
        if (c == '{') {
            ++at_;
            v.IsObject = true;
            if (Take('}'))
                return true;
            do {
                std::string name;
                JsonValue member;
                if (!String(name) || !Take(':') || !Value(member, depth + 1))
                    return false;
                v.Members[name] = std::move(member);
            } while (Take(','));
            return Take('}');
        }
        if (c == '[') {
            ++at_;
            v.Kind = JsonValue::kList;
            if (Take(']'))
                return true;
            do {
                JsonValue item;
                if (!Value(item, depth + 1))
                    return false;
                v.Items.push_back(std::move(item));
            } while (Take(','));
            return Take(']');
        }
        if (c == '"') {
            v.Kind = JsonValue::kString;
            return String(v.Text);
        }
        if (c == '-' || (c >= '0' && c <= '9'))
            return Number(v);
        return Word("true") || Word("false") || Word("null");
    }

    const std::string& s_;
    size_t at_ = 0;
};

std::optional<std::string> FromJsonText(const std::string& text, RegisterValues& out)
{
    const std::optional<JsonValue> j = JsonReader(text).Whole();
    if (!j)
        return std::nullopt;
    if (!j->IsObject)
        return "not a JSON object";
    for (const auto& [name, v] : j->Members) {
        std::string why;
        if (v.Kind == JsonValue::kList) {
            std::vector<long long> list;
            for (const JsonValue& e : v.Items)
                list.push_back(e.Kind == JsonValue::kInteger ? e.Integer : -1);
            why = SetNamedList(out, name, list);
        } else if (v.Kind == JsonValue::kInteger) {
            why = SetNamedNumber(out, name, v.Integer);
        } else if (v.Kind == JsonValue::kString) {
            why = SetNamedTime(out, name, v.Text);
        } else {
            why = name + ": not a number, list or time";
        }
        if (!why.empty())
            return why;
    }
    return std::string();
}

} // namespace

std::string SettingsFromJsonText(const std::string& text, RegisterValues& out)
{
    return FromJsonText(text, out).value_or("not valid JSON");
}

std::string ReadWholeFile(const std::string& path, std::string& text)
{
    // UTF-8 name, wide on Windows (as platform/utf8_path.h, which this
    // layer does not include); one that is no UTF-8 cannot be read.
    std::ifstream in;
    try {
        in.open(std::filesystem::path(std::u8string(path.begin(), path.end())));
    } catch (const std::exception&) {
    }
    if (!in.is_open())
        return path + ": cannot be read";
    std::stringstream whole;
    whole << in.rdbuf();
    text = whole.str();
    return {};
}

std::string LoadSettingsFile(const std::string& path, RegisterValues& out,
                             const std::string& not_json)
{
    std::string text;
    if (std::string why = ReadWholeFile(path, text); !why.empty())
        return why;
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && text[first] == '{') {
        const std::string why = FromJsonText(text, out).value_or(not_json);
        return why.empty() ? why : path + ": " + why;
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find_first_not_of(" \t\r");
        if (at == std::string::npos || line[at] == '#')
            continue;
        if (const std::string why = SetRegisterLine(out, line); !why.empty())
            return path + ": " + why;
    }
    return {};
}

} // namespace chronavel
