// What the program relies on of the platform, observed call by call and printed as plain facts,
// so that the simulated platform and Wine can be held to the same expected lines.
#pragma once

#include "platform/platform.h"

// Looks for the present device whose first hardware ID is exactly firstHardwareId (it must have
// no compatible IDs and one interface of interfaceClass) and prints one line per fact:
//   contract small-buffer <result> <error> required=<n>   the hardware IDs read into 8 bytes
//   contract full-read <result> type=<type> size=<n>      the same into 260 bytes
//   contract absent-property <result> <error>             the compatible IDs
//   contract past-end <result> <error>                    fetching past the last device
//   contract list-detail <result> machine=<null|handle>
//   contract interface-detail <result> <error> device-filled=<0|1>
//   contract instance-id <result> <id>
// or "contract no-device" when there is no such device.
void PrintPlatformContract(const GUID& interfaceClass, const char* firstHardwareId);
