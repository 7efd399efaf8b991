// The owners of system resources.
#include "base/Owners.h"

#include <gtest/gtest.h>

namespace {

// An owner going out of scope between a failing call and GetLastError must not hide the
// failure.
TEST(OwnersTest, ReleasingAHandleKeepsTheLastError) {
    UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    SetLastError(ERROR_ACCESS_DENIED);
    event.reset();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(event);
    UniqueHandle invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(invalid);  // either invalid value owns nothing
}

}  // namespace
