// The simulator's end of the line: a pseudo-terminal pair in raw mode, the
// program's side published as a symlink in the virtual-port directory.
#pragma once

#include <string>

namespace chronavel::sim {

class PtyLine {
public:
    PtyLine() = default;
    ~PtyLine() { Close(); }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    // link_name empty: no symlink. An existing link of that name is replaced.
    bool Open(const std::string& link_name, std::string* error);
    // Closes both sides (the program's reads then fail) and removes the link
    // if it still points at this pty.
    void Close();

    bool IsOpen() const { return master_ >= 0; }
    int MasterFd() const { return master_; }
    // The line speed the program set on its side (0 when unknown).
    int ProgramSpeed() const;
    const std::string& Device() const { return device_; }
    const std::string& Link() const { return link_; }

private:
    int master_ = -1;
    // Held open so the line stays up while the program has its side closed
    // (otherwise the master sees a hang-up between the program's opens).
    int slave_ = -1;
    std::string device_;
    std::string link_;
};

} // namespace chronavel::sim
