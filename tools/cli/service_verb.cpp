// `service`: listed for --help with the others, but run by main() before
// the parser, since install passes everything after --port on to the
// daemon's options.
#include "tools/cli/commands.h"

namespace chronavel::ctl {

Verb AddService(CLI::App& app)
{
    auto* sub = app.add_subcommand(kServiceVerb, "Windows: the daemon as a service, one per port "
                                                 "(install, start, stop, status, uninstall; "
                                                 "'service --help')");
    return {.Sub = sub};
}

} // namespace chronavel::ctl
