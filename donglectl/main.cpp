// donglectl: the device module as a command. Shows the dongle's device nodes, switches its nodes
// of one device-interface class off and on again, and waits for the dongle. Results go to
// standard output, messages to standard error. This file reads the command line and holds the
// help; each verb family lives in its own file (list.cpp, switch.cpp, wait.cpp), over what they
// share (shared.cpp) and the JSON writer (json.cpp).
#include "donglectl/journal.h"
#include "donglectl/list.h"
#include "donglectl/record.h"
#include "donglectl/report.h"
#include "donglectl/service.h"
#include "donglectl/shared.h"
#include "donglectl/switch.h"
#include "donglectl/wait.h"
#include "donglectl/watch.h"

#include "donglecensus_version.h"

static const char szHelp[] =
    "donglectl " DONGLE_VERSION_TEXT
    ": shows the USB dongle's device nodes, switches them off and on\n"
    "again, and waits for the dongle.\n"
    "\n"
    "usage: donglectl status [--json]\n"
    "       donglectl check [--json]\n"
    "       donglectl list [{interface-class-GUID}] [--json]\n"
    "       donglectl census [--json]\n"
    "       donglectl report [FILE] [--json]\n"
    "       donglectl disable|enable|reset [{interface-class-GUID}] [--json]\n"
    "       donglectl wait [present|absent] [--timeout SECONDS] [--json]\n"
    "       donglectl watch [--timeout SECONDS] [--json]\n"
    "       donglectl recover     (run by Windows at its start, as a service)\n"
    "       donglectl --version [--json]\n"
    "       donglectl help [verb]     (also --help, -h, -?, /?, /h, /help, anywhere)\n"
    "\n"
    "  status   prints \"found N disabled M\": the present dongle nodes (first\n"
    "           hardware ID USB\\VID_7B2E&PID_2F40...) whose status can be read, and\n"
    "           those disabled\n"
    "  check    one verdict: whether the licensed software sees the dongle, and if\n"
    "           not, what to do (exit status 0 when it does; see help check)\n"
    "  list     prints each node whose IDs name the vendor VID_7B2E, or that the\n"
    "           census counts: its IDs, interfaces, state, whether the census counts\n"
    "           it, and whether disable and enable would select it (for the class\n"
    "           given), or why not; first, the census's record beside the census's\n"
    "           count now\n"
    "  census   takes the census as donglecensus.exe does: its lines, its record,\n"
    "           its exit status; says when the record could not be written\n"
    "  report   writes what support asks for to FILE (or standard output): versions,\n"
    "           Windows, rights, check's verdict, pending resets, and list's output\n"
    "  disable  disables the dongle nodes exposing an interface of the class: one\n"
    "           line per node with what holds, then \"disabled N\"\n"
    "  enable   enables them again, unplugged ones included; then \"enabled N\"\n"
    "  reset    disable, then enable; Ctrl+C never stops it before the enable\n"
    "  wait     waits until the census counts the dongle (present) or not (absent)\n"
    "  watch    prints the census's matches, then each that arrives or goes, as it\n"
    "           happens\n"
    "\n"
    "--json, anywhere on the line: one JSON document on standard output, on every\n"
    "path.\n"
    "Verbs and options are not case-sensitive.\n"
    "Switching needs administrator rights, and on 64-bit Windows the x64 build.\n"
    "Exit status: 0 success; 2 usage error; 3010 a node holds only from the next\n"
    "restart; 29 standard output could not be written; 31 a node of an interrupted\n"
    "reset does not read back enabled; 170 another switching run is going; 740 not\n"
    "run as administrator; 1168 no node selected; 1223 stopped by Ctrl+C; 1460 wait\n"
    "timed out; 0xE0000235 (-536870347) the 32-bit build on 64-bit Windows, or\n"
    "Windows on ARM; otherwise the Windows error code of what failed (with --json,\n"
    "its \"error\" says whose a status is).\n";

