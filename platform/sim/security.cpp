// The simulated platform: tokens, SIDs, access lists and security descriptors (securitybaseapi.h)
// in Windows' own layouts, the file system under them (fileapi.h), the shell's common application
// data folder, and named mutexes.
//
// Access checks follow "How DACLs Control Access to an Object": the owner may always read and
// change the access list; the entries are read in order, and the first that denies a right asked
// for denies the access. The folders Windows makes are given the lists it gives them: the root
// of C:, where every authenticated user may make a folder and then change what lies in it (the
// entry Authenticated Users: Modify, inherited by subfolders), and ProgramData, where Users may
// add folders and files, each creator owning what they made (CREATOR OWNER), and no one but
// SYSTEM and Administrators may delete what another made.
#include "platform/sim/state.h"

#include <cstring>

using sim::St;

namespace sim {

std::string SidOf(BYTE authority, const std::vector<DWORD>& rids) {
    std::string sid(8, '\0');
    sid[0] = 1;
    sid[1] = (char)rids.size();
    sid[7] = (char)authority;
    for (DWORD rid : rids) {
        sid.append((const char*)&rid, sizeof(rid));
    }
    return sid;
}

const std::string kSystemSid = SidOf(5, {SECURITY_LOCAL_SYSTEM_RID});
const std::string kAdministratorsSid =
    SidOf(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
const std::string kUsersSid = SidOf(5, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS});
const std::string kEveryoneSid = SidOf(1, {0});
const std::string kAuthenticatedUsersSid = SidOf(5, {11});
const std::string kCreatorOwnerSid = SidOf(3, {0});
const std::string kAdministratorUserSid = SidOf(5, {21, 1, 2, 3, 500});
const std::string kStandardUserSid = SidOf(5, {21, 1, 2, 3, 1001});

bool Elevated() {
    return St().token == Token::System || St().token == Token::Administrator;
}

std::vector<std::string> TokenSids() {
    switch (St().token) {
    case Token::System:
        return {kSystemSid, kAdministratorsSid, kEveryoneSid, kAuthenticatedUsersSid};
    case Token::Administrator:
        return {kAdministratorUserSid, kAdministratorsSid, kUsersSid, kEveryoneSid,
                kAuthenticatedUsersSid};
    case Token::FilteredAdministrator:
        return {kAdministratorUserSid, kUsersSid, kEveryoneSid, kAuthenticatedUsersSid};
    case Token::StandardUser:
        return {kStandardUserSid, kUsersSid, kEveryoneSid, kAuthenticatedUsersSid};
    }
    return {};
}

// Generic rights as files map them.
static ACCESS_MASK MapGeneric(ACCESS_MASK mask) {
    if (mask & GENERIC_READ) {
        mask |= FILE_GENERIC_READ;
    }
    if (mask & GENERIC_WRITE) {
        mask |= FILE_GENERIC_WRITE;
    }
    if (mask & GENERIC_EXECUTE) {
        mask |= FILE_GENERIC_EXECUTE;
    }
    if (mask & GENERIC_ALL) {
        mask |= FILE_ALL_ACCESS;
    }
    return mask & ~(ACCESS_MASK)(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

bool AccessAllowed(const Security& security, ACCESS_MASK desired) {
    const std::vector<std::string> sids = TokenSids();
    auto holds = [&](const std::string& sid) {
        return std::find(sids.begin(), sids.end(), sid) != sids.end();
    };
    ACCESS_MASK wanted = MapGeneric(desired);
    if (holds(security.owner)) {
        wanted &= ~(ACCESS_MASK)(READ_CONTROL | WRITE_DAC);
    }
    for (const Ace& ace : security.dacl) {
        if (wanted == 0) {
            break;
        }
        if ((ace.flags & INHERIT_ONLY_ACE) != 0 || !holds(ace.sid)) {
            continue;
        }
        const ACCESS_MASK mask = MapGeneric(ace.mask);
        if (ace.type == ACCESS_DENIED_ACE_TYPE && (mask & wanted) != 0) {
            return false;
        }
        if (ace.type == ACCESS_ALLOWED_ACE_TYPE) {
            wanted &= ~mask;
        }
    }
    return wanted == 0;
}

// The entries a new file or folder inherits from its folder's list (CREATOR OWNER standing for
// its owner).
static std::vector<Ace> Inherited(const Security& parent, bool directory,
                                  const std::string& owner) {
    std::vector<Ace> aces;
    for (Ace ace : parent.dacl) {
        const bool toFiles = (ace.flags & OBJECT_INHERIT_ACE) != 0;
        const bool toFolders = (ace.flags & CONTAINER_INHERIT_ACE) != 0;
        if (directory ? !(toFiles || toFolders) : !toFiles) {
            continue;
        }
        if (ace.sid == kCreatorOwnerSid) {
            ace.sid = owner;
        }
        if (!directory) {
            ace.flags = INHERITED_ACE;
        } else if (toFolders) {
            ace.flags = (BYTE)((ace.flags & ~INHERIT_ONLY_ACE) | INHERITED_ACE);
        } else {
            ace.flags = (BYTE)(ace.flags | INHERIT_ONLY_ACE | INHERITED_ACE);
        }
        aces.push_back(ace);
    }
    return aces;
}

static std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

static std::string SidBytes(PSID pSid) {
    const BYTE* p = (const BYTE*)pSid;
    return std::string((const char*)p, 8 + 4 * (size_t)p[1]);
}

// The list an absolute or self-relative descriptor holds, as entries.
static std::vector<Ace> AclEntries(const ACL* pAcl) {
    std::vector<Ace> aces;
    const BYTE* p = (const BYTE*)pAcl + sizeof(ACL);
    for (WORD i = 0; i < pAcl->AceCount; i++) {
        const ACCESS_ALLOWED_ACE* ace = (const ACCESS_ALLOWED_ACE*)p;
        aces.push_back(
            {ace->Header.AceType, ace->Header.AceFlags, ace->Mask, SidBytes((PSID)&ace->SidStart)});
        p += ace->Header.AceSize;
    }
    return aces;
}

// Who a new file or folder belongs to and who may use it: an explicit descriptor's list, and
// (unless it is protected) what the folder passes on; the owner given where the token may
// assign it, else the token's default owner (Administrators for an elevated administrator or
// SYSTEM, the user otherwise).
static Security NewSecurity(const std::string& path, bool directory, LPSECURITY_ATTRIBUTES sa) {
    Security security;
    security.owner = Elevated() ? kAdministratorsSid : TokenSids()[0];
    const SECURITY_DESCRIPTOR* sd =
        sa != nullptr ? (const SECURITY_DESCRIPTOR*)sa->lpSecurityDescriptor : nullptr;
    if (sd != nullptr && sd->Owner != nullptr) {
        const std::string owner = SidBytes(sd->Owner);
        const std::vector<std::string> sids = TokenSids();
        if (owner == sids[0] || (Elevated() && owner == kAdministratorsSid)) {
            security.owner = owner;
        }
    }
    if (sd != nullptr && (sd->Control & SE_DACL_PRESENT) != 0 && sd->Dacl != nullptr) {
        security.dacl = AclEntries(sd->Dacl);
        security.isProtected = (sd->Control & SE_DACL_PROTECTED) != 0;
    }
    if (!security.isProtected) {
        const std::vector<Ace> inherited =
            Inherited(St().files[Upper(Parent(path))].security, directory, security.owner);
        security.dacl.insert(security.dacl.end(), inherited.begin(), inherited.end());
    }
    return security;
}

void AddFolder(const std::string& path, const Security& security) {
    FileNode& node = St().files[Upper(path)];
    node.directory = true;
    node.security = security;
}

// The disk as Windows leaves it: C:\ and ProgramData with their lists, and donglectl in a folder
// an administrator made under C:\.
void PlantFileSystem() {
    const BYTE inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    const ACCESS_MASK modify =
        FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE;
    const ACCESS_MASK readExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    St().files.clear();
    AddFolder("C:", {kSystemSid,
                     false,
                     {{ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, kSystemSid},
                      {ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, kAdministratorsSid},
                      {ACCESS_ALLOWED_ACE_TYPE, inherit, readExecute, kUsersSid},
                      {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ADD_SUBDIRECTORY, kAuthenticatedUsersSid},
                      {ACCESS_ALLOWED_ACE_TYPE, inherit | INHERIT_ONLY_ACE, modify,
                       kAuthenticatedUsersSid}}});
    AddFolder(
        "C:\\ProgramData",
        {kSystemSid,
         true,
         {{ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, kSystemSid},
          {ACCESS_ALLOWED_ACE_TYPE, inherit, FILE_ALL_ACCESS, kAdministratorsSid},
          {ACCESS_ALLOWED_ACE_TYPE, inherit | INHERIT_ONLY_ACE, FILE_ALL_ACCESS, kCreatorOwnerSid},
          {ACCESS_ALLOWED_ACE_TYPE, inherit, readExecute, kUsersSid},
          {ACCESS_ALLOWED_ACE_TYPE, CONTAINER_INHERIT_ACE,
           FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES,
           kUsersSid}}});
    const Security made = {kAdministratorsSid, false,
                           Inherited(St().files["C:"].security, true, kAdministratorsSid)};
    AddFolder("C:\\Tools", made);
    AddFolder("C:\\Tools\\donglectl",
              {kAdministratorsSid, false, Inherited(made, true, kAdministratorsSid)});
    FileNode& program = St().files[Upper(kProgramPath)];
    program.bytes = ProgramFile();
    program.security = {kAdministratorsSid, false, Inherited(made, false, kAdministratorsSid)};
}

static FileNode* FindFile(const std::string& path) {
    auto it = St().files.find(Upper(path));
    return it != St().files.end() ? &it->second : nullptr;
}

// Deleting or renaming a file or folder: DELETE on it, or FILE_DELETE_CHILD on its folder.
static bool MayDelete(const std::string& path) {
    const FileNode* parent = FindFile(Parent(path));
    return AccessAllowed(FindFile(path)->security, DELETE) ||
           (parent != nullptr && AccessAllowed(parent->security, FILE_DELETE_CHILD));
}

static OpenFile* FindOpenFile(HANDLE h) {
    const size_t n = (size_t)h - kFileHandles;
    if ((size_t)h < kFileHandles || n >= St().openFiles.size() || !St().openFiles[n]) {
        St().badHandles++;
        return nullptr;
    }
    return &*St().openFiles[n];
}

void LoseUnflushed() {
    // What the lazy flusher wrote stays: it writes a hive's changes in the order made.
    for (auto it = St().unflushed.rbegin(); it != St().unflushed.rend(); ++it) {
        if (St().lazyFlushMs == 0 || St().now - it->at < St().lazyFlushMs) {
            it->undo();
        }
    }
    St().unflushed.clear();
    // FlushFileBuffers: data written and not flushed may be lost.
    for (auto& [path, node] : St().files) {
        if (!node.flushed) {
            node.bytes.clear();
            node.flushed = true;
        }
    }
}

// MOVEFILE_DELAY_UNTIL_REBOOT: the session manager's list, in the SYSTEM hive.
static const char kSessionManager[] = "SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER";
static const char kPendingRenames[] = "PENDINGFILERENAMEOPERATIONS";

void DeletePendingFiles() {
    auto value = St().keys[kSessionManager].values.find(kPendingRenames);
    if (value == St().keys[kSessionManager].values.end()) {
        return;
    }
    const std::string& list = value->second.bytes;
    for (size_t i = 0; i < list.size() && list[i] != '\0'; i += strlen(list.c_str() + i) + 2) {
        const std::string path = Upper(list.c_str() + i + 4); // after "\??\"
        FileNode* node = FindFile(path);
        const bool empty = std::none_of(St().files.begin(), St().files.end(), [&](const auto& f) {
            return f.first.compare(0, path.size() + 1, path + "\\") == 0;
        });
        if (node != nullptr && (!node->directory || empty)) {
            St().files.erase(path);
        }
    }
    St().keys[kSessionManager].values.erase(kPendingRenames);
}

} // namespace sim

extern "C" {

BOOL InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
    if (pAcl == nullptr || nAclLength < sizeof(ACL) || dwAclRevision != ACL_REVISION) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    memset(pAcl, 0, sizeof(ACL));
    pAcl->AclRevision = (BYTE)dwAclRevision;
    pAcl->AclSize = (WORD)nAclLength;
    return TRUE;
}

BOOL AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask,
                           PSID pSid) {
    if (pAcl == nullptr || pSid == nullptr || dwAceRevision != ACL_REVISION) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    BYTE* p = (BYTE*)pAcl + sizeof(ACL);
    for (WORD i = 0; i < pAcl->AceCount; i++) {
        p += ((ACE_HEADER*)p)->AceSize;
    }
    const std::string sid = sim::SidBytes(pSid);
    const size_t size = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + sid.size();
    if ((size_t)(p - (BYTE*)pAcl) + size > pAcl->AclSize) {
        return sim::Fail(ERROR_ALLOTTED_SPACE_EXCEEDED);
    }
    ACCESS_ALLOWED_ACE* ace = (ACCESS_ALLOWED_ACE*)p;
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = (BYTE)AceFlags;
    ace->Header.AceSize = (WORD)size;
    ace->Mask = AccessMask;
    memcpy(&ace->SidStart, sid.data(), sid.size());
    pAcl->AceCount++;
    return TRUE;
}

BOOL GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    if (pAcl == nullptr || pAce == nullptr || dwAceIndex >= pAcl->AceCount) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    BYTE* p = (BYTE*)pAcl + sizeof(ACL);
    for (DWORD i = 0; i < dwAceIndex; i++) {
        p += ((ACE_HEADER*)p)->AceSize;
    }
    *pAce = p;
    return TRUE;
}

