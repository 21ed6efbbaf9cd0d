// Where the daemon's picture of the line goes when it changes: the service
// manager's status line, the state file a building's monitoring reads, and
// the web face's snapshot.
#pragma once

#include "tools/web/http_status.h"

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

namespace chronavel::ctl {

class Publisher {
public:
    Publisher(std::string state_file, std::string shown_port)
        : state_file_(std::move(state_file)), shown_port_(std::move(shown_port))
    {
    }

    // The web face's snapshots go to this board from now on.
    void ShareOn(std::shared_ptr<StatusBoard> board) { board_ = std::move(board); }
    bool Sharing() const { return board_ != nullptr; }
    // Anything to write beyond the status line.
    bool Writes() const { return !state_file_.empty() || board_; }

    // The status line, then (when the state changed) the state file.
    void Publish(const nlohmann::json& state, int answering, bool unsynced);
    // A new snapshot for the web face; the board's lock is held only to
    // swap a pointer.
    void Share(std::shared_ptr<StatusSnapshot> snapshot);

    const nlohmann::json& LastState() const { return last_state_; }

private:
    const std::string state_file_;
    const std::string shown_port_;
    std::shared_ptr<StatusBoard> board_;
    nlohmann::json last_state_ = nlohmann::json::object();
    bool state_error_ = false;
};

} // namespace chronavel::ctl
