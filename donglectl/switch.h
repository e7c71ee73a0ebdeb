// donglectl disable, enable and reset.
#pragma once

#include "donglectl/shared.h"

// verb is "disable", "enable" or "reset".
int Switch(CtlOutput* pOut, const char* verb, GUID interfaceClass);
// The same without a class: each device-interface class that the nodes the census counts
// expose (and, for enable and reset, each class an interrupted reset recorded), in turn; the
// class's GUID on a line of its own before its passes where there are several.
int SwitchDongle(CtlOutput* pOut, const char* verb);