BOOL EqualSid(PSID pSid1, PSID pSid2) {
    return sim::SidBytes(pSid1) == sim::SidBytes(pSid2);
}

BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
    if (pSecurityDescriptor == nullptr || dwRevision != SECURITY_DESCRIPTOR_REVISION) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
    ((SECURITY_DESCRIPTOR*)pSecurityDescriptor)->Revision = (BYTE)dwRevision;
    return TRUE;
}

BOOL SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner,
                                BOOL bOwnerDefaulted) {
    (void)bOwnerDefaulted;
    ((SECURITY_DESCRIPTOR*)pSecurityDescriptor)->Owner = pOwner;
    return TRUE;
}

BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                               PACL pDacl, BOOL bDaclDefaulted) {
    (void)bDaclDefaulted;
    SECURITY_DESCRIPTOR* sd = (SECURITY_DESCRIPTOR*)pSecurityDescriptor;
    sd->Dacl = bDaclPresent ? pDacl : nullptr;
    sd->Control =
        (WORD)(bDaclPresent ? sd->Control | SE_DACL_PRESENT : sd->Control & ~SE_DACL_PRESENT);
    return TRUE;
}

// SetSecurityDescriptorControl: only the inheritance bits may be set this way.
BOOL SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                  SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet) {
    if ((ControlBitsOfInterest & ~SE_DACL_PROTECTED) != 0) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    SECURITY_DESCRIPTOR* sd = (SECURITY_DESCRIPTOR*)pSecurityDescriptor;
    sd->Control =
        (WORD)((sd->Control & ~ControlBitsOfInterest) | (ControlBitsToSet & ControlBitsOfInterest));
    return TRUE;
}

