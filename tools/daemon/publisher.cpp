#include "tools/daemon/publisher.h"

#include "platform/atomic_file.h"
#include "platform/service_notify.h"
#include "tools/daemon/daemon_log.h"

namespace chronavel::ctl {

void Publisher::Publish(const nlohmann::json& state, int answering, bool unsynced)
{
    platform::NotifyServiceManager("STATUS=" + std::to_string(answering) + " clock" +
                                   (answering == 1 ? "" : "s") + " answering on " + shown_port_ +
                                   (unsynced ? "; the PC's clock is not synchronised" : ""));
    last_state_ = state;
    if (state_file_.empty())
        return;
    const std::string error = platform::WriteFileAtomically(
        state_file_, state.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    // Said once per spell of failures, not at every change.
    if (!error.empty() && !state_error_)
        Log("state file not written: " + error);
    else if (error.empty() && state_error_)
        Log("state file written again");
    state_error_ = !error.empty();
}

void Publisher::Share(std::shared_ptr<StatusSnapshot> snapshot)
{
    if (board_)
        board_->Set(std::move(snapshot));
}

} // namespace chronavel::ctl
