// The real dialogs, driven in-process on a display (the test command runs them under Xvfb): for every
// corpus pair the analysis fills the tree; on the first pair with logged operations a double-click lists
// them, a click shows values and a statement; Back returns to the start dialog. Then Save: two tables
// into a database through the test endpoint, and as scripts into a folder; the progress window's Close
// ends the program with code 0.
#include <gtest/gtest.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/combobox.h>
#include <wx/datectrl.h>
#include <wx/hyperlink.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/splitter.h>
#include <wx/textctrl.h>
#include <wx/apptrait.h>
#include <wx/dcclient.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/menu.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/LineBreaks.h"
#include "platform/TextCodec.h"
#include "support/Corpus.h"
#include "export/SsrpResponse.h"
#include "support/SsrpResponder.h"
#include "support/TdsEndpoint.h"
#include "ui/AboutDlg.h"
#include "ui/AppTexts.h"
#include "ui/HelpMenuButton.h"
#include "ui/ListColumns.h"
#include "ui/Migrationdlg.h"
#include "ui/Opendlg.h"
#include "ui/PilotConsoleApp.h"
#include "ui/PilotConsoleDlg.h"
#include "ui/SaveoptionDlg.h"
#include "ui/WxDispatcher.h"
#include "ui/WxPrompter.h"
#include "ui/XHtmlTree.h"
#include "WxTestLoop.h"

// The toolkit's libraries keep caches for the life of the process; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libgtk-3\nleak:libgdk-3\nleak:libglib-2.0\nleak:libgobject-2.0\nleak:libgio-2.0\n"
           "leak:libfontconfig\nleak:libpango\nleak:libcairo\nleak:libharfbuzz\nleak:libatk\n"
           "leak:libatspi\nleak:libdbus\nleak:libX11\nleak:libxkbcommon\nleak:libwx_\nleak:libepoxy\n"
           "leak:libgdk_pixbuf\nleak:librsvg\nleak:libpixman\nleak:libfreetype\n";
}

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test::FreezeGuard;
using test::PumpFor;
using test::PumpUntil;

// Answers every question with Yes and records what was shown; workers may call it too.
class YesPrompter : public Prompter {
public:
    void ShowMessage(const std::wstring& text, MessageIcon) override {
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back(text);
    }
    PromptAnswer AskYesNo(const std::wstring& text) override {
        std::lock_guard<std::mutex> lock(mutex);
        questions.push_back(text);
        return answer;
    }
    std::vector<std::wstring> Messages() {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }
    std::mutex mutex;
    std::vector<std::wstring> messages, questions;
    PromptAnswer answer = PromptAnswer::Yes;
};

// Answers every message box with Yes without showing it, and notes the window it belongs to and its
// text; other modal dialogs run as usual.
class AnswerBoxes : public wxModalDialogHook {
public:
    AnswerBoxes() { Register(); }
    int Enter(wxDialog* dialog) override {
        auto* box = dynamic_cast<wxMessageDialogBase*>(dialog);
        if (!box) return wxID_NONE;
        parents.push_back(dialog->GetParent());
        texts.push_back(box->GetMessage().ToStdWstring());
        return wxID_YES;
    }
    void Exit(wxDialog*) override {}
    std::vector<wxWindow*> parents;
    std::vector<std::wstring> texts;
};

// Double-clicks the label of `item` as the mouse would.
void DoubleClick(CXHtmlTree& view, TreeItem item) {
    wxRect label;
    ASSERT_TRUE(view.GetBoundingRect(view.ToWx(item), label, true));
    wxMouseEvent doubleClick(wxEVT_LEFT_DCLICK);
    doubleClick.SetPosition(label.GetPosition() + wxPoint(label.width / 2, label.height / 2));
    doubleClick.SetEventObject(&view);
    view.ProcessWindowEvent(doubleClick);
}

void PressKey(wxWindow& window, int key, wxEventType type = wxEVT_CHAR_HOOK) {
    wxKeyEvent press(type);
    press.m_keyCode = key;
    press.SetEventObject(&window);
    window.ProcessWindowEvent(press);
}

void SaveScreenshot(const wxRect& rect, const std::string& name) {
    const fs::path folder = fs::path(KESTRANE_BINARY_DIR) / "screenshots";
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path file = folder / (name + ".png");
    const std::string command = "import -window root -crop " + std::to_string(rect.width) + "x" +
                                std::to_string(rect.height) + "+" + std::to_string(rect.x) + "+" +
                                std::to_string(rect.y) + " '" + file.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) fs::remove(file, ec);
}

// Every row of a one-column log list can be read whole as the list draws it: on one line (it turns a
// line feed into a blank, and any other line break would start a line over the next rows), from 2 pixels
// into the column, cut short with "..." when wider than the column less 8 pixels; and its sideways
// scroll reaches the text's end.
void ExpectLinesReadable(wxListCtrl& list) {
    PumpFor(100);  // the list sets its scroll range when idle
    wxWindow& rows = *list.GetTargetWindow();
    wxClientDC dc(&rows);
    dc.SetFont(list.GetFont());
    int unit = 0;
    list.GetScrollPixelsPerUnit(&unit, nullptr);
    const int reach =
        (list.GetScrollRange(wxHORIZONTAL) - list.GetScrollThumb(wxHORIZONTAL)) * unit + rows.GetClientSize().x;
    for (long row = 0; row < list.GetItemCount(); ++row) {
        wxString drawn = list.GetItemText(row);
        const std::wstring text = drawn.ToStdWstring();
        EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](wchar_t c) { return c != L'\n' && IsLineBreak(c); }));
        drawn.Replace("\n", " ");
        const int width = dc.GetTextExtent(drawn).x;
        EXPECT_LE(width, list.GetColumnWidth(0) - 8) << drawn.ToStdString();
        EXPECT_LE(2 + width, reach) << drawn.ToStdString();
    }
}

