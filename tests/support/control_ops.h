// Runs the device module's operations by name and prints each result on its own line, in the
// same words on the simulated platform and under Wine.
#pragma once

#include "platform/platform.h"

// Reads "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" (any case).
bool ParseGuid(const char* text, GUID* pGuid);

// Runs ops ("disable", "enable", "status", "contract") in order on interfaceClass, printing
// "disable <result>", "enable <result>", "status <result> found <n> disabled <n>", or the
// platform-contract facts of the device whose first hardware ID is
// USB\VID_7B2E&PID_2F40&REV_0100 (platform_contract.h).
// Returns false, having printed nothing more, at an unknown operation.
bool RunControlOps(const GUID& interfaceClass, int nOps, const char* const* ops);