// A self-relative descriptor (what GetFileSecurityA writes): offsets from its start in place of
// the pointers.
struct RelativeDescriptor {
    BYTE Revision;
    BYTE Sbz1;
    WORD Control;
    DWORD Owner;
    DWORD Group;
    DWORD Sacl;
    DWORD Dacl;
};

BOOL GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID* pOwner,
                                BOOL* lpbOwnerDefaulted) {
    const RelativeDescriptor* rel = (const RelativeDescriptor*)pSecurityDescriptor;
    *lpbOwnerDefaulted = FALSE;
    if ((rel->Control & SE_SELF_RELATIVE) != 0) {
        *pOwner = rel->Owner != 0 ? (BYTE*)pSecurityDescriptor + rel->Owner : nullptr;
    } else {
        *pOwner = ((SECURITY_DESCRIPTOR*)pSecurityDescriptor)->Owner;
    }
    return TRUE;
}

BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL* lpbDaclPresent,
                               PACL* pDacl, BOOL* lpbDaclDefaulted) {
    const RelativeDescriptor* rel = (const RelativeDescriptor*)pSecurityDescriptor;
    *lpbDaclDefaulted = FALSE;
    *lpbDaclPresent = (rel->Control & SE_DACL_PRESENT) != 0;
    if ((rel->Control & SE_SELF_RELATIVE) != 0) {
        *pDacl = rel->Dacl != 0 ? (PACL)((BYTE*)pSecurityDescriptor + rel->Dacl) : nullptr;
    } else {
        *pDacl = ((SECURITY_DESCRIPTOR*)pSecurityDescriptor)->Dacl;
    }
    return TRUE;
}