// A driver's failure as the save logs it: its diagnostic records on lines of their own.
const std::wstring kDriverFailureLine =
    L"The server did not answer within 15 seconds while connecting to it (testing the connection): ODBC driver "
    L"\"FreeTDS\": [FreeTDS][SQL Server]Unable to connect: Adaptive Server is unavailable or does not exist\n"
    L"[FreeTDS][SQL Server]Timeout expired\n";

const std::wstring kLongTableLine =
    L"Table Movies : 162 operations, 49 kept, 15 left out by the chosen kinds, 98 outside the date ranges, "
    L"0 without a row image, 0 failed";

struct Pair {
    std::string set;
    fs::path data, log;
};

std::vector<Pair> CorpusPairs() {
    std::vector<Pair> pairs;
    auto root = test::CorpusRoot();
    if (!root) return pairs;
    for (const auto& facts : test::CorpusSummary()) {
        if (facts.matchingLog.empty() || facts.dataFile.empty()) continue;
        const fs::path folder = *root / facts.set;
        if (fs::exists(folder / facts.dataFile) && fs::exists(folder / facts.matchingLog))
            pairs.push_back({facts.set, folder / facts.dataFile, folder / facts.matchingLog});
    }
    return pairs;
}

// The tree as the analysis left it: "All[" n "]" under the root, tables with counts that add up.
struct TreeFacts {
    bool empty = true;
    uint64_t all = 0;
    uint64_t sum = 0;
    TreeItem firstTable = kNoTreeItem;
    uint64_t firstTableCount = 0;
};

uint64_t CountInLabel(const std::wstring& label) {
    const size_t open = label.rfind(L'[');
    if (open == std::wstring::npos || label.back() != L']') return UINT64_MAX;
    return std::stoull(label.substr(open + 1, label.size() - open - 2));
}

TreeFacts CheckTree(CPilot_ConsoleDlg& dialog, const Pair& pair) {
    TreeFacts facts;
    const XHtmlTreeModel& tree = dialog.Tree().Model();
    const TreeItem root = tree.GetRootItem();
    if (root == kNoTreeItem) return facts;
    facts.empty = false;
    EXPECT_EQ(WideToUtf8(tree.GetItemText(root)), pair.data.string());
    EXPECT_EQ(tree.GetChildren(kNoTreeItem).size(), 1u);
    const auto& underRoot = tree.GetChildren(root);
    EXPECT_EQ(underRoot.size(), 1u);
    if (underRoot.empty()) return facts;
    const TreeItem all = underRoot[0];
    const std::wstring allLabel = tree.GetItemText(all);
    EXPECT_EQ(allLabel.rfind(L"All[", 0), 0u) << WideToUtf8(allLabel);
    facts.all = CountInLabel(allLabel);
    std::wstring previous;
    for (TreeItem table : tree.GetChildren(all)) {
        const std::wstring label = tree.GetItemText(table);
        const uint64_t count = CountInLabel(label);
        EXPECT_GT(count, 0u) << WideToUtf8(label);
        EXPECT_NE(tree.GetItemData(table), 0u);
        facts.sum += count;
        if (facts.firstTable == kNoTreeItem || count > facts.firstTableCount) {
            facts.firstTable = table;
            facts.firstTableCount = count;
        }
        std::wstring lower = label;
        for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
        EXPECT_LE(previous, lower) << "tables sorted by label";
        previous = lower;
    }
    EXPECT_EQ(facts.sum, facts.all) << pair.set;
    // The window shows the tables in the same order.
    CXHtmlTree& view = dialog.Tree();
    std::vector<TreeItem> shown;
    wxTreeItemIdValue cookie;
    for (wxTreeItemId id = view.GetFirstChild(view.ToWx(all), cookie); id.IsOk(); id = view.GetNextChild(view.ToWx(all), cookie))
        shown.push_back(view.FromWx(id));
    EXPECT_EQ(shown, tree.GetChildren(all));
    EXPECT_EQ(view.wxTreeCtrl::GetItemText(view.ToWx(all)).ToStdWstring(), allLabel);
    return facts;
}

