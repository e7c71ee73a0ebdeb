// Runs the device module's operations by name and prints each result on its own line, in the
// same words on the simulated platform and under Wine.
#pragma once

#include "platform/platform.h"

// Reads "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (any case).
bool ParseGuid(const char* text, GUID* pGuid);

// Runs ops ("disable", "enable", "status") in order on interfaceClass, printing
// "disable <result>", "enable <result>" or "status <result> found <n> disabled <n>".
// Returns false, having printed nothing more, at an unknown operation.
bool RunControlOps(const GUID& interfaceClass, int nOps, const char* const* ops);
