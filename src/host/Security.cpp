#include "host/Security.h"

#include "base/ErrorResult.h"
#include "base/Owners.h"

#include <mutex>

namespace {

std::mutex checkLock;
std::function<bool()> forcedCheck;

// Reads a SID-holding token class (TokenUser or TokenPrimaryGroup) and copies its SID.
HRESULT ReadTokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind, std::vector<BYTE>& sid) {
    DWORD size = 0;
    if (GetTokenInformation(token, kind, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return LastErrorResult();
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token, kind, buffer.data(), size, &size)) return LastErrorResult();
    PSID source = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                                    : reinterpret_cast<TOKEN_PRIMARY_GROUP*>(buffer.data())->PrimaryGroup;
    DWORD length = GetLengthSid(source);
    sid.assign(length, 0);
    if (!CopySid(length, sid.data(), source)) return LastErrorResult();
    return S_OK;
}

HRESULT ReadOwnerAndGroup(HANDLE token, std::vector<BYTE>& user, std::vector<BYTE>& group) {
    HRESULT result = ReadTokenSid(token, TokenUser, user);
    if (FAILED(result)) return result;
    return ReadTokenSid(token, TokenPrimaryGroup, group);
}

}  // namespace

void SetAdministratorCheckForTesting(std::function<bool()> check) {
    std::lock_guard<std::mutex> guard(checkLock);
    forcedCheck = std::move(check);
}

bool IsLocalAdministrator() {
    {
        std::lock_guard<std::mutex> guard(checkLock);
        if (forcedCheck) return forcedCheck();
    }
    HANDLE raw = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw)) {
        if (GetLastError() != ERROR_NO_TOKEN) return false;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
    }
    UniqueHandle token(raw);
    alignas(TOKEN_GROUPS) BYTE buffer[1024];
    DWORD size = 0;
    BOOL read = GetTokenInformation(token.get(), TokenGroups, buffer, sizeof buffer, &size);
    token.reset();
    if (!read) return false;

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    AllocatedSid administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, administrators.put()))
        return false;
    // The group attributes (enabled, deny-only) are not looked at.
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer);
    bool member = false;
    for (DWORD i = 0; i < groups->GroupCount && !member; ++i)
        member = EqualSid(groups->Groups[i].Sid, administrators.get()) != FALSE;
    return member;
}

void ComSecurityDescriptor::Reset() {
    descriptor_.clear();
    owner_.clear();
    group_.clear();
}

HRESULT BuildComSecurityDescriptor(ComSecurityDescriptor& holder, bool ownerAndGroupDefaulted,
                                   bool fallBackToProcessToken) {
    holder.Reset();
    HRESULT result = S_OK;
    holder.descriptor_.assign(SECURITY_DESCRIPTOR_MIN_LENGTH, 0);
    PSECURITY_DESCRIPTOR descriptor = holder.descriptor_.data();
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        result = LastErrorResult();
        holder.descriptor_.clear();
        return result;
    }
    // Present and null: every caller is granted access.
    (void)SetSecurityDescriptorDacl(descriptor, TRUE, nullptr, FALSE);

    std::vector<BYTE> user, group;
    HANDLE raw = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &raw)) {
        UniqueHandle token(raw);
        result = ReadOwnerAndGroup(token.get(), user, group);
    } else {
        result = LastErrorResult();
    }
    if (FAILED(result) && fallBackToProcessToken && HRESULT_CODE(result) == ERROR_NO_TOKEN) {
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
            UniqueHandle token(raw);
            result = ReadOwnerAndGroup(token.get(), user, group);
        } else {
            result = LastErrorResult();
        }
    }
    if (FAILED(result)) return result;

    holder.owner_ = std::move(user);
    holder.group_ = std::move(group);
    if (!SetSecurityDescriptorOwner(descriptor, nullptr, ownerAndGroupDefaulted) ||
        !SetSecurityDescriptorOwner(descriptor, holder.owner_.data(), ownerAndGroupDefaulted))
        return LastErrorResult();
    if (!SetSecurityDescriptorGroup(descriptor, nullptr, ownerAndGroupDefaulted) ||
        !SetSecurityDescriptorGroup(descriptor, holder.group_.data(), ownerAndGroupDefaulted))
        return LastErrorResult();
    return S_OK;
}
