// Message boxes under a window manager, as a user meets them: each belongs to the dialog in front (the
// About box, the save options, the start dialog) and stands above it, so that the mouse and the keys
// reach it. The test runs itself again on a display of its own with openbox, clicking with xdotool.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <wx/apptrait.h>
#include <wx/hyperlink.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/timer.h>

#include <algorithm>
#include <filesystem>

#include "ui/AboutDlg.h"
#include "ui/AppTexts.h"
#include "ui/Opendlg.h"
#include "ui/PilotConsoleApp.h"
#include "ui/SaveoptionDlg.h"
#include "WindowManagerDisplay.h"
#include "WxTestLoop.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

const char* kOnOwnDisplay = "KESTRANE_TEST_ON_OWN_DISPLAY";

// The X window of a top-level window, through the toolkit's own calls (found at run time).
unsigned long XWindowOf(wxWindow* window) {
    using WidgetWindow = void* (*)(void*);
    using WindowId = unsigned long (*)(void*);
    static const auto widgetWindow = reinterpret_cast<WidgetWindow>(dlsym(RTLD_DEFAULT, "gtk_widget_get_window"));
    static const auto windowId = reinterpret_cast<WindowId>(dlsym(RTLD_DEFAULT, "gdk_x11_window_get_xid"));
    if (!window || !window->GetHandle() || !widgetWindow || !windowId) return 0;
    void* drawable = widgetWindow(window->GetHandle());
    return drawable ? windowId(drawable) : 0;
}

// Where the window manager stacks `window` among the client windows (higher is in front); -1: nowhere.
int StackPlace(wxWindow* window) {
    const unsigned long id = XWindowOf(window);
    const std::vector<unsigned long> stack = test::StackedClientWindows();
    const auto at = std::find(stack.begin(), stack.end(), id);
    return id == 0 || at == stack.end() ? -1 : static_cast<int>(at - stack.begin());
}

void User(const std::string& xdotoolArguments) {
    EXPECT_EQ(std::system(("xdotool " + xdotoolArguments).c_str()), 0) << xdotoolArguments;
}

void ClickCentre(wxWindow* control) {
    const wxRect r = control->GetScreenRect();
    User("mousemove --sync " + std::to_string(r.x + r.width / 2) + " " + std::to_string(r.y + r.height / 2) +
         " click 1");
}

// The message boxes on screen, as the modal hook sees them; lets every dialog show.
class ShownBoxes : public wxModalDialogHook {
public:
    ShownBoxes() { Register(); }
    ~ShownBoxes() override { Unregister(); }
    int Enter(wxDialog* dialog) override {
        if (auto* box = dynamic_cast<wxMessageDialogBase*>(dialog)) open = box;
        return wxID_NONE;
    }
    void Exit(wxDialog* dialog) override {
        if (dialog == open) open = nullptr;
    }
    wxMessageDialogBase* open = nullptr;
};

// Steps run one after the other from a timer, which also ticks inside the modal loops of the dialogs
// and boxes; a step that does not come true in time fails the test.
struct Step {
    std::string name;
    std::function<bool()> done;
};

bool RunSteps(const std::vector<Step>& steps, int stepTimeoutMs) {
    size_t current = 0;
    bool failed = false;
    auto began = std::chrono::steady_clock::now();
    wxTimer timer;
    timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (current >= steps.size() || failed) return;
        if (steps[current].done()) {
            ++current;
            began = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - began > std::chrono::milliseconds(stepTimeoutMs)) {
            ADD_FAILURE() << "step \"" << steps[current].name << "\" did not happen";
            failed = true;
            User("key Escape");  // a box in the way, then the dialog under it
        }
    });
    timer.Start(100);
    test::PumpUntil([&] { return current >= steps.size() || failed; }, stepTimeoutMs * static_cast<int>(steps.size()));
    timer.Stop();
    return !failed && current >= steps.size();
}

// The checks on a box that stands for `owner`: the toolkit's parent, the window manager's owner and
// its place in the stack.
void ExpectBoxAbove(ShownBoxes& boxes, wxWindow* owner, const std::wstring& text) {
    ASSERT_NE(boxes.open, nullptr);
    EXPECT_EQ(boxes.open->GetMessage().ToStdWstring().rfind(text, 0), 0u) << boxes.open->GetMessage().ToStdString();
    EXPECT_EQ(boxes.open->GetParent(), owner);
    EXPECT_EQ(test::TransientFor(XWindowOf(boxes.open)), XWindowOf(owner));
    EXPECT_GT(StackPlace(boxes.open), StackPlace(owner));
}

