// Arbitrary text as a clock's settings file: the JSON reader and the
// register=value lines must refuse or take it without reading out of
// bounds, and never throw.
#include "config/register_values.h"
#include "config/settings_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    chronavel::RegisterValues json;
    (void)chronavel::SettingsFromJsonText(text, json);

    // The line form goes through the file loader, as the tool and the
    // simulator read it.
    char path[] = "/tmp/settings_file_fuzz.XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return 0;
    const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (written) {
        chronavel::RegisterValues lines;
        (void)chronavel::LoadSettingsFile(path, lines);
    }
    unlink(path);
    return 0;
}
