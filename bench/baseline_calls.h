// The Setup API calls the census makes, and nothing else, for the benchmarks.
#pragma once

#include "platform/platform.h"

// Lists the present devices, reads both identifier properties of every one of them into a
// 260-byte buffer and releases the list. Returns the number of devices, or the platform's error
// code with no list.
DWORD BaselineCalls(void);