// Each verb's own help, for "help <verb>", "<verb> /?" and the other spellings.
static const struct {
    const char* verb;
    const char* text;
} verbHelp[] = {
    {"status", "usage: donglectl status [--json]\n"
               "Prints \"found N disabled M\": the present nodes whose first hardware ID begins\n"
               "with USB\\VID_7B2E&PID_2F40 and whose status can be read, and how many of them\n"
               "are disabled (problem 22). With --json, one JSON document that also holds the\n"
               "census's count and matches.\n"},
    {"check", "usage: donglectl check [--json]\n"
              "Prints one line, \"<verdict>: <what it means and what to do>\", and exits with\n"
              "the verdict's status: 0 sees-the-dongle (the census counts it and its record\n"
              "says so), 10 stale (run \"donglectl census\" as an administrator), 11\n"
              "not-plugged-in, 12 not-counted (a node is there the census does not count: see\n"
              "\"donglectl list\"), 13 disabled (run \"donglectl enable\"), 14 reset-pending (an\n"
              "interrupted reset may have left it off). Read-only; needs no rights.\n"},
    {"list", "usage: donglectl list [{interface-class-GUID}] [--json]\n"
             "Prints each node, present or not, whose IDs name the vendor VID_7B2E or that\n"
             "the census counts: its instance ID, first hardware and compatible ID, the\n"
             "interface classes it exposes, its state, the census's verdict, and whether\n"
             "disable and enable would select it, or why not. Given a class, disable and\n"
             "enable are judged for that class (a dry run). First it shows the census's\n"
             "record (DonglePlugedIn) beside the census's count now, and says when the record\n"
             "is stale. Writes nothing.\n"},
    {"census", "usage: donglectl census [--json]\n"
               "Takes the census exactly as donglecensus.exe does: prints each match's\n"
               "identifier, writes the count to the record DonglePlugedIn, and exits with the\n"
               "count (or the Windows error code when the device list cannot be read). Says on\n"
               "standard error when the record could not be written, and why (administrator\n"
               "rights are needed). With --json, the matches and the record before and after.\n"},
    {"report", "usage: donglectl report [FILE] [--json]\n"
               "Collects what support asks a customer for: the time, donglectl's version and\n"
               "width, Windows' version, build and width, whether donglectl runs under WOW64,\n"
               "the rights it runs with, check's verdict, interrupted resets, and list's whole\n"
               "output (the record included). Given FILE, writes it there as plain text, whole\n"
               "or not at all (a file of that name is replaced only once the report is\n"
               "complete), and prints \"report written to FILE\"; otherwise prints it. Reads\n"
               "and changes nothing else; needs no rights. Exit status 0, or the Windows error\n"
               "code of what failed.\n"},
    {"disable",
     "usage: donglectl disable [{interface-class-GUID}] [--json]\n"
     "Disables the dongle nodes that expose an interface of the class; without one,\n"
     "of each class the census's nodes expose (\"donglectl list\" shows them as\n"
     "\"switching\"). Pauses 2 s before each node. Prints one line per selected node,\n"
     "\"<instance ID> <outcome>\", then \"disabled N\". Needs administrator rights. Exit\n"
     "status 0, 3010 (restart needed), 1168 (nothing selected: the reasons go to\n"
     "standard error), 1223 (Ctrl+C), or the installer's error.\n"},
    {"enable", "usage: donglectl enable [{interface-class-GUID}] [--json]\n"
               "Enables the dongle nodes of the class again, unplugged ones included, so that\n"
               "they come back enabled. Prints one line per selected node, then \"enabled N\".\n"
               "Exit statuses as for disable.\n"},
    {"reset", "usage: donglectl reset [{interface-class-GUID}] [--json]\n"
              "Disables, then enables the dongle nodes of the class. Ctrl+C or Ctrl+Break ends\n"
              "the disabling early and never the enabling. Where the process ends first\n"
              "(closing the window, logoff, shutdown, a power cut), Windows enables them at\n"
              "its next start, before anyone logs on, through the service donglectlRecovery\n"
              "that reset sets up before the first node. Exit statuses as for disable; 170\n"
              "while another switching run is going.\n"},
    {"recover", "usage: donglectl recover\n"
                "Run by Windows at its start, as the service donglectlRecovery that reset sets\n"
                "up: enables the nodes of an interrupted reset, reads them back, and removes\n"
                "itself once every one reads back enabled. From a command prompt it only says so\n"
                "(exit status 1063).\n"},
    {"wait", "usage: donglectl wait [present|absent] [--timeout SECONDS] [--json]\n"
             "Waits until the census's rule counts at least one match among the present\n"
             "devices (present, the default) or none (absent): the census is taken again\n"
             "whenever Windows tells of a device change, and at least every 10 s (every 0.5 s\n"
             "where Windows tells nothing); prints the census's lines when the dongle is\n"
             "present. --timeout (also --timeout=SECONDS) takes whole seconds, 0 to 4294967\n"
             "(about 49 days); without it, wait waits for ever. Writes no record and needs no\n"
             "rights. Exit status 0, 1460 (timed out), 1223 (Ctrl+C), or the Windows error\n"
             "code.\n"},
    {"watch", "usage: donglectl watch [--timeout SECONDS] [--json]\n"
              "Prints the census's matches, then one line per match that arrives or goes, as\n"
              "Windows tells of device changes (and at least every 10 s): \"<UTC time> present|\n"
              "arrived|removed <instance ID> <identifier>\". With --json, one JSON object per\n"
              "line, the run's document last. Read-only, needs no rights. Exit status 0 at the\n"
              "timeout, 1223 (Ctrl+C), or the Windows error code.\n"},
};

