// The test programs' side of gui_support: the dialog framework started once
// per program, as the entry point does, and script failures as test failures.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include "gui_support.h"
#include "ui/dialog_base.h"

namespace korvane::test {
namespace {

class UiEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                               ICC_PROGRESS_CLASS |
                                                               ICC_TAB_CLASSES};
        InitCommonControlsEx(&classes);
        ASSERT_TRUE(module_init(GetModuleHandleA(nullptr)));
        module_attach_main_thread();
    }
    void TearDown() override { module_shutdown(); }
};

testing::Environment* const ui_environment = testing::AddGlobalTestEnvironment(new UiEnvironment);

}  // namespace

void report_failure(const std::string& message) {
    ADD_FAILURE() << message;
}

}  // namespace korvane::test
