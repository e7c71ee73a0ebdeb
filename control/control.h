// The device module's control operations: switching the dongle's nodes of one device-interface
// class off and on again through the class installer, and counting present and disabled dongle
// nodes. The program's entry does not call them.
//
// Switching needs administrator rights, and a process of the machine's own width: a 32-bit
// process on 64-bit Windows (WOW64) is refused every change by the class installer
// (ERROR_IN_WOW64), whatever its rights. There DisableDongles still pauses 2000 ms for each
// selected interface and returns 0, and EnableDongles returns 0, as when nothing is to be
// switched; QueryDongleStatus is unaffected. A 64-bit program links the x64 build of this module
// (the win64 preset's libdongle.a) to switch devices on 64-bit Windows.
#pragma once

#include "platform/platform.h"

// Disables, through the class installer, the present devices exposing an interface of
// interfaceClass that are positively identified as dongle nodes: in the device tree now (status
// readable), the first hardware ID begins with the primary pattern and the instance ID of the
// node's grandparent has at least 6 characters. A node that leaves the tree while the list is
// walked (the interface node of a composite dongle, once its parent is disabled) is passed over.
// Pauses 2000 ms before each class-installer call. Returns the number of interfaces whose device
// the installer reported as changed (a device with several interfaces of the class is handled,
// and counted, once per interface), or -1 when the device list cannot be had.
int DisableDongles(GUID interfaceClass);

// Re-enables the same selection among all devices exposing an interface of interfaceClass, the
// ones not present included: a disabled device's interfaces are not present, a composite
// dongle's interface nodes leave the tree while it is disabled, and a dongle may have been
// unplugged since. Such a node is enabled while it is out of the tree, so that it comes back
// enabled (see JudgeDongleNode for how it is identified). Each selected interface
// gets a global enable and then a configuration-specific enable; the result counts the
// interfaces whose configuration-specific enable succeeded and that are not left disabled in
// every profile (a failed global enable counts only where the device's CONFIGFLAG_DISABLED is
// known to be clear). Returns -1 when the device list cannot be had.
//
// The class installer may accept a change for the next restart (DI_NEEDRESTART): such a change
// counts, in both operations, and until the restart QueryDongleStatus shows the node as it is.
int EnableDongles(GUID interfaceClass);

// Reads an interface class GUID written as Windows writes it, {xxxxxxxx-xxxx-xxxx-xxxx-
// xxxxxxxxxxxx} in either case, or without the braces, with the platform's own parser
// (UuidFromStringA). False for any other text.
bool ReadInterfaceClassGuid(const char* text, GUID* pGuid);

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
    dvSelectedByHardwareId, // enabling: not in the tree, ancestry unreadable
    dvNoHardwareIds,        // the hardware IDs cannot be read
    dvAnotherProduct,       // no hardware ID begins with the primary pattern
    dvLaterHardwareId,      // a later hardware ID does, but only the first counts
    dvNotInTree,            // disabling: not in the device tree
    dvNoStatus,             // disabling: the status cannot be read
    dvNoAncestry,           // the parent or the grandparent cannot be had
    dvNoGrandparentId,      // the grandparent's instance ID cannot be read
    dvShortGrandparentId    // the grandparent's instance ID is shorter than 6 characters
};
DongleVerdict JudgeDongleNode(HDEVINFO hDevInfo, PSP_DEVINFO_DATA pDid, bool bEnable);

// Counts the present nodes whose first hardware ID begins with the primary pattern and whose
// status can be read (*pnFound), and among them those disabled: problem bit set with problem
// number CM_PROB_DISABLED (*pnDisabled). Returns ERROR_SUCCESS, or the platform's error code when
// the device list cannot be had, with both outputs left as they were.
DWORD QueryDongleStatus(DWORD* pnFound, DWORD* pnDisabled);
