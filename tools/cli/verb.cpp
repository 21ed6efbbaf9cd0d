#include "tools/cli/verb.h"

#include "tools/line/exit_codes.h"

namespace chronavel::ctl {

int ExitCode(const Verb* verb, Outcome outcome, int code)
{
    if (verb && verb->EveryFailure != 0) {
        const bool success =
            outcome == Outcome::kRan && (code == kExitOk || code == verb->SucceedsWith);
        return success ? code : verb->EveryFailure;
    }
    switch (outcome) {
    case Outcome::kRan:
        return code;
    case Outcome::kUsage:
        return kExitUsage;
    case Outcome::kInternal:
        return kExitInternal;
    case Outcome::kStopped:
        // The shell's convention, whatever the subcommand made of the
        // interruption, but for its normal stop.
        return verb && code == verb->NormalStop ? kExitOk : 128 + code;
    }
    return kExitInternal;
}

} // namespace chronavel::ctl