TEST(EndToEnd, BrowseEveryCorpusPairThroughTheRealDialogs) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: the test command runs this under xvfb-run";
    KESTRANE_REQUIRE_CORPUS();
    const std::vector<Pair> pairs = CorpusPairs();
    ASSERT_FALSE(pairs.empty());

    const fs::path work = fs::temp_directory_path() / ("kestrane-e2e-" + std::to_string(::getpid()));
    fs::create_directories(work);
    CSingleInstanceGuard guard((work / "instance.lock").string());
    RunState state(std::string(KESTRANE_BINARY_DIR) + "/collation.txt");
    YesPrompter prompter;
    bool terminated = false;
    AppSetup setup;
    setup.guard = &guard;
    setup.state = &state;
    setup.executableDir = KESTRANE_BINARY_DIR;
    setup.activityLogPath = (work / "log.txt").string();
    setup.prompter = &prompter;
    setup.terminate = [&] { terminated = true; };
    std::vector<std::string> opened;
    setup.openUrl = [&](const std::string& url) {
        opened.push_back(url);
        return true;
    };
    // The instance scan asks a responder of the test's own, never the network.
    const std::string reply = "ServerName;E2EHOST;InstanceName;SQLEXPRESS;IsClustered;No;tcp;1433;;";
    std::vector<uint8_t> datagram = {kSsrpServerResponse, static_cast<uint8_t>(reply.size()), 0};
    datagram.insert(datagram.end(), reply.begin(), reply.end());
    test::Responder responder({datagram}, 600000);
    setup.scanTarget = {"127.0.0.1", responder.port(), false, std::chrono::milliseconds(500)};
    std::wstring chosenFolder;
    setup.chooseFolder = [&](const std::wstring& title) -> std::optional<std::wstring> {
        EXPECT_EQ(title, L"Select Folder");
        return chosenFolder;
    };
    auto* app = new CPilot_ConsoleApp(setup);
    ASSERT_TRUE(test::StartToolkit(app));
    // A toolkit assertion fails the test instead of opening a box that nobody answers.
    wxSetAssertHandler([](const wxString& file, int line, const wxString& func, const wxString& cond,
                          const wxString& msg) {
        ADD_FAILURE() << "wx assertion " << cond.ToStdString() << " (" << msg.ToStdString() << ") in "
                      << func.ToStdString() << " at " << file.ToStdString() << ":" << line;
    });
    {
        ASSERT_TRUE(app->CallOnInit());
        std::unique_ptr<wxEventLoopBase> loop(wxTheApp->GetTraits()->CreateEventLoop());
        wxEventLoopActivator activate(loop.get());

        Opendlg* start = app->StartDialog();
        ASSERT_NE(start, nullptr);

        // The Help menu as the button builds it: ids the toolkit takes (its assertion fails the test).
        {
            std::unique_ptr<wxMenu> menu = MakeHelpMenu();
            EXPECT_EQ(menu->GetMenuItemCount(), 3u);
            EXPECT_NE(menu->FindItem(kCmdAbout), nullptr);
        }
        // The path boxes take typed and pasted paths.
        for (int id : {1068, 1069}) {
            auto* box = dynamic_cast<wxTextCtrl*>(start->FindWindow(id));
            ASSERT_NE(box, nullptr);
            EXPECT_TRUE(box->IsEditable());
        }

        // Help and Software Homepage open the shipped help page; About shows the product.
        start->Logic().OnHelpCommand(kCmdHelp);
        start->Logic().OnHelpCommand(kCmdHomepage);
        ASSERT_EQ(opened.size(), 2u);
        EXPECT_EQ(opened[0], "file://" + (fs::path(KESTRANE_BINARY_DIR) / "help" / "index.html").lexically_normal().string());
        EXPECT_EQ(opened[1], opened[0]);
        {
            int siteOpened = 0;
            CAboutDlg about(start, [&] { ++siteOpened; });
            about.Show();
            PumpFor(200);
            EXPECT_EQ(about.GetTitle(), "Kestrane");
            // The site link opens the help page through the application, not a browser of its own.
            auto* site = dynamic_cast<wxHyperlinkCtrl*>(about.FindWindow(CAboutDlg::kSiteLinkId));
            ASSERT_NE(site, nullptr);
            EXPECT_EQ(site->GetToolTipText(), "Company website");
            wxHyperlinkEvent click(site, site->GetId(), site->GetURL());
            site->GetEventHandler()->ProcessEvent(click);
            EXPECT_EQ(siteOpened, 1);
            SaveScreenshot(about.GetScreenRect(), "about-box");
        }
        int browsed = 0, withStatement = 0;
        wxRect shortPathPanes;  // the tree's right edge and the operations list's size for a short path
        const Pair* withTree = nullptr;  // the first pair whose tree has tables
        std::optional<Pair> savePair;  // the last pair with logged operations, best with two tables or more
        auto tablesOf = [](CPilot_ConsoleDlg& dialog) {
            const XHtmlTreeModel& tree = dialog.Tree().Model();
            const auto& underRoot = tree.GetChildren(tree.GetRootItem());
            return underRoot.empty() ? std::vector<TreeItem>() : tree.GetChildren(underRoot[0]);
        };
        for (const Pair& pair : pairs) {
            SCOPED_TRACE(pair.set);
            start->Logic().OnBrowseLogFile(Utf8ToWide(pair.log.string()));
            start->Logic().OnBrowseDataFile(Utf8ToWide(pair.data.string()));
            start->Logic().OnNext();
            CPilot_ConsoleDlg* dialog = start->MainDialog();
            ASSERT_NE(dialog, nullptr);
            EXPECT_FALSE(start->IsShown());
            ASSERT_TRUE(PumpUntil([&] { return !dialog->AnalysisRunning(); }, 300000)) << "analysis did not end";
            const TreeFacts facts = CheckTree(*dialog, pair);
            if (!facts.empty && !withTree) {
                withTree = &pair;
                shortPathPanes = wxRect(dialog->Tree().GetRect().GetTopRight(), dialog->OperationsList().GetSize());
            }
            if (facts.empty) { EXPECT_EQ(dialog->GetStatusText(), L"Scanning process completed........."); }

            if (!facts.empty && facts.firstTable != kNoTreeItem) {
                ++browsed;
                // Double-click the busiest table: its first page and "0 rows to N".
                const uint64_t shown = std::min<uint64_t>(facts.firstTableCount, 1000);
                CXHtmlTree& view = dialog->Tree();
                wxWindow* next = dialog->FindWindow(1016);
                ASSERT_NE(next, nullptr);
                EXPECT_FALSE(next->IsEnabled()) << "Next>> on an empty list";
                // Enter on "All" lists every operation; a double-click on it leaves the tree unfolded.
                const TreeItem allItem = view.Model().GetParent(facts.firstTable);
                view.SelectTreeItem(allItem);
                PressKey(view, WXK_RETURN);
                ASSERT_TRUE(PumpUntil([&] {
                    return !dialog->ListingRunning() && dialog->OperationsList().GetItemCount() > 0;
                }, 60000)) << "Enter listed nothing";
                EXPECT_EQ(static_cast<uint64_t>(dialog->OperationsList().GetItemCount()), std::min<uint64_t>(facts.all, 1000));
                view.Expand(view.ToWx(view.Model().GetRootItem()));
                view.Expand(view.ToWx(allItem));
                DoubleClick(view, allItem);
                ASSERT_TRUE(PumpUntil([&] { return !dialog->ListingRunning(); }, 60000));
                PumpFor(50);
                EXPECT_TRUE(view.IsExpanded(view.ToWx(allItem))) << "a double-click folded the tree";

                view.SelectTreeItem(facts.firstTable);
                DoubleClick(view, facts.firstTable);
                ASSERT_TRUE(PumpUntil([&] {
                    return !dialog->ListingRunning() &&
                           static_cast<uint64_t>(dialog->OperationsList().GetItemCount()) == shown;
                }, 60000)) << "the double-click listed nothing";
                EXPECT_EQ(dialog->GetStatusText(), L"0 rows to " + std::to_wstring(shown));
                EXPECT_EQ(static_cast<uint64_t>(dialog->OperationsList().GetItemCount()), shown);
                EXPECT_EQ(next->IsEnabled(), facts.firstTableCount > 1000) << "Next>> only where a page follows";
                // Every column is as wide as its widest text.
                wxListCtrl& list = dialog->OperationsList();
                wxClientDC dc(&list);
                for (int c = 0; c < list.GetColumnCount(); ++c)
                    for (int r = 0; r < std::min(list.GetItemCount(), 50); ++r)
                        EXPECT_GE(list.GetColumnWidth(c), dc.GetTextExtent(list.GetItemText(r, c)).x)
                            << "column " << c << " row " << r;
                if (facts.firstTableCount > 1000) {
                    dialog->OnNextPage();
                    const uint64_t to = std::min<uint64_t>(facts.firstTableCount, 2000);
                    EXPECT_EQ(dialog->GetStatusText(), L"1000 rows to " + std::to_wstring(to));
                    dialog->OnPreviousPage();
                    EXPECT_EQ(dialog->GetStatusText(), L"0 rows to 1000");
                }

                // A click shows the row's values and, for some operation of the page, a statement.
                bool statement = false;
                for (long row = 0; row < dialog->OperationsList().GetItemCount() && row < 200 && !statement; ++row) {
                    dialog->OnOperationClick(row);
                    statement = !dialog->GetStatusText().empty() && dialog->RecordGrid().GetItemCount() > 0;
                }
                if (statement) ++withStatement;
                if (statement) {
                    // A statement longer than the box scrolls in it.
                    wxTextCtrl& box = dialog->StatusBox();
                    EXPECT_TRUE(box.IsMultiLine());
                    EXPECT_TRUE(box.HasFlag(wxVSCROLL));
                    EXPECT_FALSE(box.HasFlag(wxTE_NO_VSCROLL));
                    wxListCtrl& grid = dialog->RecordGrid();
                    wxClientDC gridDc(&grid);
                    for (int c = 0; c < grid.GetColumnCount(); ++c)
                        EXPECT_GE(grid.GetColumnWidth(c), gridDc.GetTextExtent(grid.GetItemText(0, c)).x) << c;
                }
                if (!savePair || tablesOf(*dialog).size() > 1) savePair = pair;
                // While a listing runs (its worker waits for this thread), Back and Save do nothing:
                // Back would free the entries that it reads.
                const size_t messagesBefore = prompter.Messages().size();
                dialog->OnTreeDoubleClick();
                ASSERT_TRUE(dialog->ListingRunning());
                dialog->OnBackButton();
                dialog->OnSaveButton();
                EXPECT_EQ(start->MainDialog(), dialog);
                EXPECT_EQ(prompter.Messages().size(), messagesBefore);
                ASSERT_TRUE(PumpUntil([&] { return !dialog->ListingRunning(); }, 60000));
                // Ticks: Save refuses an empty tick list; ticking "All" then unticking a table leaves
                // "All" tri-state on screen; Save then says that saving is not available yet.
                CXHtmlTree& tree = dialog->Tree();
                const TreeItem all = tree.Model().GetParent(facts.firstTable);
                const size_t shownMessages = prompter.Messages().size();
                dialog->OnSaveButton();
                ASSERT_EQ(prompter.Messages().size(), shownMessages + 1);
                EXPECT_EQ(prompter.Messages().back(), L"Please select atleast one item from tree to save");
                tree.SetCheck(all, true);
                EXPECT_EQ(tree.GetItemState(tree.ToWx(facts.firstTable)), 2);
                if (tree.Model().GetChildren(all).size() > 1) {
                    tree.SetCheck(facts.firstTable, false);
                    EXPECT_EQ(tree.GetItemState(tree.ToWx(all)), 3);
                }
                // A click on a box and the Space key toggle the item with its children.
                const bool before = tree.GetCheck(all);
                wxTreeEvent click(wxEVT_TREE_STATE_IMAGE_CLICK, &tree, tree.ToWx(all));
                tree.ProcessWindowEvent(click);
                EXPECT_EQ(tree.GetCheck(all), !before);
                EXPECT_EQ(tree.GetCheck(facts.firstTable), !before);
                EXPECT_EQ(tree.GetSelectedTreeItem(), all);  // selection follows the check
                wxKeyEvent space(wxEVT_KEY_DOWN);
                space.m_keyCode = WXK_SPACE;
                space.SetEventObject(&tree);
                tree.ProcessWindowEvent(space);
                EXPECT_EQ(tree.GetCheck(all), before);
                EXPECT_EQ(tree.GetItemState(tree.ToWx(facts.firstTable)), before ? 2 : 1);
                tree.SetCheck(all, true);
                tree.SetCheck(facts.firstTable, false);

                PumpFor(300);
                SaveScreenshot(dialog->GetScreenRect(), "main-dialog-" + pair.set);
                // Scrolled sideways, the header is painted where the rows now are.
                {
                    wxListCtrl& list = dialog->OperationsList();
                    for (int c = 0; c < list.GetColumnCount(); ++c) list.SetColumnWidth(c, 400);
                    PumpFor(100);
                    wxWindow* header = nullptr;  // the child above the rows
                    for (wxWindow* part : list.GetChildren())
                        if (part->GetPosition().y == 0 && part->GetSize().y < list.GetSize().y / 2) header = part;
                    ASSERT_NE(header, nullptr);
                    int paintedAt = -1;
                    header->Bind(wxEVT_PAINT, [&](wxPaintEvent& e) {
                        paintedAt = list.GetViewStart().x;
                        e.Skip();
                    });
                    wxScrollWinEvent scroll(wxEVT_SCROLLWIN_THUMBTRACK, 33, wxHORIZONTAL);
                    scroll.SetEventObject(&list);
                    list.ProcessWindowEvent(scroll);
                    PumpFor(300);
                    EXPECT_EQ(list.GetViewStart().x, 33);
                    EXPECT_EQ(paintedAt, 33) << "the header shows the columns where they were before the scroll";
                    SaveScreenshot(list.GetScreenRect(), "operations-scrolled-" + pair.set);
                    list.Scroll(0, -1);
                    FitColumnsToContent(list);
                }
            }

            // Back: the start dialog again, with the chosen paths kept.
            dialog->OnBackButton();
            PumpFor(50);
            EXPECT_EQ(start->MainDialog(), nullptr);
            EXPECT_TRUE(start->IsShown());
            EXPECT_EQ(state.dataFilePath, Utf8ToWide(pair.data.string()));
        }
        EXPECT_GT(browsed, 0) << "no corpus pair gave logged operations";
        EXPECT_GT(withStatement, 0) << "no listed operation gave values and a statement";

        // A path of several hundred characters: the panes keep the places they have for a short one.
        ASSERT_NE(withTree, nullptr);
        {
            const Pair& pair = *withTree;
            fs::path deep = work;
            for (int i = 0; i < 6; ++i) deep /= "a folder with a rather long name to make the path long " + std::to_string(i);
            fs::create_directories(deep);
            fs::create_symlink(pair.data, deep / pair.data.filename());
            fs::create_symlink(pair.log, deep / pair.log.filename());
            start->Logic().OnBrowseLogFile(Utf8ToWide((deep / pair.log.filename()).string()));
            start->Logic().OnBrowseDataFile(Utf8ToWide((deep / pair.data.filename()).string()));
            // The box shows the end of the path, where the file name is.
            auto* dataBox = dynamic_cast<wxTextCtrl*>(start->FindWindow(1069));
            ASSERT_NE(dataBox, nullptr);
            EXPECT_EQ(dataBox->GetInsertionPoint(), dataBox->GetLastPosition());
            start->Logic().OnNext();
            CPilot_ConsoleDlg* longPath = start->MainDialog();
            ASSERT_NE(longPath, nullptr);
            ASSERT_TRUE(PumpUntil([&] { return !longPath->AnalysisRunning(); }, 300000));
            const TreeItem root = longPath->Tree().Model().GetRootItem();
            ASSERT_NE(root, kNoTreeItem);
            longPath->Tree().Expand(longPath->Tree().ToWx(root));
            PumpFor(100);
            EXPECT_EQ(wxRect(longPath->Tree().GetRect().GetTopRight(), longPath->OperationsList().GetSize()),
                      shortPathPanes);
            SaveScreenshot(longPath->GetScreenRect(), "main-dialog-long-path");
            // The sash widens the tree until the long root label is whole in it.
            {
                CXHtmlTree& view = longPath->Tree();
                wxSplitterWindow& panes = longPath->Panes();
                wxRect label;
                ASSERT_TRUE(view.GetBoundingRect(view.ToWx(root), label, true));
                const int before = view.GetSize().x;
                EXPECT_LT(before, label.GetRight()) << "the long path should not fit at first";
                panes.SetSashPosition(panes.GetSashPosition() + 300);
                PumpFor(100);
                EXPECT_GE(view.GetSize().x, before + 300);
                // What still does not fit is reached by scrolling the tree sideways.
                EXPECT_GE(view.GetVirtualSize().x, label.GetRight());
                SaveScreenshot(longPath->GetScreenRect(), "main-dialog-tree-widened");
            }
            longPath->OnBackButton();
            PumpFor(50);
        }

        // The pair to save, once more.
        ASSERT_TRUE(savePair);
        start->Logic().OnBrowseLogFile(Utf8ToWide(savePair->log.string()));
        start->Logic().OnBrowseDataFile(Utf8ToWide(savePair->data.string()));
        auto analyse = [&]() -> CPilot_ConsoleDlg* {
            start->Logic().OnNext();
            CPilot_ConsoleDlg* opened = start->MainDialog();
            if (opened && !PumpUntil([&] { return !opened->AnalysisRunning(); }, 300000)) return nullptr;
            return opened;
        };
        CPilot_ConsoleDlg* dialog = analyse();
        ASSERT_NE(dialog, nullptr);
        // Stop answered after the run has ended stops nothing: Back and Next on the same files work.
        dialog->OnStopButton();
        EXPECT_EQ(state.stopFlag.load(), 0);
        dialog->OnBackButton();
        PumpFor(50);
        dialog = analyse();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(prompter.Messages().empty() || prompter.Messages().back().find(L"not valid") == std::wstring::npos);
        EXPECT_NE(dialog->Tree().Model().GetRootItem(), kNoTreeItem) << "the second run found nothing";
        // Message boxes belong to the dialog on screen.
        {
            AnswerBoxes boxes;
            DirectDispatcher here;
            WxPrompter real(here, [&] { return app->ActiveDialog(); });
            EXPECT_EQ(real.AskYesNo(L"Are you sure u want to stop the current process?"), PromptAnswer::Yes);
            real.ShowMessage(L"x", MessageIcon::Information);
            EXPECT_EQ(boxes.parents, (std::vector<wxWindow*>{dialog, dialog}));
        }
        // Enter and Escape do nothing in either dialog; Close answered No leaves it open.
        prompter.questions.clear();
        for (int key : {WXK_ESCAPE, WXK_RETURN, WXK_NUMPAD_ENTER}) {
            for (wxWindow* window : {static_cast<wxWindow*>(dialog), static_cast<wxWindow*>(start)}) {
                wxKeyEvent press(wxEVT_CHAR_HOOK);
                press.m_keyCode = key;
                press.SetEventObject(window);
                window->ProcessWindowEvent(press);
            }
        }
        PumpFor(50);
        EXPECT_TRUE(prompter.questions.empty());
        EXPECT_EQ(start->MainDialog(), dialog);
        EXPECT_TRUE(dialog->IsShown());
        prompter.answer = PromptAnswer::No;
        dialog->OnCloseButton();
        EXPECT_EQ(prompter.questions, std::vector<std::wstring>{L"Do you want to Close Application ?"});
        EXPECT_FALSE(app->QuitRequested());
        prompter.answer = PromptAnswer::Yes;

        // Save drives the real save-options dialog from inside its modal loop.
        auto press = [](wxWindow* control) {
            const bool radio = dynamic_cast<wxRadioButton*>(control) != nullptr;
            if (radio) static_cast<wxRadioButton*>(control)->SetValue(true);
            wxCommandEvent click(radio ? wxEVT_RADIOBUTTON : wxEVT_BUTTON, control->GetId());
            click.SetEventObject(control);
            control->ProcessWindowEvent(click);
        };
        auto runSave = [&](CPilot_ConsoleDlg& main, size_t tables, const std::function<void(SaveoptionDlg&)>& fill) {
            const std::vector<TreeItem> all = tablesOf(main);
            CXHtmlTree& tree = main.Tree();
            tree.SetCheck(tree.Model().GetRootItem(), false);
            for (size_t i = 0; i < all.size() && i < tables; ++i) tree.SetCheck(all[i], true);
            bool filled = false;
            wxTheApp->CallAfter([&] {
                SaveoptionDlg* options = main.SaveOptions();
                if (!options) return;
                for (SaveOption kind : {SaveOption::Insert, SaveOption::Delete, SaveOption::Update})
                    static_cast<wxCheckBox*>(options->Control(kind))->SetValue(true);
                // Every operation of the corpus lies after 1990: one range from then to the end of today.
                static_cast<wxDatePickerCtrl*>(options->Control(SaveOption::From))->SetValue(wxDateTime(1, wxDateTime::Jan, 1990));
                press(options->Control(SaveOption::Add));
                press(options->Control(SaveOption::Add));  // the same range twice is one row
                EXPECT_EQ(static_cast<wxListCtrl*>(options->Control(SaveOption::Ranges))->GetItemCount(), 1);
                fill(*options);
                filled = true;
                press(options->FindWindow(wxID_OK));
                if (options->GetReturnCode() != wxID_OK) {
                    ADD_FAILURE() << "OK did not end the save options";
                    options->EndModal(wxID_CANCEL);
                }
            });
            main.OnSaveButton();
            EXPECT_TRUE(filled);
            Migrationdlg* progress = main.ProgressWindow();
            if (!progress) return progress;
            EXPECT_FALSE(main.IsShown());
            EXPECT_TRUE(progress->IsShown());
            EXPECT_TRUE(PumpUntil([&] { return progress->CloseEnabled(); }, 300000)) << "the save did not end";
            EXPECT_FALSE(progress->StopShown());
            EXPECT_GT(progress->LogList().GetItemCount(), 0);
            return progress;
        };

        if (const std::string why = test::TdsEndpointUnavailable(); why.empty()) {
            test::TdsEndpoint endpoint;
            ASSERT_TRUE(endpoint.running());
            Migrationdlg* progress = runSave(*dialog, 2, [&](SaveoptionDlg& options) {
                press(options.Control(SaveOption::SqlAuth));
                static_cast<wxTextCtrl*>(options.Control(SaveOption::UserName))->ChangeValue("sa");
                static_cast<wxTextCtrl*>(options.Control(SaveOption::Password))->ChangeValue("S3cr;et#pw");
                options.SetText(SaveOption::Database, L"KestraneSaved");
                press(options.Control(SaveOption::Scan));
                EXPECT_FALSE(options.Control(SaveOption::Scan)->IsEnabled());
                EXPECT_TRUE(PumpUntil([&] { return !options.Logic().ScanRunning(); }, 30000));
                EXPECT_TRUE(options.Control(SaveOption::Scan)->IsEnabled());
                EXPECT_NE(static_cast<wxComboBox*>(options.Control(SaveOption::Server))->FindString("E2EHOST\\SQLEXPRESS"),
                          wxNOT_FOUND);
                options.SetText(SaveOption::Server, endpoint.server());
                press(options.Control(SaveOption::Test));
                // The close box waits while the test uses the dialog.
                const size_t shown = prompter.Messages().size();
                EXPECT_FALSE(options.Close());
                EXPECT_TRUE(options.IsModal());
                EXPECT_EQ(prompter.Messages().at(shown), L"Please wait until current process is running.");
                EXPECT_TRUE(PumpUntil([&] { return !options.Logic().TestRunning(); }, 60000));
                EXPECT_TRUE(options.Logic().ConnectionTested());
                const auto messages = prompter.Messages();
                EXPECT_NE(std::find(messages.begin(), messages.end(), L"Connection Established with FreeTDS Driver."),
                          messages.end());
                wxListCtrl& testLog = *static_cast<wxListCtrl*>(options.Control(SaveOption::TestLog));
                ExpectLinesReadable(testLog);
                // Scrolled to the end of a long line, then a second test: the log starts again at its left.
                options.AddTestLogLine(static_cast<uint32_t>(testLog.GetItemCount()), kDriverFailureLine);
                ExpectLinesReadable(testLog);
                testLog.Scroll(100000, -1);
                PumpFor(100);
                int left = 0;
                testLog.GetViewStart(&left, nullptr);
                EXPECT_GT(left, 0);
                press(options.Control(SaveOption::Test));
                EXPECT_TRUE(PumpUntil([&] { return !options.Logic().TestRunning(); }, 60000));
                EXPECT_TRUE(options.Logic().ConnectionTested());
                testLog.GetViewStart(&left, nullptr);
                EXPECT_EQ(left, 0);
                ExpectLinesReadable(testLog);
                PumpFor(200);
                SaveScreenshot(options.GetScreenRect(), "save-options-database");
            });
            ASSERT_NE(progress, nullptr);
            PumpFor(200);
            SaveScreenshot(progress->GetScreenRect(), "progress-database");
            ExpectLinesReadable(progress->LogList());
            // Every row the log counts reached the server, each through its own INSERT.
            const std::wstring totalHead = L"Total Number of record inserted =  ";
            uint64_t counted = 0;
            for (long row = 0; row < progress->LogList().GetItemCount(); ++row) {
                const std::wstring line = progress->LogList().GetItemText(row).ToStdWstring();
                if (line.rfind(totalHead, 0) == 0) counted += std::stoull(line.substr(totalHead.size()));
            }
            const std::vector<std::wstring> statements = endpoint.Statements();
            EXPECT_NE(std::find(statements.begin(), statements.end(), L"create database [KestraneSaved]"),
                      statements.end());
            const auto inserts = std::count_if(statements.begin(), statements.end(),
                                               [](const std::wstring& text) { return text.rfind(L"INSERT INTO", 0) == 0; });
            EXPECT_GT(inserts, 0) << "no row reached the endpoint";
            EXPECT_EQ(static_cast<uint64_t>(inserts), counted);
            // Back to the start dialog (which no user can reach from here) and a new analysis, to save the
            // same tables as scripts.
            dialog->OnBackButton();
            PumpFor(50);
            dialog = analyse();
            ASSERT_NE(dialog, nullptr);
        }

        const fs::path scripts = work / "scripts";
        fs::create_directories(scripts);
        chosenFolder = Utf8ToWide(scripts.string());
        Migrationdlg* progress = runSave(*dialog, 2, [&](SaveoptionDlg& options) {
            press(options.Control(SaveOption::ScriptTarget));
            EXPECT_FALSE(options.Control(SaveOption::Server)->IsEnabled());
            press(options.Control(SaveOption::BrowseFolder));
            EXPECT_EQ(options.Text(SaveOption::Folder), chosenFolder);
            static_cast<wxCheckBox*>(options.Control(SaveOption::Constraints))->SetValue(true);
            // A long line of the connection test's log can be read whole, to its end when scrolled there.
            options.AddTestLogLine(0, L"Adaptive Server is unavailable or does not exist (127.0.0.1:1): "
                                      L"Unable to connect: Adaptive Server is unavailable or does not exist");
            options.AddTestLogLine(1, kDriverFailureLine);
            wxListCtrl& testLog = *static_cast<wxListCtrl*>(options.Control(SaveOption::TestLog));
            ExpectLinesReadable(testLog);
            PumpFor(200);
            SaveScreenshot(options.GetScreenRect(), "save-options-scripts");
            testLog.Scroll(100000, -1);
            PumpFor(200);
            SaveScreenshot(testLog.GetScreenRect(), "save-options-test-log-scrolled");
        });
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(state.scriptFolder, chosenFolder + L"/");
        // Every line of the progress log can be read whole, a table's long summary too.
        progress->AddLine(static_cast<uint32_t>(progress->LogList().GetItemCount()), kLongTableLine);
        progress->AddLine(static_cast<uint32_t>(progress->LogList().GetItemCount()), kDriverFailureLine);
        ExpectLinesReadable(progress->LogList());
        PumpFor(200);
        SaveScreenshot(progress->GetScreenRect(), "progress-scripts");
        // About, from the progress window's Help, belongs to it; a message box shown meanwhile, to About.
        {
            wxWindow* about = nullptr;
            wxWindow* aboutOwner = nullptr;
            wxWindow* boxOwner = nullptr;
            wxTheApp->CallAfter([&] {
                for (wxWindow* window : wxTopLevelWindows)
                    if (auto* box = dynamic_cast<CAboutDlg*>(window); box && box->IsModal()) {
                        about = box;
                        aboutOwner = box->GetParent();
                        boxOwner = app->ActiveDialog();
                        box->EndModal(wxID_OK);
                    }
            });
            progress->Logic().OnHelpCommand(kCmdAbout);
            ASSERT_NE(about, nullptr);
            EXPECT_EQ(aboutOwner, progress);
            EXPECT_EQ(boxOwner, about);
        }
        size_t sqlFiles = 0;
        for (const auto& entry : fs::recursive_directory_iterator(scripts))
            sqlFiles += entry.path().extension() == ".sql";
        EXPECT_GT(sqlFiles, 0u) << "no script was written";

        // Close: the question, and the program ends with code 0.
        prompter.questions.clear();
        progress->OnCloseButton();
        EXPECT_EQ(prompter.questions, std::vector<std::wstring>{L"Do you want to Close Application ?"});
        EXPECT_TRUE(app->QuitRequested());
        EXPECT_EQ(app->ExitCode(), 0);
        EXPECT_FALSE(terminated);
        PumpFor(50);
    }
    // The run's activity log: one separator, one "Browse File Path:" line per analysis.
    std::ifstream in(work / "log.txt", std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GE(bytes.size(), 2u);
    const std::wstring log = Utf16LeToWide(ByteView(bytes.data() + 2, bytes.size() - 2));
    EXPECT_NE(log.find(L"Browse File Path:\t" + Utf8ToWide(pairs.front().data.string()) + L"\r\n"), std::wstring::npos);
    EXPECT_EQ(log.find(L"S3cr;et#pw"), std::wstring::npos) << "the password reached the activity log";
    wxEntryCleanup();
    fs::remove_all(work);
}

