// The administrator check that guards configuration, and the open security descriptor that
// the COM server runs with.
#pragma once
#include <windows.h>
#include <functional>
#include <vector>

// True when the caller's token lists the local Administrators group (deny-only included).
bool IsLocalAdministrator();

// Tests force the answer of IsLocalAdministrator (the test prefix's user is an administrator);
// an empty function restores the real check.
void SetAdministratorCheckForTesting(std::function<bool()> check);

// Holder of an absolute security descriptor with a null DACL and its owner and group copies.
class ComSecurityDescriptor {
public:
    ComSecurityDescriptor() = default;
    ComSecurityDescriptor(const ComSecurityDescriptor&) = delete;
    ComSecurityDescriptor& operator=(const ComSecurityDescriptor&) = delete;

    PSECURITY_DESCRIPTOR get() { return descriptor_.empty() ? nullptr : descriptor_.data(); }
    void Reset();

private:
    friend HRESULT BuildComSecurityDescriptor(ComSecurityDescriptor&, bool, bool);
    std::vector<BYTE> descriptor_;
    std::vector<BYTE> owner_;
    std::vector<BYTE> group_;
};

// Builds the descriptor: null DACL (every caller allowed), owner and group from the calling
// thread's token or, when the thread has none, from the process token.
[[nodiscard]] HRESULT BuildComSecurityDescriptor(ComSecurityDescriptor& holder, bool ownerAndGroupDefaulted,
                                   bool fallBackToProcessToken);
