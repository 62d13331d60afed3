#pragma once
// The check-box tree's logic without a window: items, their records, smart check propagation (a parent's
// box follows its children), the state-image index of every item, the checked-item walk and the search.
// CXHtmlTree (the wx view) mirrors it on a wxTreeCtrl; tests drive it directly.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestrane {

using TreeItem = uint32_t;  // 0 is "no item"
constexpr TreeItem kNoTreeItem = 0;
constexpr TreeItem kTreeLast = 0xFFFF0002u;   // insert-after value: append
constexpr TreeItem kTreeFirst = 0xFFFF0001u;  // insert-after value: prepend
constexpr int kNoImage = 65534;                // the control's "no image" index

// Per-item record of the control.
struct XHTMLTREEDATA {
    XHTMLTREEDATA() { ++liveCount; }
    XHTMLTREEDATA(const XHTMLTREEDATA& other);
    ~XHTMLTREEDATA() { --liveCount; }
    XHTMLTREEDATA& operator=(const XHTMLTREEDATA&) = default;

    uint32_t checked = 0;
    uint32_t enabled = 1;
    uint32_t separator = 0;
    void* window = nullptr;
    uint32_t expanded = 0;
    uint32_t wasExpanded = 0;
    int descendants = 0;
    int checkedDescendants = 0;
    int nonParticipating = 0;
    std::wstring tooltip;
    int tooltipWidth = 0;
    uint32_t bold = 0, italic = 0, underline = 0, strikeOut = 0;
    int textRight = 0;  // right edge of the text as last drawn (client pixels)

    static int liveCount;
};

// Expand codes of the tree view.
enum TreeExpandCode : unsigned {
    kTreeCollapse = 1,
    kTreeExpand = 2,
    kTreeToggle = 3,
    kTreeCollapseReset = 0x8000,
};

class XHtmlTreeModel {
public:
    // The registered messages that the control sends to its parent; the result is the parent's answer.
    std::function<intptr_t(TreeItem, bool checked)> onCheckboxClicked;
    std::function<intptr_t(TreeItem, bool expanded)> onItemExpanded;
    // The tree view's own expand of one item (the wx view performs it); result passed back by Expand.
    std::function<bool(TreeItem, unsigned code)> viewExpand;

    XHtmlTreeModel() = default;
    ~XHtmlTreeModel();
    XHtmlTreeModel(const XHtmlTreeModel&) = delete;
    XHtmlTreeModel& operator=(const XHtmlTreeModel&) = delete;

    // Options.
    bool checkBoxes = false;
    bool smartCheck = false;
    bool selectFollowsCheck = false;
    bool readOnly = false;
    bool images = true;
    bool tooltips = false;

    void Initialize(bool withCheckBoxes, bool withTooltips);

    TreeItem InsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent = kNoTreeItem,
                        TreeItem after = kTreeLast);
    // Full form: `record` gives the checked, enabled and separator flags and display fields of the new item.
    TreeItem InsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent, TreeItem after,
                        const XHTMLTREEDATA* record);

    bool GetCheck(TreeItem item) const;
    void SetCheck(TreeItem item, bool checked);
    // State-image index (1..15; 0 for a separator or an item without record).
    int GetStateImage(TreeItem item) const;
    void SetHot(TreeItem item, bool hot);

    TreeItem GetFirstCheckedItem() const;
    TreeItem GetNextCheckedItem(TreeItem item) const;
    int GetCheckedCount() const;

    void DeleteAllItems();
    bool Expand(TreeItem item, unsigned code);
    void ExpandBranch(TreeItem item);
    void CollapseBranch(TreeItem item);
    void CollapseAll();

    // Sorts the direct children of `parent` by label (case-insensitive), as the tree view's one-level sort.
    void SortChildren(TreeItem parent);

    TreeItem FindItem(const std::wstring& text, bool matchCase, bool down, bool wholeWord, bool wrap,
                      TreeItem start) const;
    // Overridable acceptance test of FindItem.
    std::function<bool(TreeItem)> acceptFound;

    // Tooltip text of an item whose text ends at `textRight` in a client area `clientWidth` wide: its own
    // tooltip, else its text when cut off (ending within 3 pixels of the edge), at most 78 characters.
    std::wstring TooltipText(TreeItem item, int clientWidth) const;

    // Item access.
    bool Exists(TreeItem item) const { return nodes_.count(item) != 0; }
    XHTMLTREEDATA* Record(TreeItem item);
    const XHTMLTREEDATA* Record(TreeItem item) const;
    std::wstring GetItemText(TreeItem item) const;
    void SetItemText(TreeItem item, const std::wstring& text);
    uint32_t GetItemData(TreeItem item) const;
    void SetItemData(TreeItem item, uint32_t data);
    int GetItemImage(TreeItem item) const;
    int GetItemSelectedImage(TreeItem item) const;
    TreeItem GetParent(TreeItem item) const;
    const std::vector<TreeItem>& GetChildren(TreeItem item) const;  // kNoTreeItem: the root level
    TreeItem GetRootItem() const { return roots_.empty() ? kNoTreeItem : roots_.front(); }
    bool ItemHasChildren(TreeItem item) const { return !GetChildren(item).empty(); }
    size_t GetCount() const { return nodes_.size(); }
    // The walk in display order: first child, else next sibling, else the next sibling of an ancestor.
    TreeItem NextInWalk(TreeItem item) const;
    TreeItem PreviousInWalk(TreeItem item) const;
    TreeItem LastItem() const;

private:
    struct Node {
        std::wstring text;
        int image = 0;
        int selectedImage = 0;
        uint32_t data = 0;
        TreeItem parent = kNoTreeItem;
        std::vector<TreeItem> children;
        bool hot = false;
    };
    Node* node(TreeItem item);
    const Node* node(TreeItem item) const;
    void SetDescendantsChecked(TreeItem item, bool checked);
    void AdjustAncestors(TreeItem item, int change);
    bool Matches(const std::wstring& itemText, const std::wstring& what, bool matchCase, bool wholeWord) const;

    std::map<TreeItem, Node> nodes_;
    std::map<TreeItem, std::unique_ptr<XHTMLTREEDATA>> records_;
    std::vector<TreeItem> roots_;
    TreeItem nextHandle_ = 1;
    bool lookupsSuspended_ = false;
};

}  // namespace kestrane
