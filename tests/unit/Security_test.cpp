// The administrator check, and the COM security descriptor.
#include "host/Security.h"
#include "host/ServiceHost.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(Security, ThePrefixUserIsALocalAdministrator) { EXPECT_TRUE(IsLocalAdministrator()); }

TEST(Security, DescriptorHasANullDaclAndTheTokensOwnerAndGroup) {
    ComSecurityDescriptor holder;
    ASSERT_EQ(BuildComSecurityDescriptor(holder, false, true), S_OK);
    PSECURITY_DESCRIPTOR descriptor = holder.get();
    ASSERT_NE(descriptor, nullptr);
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));

    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(dacl, nullptr);  // present and null: everyone may call

    PSID owner = nullptr, group = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
    EXPECT_FALSE(defaulted);
    ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor, &group, &defaulted));
    EXPECT_FALSE(defaulted);
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(group, nullptr);

    // The owner is the process token's user: this thread does not impersonate.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE buffer[512];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    CloseHandle(token);
    EXPECT_TRUE(EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid));
}

TEST(Security, WithoutTheProcessFallbackAThreadWithoutTokenFails) {
    ComSecurityDescriptor holder;
    HRESULT result = BuildComSecurityDescriptor(holder, false, false);
    EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_NO_TOKEN));
}

}  // namespace
