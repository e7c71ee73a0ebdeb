// The simulated platform's state and the helpers its API families share.
#include "platform/sim/state.h"

#include <cstring>

namespace sim {

State& St() {
    static State state;
    return state;
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = (char)(c - 'a' + 'A');
        }
    }
    return s;
}

std::string ErrorText(DWORD error) {
    if (error == 0) {
        return "ok";
    }
    char text[16];
    snprintf(text, sizeof(text), "0x%X", error);
    return text;
}

void Event(const std::string& line) {
    St().events.push_back(line);
}

BOOL Fail(DWORD error) {
    St().lastError = error;
    return FALSE;
}

bool SameGuid(const GUID& a, const GUID& b) {
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

DevInfoSet* FindSet(HDEVINFO h) {
    for (const auto& set : St().sets) {
        if (set.get() == h) {
            return set.get();
        }
    }
    St().badHandles++;
    return nullptr;
}

OpenKey* FindKey(HKEY h) {
    for (const auto& key : St().openKeys) {
        if ((HKEY)key.get() == h) {
            return key.get();
        }
    }
    St().badHandles++;
    return nullptr;
}

bool FindMember(HDEVINFO h, PSP_DEVINFO_DATA did, Member* member) {
    member->set = FindSet(h);
    if (member->set == nullptr) {
        St().lastError = ERROR_INVALID_HANDLE;
        return false;
    }
    if (did == nullptr || did->cbSize != sizeof(SP_DEVINFO_DATA)) {
        St().lastError = ERROR_INVALID_USER_BUFFER;
        return false;
    }
    member->index = (size_t)did->DevInst;
    if (did->Reserved != (ULONG_PTR)member->set || member->set->members.count(member->index) == 0) {
        St().lastError = ERROR_INVALID_PARAMETER;
        return false;
    }
    member->device = &St().devices[member->index];
    return true;
}

Device* ParentDevice(const Device& d) {
    if (d.parent.empty()) {
        return nullptr;
    }
    for (Device& p : St().devices) {
        if (Upper(p.instanceId) == Upper(d.parent)) {
            return &p;
        }
    }
    return nullptr;
}

bool InTree(const Device& d) {
    // A planted cycle of parents ends the walk as if the tree ended there.
    const Device* node = &d;
    for (size_t depth = 0; depth <= St().devices.size(); depth++) {
        if (!node->present || node->awaitsEnumeration > 0) {
            return false;
        }
        const Device* parent = ParentDevice(*node);
        if (parent == nullptr) {
            return true;
        }
        if (Disabled(*parent)) {
            return false;
        }
        node = parent;
    }
    return true;
}

void ApplyPlugs() {
    auto& plugs = St().plugs;
    for (auto it = plugs.begin(); it != plugs.end();) {
        const bool due = it->atList != 0 ? it->atList <= St().lists : it->at <= St().now;
        Device* d = due ? FindDevice(it->instanceId) : nullptr;
        if (d == nullptr) {
            ++it;
            continue;
        }
        d->present = it->plugged;
        if (it->hardwareIds) {
            d->hardwareIds = it->hardwareIds;
        }
        const bool silent = it->silent;
        it = plugs.erase(it);
        if (!silent && !d->interfaces.empty()) {
            Notify(*d, d->present);
        }
    }
}

DWORD NextPlug() {
    DWORD next = 0xFFFFFFFF;
    for (const State::Plug& p : St().plugs) {
        next = p.at > St().now && p.at < next ? p.at : next;
    }
    return next;
}

bool Disabled(const Device& d) {
    return d.runsDisabled ? *d.runsDisabled : d.disabledGlobal || d.disabledConfig;
}

bool InterfacePresent(const Device& d, size_t i) {
    return d.unlinkedInterfaces.count(i) == 0 && InTree(d) && !Disabled(d);
}

DEVINST NodeOf(const Device& d) {
    for (size_t i = 0; i < St().devices.size(); i++) {
        if (&St().devices[i] == &d) {
            return (DEVINST)i;
        }
    }
    return kRootNode;
}

Device* NodeDevice(DEVINST node) {
    if (node >= St().devices.size()) {
        return nullptr;
    }
    return &St().devices[node];
}

} // namespace sim
