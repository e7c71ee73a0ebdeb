// The program's one seam to the platform. Census and control code include this header and call
// the Setup API, the Configuration Manager, the registry, the kernel and the runtime by their
// real names. On Windows they come from the SDK and the system DLLs; on any other host they are
// declared in sim/winapi.h and implemented by the simulated platform.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <dbt.h>
#include <regstr.h>
#include <mbstring.h>
#include <shlobj.h>
#else
#include "platform/sim/winapi.h"
#endif

#include <stdio.h>
#include <string.h>
