// A fixture for the control wrappers: the toolkit test dialog, open for each
// test, and the window of the one control under test.
#pragma once

#include "ToolkitTestResource.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

namespace wintest {

template <int ControlId> class DialogControlTest : public ::testing::Test {
  protected:
    TestDialog dialog{IDD_TOOLKIT_TEST};
    HWND hwnd = nullptr;

    void SetUp() override {
        ASSERT_NE(nullptr, dialog.window);
        hwnd = dialog.Item(ControlId);
        ASSERT_NE(nullptr, hwnd);
    }
};

} // namespace wintest
