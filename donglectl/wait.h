// donglectl wait.
#pragma once

#include "donglectl/shared.h"

// Waits until the census's rule counts a match among the present devices (bPresent) or none;
// dwTimeoutMs INFINITE waits for ever.
int Wait(bool bPresent, DWORD dwTimeoutMs);