BOOL GetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                      PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                      LPDWORD lpnLengthNeeded) {
    sim::Call();
    const sim::FileNode* node = sim::FindFile(lpFileName);
    if (node == nullptr) {
        return sim::Fail(ERROR_FILE_NOT_FOUND);
    }
    if (!sim::AccessAllowed(node->security, READ_CONTROL)) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    std::string acl(sizeof(ACL), '\0');
    for (const sim::Ace& ace : node->security.dacl) {
        ACCESS_ALLOWED_ACE header;
        header.Header = {ace.type, ace.flags,
                         (WORD)(sizeof(ACE_HEADER) + sizeof(ACCESS_MASK) + ace.sid.size())};
        header.Mask = ace.mask;
        acl.append((const char*)&header, sizeof(ACE_HEADER) + sizeof(ACCESS_MASK));
        acl += ace.sid;
    }
    ACL aclHeader = {ACL_REVISION, 0, (WORD)acl.size(), (WORD)node->security.dacl.size(), 0};
    memcpy(&acl[0], &aclHeader, sizeof(aclHeader));
    RelativeDescriptor rel = {SECURITY_DESCRIPTOR_REVISION, 0, SE_SELF_RELATIVE, 0, 0, 0, 0};
    std::string out(sizeof(rel), '\0');
    if (RequestedInformation & OWNER_SECURITY_INFORMATION) {
        rel.Owner = (DWORD)out.size();
        out += node->security.owner;
    }
    if (RequestedInformation & DACL_SECURITY_INFORMATION) {
        rel.Control |= SE_DACL_PRESENT | (node->security.isProtected ? SE_DACL_PROTECTED : 0);
        rel.Dacl = (DWORD)out.size();
        out += acl;
    }
    memcpy(&out[0], &rel, sizeof(rel));
    *lpnLengthNeeded = (DWORD)out.size();
    if (nLength < out.size()) {
        return sim::Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    memcpy(pSecurityDescriptor, out.data(), out.size());
    return TRUE;
}

HRESULT SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, LPSTR pszPath) {
    sim::Call();
    if (hwnd != nullptr || hToken != nullptr || dwFlags != SHGFP_TYPE_CURRENT ||
        csidl != CSIDL_COMMON_APPDATA || pszPath == nullptr) {
        return E_FAIL;
    }
    strcpy(pszPath, "C:\\ProgramData");
    return S_OK;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    sim::Call();
    const std::string path = lpPathName;
    sim::Event("CreateDirectory " + sim::Upper(path));
    const sim::FileNode* parent = sim::FindFile(sim::Parent(path));
    if (sim::FindFile(path) != nullptr) {
        return sim::Fail(ERROR_ALREADY_EXISTS);
    }
    if (parent == nullptr || !parent->directory) {
        return sim::Fail(ERROR_PATH_NOT_FOUND);
    }
    if (!sim::AccessAllowed(parent->security, FILE_ADD_SUBDIRECTORY)) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    sim::AddFolder(path, sim::NewSecurity(path, true, lpSecurityAttributes));
    return TRUE;
}

