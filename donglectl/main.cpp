// donglectl: the device module as a command. Shows the dongle's device nodes, switches its nodes
// of one device-interface class off and on again, and waits for the dongle. Results go to
// standard output, messages to standard error. This file reads the command line and holds the
// help; each verb family lives in its own file (list.cpp, switch.cpp, wait.cpp), over what they
// share (shared.cpp) and the JSON writer (json.cpp).
#include "donglectl/list.h"
#include "donglectl/shared.h"
#include "donglectl/switch.h"
#include "donglectl/wait.h"

#include "donglecensus_version.h"

static const char szHelp[] =
    "donglectl " DONGLE_VERSION_TEXT ": shows the USB dongle's device nodes, switches them off\n"
    "and on again, and waits for the dongle.\n"
    "\n"
    "usage: donglectl status [--json]\n"
    "       donglectl list [{interface-class-GUID}] [--json]\n"
    "       donglectl disable|enable|reset {interface-class-GUID} [--json]\n"
    "       donglectl wait [present|absent] [--timeout SECONDS]\n"
    "       donglectl help [verb] | <verb> /? | --help | -? | /help\n"
    "       donglectl --version\n"
    "\n"
    "  status   prints \"found N disabled M\": the present dongle nodes (first hardware ID\n"
    "           USB\\VID_7B2E&PID_2F40...) whose status can be read, and those disabled\n"
    "  list     prints each node whose IDs name the vendor VID_7B2E, or that the census\n"
    "           counts: its IDs, interfaces, state, whether the census counts it, and\n"
    "           whether disable and enable would select it (for the class given), or why not\n"
    "  disable  disables the dongle nodes exposing an interface of the class: one line\n"
    "           per node with what holds, then \"disabled N\"\n"
    "  enable   enables them again, unplugged ones included; then \"enabled N\"\n"
    "  reset    disable, then enable; Ctrl+C never stops it before the enable\n"
    "  wait     waits until the census counts the dongle (present) or not (absent)\n"
    "\n"
    "Switching needs administrator rights, and on 64-bit Windows the x64 build.\n"
    "Exit status: 0 success; 2 usage error; 3010 a node holds only from the next restart;\n"
    "740 not run as administrator; 1168 no node selected; 1223 stopped by Ctrl+C;\n"
    "1460 wait timed out; 0xE0000235 (-536870347) the 32-bit build on 64-bit Windows, or\n"
    "Windows on ARM; otherwise the Windows error code of what failed.\n";

// Each verb's own help, for "help <verb>" and "<verb> /?".
static const struct {
    const char* verb;
    const char* text;
} verbHelp[] = {
    {"status", "usage: donglectl status [--json]\n"
               "Prints \"found N disabled M\": the present nodes whose first hardware ID begins\n"
               "with USB\\VID_7B2E&PID_2F40 and whose status can be read, and how many of them\n"
               "are disabled (problem 22). With --json, one JSON document that also holds the\n"
               "census's count and matches.\n"},
    {"list", "usage: donglectl list [{interface-class-GUID}] [--json]\n"
             "Prints each node, present or not, whose IDs name the vendor VID_7B2E or that the\n"
             "census counts: its instance ID, first hardware and compatible ID, the interface\n"
             "classes it exposes, its state, the census's verdict, and whether disable and\n"
             "enable would select it, or why not. Given a class, disable and enable are judged\n"
             "for that class (a dry run). Writes nothing.\n"},
    {"disable", "usage: donglectl disable {interface-class-GUID} [--json]\n"
                "Disables the dongle nodes that expose an interface of the class (see \"donglectl\n"
                "list\" for the class GUIDs). Pauses 2 s before each node. Prints one line per\n"
                "selected node, \"<instance ID> <outcome>\", then \"disabled N\". Needs\n"
                "administrator rights. Exit status 0, 3010 (restart needed), 1168 (nothing\n"
                "selected: the reasons go to standard error), 1223 (Ctrl+C), or the installer's\n"
                "error.\n"},
    {"enable",
     "usage: donglectl enable {interface-class-GUID} [--json]\n"
     "Enables the dongle nodes of the class again, unplugged ones included, so that they\n"
     "come back enabled. Prints one line per selected node, then \"enabled N\". Exit\n"
     "statuses as for disable.\n"},
    {"reset",
     "usage: donglectl reset {interface-class-GUID} [--json]\n"
     "Disables, then enables the dongle nodes of the class. Ctrl+C, Ctrl+Break or closing\n"
     "the console ends the disabling early and never the enabling. Exit statuses as for\n"
     "disable.\n"},
    {"wait", "usage: donglectl wait [present|absent] [--timeout SECONDS]\n"
             "Waits until the census's rule counts at least one match among the present devices\n"
             "(present, the default) or none (absent), polling every 0.5 s; prints the census's\n"
             "lines when the dongle is present. Writes no record and needs no rights. Exit status\n"
             "0, 1460 (timed out), 1223 (Ctrl+C), or the Windows error code.\n"},
};

static int UsageError(const char* format, const char* arg) {
    (void)fputs("donglectl: ", stderr);
    (void)fprintf(stderr, format, arg);
    (void)fputs("\nRun \"donglectl --help\" for usage.\n", stderr);
    return exitUsage;
}