#define THE_VERBS                                                                                  \
    "the verbs are status, check, list, census, report, disable, enable, reset, wait, watch "      \
    "and recover"
// The longest --timeout, in seconds: its milliseconds stay below INFINITE.
static const DWORD dwMaxTimeoutSeconds = 4294967;

// An argument as a message quotes it: control characters escaped, at most 48 bytes of it
// (never half a double-byte character), "..." where it was cut.
static void QuoteArg(const char* arg, char* szText, size_t cchText) {
    const size_t cchArg = strlen(arg);
    size_t n = 0;
    size_t i = 0;
    while (i < cchArg && i < 48 && n + 8 < cchText) {
        const unsigned char c = (unsigned char)arg[i];
        if (c < 0x20 || c == 0x7F) {
            n += (size_t)snprintf(szText + n, cchText - n, "\\x%02X", c);
            i++;
        } else if (IsDBCSLeadByte(c) && i + 1 < cchArg) {
            szText[n++] = arg[i++];
            szText[n++] = arg[i++];
        } else {
            szText[n++] = arg[i++];
        }
    }
    (void)snprintf(szText + n, cchText - n, "%s", i < cchArg ? "..." : "");
}

// A usage error: the message names the arguments it quotes (%s, up to two, quoted as QuoteArg
// does), then where the usage is.
static int UsageError(CtlOutput* pOut, const char* format, const char* arg = NULL,
                      const char* arg2 = NULL) {
    char szArg[80];
    char szArg2[80];
    char szMessage[300];
    szArg[0] = szArg2[0] = '\0';
    if (arg != NULL) {
        QuoteArg(arg, szArg, sizeof(szArg));
    }
    if (arg2 != NULL) {
        QuoteArg(arg2, szArg2, sizeof(szArg2));
    }
    // A format may quote fewer arguments than are passed; the rest are not read.
    // cppcheck-suppress wrongPrintfScanfArgNum
    (void)snprintf(szMessage, sizeof(szMessage), format, szArg, szArg2);
    const int status = OwnStatus(pOut, exitUsage, "usage", szMessage);
    (void)fputs("Run \"donglectl --help\" for usage.\n", stderr);
    return status;
}

// The verb's arguments are read: its JSON document begins, and a reset left unfinished is told.
static void StartDocument(CtlOutput* pOut, const char* verb) {
    if (pOut->bJson) {
        BeginDocument(pOut, verb);
    }
    // The switching verbs say it once they have run; the recovery has no one to tell.
    static const char* const silent[] = {"version", "disable", "enable", "reset", "recover"};
    size_t i = 0;
    while (i < sizeof(silent) / sizeof(silent[0]) && strcmp(verb, silent[i]) != 0) {
        i++;
    }
    if (i == sizeof(silent) / sizeof(silent[0])) {
        SayPendingResets(pOut);
    }
}

