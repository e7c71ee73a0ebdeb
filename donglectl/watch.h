// donglectl watch.
#pragma once

#include "donglectl/shared.h"

// Prints the census's matches, then one line per match that arrives or goes, as Windows tells
// of device changes (and at least every 10 s), until the timeout (INFINITE: never; exit 0), a
// stop asked for (1223) or a device list that cannot be had (its error). With --json, one JSON
// object per line, the run's document last.
int Watch(CtlOutput* pOut, DWORD dwTimeoutMs);
