// donglectl disable, enable and reset.
#pragma once

#include "donglectl/shared.h"

// verb is "disable", "enable" or "reset".
int Switch(CtlOutput* pOut, const char* verb, GUID interfaceClass);