// The spellings of help, in any case.
static bool IsHelp(const char* arg) {
    static const char* const spellings[] = {"help", "--help", "-h", "-?", "/?", "/h", "/help"};
    size_t i = 0;
    while (i < sizeof(spellings) / sizeof(spellings[0]) && _stricmp(arg, spellings[i]) != 0) {
        i++;
    }
    return i < sizeof(spellings) / sizeof(spellings[0]);
}

static const char* const verbs[] = {"status", "check", "list", "census", "report", "disable",
                                    "enable", "reset", "wait", "watch",  "recover"};

// The verb's own spelling, or NULL for a word that is no verb.
static const char* KnownVerb(const char* arg) {
    size_t i = 0;
    while (i < sizeof(verbs) / sizeof(verbs[0]) && _stricmp(arg, verbs[i]) != 0) {
        i++;
    }
    return i < sizeof(verbs) / sizeof(verbs[0]) ? verbs[i] : NULL;
}

static int Help(CtlOutput* pOut, const char* arg) {
    const char* verb = arg != NULL ? KnownVerb(arg) : NULL;
    if (arg != NULL && verb == NULL && !IsHelp(arg)) {
        return UsageError(pOut, "no help for '%s'; " THE_VERBS, arg);
    }
    if (pOut->bJson) {
        return UsageError(pOut, "help is text; it does not take '--json'");
    }
    size_t i = 0;
    while (i < sizeof(verbHelp) / sizeof(verbHelp[0]) &&
           (verb == NULL || strcmp(verbHelp[i].verb, verb) != 0)) {
        i++;
    }
    (void)fputs(i < sizeof(verbHelp) / sizeof(verbHelp[0]) ? verbHelp[i].text : szHelp, stdout);
    return 0;
}

// Reads a number of seconds for --timeout: whole seconds up to dwMaxTimeoutSeconds.
static int ReadTimeout(CtlOutput* pOut, const char* text, DWORD* pdwMs) {
    DWORD dwSeconds = 0;
    if (text[0] == '\0') {
        return UsageError(pOut, "'--timeout' needs a number of seconds");
    }
    for (const char* p = text; *p != '\0'; p++) {
        if (*p < '0' || *p > '9') {
            return UsageError(pOut, "'%s' is not a whole number of seconds", text);
        }
        if (dwSeconds > dwMaxTimeoutSeconds / 10 ||
            dwSeconds * 10 + (DWORD)(*p - '0') > dwMaxTimeoutSeconds) {
            return UsageError(pOut, "'%s' is more than the longest timeout, 4294967 seconds", text);
        }
        dwSeconds = dwSeconds * 10 + (DWORD)(*p - '0');
    }
    *pdwMs = dwSeconds * 1000;
    return 0;
}

// wait's arguments: present or absent, --timeout SECONDS or --timeout=SECONDS, each once;
// watch's: --timeout alone.
static int WaitVerb(CtlOutput* pOut, const char* verb, int argc, char** argv) {
    const bool bWatch = strcmp(verb, "watch") == 0;
    const char* state = NULL;
    bool bTimeout = false;
    DWORD dwTimeoutMs = INFINITE;
    for (int i = 0; i < argc; i++) {
        const char* arg = argv[i];
        const bool bPresent = _stricmp(arg, "present") == 0;
        if (!bWatch && (bPresent || _stricmp(arg, "absent") == 0)) {
            if (state != NULL) {
                return UsageError(pOut, "'%s' after '%s': wait for one state", arg, state);
            }
            state = bPresent ? "present" : "absent";
            continue;
        }
        const bool bSeparate = _stricmp(arg, "--timeout") == 0;
        if (!bSeparate && _strnicmp(arg, "--timeout=", 10) != 0) {
            return UsageError(pOut, "'%s' does not take '%s'", verb, arg);
        }
        if (bTimeout) {
            return UsageError(pOut, "'--timeout' is given twice");
        }
        bTimeout = true;
        if (bSeparate && i + 1 == argc) {
            return UsageError(pOut, "'--timeout' needs a number of seconds");
        }
        const int status = ReadTimeout(pOut, bSeparate ? argv[++i] : arg + 10, &dwTimeoutMs);
        if (status != 0) {
            return status;
        }
    }
    if (bWatch) {
        return Watch(pOut, dwTimeoutMs); // its document comes after its event lines
    }
    StartDocument(pOut, "wait");
    return Wait(pOut, state == NULL || strcmp(state, "present") == 0, dwTimeoutMs);
}

