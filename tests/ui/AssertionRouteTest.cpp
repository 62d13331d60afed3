#include <gtest/gtest.h>

#include "ui/AssertionRoute.h"

namespace kestrane {
namespace {

// An assertion (the Help menu's ids once raised three a click) is written, and the program goes on.
TEST(AssertionRoute, AnAssertionIsWrittenToStandardErrorNotAsked) {
    const wxAssertHandler_t previous = RouteAssertionsToStderr();
    testing::internal::CaptureStderr();
    wxFAIL_MSG("menu id out of range");
    const std::string written = testing::internal::GetCapturedStderr();
    wxSetAssertHandler(previous);
    EXPECT_NE(written.find("toolkit assertion failed"), std::string::npos) << written;
    EXPECT_NE(written.find("menu id out of range"), std::string::npos) << written;
    EXPECT_NE(written.find("AssertionRouteTest.cpp"), std::string::npos) << written;
}

}  // namespace
}  // namespace kestrane
