// The program entry of Chronavel, the windows program. The application
// title, the windows in their fixed creation order (ProgramWindows) and the
// end of the program are in app/startup_qt.cpp, where the end-to-end tests
// reach them too.
#include "app/startup_qt.h"

int main(int argc, char** argv)
{
    return chronavel::RunProgram(argc, argv);
}
