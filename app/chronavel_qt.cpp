// The program entry of Chronavel, the windows program.
#include "app/startup_qt.h"

int main(int argc, char** argv)
{
    return chronavel::RunProgram(argc, argv);
}
