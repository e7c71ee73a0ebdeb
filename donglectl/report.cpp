// donglectl report: what support asks a customer's machine for, in one plain-text file or on
// standard output. Read-only but for the file, which is written under a name of its own beside
// the one given and renamed onto it only once complete and on disk: no reader ever finds it half
// written, and where writing fails the file of that name stays as it was.
#include "donglectl/report.h"

#include "donglecensus_version.h"
#include "donglectl/journal.h"
#include "donglectl/list.h"

// The machine and the process, as the report gives them.
struct SystemFacts {
    char szTime[40];
    const char* programWidth;
    bool bVersion;
    OSVERSIONINFOA version;
    const char* windowsMachine; // "x86", "x64", "ARM64"
    bool bWow64;
    const char* rights; // "administrator", "not-administrator", "unknown"
};

static void ReadSystemFacts(SystemFacts* pFacts) {
    SYSTEMTIME now;
    memset(pFacts, 0, sizeof(*pFacts));
    GetSystemTime(&now);
    (void)snprintf(pFacts->szTime, sizeof(pFacts->szTime), "%04u-%02u-%02uT%02u:%02u:%02uZ",
                   now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    pFacts->programWidth = sizeof(void*) == 8 ? "x64" : "x86";
    // The manifest declares every Windows up to 10 and 11: GetVersionEx tells the truth there.
    pFacts->version.dwOSVersionInfoSize = sizeof(pFacts->version);
    pFacts->bVersion = GetVersionExA(&pFacts->version) != FALSE;
    pFacts->windowsMachine = WindowsMachine(&pFacts->bWow64);
    const int rights = AdministratorRights();
    pFacts->rights = rights == 1 ? "administrator" : rights == 0 ? "not-administrator" : "unknown";
}

static const char* RightsText(const char* rights) {
    return strcmp(rights, "administrator") == 0 ? "administrator (switching allowed)"
           : strcmp(rights, "unknown") == 0
               ? "cannot be checked"
               : "not an administrator, or not elevated (switching is refused)";
}

// The report as text, through Print. Returns 0, or the error where the device list cannot be
// read (said on standard error, and in the report).
static int PrintReport(const SystemFacts* pFacts) {
    CheckVerdict check;
    Print("donglectl report, %s\n", pFacts->szTime);
    Print("  %-14s donglectl %s (%s)\n", "program", DONGLE_VERSION_TEXT, pFacts->programWidth);
    if (pFacts->bVersion) {
        Print("  %-14s %lu.%lu build %lu%s%s, %s%s\n", "windows",
              (unsigned long)pFacts->version.dwMajorVersion,
              (unsigned long)pFacts->version.dwMinorVersion,
              (unsigned long)pFacts->version.dwBuildNumber,
              pFacts->version.szCSDVersion[0] != '\0' ? " " : "", pFacts->version.szCSDVersion,
              pFacts->windowsMachine, pFacts->bWow64 ? "; this program runs under WOW64" : "");
    } else {
        Print("  %-14s version unreadable, %s%s\n", "windows", pFacts->windowsMachine,
              pFacts->bWow64 ? "; this program runs under WOW64" : "");
    }
    Print("  %-14s %s\n", "rights", RightsText(pFacts->rights));
    const int error = JudgeCheck(&check);
    if (error == 0) {
        Print("  %-14s %s: %s\n", "check", check.word, check.szText);
    }
    PrintPendingResets();
    Print("\n");
    CtlOutput list; // text, whatever the run's output is
    memset(&list, 0, sizeof(list));
    const int status = List(&list, NULL);
    if (status != 0) {
        char szError[256];
        FormatError((DWORD)status, szError, sizeof(szError));
        Print("the device list cannot be read: %s\n", szError);
    }
    return status;
}

static void JsonReport(CtlOutput* pOut, const SystemFacts* pFacts, const char* path) {
    JsonWriter* pJson = &pOut->json;
    CheckVerdict check;
    JsonString(pJson, "file", path, MAX_PATH);
    JsonString(pJson, "time", pFacts->szTime, sizeof(pFacts->szTime));
    JsonString(pJson, "program_width", pFacts->programWidth, 8);
    JsonOpen(pJson, "windows", '{');
    JsonCount(pJson, "major", pFacts->bVersion, pFacts->version.dwMajorVersion);
    JsonCount(pJson, "minor", pFacts->bVersion, pFacts->version.dwMinorVersion);
    JsonCount(pJson, "build", pFacts->bVersion, pFacts->version.dwBuildNumber);
    JsonString(pJson, "service_pack", pFacts->bVersion ? pFacts->version.szCSDVersion : NULL,
               sizeof(pFacts->version.szCSDVersion));
    JsonString(pJson, "machine", pFacts->windowsMachine, 8);
    JsonBool(pJson, "wow64", pFacts->bWow64);
    JsonClose(pJson, '}');
    JsonString(pJson, "rights", pFacts->rights, 32);
    const bool bChecked = JudgeCheck(&check) == 0;
    JsonString(pJson, "check", bChecked ? check.word : NULL, 32);
    JsonString(pJson, "check_text", bChecked ? check.szText : NULL, sizeof(check.szText));
}

// Writes the text report to path: beside it first, then renamed onto it. Returns 0, or the
// error, having said it and removed what it wrote.
static DWORD WriteReportFile(const SystemFacts* pFacts, const char* path) {
    char szPart[MAX_PATH];
    const int cch =
        snprintf(szPart, sizeof(szPart), "%s.%lu.part", path, (unsigned long)GetCurrentProcessId());
    DWORD dwError = 0;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    if (cch < 0 || (size_t)cch >= sizeof(szPart)) {
        dwError = ERROR_FILENAME_EXCED_RANGE;
    } else {
        hFile =
            CreateFileA(szPart, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        dwError = hFile == INVALID_HANDLE_VALUE ? LastErrorOrGeneric() : 0;
    }
    if (dwError == 0) {
        (void)TextToFile(hFile);
        (void)PrintReport(pFacts);
        dwError = TextToFile(NULL);
        if (dwError == 0 && !FlushFileBuffers(hFile)) {
            dwError = LastErrorOrGeneric();
        }
        if (!CloseHandle(hFile) && dwError == 0) {
            dwError = LastErrorOrGeneric();
        }
        if (dwError == 0 &&
            !MoveFileExA(szPart, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            dwError = LastErrorOrGeneric();
        }
        if (dwError != 0) {
            (void)DeleteFileA(szPart);
        }
    }
    if (dwError != 0) {
        char szWhat[MAX_PATH + 64];
        char szError[256];
        FormatError(dwError, szError, sizeof(szError));
        (void)snprintf(szWhat, sizeof(szWhat), "the report cannot be written to %s: %s", path,
                       szError);
        (void)fprintf(stderr, "donglectl: %s\n", szWhat);
    }
    return dwError;
}

int Report(CtlOutput* pOut, const char* path) {
    SystemFacts facts;
    ReadSystemFacts(&facts);
    if (path != NULL) {
        const DWORD dwError = WriteReportFile(&facts, path);
        if (dwError != 0) {
            return (int)dwError;
        }
        if (!pOut->bJson) {
            printf("report written to %s\n", path);
            return 0;
        }
    }
    if (!pOut->bJson) {
        return PrintReport(&facts);
    }
    JsonReport(pOut, &facts, path);
    return List(pOut, NULL);
}
