// donglectl watch: the dongle's matches as they arrive and go.
#include "donglectl/watch.h"

#include "census/census.h"
#include "donglectl/journal.h"
#include "donglectl/notify.h"

// A match of the census: its node and the identifier that matched.
struct WatchMatch {
    char szInstanceId[cbIdBuffer];
    char szIdentifier[cbIdBuffer];
};

// The matches of one census: watch follows the first 32 (a dongle has three), and knows how many
// there were.
enum { cMaxMatches = 32 };
struct Snapshot {
    WatchMatch matches[cMaxMatches];
    int n;
    DWORD nCount;
};

static void NoteMatch(const char* buffer, HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid,
                      void* pContext) {
    Snapshot* pSnapshot = (Snapshot*)pContext;
    if (pSnapshot->n == cMaxMatches) {
        return;
    }
    WatchMatch* pMatch = &pSnapshot->matches[pSnapshot->n++];
    memset(pMatch, 0, sizeof(*pMatch));
    if (!SetupDiGetDeviceInstanceIdA(hDevInfo, pDid, pMatch->szInstanceId,
                                     sizeof(pMatch->szInstanceId), NULL)) {
        pMatch->szInstanceId[0] = '\0';
    }
    const char* end = (const char*)memchr(buffer, '\0', cbIdBuffer);
    memcpy(pMatch->szIdentifier, buffer, end != NULL ? (size_t)(end - buffer) : cbIdBuffer - 1);
}

// Takes the census; says on standard error when it counts more matches than watch follows, each
// time that number changes.
static bool TakeSnapshot(Snapshot* pSnapshot, DWORD nCountBefore, DWORD* pdwError) {
    pSnapshot->n = 0;
    pSnapshot->nCount = 0;
    if (!WalkPresentDongles(szDongleId, szAssocClassId, szDongleId2, NoteMatch, pSnapshot,
                            &pSnapshot->nCount, pdwError)) {
        return false;
    }
    if (pSnapshot->nCount > cMaxMatches && pSnapshot->nCount != nCountBefore) {
        (void)fprintf(stderr,
                      "donglectl: the census counts %lu matches; watch follows the first %d it "
                      "finds, and says nothing of the others\n",
                      (unsigned long)pSnapshot->nCount, cMaxMatches);
    }
    return true;
}

static bool Holds(const Snapshot* pSnapshot, const WatchMatch* pMatch) {
    for (int i = 0; i < pSnapshot->n; i++) {
        if (strcmp(pSnapshot->matches[i].szInstanceId, pMatch->szInstanceId) == 0 &&
            strcmp(pSnapshot->matches[i].szIdentifier, pMatch->szIdentifier) == 0) {
            return true;
        }
    }
    return false;
}

// One line: "<UTC time> <event> <instance ID> <identifier>", or one JSON object.
static void SayMatch(const CtlOutput* pOut, const char* event, const WatchMatch* pMatch) {
    SYSTEMTIME st;
    char szTime[48];
    GetSystemTime(&st);
    (void)snprintf(szTime, sizeof(szTime), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", st.wYear,
                   st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    if (!pOut->bJson) {
        printf("%s %s %s %s\n", szTime, event,
               pMatch->szInstanceId[0] != '\0' ? pMatch->szInstanceId : "(instance ID unreadable)",
               pMatch->szIdentifier);
        return;
    }
    JsonWriter line;
    JsonStart(&line);
    JsonString(&line, "time", szTime, sizeof(szTime));
    JsonString(&line, "event", event, 16);
    JsonString(&line, "instance_id", pMatch->szInstanceId[0] != '\0' ? pMatch->szInstanceId : NULL,
               cbIdBuffer);
    JsonString(&line, "identifier", pMatch->szIdentifier, cbIdBuffer);
    JsonFinish(&line);
    (void)fflush(stdout); // each line as it happens, also into a pipe
}

// Says what arrived since before and what went, and keeps now as the new before.
static void SayChanges(const CtlOutput* pOut, Snapshot* pBefore, const Snapshot* pNow) {
    for (int i = 0; i < pNow->n; i++) {
        if (!Holds(pBefore, &pNow->matches[i])) {
            SayMatch(pOut, "arrived", &pNow->matches[i]);
        }
    }
    for (int i = 0; i < pBefore->n; i++) {
        if (!Holds(pNow, &pBefore->matches[i])) {
            SayMatch(pOut, "removed", &pBefore->matches[i]);
        }
    }
    memcpy(pBefore, pNow, sizeof(*pBefore));
}

static int WatchUntil(CtlOutput* pOut, DeviceChanges* pChanges, DWORD dwTimeoutMs,
                      Snapshot* pBefore, Snapshot* pNow) {
    DWORD dwError = 0;
    if (!TakeSnapshot(pBefore, 0, &dwError)) {
        return ListFailed(dwError);
    }
    for (int i = 0; i < pBefore->n; i++) {
        SayMatch(pOut, "present", &pBefore->matches[i]);
    }
    const DWORD dwStart = GetTickCount();
    for (;;) {
        const DWORD dwElapsed = GetTickCount() - dwStart;
        if (dwTimeoutMs != INFINITE && dwElapsed >= dwTimeoutMs) {
            return 0;
        }
        if (!AwaitNextCensus(pChanges, dwStart, dwTimeoutMs)) {
            return Cancelled(pOut, "watch was");
        }
        if (!TakeSnapshot(pNow, pBefore->nCount, &dwError)) {
            return ListFailed(dwError);
        }
        SayChanges(pOut, pBefore, pNow);
    }
}

int Watch(CtlOutput* pOut, DWORD dwTimeoutMs) {
    Snapshot before;
    Snapshot now;
    before.n = 0;
    before.nCount = 0;
    DeviceChanges changes;
    WatchConsoleEvents();
    WatchDeviceChanges(&changes);
    const int status = WatchUntil(pOut, &changes, dwTimeoutMs, &before, &now);
    StopWatchingDeviceChanges(&changes);
    // The run's document comes last, once the event lines are all out.
    if (pOut->bJson) {
        BeginDocument(pOut, "watch");
    }
    SayPendingResets(pOut);
    if (pOut->bJson) {
        JsonString(&pOut->json, "mode", changes.mode, 16);
        JsonNumber(&pOut->json, "count", (unsigned long)before.nCount);
        JsonNumber(&pOut->json, "followed", (unsigned long)before.n);
    }
    return status;
}
