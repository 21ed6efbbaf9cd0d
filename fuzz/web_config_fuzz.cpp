// Arbitrary text as the web face's configuration file: refused in words or
// taken, never a crash, a hang or an exception.
#include "tools/web/web_config.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    chronavel::ctl::WebConfig config;
    (void)chronavel::ctl::ParseWebConfig(text, "/etc/chronavel", config);
    return 0;
}