// The arguments of status, list and the switching verbs: at most one interface class GUID, for
// the verbs that take one.
static int DeviceVerb(CtlOutput* pOut, const char* verb, int argc, char** argv) {
    const bool bStatus =
        strcmp(verb, "status") == 0 || strcmp(verb, "census") == 0 || strcmp(verb, "check") == 0;
    const bool bList = strcmp(verb, "list") == 0;
    const char* guidText = NULL;
    for (int i = 0; i < argc; i++) {
        if (bStatus || argv[i][0] == '-' || argv[i][0] == '/') {
            return UsageError(pOut, "'%s' does not take '%s'", verb, argv[i]);
        }
        if (guidText != NULL) {
            return UsageError(pOut, "'%s' takes one interface class GUID; '%s' is one too many",
                              verb, argv[i]);
        }
        guidText = argv[i];
    }
    GUID interfaceClass;
    if (guidText != NULL && !ReadInterfaceClassGuid(guidText, &interfaceClass)) {
        return UsageError(pOut,
                          "'%s' is not an interface class GUID; expected one like "
                          "{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
                          guidText);
    }
    StartDocument(pOut, verb);
    if (!bStatus && !bList && guidText == NULL) {
        return SwitchDongle(pOut, verb);
    }
    if (strcmp(verb, "census") == 0) {
        return Census(pOut);
    }
    if (strcmp(verb, "check") == 0) {
        return Check(pOut);
    }
    if (bStatus) {
        return Status(pOut);
    }
    if (bList) {
        return List(pOut, guidText != NULL ? &interfaceClass : NULL);
    }
    return Switch(pOut, verb, interfaceClass);
}

// True for a dash that is not '-': the en and em dashes and the minus sign that word processors
// and mail programs put in place of "--" or "-", and the full-width hyphen of East Asian input.
static bool IsTypographicDash(WCHAR wc) {
    return (wc >= 0x2010 && wc <= 0x2015) || wc == 0x2212 || wc == 0xFE58 || wc == 0xFE63 ||
           wc == 0xFF0D;
}

// An argument that begins with dashes, one of them typographic: szMeant gets the option it was
// meant to be, "--" and the rest. The characters are read in the ANSI code page, one to four
// bytes each.
static bool MeantAsOption(const char* arg, char* szMeant, size_t cchMeant) {
    size_t i = 0;
    bool bTypographic = false;
    for (;;) {
        WCHAR wc = 0;
        int cb = 1;
        while (cb <= 4 && memchr(arg + i, '\0', (size_t)cb) == NULL &&
               MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, arg + i, cb, &wc, 1) != 1) {
            cb++;
        }
        if (cb > 4 || memchr(arg + i, '\0', (size_t)cb) != NULL ||
            (wc != '-' && !IsTypographicDash(wc))) {
            break;
        }
        bTypographic = bTypographic || wc != '-';
        i += (size_t)cb;
    }
    if (!bTypographic || arg[i] == '\0') {
        return false;
    }
    (void)snprintf(szMeant, cchMeant, "--%s", arg + i);
    return true;
}

