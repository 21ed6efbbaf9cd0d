#include "config/config_state.h"

#include "config/register_values.h"
#include "config/registers.h"

namespace chronavel {

void ResetConfigState()
{
    ResetClockSettings();
    ResetAnswered();
}

} // namespace chronavel
