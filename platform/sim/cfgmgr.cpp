// The simulated platform: the Configuration Manager (cfgmgr32.h) over the device tree.
#include "platform/sim/state.h"

#include <cstring>

using sim::St;

extern "C" {

CONFIGRET CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags) {
    sim::Call();
    if (pdnDevInst == nullptr) {
        return CR_INVALID_POINTER;
    }
    // Like Wine, a failed lookup stores node 0, which is a valid node here (the first device).
    *pdnDevInst = 0;
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    if (dnDevInst == sim::kRootNode) {
        return CR_NO_SUCH_DEVNODE;
    }
    sim::Device* d = sim::NodeDevice(dnDevInst);
    if (d == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    if (d->failParent != CR_SUCCESS) {
        return d->failParent;
    }
    const sim::Device* parent = sim::ParentDevice(*d);
    if (!sim::InTree(*d)) {
        // A node that is not present ("Determining the parent of a device", DEVPKEY_Device_Parent):
        // before Windows 8 its parent cannot be had; from Windows 8 on it is the parent the node
        // last had while that one still exists as a device, present or not, and otherwise the
        // root of the tree. The documentation says this of the property, not of CM_Get_Parent;
        // the stricter reading holds CM_Get_Parent to the same.
        if (!St().windows8) {
            return CR_NO_SUCH_DEVNODE;
        }
        *pdnDevInst = parent == nullptr ? sim::kRootNode : sim::NodeOf(*parent);
        return CR_SUCCESS;
    }
    if (d->parent.empty()) {
        *pdnDevInst = sim::kRootNode;
        return CR_SUCCESS;
    }
    if (parent == nullptr) {
        return CR_NO_SUCH_DEVNODE;
    }
    *pdnDevInst = sim::NodeOf(*parent);
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    sim::Call();
    if (Buffer == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    std::string id;
    if (dnDevInst == sim::kRootNode) {
        id = sim::kRootId;
    } else {
        sim::Device* d = sim::NodeDevice(dnDevInst);
        if (d == nullptr) {
            return CR_INVALID_DEVNODE;
        }
        if (d->failInstanceId != CR_SUCCESS) {
            return d->failInstanceId;
        }
        id = d->instanceId;
    }
    if (BufferLen < id.size() + 1) {
        return CR_BUFFER_SMALL;
    }
    memcpy(Buffer, id.c_str(), id.size() + 1);
    return CR_SUCCESS;
}

// The device a profile-flags call names, or the CONFIGRET the call fails with.
static CONFIGRET ProfileFlagsDevice(DEVINSTID_A pDeviceID, ULONG ulProfile, ULONG ulFlags,
                                    sim::Device** ppDevice) {
    if (pDeviceID == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    *ppDevice = sim::FindDevice(pDeviceID);
    if (*ppDevice == nullptr || ulProfile != 0) {
        return CR_NO_SUCH_DEVINST;
    }
    return (*ppDevice)->failProfileFlags;
}

// The current hardware profile's flags of a device (CSCONFIGFLAG_DISABLED is the setting a
// configuration-specific change writes). Deprecated from Windows 8 on: the documentation does not
// say that it fails there, but a device's failProfileFlags makes it fail, as a program must
// survive, and a Windows may lack it (the program looks it up). Where the device has no key in
// the profile yet, it answers 0 with CR_SUCCESS, as ReactOS's does. Its setter,
// CM_Set_HW_Prof_Flags, is "reserved for system use" on Microsoft's page (ReactOS answers
// CR_CALL_NOT_IMPLEMENTED, Wine has a stub): this platform has none, so that a program that called
// it would not build here.
CONFIGRET CM_Get_HW_Prof_FlagsA(DEVINSTID_A pDeviceID, ULONG ulHardwareProfile, PULONG pulValue,
                                ULONG ulFlags) {
    sim::Call();
    sim::Device* d = nullptr;
    if (pulValue == nullptr) {
        return CR_INVALID_POINTER;
    }
    const CONFIGRET cr = ProfileFlagsDevice(pDeviceID, ulHardwareProfile, ulFlags, &d);
    if (cr != CR_SUCCESS) {
        return cr;
    }
    *pulValue = d->profileKeyMissing
                    ? 0
                    : d->otherProfileFlags | (d->disabledConfig ? CSCONFIGFLAG_DISABLED : 0);
    return CR_SUCCESS;
}

CONFIGRET CM_Get_DevNode_Status_Ex(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst,
                                   ULONG ulFlags, HMACHINE hMachine) {
    sim::Call();
    if (pulStatus == nullptr || pulProblemNumber == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (ulFlags != 0) {
        return CR_INVALID_FLAG;
    }
    sim::Device* d = sim::NodeDevice(dnDevInst);
    if (d == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    sim::Event("Status " + d->instanceId + (hMachine ? " remote" : " local"));
    // Only the local machine is modelled: any machine handle is one the platform never issued.
    if (hMachine != nullptr) {
        St().badHandles++;
        return CR_INVALID_MACHINENAME;
    }
    // A node that is not in the tree has no devnode, so no status. CM_Get_DevNode_Status's
    // documentation names no code for it; CR_NO_SUCH_DEVINST (cfgmgr32.h, the same value as
    // CR_NO_SUCH_DEVNODE) is the one that says so. The program takes only this answer as "not
    // present": any other failure leaves a node to be identified as a present one is.
    if (!sim::InTree(*d)) {
        return CR_NO_SUCH_DEVNODE;
    }
    if (d->failStatus != CR_SUCCESS) {
        return d->failStatus;
    }
    if (d->statusWritesNothing) {
        return CR_SUCCESS;
    }
    if (sim::Disabled(*d)) {
        *pulStatus = (d->status & ~(ULONG)DN_STARTED) | DN_HAS_PROBLEM;
        *pulProblemNumber = CM_PROB_DISABLED;
    } else {
        *pulStatus = d->status;
        *pulProblemNumber = d->problem;
    }
    return CR_SUCCESS;
}

} // extern "C"
