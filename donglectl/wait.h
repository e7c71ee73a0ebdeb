// donglectl wait.
#pragma once

#include "donglectl/shared.h"

// Waits until the census's rule counts a match among the present devices (bPresent) or none;
// dwTimeoutMs INFINITE waits for ever. With --json, the matches once the dongle is there and the
// count of the last look.
int Wait(CtlOutput* pOut, bool bPresent, DWORD dwTimeoutMs);
