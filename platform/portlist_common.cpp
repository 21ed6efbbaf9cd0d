#include "platform/portlist.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace chronavel::platform {

const PortInfo* FindByStableName(const std::vector<PortInfo>& ports, const std::string& name)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (const PortInfo& p : ports)
        if (!p.stable.empty() && p.stable.size() == name.size() &&
            std::equal(name.begin(), name.end(), p.stable.begin(),
                       [&](char a, char b) { return lower(a) == lower(b); }))
            return &p;
    return nullptr;
}

bool NaturalLess(const std::string& a, const std::string& b)
{
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && digit(a[ie]))
                ++ie;
            while (je < b.size() && digit(b[je]))
                ++je;
            size_t iz = i, jz = j; // leading zeros do not change the value
            while (iz + 1 < ie && a[iz] == '0')
                ++iz;
            while (jz + 1 < je && b[jz] == '0')
                ++jz;
            std::string_view na(a.data() + iz, ie - iz), nb(b.data() + jz, je - jz);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ie;
            j = je;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    if ((i < a.size()) != (j < b.size()))
        return j < b.size();
    return a < b; // equal by value (ttyS01, ttyS1): any fixed order
}

} // namespace chronavel::platform
