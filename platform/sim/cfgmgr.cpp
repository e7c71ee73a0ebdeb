// The simulated platform: the Configuration Manager (cfgmgr32.h) over the device tree.
#include "platform/sim/state.h"

#include <cstring>

using sim::St;

extern "C" {

CONFIGRET CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG ulFlags) {
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
    if (d->parent.empty()) {
        *pdnDevInst = sim::kRootNode;
        return CR_SUCCESS;
    }
    for (size_t i = 0; i < St().devices.size(); i++) {
        if (sim::Upper(St().devices[i].instanceId) == sim::Upper(d->parent)) {
            *pdnDevInst = (DEVINST)i;
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CM_Get_Device_IDA(DEVINST dnDevInst, PSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
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

CONFIGRET CM_Get_DevNode_Status_Ex(PULONG pulStatus, PULONG pulProblemNumber, DEVINST dnDevInst,
                                   ULONG ulFlags, HMACHINE hMachine) {
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
    if (!d->present) {
        return CR_NO_SUCH_DEVNODE;
    }
    if (d->failStatus != CR_SUCCESS) {
        return d->failStatus;
    }
    if (d->statusWritesNothing) {
        return CR_SUCCESS;
    }
    *pulStatus = d->status;
    *pulProblemNumber = d->problem;
    return CR_SUCCESS;
}

} // extern "C"
