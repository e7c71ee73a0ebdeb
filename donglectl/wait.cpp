// donglectl wait: polls the census's rule, read-only, until the dongle is there (or gone).
#include "donglectl/wait.h"

#include "census/census.h"

// One device list per poll, at this interval: each poll costs what one census costs.
static const DWORD dwPollMs = 500;

int Wait(bool bPresent, DWORD dwTimeoutMs) {
    const DWORD dwStart = GetTickCount();
    DWORD dwError = 0;
    WatchConsoleEvents();
    for (;;) {
        DWORD nCount = 0;
        if (!WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2, NULL, NULL, &nCount,
                                &dwError)) {
            return ListFailed(dwError);
        }
        if (bPresent && nCount > 0) {
            // The lines are those of a census made now; the dongle may have gone since the count.
            if (!WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2, PrintDongleMatch, NULL,
                                    &nCount, &dwError)) {
                return ListFailed(dwError);
            }
            if (nCount > 0) {
                return 0;
            }
        } else if (!bPresent && nCount == 0) {
            return 0;
        }
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwTimeoutMs != INFINITE && dwElapsed >= dwTimeoutMs) {
            (void)fprintf(stderr, "donglectl: the dongle is still %s after %lu s\n",
                          bPresent ? "absent" : "present", (unsigned long)(dwTimeoutMs / 1000));
            return (int)ERROR_TIMEOUT;
        }
        const DWORD dwLeft = dwTimeoutMs == INFINITE ? dwPollMs : dwTimeoutMs - dwElapsed;
        Sleep(dwLeft < dwPollMs ? dwLeft : dwPollMs);
        if (StopAsked()) {
            return (int)ERROR_CANCELLED;
        }
    }
}
