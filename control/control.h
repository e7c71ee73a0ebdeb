// The device module's control operations: switching the dongle's nodes of one device-interface
// class off and on again through the class installer, and counting present and disabled dongle
// nodes. The program's entry does not call them.
//
// Switching needs administrator rights, and a process of the machine's own width: a 32-bit
// process on 64-bit Windows (WOW64) is refused every change by the class installer
// (ERROR_IN_WOW64), whatever its rights. There DisableDongles still pauses 2000 ms for each
// selected interface and counts nothing, and EnableDongles counts only the nodes that were
// enabled already; QueryDongleStatus is unaffected. A 64-bit program links the x64 build of this
// module (the win64 preset's libdongle.a) to switch devices on 64-bit Windows.
#pragma once

#include "census/identity.h"
#include "platform/platform.h"

// Disables, through the class installer, the present devices exposing an interface of
// interfaceClass that are positively identified as dongle nodes: in the device tree now (status
// readable), the first hardware ID begins with the primary pattern and the instance ID of the
// node's grandparent has at least 6 characters. A node that leaves the tree while the list is
// walked (the interface node of a composite dongle, once its parent is disabled) is passed over.
// Pauses 2000 ms before each class-installer call. Never writes a setting itself.
//
// Returns the number of interfaces whose device holds the asked state as read back after the
// change (see DongleOutcomeHolds): the installer's answer is not taken on trust. A device with
// several interfaces of the class is handled, and counted, once per interface. Returns -1 when
// the device list cannot be had.
int DisableDongles(GUID interfaceClass);

// Re-enables the same selection among all devices exposing an interface of interfaceClass, the
// ones not present included: a disabled device's interfaces are not present, a composite
// dongle's interface nodes leave the tree while it is disabled (and come back only when Windows
// enumerates them again, after the walk that enabled their parent), and a dongle may have been
// unplugged since. Such a node is enabled while it is out of the tree, so that it comes back
// enabled (see JudgeDongleNode for how it is identified). Each selected interface gets a global
// enable and then a configuration-specific enable. Where the installer leaves a node that is not
// in the tree disabled (it may refuse a node without a devnode and write nothing), its global
// disable setting is cleared through its own setter, so that it comes back enabled all the same;
// a node that the current hardware profile still disables is reported as coming back disabled
// (that setting has no documented setter: plugged in, the node can be enabled again).
//
// Returns the number of interfaces whose device's settings, read back, leave it enabled: both
// CONFIGFLAG_DISABLED and the current profile's CSCONFIGFLAG_DISABLED clear (a setting that
// cannot be read counts by the installer's answer for its scope). Returns -1 when the device list
// cannot be had.
int EnableDongles(GUID interfaceClass);

// How DisableDongles (bEnable false) or EnableDongles (bEnable true) judges one device that
// exposes an interface of the class it was given: selected, or why it is passed over.
//
// Disabling takes only a node that is in the device tree now, its status readable. Enabling also
// takes a node that Windows reports as not in the tree (its status read answers
// CR_NO_SUCH_DEVINST); where its parent or grandparent cannot be had (before Windows 8) or its
// grandparent's instance ID cannot be read, its first hardware ID alone selects it. A node in
// the tree whose ancestry cannot be read (under Wine, every node) is passed over.
enum DongleVerdict {
    dvSelected,
    dvNoDevice,             // the interface's device cannot be had
    dvSelectedByHardwareId, // enabling: not in the tree, ancestry unreadable
    dvNoHardwareIds,        // the hardware IDs cannot be read
    dvAnotherProduct,       // no hardware ID begins with the primary pattern
    dvSecondProduct,        // the first hardware ID is the dongle's second product's, which
                            // switching does not take (it selects by the primary pattern only)
    dvLaterHardwareId,      // a later hardware ID does, but only the first counts
    dvNotInTree,            // disabling: not in the device tree
    dvNoStatus,             // disabling: the status cannot be read
    dvNoAncestry,           // the parent or the grandparent cannot be had
    dvNoGrandparentId,      // the grandparent's instance ID cannot be read
    dvShortGrandparentId,   // the grandparent's instance ID is shorter than 6 characters
    // Judged for a given class by a caller that lists devices (donglectl list): the device
    // exposes no interface of the class, or (disabling) none of them is present.
    dvNoInterfaceOfClass,
    dvInterfaceNotPresent,
    // Judged for no class in particular (donglectl list): the device exposes no interface at
    // all, so no interface class can select it.
    dvNoInterface
};
DongleVerdict JudgeDongleNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, bool bEnable);