BOOL RemoveDirectoryA(LPCSTR lpPathName) {
    sim::Call();
    const std::string path = sim::Upper(lpPathName);
    const sim::FileNode* node = sim::FindFile(path);
    if (node == nullptr || !node->directory) {
        return sim::Fail(node == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_DIRECTORY);
    }
    if (!sim::FilesUnder(path).empty()) {
        return sim::Fail(ERROR_DIR_NOT_EMPTY);
    }
    if (!sim::MayDelete(path)) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    sim::Event("RemoveDirectory " + path);
    St().files.erase(path);
    return TRUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    sim::Call();
    (void)dwShareMode, (void)dwFlagsAndAttributes, (void)hTemplateFile;
    const std::string path = lpFileName;
    sim::FileNode* node = sim::FindFile(path);
    const sim::FileNode* parent = sim::FindFile(sim::Parent(path));
    const bool writes = (dwDesiredAccess & (GENERIC_WRITE | FILE_WRITE_DATA)) != 0;
    DWORD error = 0;
    if (dwCreationDisposition == CREATE_NEW || (dwCreationDisposition == CREATE_ALWAYS && !node)) {
        if (node != nullptr) {
            error = ERROR_FILE_EXISTS;
        } else if (parent == nullptr || !parent->directory) {
            error = ERROR_PATH_NOT_FOUND;
        } else if (!sim::AccessAllowed(parent->security, FILE_ADD_FILE)) {
            error = ERROR_ACCESS_DENIED;
        } else {
            sim::FileNode& made = St().files[sim::Upper(path)];
            made.security = sim::NewSecurity(path, false, lpSecurityAttributes);
            made.flushed = false;
            node = &made;
        }
    } else if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == CREATE_ALWAYS) {
        if (node == nullptr || node->directory) {
            error = node == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
        } else if (!sim::AccessAllowed(node->security, dwDesiredAccess)) {
            error = ERROR_ACCESS_DENIED;
        } else if (writes &&
                   sim::Upper(path) ==
                       sim::Upper(St().modulePath.empty() ? sim::kProgramPath : St().modulePath)) {
            error = ERROR_SHARING_VIOLATION; // the running program's file is mapped
        } else if (dwCreationDisposition == CREATE_ALWAYS) {
            node->bytes.clear();
            node->flushed = false;
        }
    } else {
        error = ERROR_INVALID_PARAMETER;
    }
    if (error != 0) {
        sim::Fail(error);
        return INVALID_HANDLE_VALUE;
    }
    St().openFiles.push_back(sim::OpenFile{sim::Upper(path), dwDesiredAccess, 0});
    return (HANDLE)(sim::kFileHandles + St().openFiles.size() - 1);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, void* lpOverlapped) {
    sim::Call();
    sim::OpenFile* file = sim::FindOpenFile(hFile);
    *lpNumberOfBytesRead = 0;
    if (file == nullptr || lpOverlapped != nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    const sim::FileNode* node = sim::FindFile(file->path);
    if ((file->access & (GENERIC_READ | FILE_READ_DATA)) == 0 || node == nullptr) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    const size_t n = std::min<size_t>(
        nNumberOfBytesToRead, node->bytes.size() - std::min(file->position, node->bytes.size()));
    memcpy(lpBuffer, node->bytes.data() + file->position, n);
    file->position += n;
    *lpNumberOfBytesRead = (DWORD)n;
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, void* lpOverlapped) {
    sim::Call();
    sim::OpenFile* file = sim::FindOpenFile(hFile);
    *lpNumberOfBytesWritten = 0;
    if (file == nullptr || lpOverlapped != nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    sim::FileNode* node = sim::FindFile(file->path);
    if ((file->access & (GENERIC_WRITE | FILE_WRITE_DATA)) == 0 || node == nullptr) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    if (nNumberOfBytesToWrite > St().diskFree) {
        return sim::Fail(ERROR_DISK_FULL);
    }
    St().diskFree -= St().diskFree == SIZE_MAX ? 0 : nNumberOfBytesToWrite;
    node->bytes.replace(file->position, nNumberOfBytesToWrite, (const char*)lpBuffer,
                        nNumberOfBytesToWrite);
    node->flushed = false;
    file->position += nNumberOfBytesToWrite;
    *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile) {
    sim::Call();
    sim::OpenFile* file = sim::FindOpenFile(hFile);
    if (file == nullptr) {
        return sim::Fail(ERROR_INVALID_HANDLE);
    }
    if (sim::FileNode* node = sim::FindFile(file->path)) {
        node->flushed = true;
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR lpFileName) {
    sim::Call();
    const std::string path = sim::Upper(lpFileName);
    const sim::FileNode* node = sim::FindFile(path);
    if (node == nullptr || node->directory) {
        return sim::Fail(node == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    }
    // DeleteFile: a program's file cannot be deleted while the program runs.
    if (!sim::MayDelete(path) ||
        path == sim::Upper(St().modulePath.empty() ? sim::kProgramPath : St().modulePath)) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    sim::Event("DeleteFile " + path);
    St().files.erase(path);
    return TRUE;
}

// A rename, or (MOVEFILE_DELAY_UNTIL_REBOOT with no new name) a deletion at the next restart,
// which only an administrator or LocalSystem may ask for: it is kept in the session manager's
// PendingFileRenameOperations, in the SYSTEM hive.
BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    sim::Call();
    const std::string path = sim::Upper(lpExistingFileName);
    if (sim::FindFile(path) == nullptr) {
        return sim::Fail(ERROR_FILE_NOT_FOUND);
    }
    if (dwFlags == MOVEFILE_DELAY_UNTIL_REBOOT && lpNewFileName == nullptr) {
        if (!sim::Elevated()) {
            return sim::Fail(ERROR_ACCESS_DENIED);
        }
        sim::Event("DeleteAtRestart " + path);
        sim::WillWrite(sim::kSessionManager);
        sim::RegValue& list = St().keys[sim::kSessionManager].values[sim::kPendingRenames];
        list.type = REG_MULTI_SZ;
        list.bytes += std::string("\\??\\") + lpExistingFileName + '\0' + '\0';
        return TRUE;
    }
    // A rename. MOVEFILE_REPLACE_EXISTING replaces a file of the new name, never a folder (and
    // not the source's being one), and needs the right to delete the file it replaces;
    // without it an existing name fails with ERROR_ALREADY_EXISTS. MOVEFILE_WRITE_THROUGH
    // returns once the rename is on disk, as every rename here is.
    const std::string target = sim::Upper(lpNewFileName != nullptr ? lpNewFileName : "");
    const sim::FileNode* targetParent = sim::FindFile(sim::Parent(target));
    const sim::FileNode* replaced = sim::FindFile(target);
    if ((dwFlags & ~(DWORD)(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) != 0 ||
        target.empty()) {
        return sim::Fail(ERROR_INVALID_PARAMETER);
    }
    if (targetParent == nullptr || !targetParent->directory) {
        return sim::Fail(ERROR_PATH_NOT_FOUND);
    }
    if (replaced != nullptr && (dwFlags & MOVEFILE_REPLACE_EXISTING) == 0) {
        return sim::Fail(ERROR_ALREADY_EXISTS);
    }
    if (replaced != nullptr &&
        (replaced->directory || sim::FindFile(path)->directory || !sim::MayDelete(target) ||
         target == sim::Upper(St().modulePath.empty() ? sim::kProgramPath : St().modulePath))) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    if (!sim::MayDelete(path) || !sim::AccessAllowed(targetParent->security, FILE_ADD_FILE)) {
        return sim::Fail(ERROR_ACCESS_DENIED);
    }
    if (replaced != nullptr) {
        St().files.erase(target);
    }
    std::map<std::string, sim::FileNode> moved;
    for (auto it = St().files.begin(); it != St().files.end();) {
        if (it->first == path || it->first.compare(0, path.size() + 1, path + "\\") == 0) {
            moved[target + it->first.substr(path.size())] = it->second;
            it = St().files.erase(it);
        } else {
            ++it;
        }
    }
    St().files.insert(moved.begin(), moved.end());
    return TRUE;
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
    sim::Call();
    if (lpMutexAttributes != nullptr || bInitialOwner || lpName == nullptr) {
        sim::Fail(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto& mutexes = St().mutexes;
    size_t i = 0;
    while (i < mutexes.size() && mutexes[i].name != lpName) {
        i++;
    }
    if (i == mutexes.size()) {
        mutexes.push_back({lpName});
    }
    St().mutexHandles.push_back(i);
    return (HANDLE)(sim::kMutexHandles + St().mutexHandles.size() - 1);
}

BOOL ReleaseMutex(HANDLE hMutex) {
    sim::Call();
    const size_t n = (size_t)hMutex - sim::kMutexHandles;
    if ((size_t)hMutex < sim::kMutexHandles || n >= St().mutexHandles.size() ||
        !St().mutexHandles[n] || !St().mutexes[*St().mutexHandles[n]].heldHere) {
        return sim::Fail(ERROR_NOT_OWNER);
    }
    St().mutexes[*St().mutexHandles[n]].heldHere = false;
    return TRUE;
}

// Events need no closing here; files and mutexes do.
BOOL CloseHandle(HANDLE hObject) {
    sim::Call();
    const size_t h = (size_t)hObject;
    if (h >= sim::kFileHandles && h - sim::kFileHandles < St().openFiles.size() &&
        St().openFiles[h - sim::kFileHandles]) {
        St().openFiles[h - sim::kFileHandles].reset();
        return TRUE;
    }
    if (h >= sim::kMutexHandles && h - sim::kMutexHandles < St().mutexHandles.size() &&
        St().mutexHandles[h - sim::kMutexHandles]) {
        St().mutexHandles[h - sim::kMutexHandles].reset();
        return TRUE;
    }
    if (h > 0 && h <= St().eventObjects.size()) {
        return TRUE;
    }
    St().badHandles++;
    return sim::Fail(ERROR_INVALID_HANDLE);
}

} // extern "C"

namespace sim {

// A wait on a mutex: owned at once where no one holds it, abandoned where a process ended
// holding it; held by another process, the wait runs its full time.
DWORD WaitForMutex(HANDLE hMutex, DWORD ms) {
    const size_t n = (size_t)hMutex - kMutexHandles;
    if (n >= St().mutexHandles.size() || !St().mutexHandles[n]) {
        St().badHandles++;
        Fail(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    State::Mutex& m = St().mutexes[*St().mutexHandles[n]];
    if (m.heldElsewhere) {
        Advance(ms == INFINITE ? 3600000 : ms);
        return WAIT_TIMEOUT;
    }
    m.heldHere = true;
    if (m.abandoned) {
        m.abandoned = false;
        return WAIT_ABANDONED;
    }
    return WAIT_OBJECT_0;
}

bool FileExists(const std::string& path) {
    return FindFile(path) != nullptr;
}

std::string FileBytes(const std::string& path) {
    const FileNode* node = FindFile(path);
    return node != nullptr ? node->bytes : std::string();
}

void DiskFree(size_t bytes) {
    St().diskFree = bytes;
}

std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> found;
    const std::string prefix = Upper(folder) + "\\";
    for (const auto& file : St().files) {
        if (file.first.compare(0, prefix.size(), prefix) == 0) {
            found.push_back(file.first);
        }
    }
    return found;
}

void HoldMutexElsewhere(const std::string& name, bool held) {
    auto& mutexes = St().mutexes;
    auto it = std::find_if(mutexes.begin(), mutexes.end(),
                           [&](const State::Mutex& m) { return m.name == name; });
    if (it == mutexes.end()) {
        mutexes.push_back({name});
        it = std::prev(mutexes.end());
    }
    it->heldElsewhere = held;
}

} // namespace sim
