#pragma once
// The check-box tree control of the main dialog: a wxTreeCtrl that mirrors an XHtmlTreeModel and draws
// each item's box from a 17-entry state-image list (themed through CThemeHelper, classic frames without).
#include <wx/imaglist.h>
#include <wx/treectrl.h>

#include <functional>
#include <map>
#include <memory>

#include "ui/ThemeHelper.h"
#include "ui/XHtmlTreeModel.h"

namespace kestrane {

class CXHtmlTree : public wxTreeCtrl {
public:
    CXHtmlTree(wxWindow* parent, wxWindowID id, const CThemeHelper& theme);
    ~CXHtmlTree() override;

    XHtmlTreeModel& Model() { return model_; }
    const XHtmlTreeModel& Model() const { return model_; }

    void Initialize(bool checkBoxes, bool tooltips);
    void SetSmartCheckBoxes(bool on) { model_.smartCheck = on; }
    void SetSelectFollowsCheck(bool on) { model_.selectFollowsCheck = on; }
    void SetReadOnly(bool on) { model_.readOnly = on; }

    TreeItem InsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent = kNoTreeItem,
                        TreeItem after = kTreeLast);
    void SetItemData32(TreeItem item, uint32_t data) { model_.SetItemData(item, data); }
    uint32_t GetItemData32(TreeItem item) const { return model_.GetItemData(item); }
    bool GetCheck(TreeItem item) const { return model_.GetCheck(item); }
    void SetCheck(TreeItem item, bool checked);
    TreeItem GetFirstCheckedItem() const { return model_.GetFirstCheckedItem(); }
    TreeItem GetNextCheckedItem(TreeItem item) const { return model_.GetNextCheckedItem(item); }
    int GetCheckedCount() const { return model_.GetCheckedCount(); }
    std::wstring GetItemText(TreeItem item) const { return model_.GetItemText(item); }
    void DeleteAllTreeItems();
    void SortChildrenOf(TreeItem parent);
    bool ExpandItem(TreeItem item, unsigned code) { return model_.Expand(item, code); }
    void SelectTreeItem(TreeItem item);
    TreeItem GetSelectedTreeItem() const;
    TreeItem FromWx(const wxTreeItemId& id) const;
    wxTreeItemId ToWx(TreeItem item) const;

    // A double-click on an enabled item, after the selection has moved to it; also Enter.
    std::function<void()> onDoubleClick;

protected:
    int OnCompareItems(const wxTreeItemId& a, const wxTreeItemId& b) override;

private:
    void BuildStateImages();
    void UpdateStateImage(TreeItem item);
    void UpdateAllStateImages();
    void ToggleCheck(TreeItem item);
    void SetHotItem(TreeItem item);
    void OnStateImageClick(wxTreeEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnDoubleClick(wxMouseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnSelChanging(wxTreeEvent& event);
    void OnExpandedOrCollapsed(wxTreeEvent& event);

    const CThemeHelper& theme_;
    XHtmlTreeModel model_;
    std::map<TreeItem, wxTreeItemId> ids_;
    std::map<TreeItem, size_t> sortRank_;  // the model's order while the view sorts
    wxTreeItemId hiddenRoot_;
    TreeItem hot_ = kNoTreeItem;
};

}  // namespace kestrane
