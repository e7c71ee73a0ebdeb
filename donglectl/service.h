// donglectl recover: the service Windows starts at its next start to finish interrupted resets.
#pragma once

#include "donglectl/shared.h"

// Connects to the Service Control Manager as the recovery service and finishes every reset
// recorded as interrupted. Run from a command prompt, it says what it is for and exits.
int Recover(CtlOutput* pOut);