// What became of one interface's device in a switching pass, read back after its changes.
enum DongleOutcome {
    doPassedOver,      // not selected (the verdict says why); nothing was asked
    doSwitched,        // in the tree, runs in the asked state, and its settings say so
    doAtRestart,       // its settings say so; the installer asks for a restart to apply them
                       // (DI_NEEDRESTART or DI_NEEDREBOOT in the device's install parameters)
    doSettingWritten,  // its settings say so, but it still runs as before and no restart was
                       // asked for (the change failed after its setting was written)
    doRefused,         // in the tree, and its settings do not say so: refused (dwError)
    doAbsentAsAsked,   // not in the tree; comes back in the asked state when plugged in
    doAbsentNotAsAsked // not in the tree; comes back in the other state (dwError)
};

// True for the outcomes that the switching counts: the node holds the asked state, or will at
// the next restart or insertion.
bool DongleOutcomeHolds(DongleOutcome outcome);

struct DongleSwitchReport {
    bool bEnable;                  // the pass: enabling, or disabling
    char szInstanceId[cbIdBuffer]; // the device's instance ID; empty when it cannot be had
    DongleVerdict verdict;         // why it was selected, or passed over
    DongleOutcome outcome;
    DWORD dwError; // the installer's (or a setter's) first error; 0 for none
};

// Called once per interface of the class, in list order, after that interface was handled.
// Returning false stops the pass before the next interface.
typedef bool (*DongleReportFn)(const DongleSwitchReport* pReport, void* pContext);

// Called for each selected interface of a disabling pass in place of its 2000 ms pause, between
// the accepted parameters and the class installer's call (pReport names the device, its outcome
// not yet known): pauses dwPauseMs, or less where the caller was asked to stop, and returns
// whether to go on with the change. Returning false asks nothing of that device: it is reported
// passed over, and the caller's report function may then stop the pass.
typedef bool (*DonglePauseFn)(const DongleSwitchReport* pReport, DWORD dwPauseMs, void* pContext);

// DisableDongles (bEnable false) or EnableDongles (bEnable true), reporting each interface to
// pfnReport and pausing through pfnPause (either may be NULL: no report; a plain Sleep). Same
// result.
int SwitchDongles(GUID interfaceClass, bool bEnable, DongleReportFn pfnReport,
                  DonglePauseFn pfnPause, void* pContext);

// Whether each node named in ids (instance IDs as a multi-string, ended by an empty string) is
// left enabled as far as a disabling pass could have changed it: its global disable setting
// (CONFIGFLAG_DISABLED) reads back clear or, where it cannot be read, the node is in the tree
// and runs enabled. A node that Windows no longer lists at all was uninstalled and has no
// setting left. False, with the first node that is not (or whose state cannot be had) in
// szFirstLeft, when one is not.
bool DongleNodesEnabled(const char* ids, char* szFirstLeft, size_t cchFirstLeft);

// Reads an interface class GUID written as Windows writes it, {xxxxxxxx-xxxx-xxxx-xxxx-
// xxxxxxxxxxxx} in either case, or without the braces, with the platform's own parser
// (UuidFromStringA). False for any other text.
bool ReadInterfaceClassGuid(const char* text, GUID* pGuid);

// Counts the present nodes whose first hardware ID begins with the primary pattern and whose
// status can be read (*pnFound), and among them those disabled: problem bit set with problem
// number CM_PROB_DISABLED (*pnDisabled). Returns ERROR_SUCCESS, or the platform's error code when
// the device list cannot be had, with both outputs left as they were.
DWORD QueryDongleStatus(DWORD* pnFound, DWORD* pnDisabled);
