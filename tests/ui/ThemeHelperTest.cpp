#include <gtest/gtest.h>

#include <wx/gdicmn.h>

#include "ui/ThemeHelper.h"

namespace kestrane {
namespace {

TEST(ThemeHelper, WithoutTheLibraryEveryCallFallsBack) {
    CThemeHelper missing(nullptr);
    EXPECT_FALSE(missing.IsThemeActive());
    EXPECT_FALSE(missing.IsAppThemed());
    EXPECT_EQ(missing.OpenThemeData(nullptr, L"BUTTON"), nullptr);
    int token = 0;
    HTHEME fake = &token;
    EXPECT_EQ(missing.CloseThemeData(fake), kE_FAIL);
    EXPECT_EQ(missing.DrawThemeBackground(fake, nullptr, kBpCheckBox, kCbsCheckedNormal, wxRect(0, 0, 16, 16)), kE_FAIL);
    EXPECT_EQ(missing.DrawThemeEdge(fake, nullptr, 0, 0, wxRect(0, 0, 16, 16)), kE_FAIL);
}

}  // namespace
}  // namespace kestrane