// Reads the command line and runs the verb. --json may stand anywhere, once; help in any of its
// spellings anywhere asks for the help of the verb named, or the whole help.
static int Run(CtlOutput* pOut, int argc, char** argv, const char** pVerb) {
    char* args[64];
    int nArgs = 0;
    int nJson = 0;
    bool bHelp = false;
    int iTopic = -1; // the first argument that is not the help asked for
    for (int i = 1; i < argc; i++) {
        if (_stricmp(argv[i], "--json") == 0) {
            nJson++;
        } else if (nArgs == (int)(sizeof(args) / sizeof(args[0]))) {
            return UsageError(pOut, "more than 64 arguments, from '%s' on", argv[i]);
        } else {
            if (IsHelp(argv[i]) && !bHelp) {
                bHelp = true;
            } else if (iTopic < 0) {
                iTopic = nArgs;
            }
            args[nArgs++] = argv[i];
        }
    }
    pOut->bJson = nJson > 0;
    if (nJson > 1) {
        return UsageError(pOut, "'--json' is given twice");
    }
    for (int i = 0; i < nArgs; i++) {
        char szMeant[80];
        if (MeantAsOption(args[i], szMeant, sizeof(szMeant))) {
            return UsageError(pOut,
                              "an option begins with a typographic dash, as word processors "
                              "write '--'; did you mean '%s'?",
                              szMeant);
        }
    }
    // Options before the verb ("--timeout 5 wait") are taken as if after it.
    if (nArgs > 1 && !bHelp && args[0][0] == '-' && KnownVerb(args[0]) == NULL) {
        int k = 1;
        while (k < nArgs && KnownVerb(args[k]) == NULL) {
            k++;
        }
        for (; k > 0 && k < nArgs; k--) {
            char* swap = args[k];
            args[k] = args[k - 1];
            args[k - 1] = swap;
        }
    }
    if (bHelp) {
        *pVerb = "help";
        // "help a b": one topic at a time ("disable {guid} /?" is a verb's line asking help).
        if (IsHelp(args[0]) && iTopic >= 0 && iTopic + 1 < nArgs) {
            return UsageError(pOut, "'help' takes one verb; '%s' is one too many",
                              args[iTopic + 1]);
        }
        return Help(pOut, iTopic >= 0 ? args[iTopic] : NULL);
    }
    if (nArgs == 0) {
        return UsageError(pOut, "no verb given; " THE_VERBS);
    }
    // The spellings other tools answer to are answered too.
    if (_stricmp(args[0], "--version") == 0 || _stricmp(args[0], "version") == 0 ||
        _stricmp(args[0], "-v") == 0 || _stricmp(args[0], "/version") == 0 ||
        _stricmp(args[0], "-version") == 0) {
        *pVerb = "version";
        if (nArgs > 1) {
            return UsageError(pOut, "'--version' does not take '%s'", args[1]);
        }
        StartDocument(pOut, "version");
        if (!pOut->bJson) {
            printf("donglectl %s\n", DONGLE_VERSION_TEXT);
        }
        return 0;
    }
    *pVerb = KnownVerb(args[0]);
    if (*pVerb == NULL) {
        return UsageError(pOut, "unknown verb '%s'; " THE_VERBS, args[0]);
    }
    if (strcmp(*pVerb, "recover") == 0) {
        if (nArgs > 1) {
            return UsageError(pOut, "'recover' does not take '%s'", args[1]);
        }
        StartDocument(pOut, "recover");
        return Recover(pOut);
    }
    if (strcmp(*pVerb, "report") == 0) {
        const char* path = nArgs > 1 ? args[1] : NULL;
        if (nArgs > 2 || (path != NULL && (path[0] == '-' || path[0] == '/'))) {
            return UsageError(pOut, "'report' takes one file name; '%s' is not one",
                              args[nArgs > 2 ? 2 : 1]);
        }
        StartDocument(pOut, "report");
        return Report(pOut, path);
    }
    if (strcmp(*pVerb, "wait") == 0 || strcmp(*pVerb, "watch") == 0) {
        return WaitVerb(pOut, *pVerb, nArgs - 1, args + 1);
    }
    return DeviceVerb(pOut, *pVerb, nArgs - 1, args + 1);
}

int main(int argc, char** argv) {
    CtlOutput out;
    memset(&out, 0, sizeof(out));
    const char* verb = NULL;
    // A verb begins its document once its arguments are read; a usage error gives one too, with
    // the verb where it is known. Every path ends it.
    const int status = Run(&out, argc, argv, &verb);
    if (out.bJson && out.json.depth == 0) {
        BeginDocument(&out, verb);
    }
    return Finished(EndRun(&out, status));
}