TEST(WindowManager, MessagesBelongToTheDialogInFrontAndStandAboveIt) {
    if (!std::getenv(kOnOwnDisplay)) {
        if (const std::string why = test::WindowManagerMissing(); !why.empty()) {
            if (std::getenv("CI") && std::string(std::getenv("CI")) == "true") FAIL() << "required under CI: " << why;
            GTEST_SKIP() << why;
        }
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        EXPECT_EQ(test::RunOnDisplayWithWindowManager(std::string(info->test_suite_name()) + "." + info->name(),
                                                      kOnOwnDisplay, std::chrono::seconds(150)),
                  0)
            << "the run on a display with a window manager failed (its output is above)";
        return;
    }

    ASSERT_TRUE(test::WindowManagerRunning(std::chrono::seconds(10)));
    const test::FreezeGuard guard(120);
    const fs::path work = fs::temp_directory_path() / ("kestrane-wm-" + std::to_string(::getpid()));
    fs::create_directories(work);
    RunState state(std::string(KESTRANE_BINARY_DIR) + "/collation.txt");
    AppSetup setup;
    setup.state = &state;
    setup.executableDir = KESTRANE_BINARY_DIR;
    setup.activityLogPath = (work / "log.txt").string();
    setup.openUrl = [](const std::string&) { return false; };  // a machine with no browser
    auto* app = new CPilot_ConsoleApp(setup);
    ASSERT_TRUE(test::StartToolkit(app));
    {
        ASSERT_TRUE(app->CallOnInit());
        std::unique_ptr<wxEventLoopBase> loop(wxTheApp->GetTraits()->CreateEventLoop());
        wxEventLoopActivator activate(loop.get());
        Opendlg* start = app->StartDialog();
        ASSERT_NE(start, nullptr);
        ShownBoxes boxes;
        CAboutDlg* about = nullptr;
        bool aboutEnded = false;
        std::unique_ptr<SaveoptionDlg> options;
        bool optionsEnded = false;
        const auto shown = [](wxWindow* window) { return window && StackPlace(window) >= 0; };
        const auto boxShown = [&] { return boxes.open && shown(boxes.open); };
        const auto act = [](std::function<void()> action) {
            return [action = std::move(action)] {
                action();
                return true;
            };
        };
        const std::vector<Step> steps = {
            {"the start dialog shows", [&] { return shown(start); }},
            // The start dialog: Next without files.
            {"click Next", act([&] { ClickCentre(start->FindWindow(1016)); })},
            {"its message shows", boxShown},
            {"the message stands above the start dialog",
             act([&] { ExpectBoxAbove(boxes, start, L"Please browse ldf file to continue recovery process"); })},
            {"Enter answers it", act([&] { User("key Return"); })},
            {"the message goes", [&] { return !boxes.open; }},
            // About, from the start dialog's Help menu; its link on a machine with no browser.
            {"open About", act([&] {
                 wxTheApp->CallAfter([&] {
                     start->Logic().OnHelpCommand(kCmdAbout);
                     aboutEnded = true;
                 });
             })},
            {"About shows", [&] {
                 for (wxWindow* window : wxTopLevelWindows)
                     if (auto* box = dynamic_cast<CAboutDlg*>(window); box && box->IsModal()) about = box;
                 return shown(about);
             }},
            {"About belongs to the start dialog", act([&] {
                 EXPECT_EQ(about->GetParent(), start);
                 EXPECT_EQ(test::TransientFor(XWindowOf(about)), XWindowOf(start));
                 EXPECT_GT(StackPlace(about), StackPlace(start));
             })},
            {"click the home page link", act([&] { ClickCentre(about->FindWindow(CAboutDlg::kSiteLinkId)); })},
            {"its message shows", boxShown},
            {"the message stands above About",
             act([&] { ExpectBoxAbove(boxes, about, L"No web browser could be started"); })},
            {"Enter answers it", act([&] { User("key Return"); })},
            {"the message goes", [&] { return !boxes.open; }},
            {"About's OK ends About", act([&] { ClickCentre(about->FindWindow(wxID_OK)); })},
            {"About goes", [&] { return aboutEnded; }},
            // The save options: OK with no kind of operation ticked.
            {"open the save options", act([&] {
                 wxTheApp->CallAfter([&] {
                     options = std::make_unique<SaveoptionDlg>(start, state, app->Prompts(),
                                                               app->SaveOptionsSettings(), FolderChooser());
                     options->ShowModal();
                     optionsEnded = true;
                 });
             })},
            {"the save options show", [&] { return shown(options.get()); }},
            {"click OK", act([&] { ClickCentre(options->FindWindow(wxID_OK)); })},
            {"its message shows", boxShown},
            {"the message stands above the save options",
             act([&] { ExpectBoxAbove(boxes, options.get(), L"Please select at least one operation to be saved"); })},
            {"Enter answers it", act([&] { User("key Return"); })},
            {"the message goes", [&] { return !boxes.open; }},
            {"Cancel ends the save options", act([&] { ClickCentre(options->FindWindow(wxID_CANCEL)); })},
            {"the save options go", [&] { return optionsEnded; }},
        };
        EXPECT_TRUE(RunSteps(steps, 15000));
        options.reset();
        app->Quit(0);
    }
    wxEntryCleanup();
    fs::remove_all(work);
}

}  // namespace
}  // namespace kestrane