// The spellings of help, in any case.
static bool IsHelp(const char* arg) {
    return _stricmp(arg, "help") == 0 || _stricmp(arg, "--help") == 0 || _stricmp(arg, "-h") == 0 ||
           _stricmp(arg, "-?") == 0 || _stricmp(arg, "/?") == 0 || _stricmp(arg, "/h") == 0 ||
           _stricmp(arg, "/help") == 0;
}

static int Help(const char* verb) {
    if (verb == NULL) {
        (void)fputs(szHelp, stdout);
        return 0;
    }
    const size_t n = sizeof(verbHelp) / sizeof(verbHelp[0]);
    size_t i = 0;
    while (i < n && _stricmp(verbHelp[i].verb, verb) != 0) {
        i++;
    }
    if (i < n) {
        (void)fputs(verbHelp[i].text, stdout);
        return 0;
    }
    return UsageError("no help for '%s'; the verbs are status, list, disable, enable, reset and "
                      "wait",
                      verb);
}

// Reads "--timeout SECONDS": a whole number of seconds, at most 4294967.
static bool ReadSeconds(const char* text, DWORD* pdwMs) {
    DWORD dwSeconds = 0;
    if (text[0] == '\0') {
        return false;
    }
    for (const char* p = text; *p != '\0'; p++) {
        if (*p < '0' || *p > '9' || dwSeconds > 429496 || (dwSeconds == 429496 && *p > '7')) {
            return false;
        }
        dwSeconds = dwSeconds * 10 + (DWORD)(*p - '0');
    }
    *pdwMs = dwSeconds * 1000;
    return true;
}

static int WaitVerb(int argc, char** argv) {
    bool bPresent = true;
    bool bState = false;
    DWORD dwTimeoutMs = INFINITE;
    for (int i = 2; i < argc; i++) {
        if (!bState && (_stricmp(argv[i], "present") == 0 || _stricmp(argv[i], "absent") == 0)) {
            bPresent = _stricmp(argv[i], "present") == 0;
            bState = true;
        } else if (_stricmp(argv[i], "--timeout") == 0 && dwTimeoutMs == INFINITE) {
            if (i + 1 == argc) {
                return UsageError("'%s' needs a number of seconds", argv[i]);
            }
            if (!ReadSeconds(argv[++i], &dwTimeoutMs)) {
                return UsageError("'%s' is not a whole number of seconds", argv[i]);
            }
        } else {
            return UsageError("'wait' does not take '%s'", argv[i]);
        }
    }
    return Wait(bPresent, dwTimeoutMs);
}

int main(int argc, char** argv) {
    CtlOutput out;
    memset(&out, 0, sizeof(out));
    if (argc < 2) {
        return UsageError("no verb given%s", "");
    }
    const char* verb = argv[1];
    if (IsHelp(verb)) {
        if (argc > 3 || (argc == 3 && _stricmp(verb, "help") != 0)) {
            return UsageError("'%s' takes no argument", verb);
        }
        return Help(argc == 3 ? argv[2] : NULL);
    }
    if (_stricmp(verb, "--version") == 0) {
        if (argc > 2) {
            return UsageError("'%s' takes no argument", verb);
        }
        printf("donglectl %s\n", DONGLE_VERSION_TEXT);
        return 0;
    }
    const bool bKnown = _stricmp(verb, "status") == 0 || _stricmp(verb, "list") == 0 ||
                        _stricmp(verb, "disable") == 0 || _stricmp(verb, "enable") == 0 ||
                        _stricmp(verb, "reset") == 0 || _stricmp(verb, "wait") == 0;
    if (!bKnown) {
        return UsageError("unknown verb '%s'; the verbs are status, list, disable, enable, reset "
                          "and wait",
                          verb);
    }
    if (argc == 3 && IsHelp(argv[2]) && _stricmp(argv[2], "help") != 0) {
        return Help(verb);
    }
    if (_stricmp(verb, "wait") == 0) {
        return Finished(WaitVerb(argc, argv));
    }
    // The other verbs: an optional --json anywhere after the verb, and at most one GUID.
    const char* guidText = NULL;
    for (int i = 2; i < argc; i++) {
        if (_stricmp(argv[i], "--json") == 0 && !out.bJson) {
            out.bJson = true;
        } else if (guidText == NULL && _stricmp(verb, "status") != 0) {
            guidText = argv[i];
        } else {
            return UsageError(_stricmp(verb, "status") == 0 ? "'%s' takes no argument"
                                                            : "'%s' takes one interface class GUID",
                              verb);
        }
    }
    if (_stricmp(verb, "status") == 0) {
        return Status(&out);
    }
    GUID interfaceClass;
    if (guidText != NULL && !ReadInterfaceClassGuid(guidText, &interfaceClass)) {
        return UsageError("'%s' is not an interface class GUID; expected one like "
                          "{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
                          guidText);
    }
    if (_stricmp(verb, "list") == 0) {
        return List(&out, guidText != NULL ? &interfaceClass : NULL);
    }
    if (guidText == NULL) {
        return UsageError("'%s' needs an interface class GUID", verb);
    }
    return Finished(Switch(&out, verb, interfaceClass));
}