// A scan that nobody answers, then Cancel and the close box, with every box on the program's own path
// (the application's dispatcher to the user-interface thread): both wait while the scan runs, and a
// dialog that goes while its scan still runs does not freeze the program.
TEST(EndToEnd, CancelDuringAnInstanceScanWaitsAndClosingNeverFreezes) {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display: the test command runs this under xvfb-run";
    const FreezeGuard guard(60);
    ASSERT_TRUE(test::StartToolkit(new wxApp));
    {
        std::unique_ptr<wxEventLoopBase> loop(wxTheApp->GetTraits()->CreateEventLoop());
        wxEventLoopActivator activate(loop.get());
        AnswerBoxes boxes;
        WxDispatcher appUi;
        wxWindow* owner = nullptr;
        WxPrompter prompter(appUi, [&] { return owner; });
        RunState state(std::string(KESTRANE_BINARY_DIR) + "/collation.txt");
        const auto click = [](wxWindow* button) {
            wxCommandEvent event(wxEVT_BUTTON, button->GetId());
            event.SetEventObject(button);
            button->ProcessWindowEvent(event);
        };
        const std::wstring wait = L"Please wait until current process is running.";
        {
            test::Responder silent({}, 60000);  // takes the request, never answers it
            SaveoptionDlg options(nullptr, state, prompter,
                                  {{"127.0.0.1", silent.port(), false, std::chrono::milliseconds(1500)}, {L"FreeTDS"}}, {});
            owner = &options;
            bool checked = false;
            wxTheApp->CallAfter([&] {
                click(options.Control(SaveOption::Scan));
                EXPECT_TRUE(options.Logic().ScanRunning());
                click(options.FindWindow(wxID_CANCEL));
                if (!options.IsModal()) return;  // ended: the dialog now goes while its scan runs
                EXPECT_FALSE(options.Close());
                EXPECT_TRUE(options.IsModal());
                EXPECT_EQ(boxes.texts, (std::vector<std::wstring>{wait, wait}));
                EXPECT_TRUE(PumpUntil([&] { return !options.Logic().ScanRunning(); }, 20000));
                EXPECT_EQ(boxes.texts.back(), L"No SQL Server instance answered the scan.");
                click(options.FindWindow(wxID_CANCEL));
                checked = true;
            });
            EXPECT_EQ(options.ShowModal(), wxID_CANCEL);
            EXPECT_TRUE(checked) << "Cancel ended the dialog while the scan ran";
            owner = nullptr;
        }
        {  // Gone while its scan runs, however that came about: the scan's box is dropped, nothing waits.
            test::Responder silent({}, 60000);
            const size_t shown = boxes.texts.size();
            {
                SaveoptionDlg options(nullptr, state, prompter,
                                      {{"127.0.0.1", silent.port(), false, std::chrono::milliseconds(1000)}, {L"FreeTDS"}},
                                      {});
                options.Logic().OnScan();
                EXPECT_TRUE(options.Logic().ScanRunning());
            }
            PumpFor(50);
            EXPECT_EQ(boxes.texts.size(), shown);
        }
    }
    wxEntryCleanup();
}

}  // namespace
}  // namespace kestrane
