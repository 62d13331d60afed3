#pragma once
// Stand-ins for the windows and the engine, so that the dialogs' logic runs without a display.
#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "ui/AnalysisEngine.h"
#include "ui/AppActions.h"
#include "ui/MainDialogView.h"
#include "ui/StartDialogLogic.h"
#include "ui/XHtmlTreeModel.h"

namespace kestrane::test {

class FakeMainView : public MainDialogView {
public:
    FakeMainView() {
        tree.Initialize(true, true);
        tree.smartCheck = true;
    }
    void SetStatusText(const std::wstring& text) override {
        status = text;
        statusHistory.push_back(text);
    }
    std::wstring GetStatusText() const override { return status; }
    void SetProgressPosition(int p) override { position = p; }
    void SetProgressRange(int upper) override {
        position = 0;
        range = upper;
    }
    void SetVersionText(const std::wstring& t) override { version = t; }
    void SetCollationText(const std::wstring& t) override { collation = t; }
    void SetRunning(bool r) override { running = r; }
    bool IsRunning() const override { return running; }
    void ClearRecordGrid() override { ++gridClears; }
    void TreeDeleteAllItems() override { tree.DeleteAllItems(); }
    TreeItem TreeInsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent) override {
        return tree.InsertItem(text, image, selectedImage, parent);
    }
    void TreeSetItemData(TreeItem item, uint32_t data) override { tree.SetItemData(item, data); }
    void TreeSortChildren(TreeItem parent) override { tree.SortChildren(parent); }
    void TreeInvalidate() override { ++invalidated; }
    int TreeGetCheckedCount() const override { return tree.GetCheckedCount(); }

    XHtmlTreeModel tree;
    std::wstring status, version, collation;
    std::vector<std::wstring> statusHistory;
    int position = -1, range = -1, gridClears = 0, invalidated = 0;
    bool running = true;
};

class FakeEngine : public AnalysisEngine {
public:
    struct Op { uint32_t table; };
    void CloseDataFile() override { ++closes; }
    void ResetDatabase() override { ++resets; }
    bool Open(const std::wstring& path, bool advance, ProgressSink& sink) override {
        if (onOpen) onOpen();
        openedPath = path;
        advanceSearch = advance;
        sink.StatusText("Mapping Database Objects...........");
        if (!openOk) sink.FatalText("File cannot be open...........");
        return openOk;
    }
    bool HasCatalog() const override { return hasCatalog; }
    bool CatalogHasObjects() const override { return hasObjects; }
    void BuildUserTableMap() override { ++userTableMaps; }
    DataFileFacts DataFile() const override { return data; }
    LogFileFacts ProbeLogFile() override { return log; }
    void ScanLdfFile(Prompter&) override {
        ++scans;
        if (onScan) onScan();
    }
    uint64_t OperationCount() const override { return ops.size(); }
    int64_t CountOperationsOfTable(uint32_t id) const override {
        int64_t n = 0;
        for (const auto& op : ops) n += op.table == id;
        return n;
    }
    std::map<uint32_t, std::wstring> TakeTableNameMap() override { return std::move(names); }

    bool openOk = true, hasCatalog = true, hasObjects = true, advanceSearch = false;
    DataFileFacts data;
    LogFileFacts log{true, 8192 * 64, 1, 1, 1};
    std::function<void()> onOpen, onScan;  // what happens meanwhile: a Stop, a failed allocation
    std::wstring openedPath;
    std::vector<Op> ops;
    std::map<uint32_t, std::wstring> names;
    int closes = 0, resets = 0, userTableMaps = 0, scans = 0;
};

class FakeActions : public AppActions {
public:
    void OpenHelpPage() override { calls.push_back("help"); }
    void RunAboutBox() override { calls.push_back("about"); }
    void OpenHomePage() override { calls.push_back("home"); }
    std::vector<std::string> calls;
};

class FakeStartView : public StartDialogView {
public:
    void SetLogPathBox(const std::wstring& p) override { logBox = p; }
    void SetDataPathBox(const std::wstring& p) override { dataBox = p; }
    std::wstring LogPathBoxText() const override { return logBox; }
    std::wstring DataPathBoxText() const override { return dataBox; }
    bool CreateMainDialog() override {
        ++created;
        return createOk;
    }
    void HideStartDialog() override { hidden = true; }
    std::wstring logBox, dataBox;
    int created = 0;
    bool createOk = true, hidden = false;
};

}  // namespace kestrane::test
