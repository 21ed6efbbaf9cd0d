// The program entry's work: the application object under its title, the
// windows created once each in their fixed order and owned for the whole
// run, the event loop, and the end of the program once the main window has
// closed.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

namespace chronavel {

// The program's windows. Creating it creates them in their fixed order
// (the main window first); each one's process-wide reference is set as its
// creation starts. Destroying it destroys them in the reverse order.
class ProgramWindows {
public:
    ProgramWindows();
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

private:
    template <typename Window> void Create();

    std::vector<std::unique_ptr<QWidget>> windows_;
};

// The whole program: returns its exit code.
int RunProgram(int argc, char** argv);

} // namespace chronavel
