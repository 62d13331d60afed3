#include "ui/XHtmlTree.h"

#include <wx/dcmemory.h>
#include <wx/settings.h>

namespace kestrane {

namespace {
class ItemHandle : public wxTreeItemData {
public:
    explicit ItemHandle(TreeItem item) : item(item) {}
    TreeItem item;
};

// Theme state of a state-image index (1..15, without 4, 8 and 12 of the unused slots).
int ThemeStateOf(int index) {
    const bool hot = index >= 9;
    const int base = hot ? index - 8 : index;  // 1,2,3 normal; 5,6,7 disabled
    const bool disabled = base >= 5;
    const int kind = (disabled ? base - 4 : base) - 1;  // 0 unchecked, 1 checked, 2 mixed
    const int first = kind == 0 ? kCbsUncheckedNormal : kind == 1 ? kCbsCheckedNormal : kCbsMixedNormal;
    return first + (disabled ? 3 : hot ? 1 : 0);
}

// The classic flat check-box frame, for when no theme draws it.
void DrawClassicCheckBox(wxDC& dc, const wxRect& r, int index) {
    const int base = index >= 9 ? index - 8 : index;
    const bool disabled = base >= 5;
    const int kind = (disabled ? base - 4 : base) - 1;
    const wxColour frame = disabled ? wxSystemSettings::GetColour(wxSYS_COLOUR_GRAYTEXT) : *wxBLACK;
    dc.SetPen(wxPen(frame));
    dc.SetBrush(wxBrush(disabled ? wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE) : *wxWHITE));
    dc.DrawRectangle(r);
    if (kind == 0) return;
    const wxColour mark = kind == 2 ? wxColour(128, 128, 128) : frame;
    dc.SetPen(wxPen(mark, 2));
    dc.DrawLine(r.x + 3, r.y + r.height / 2, r.x + r.width / 2 - 1, r.y + r.height - 4);
    dc.DrawLine(r.x + r.width / 2 - 1, r.y + r.height - 4, r.x + r.width - 3, r.y + 3);
}
}  // namespace

CXHtmlTree::CXHtmlTree(wxWindow* parent, wxWindowID id, const CThemeHelper& theme)
    : wxTreeCtrl(parent, id, wxDefaultPosition, wxDefaultSize,
                 wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_HIDE_ROOT | wxTR_SINGLE | wxBORDER_SUNKEN),
      theme_(theme) {
    hiddenRoot_ = AddRoot(wxString());
    model_.viewExpand = [this](TreeItem item, unsigned code) {
        wxTreeItemId id = ToWx(item);
        if (!id.IsOk()) return false;
        if (code == kTreeExpand) Expand(id);
        else if (code == kTreeToggle) Toggle(id);
        else if (code == kTreeCollapse || (code & kTreeCollapseReset)) Collapse(id);
        return true;
    };
    Bind(wxEVT_TREE_STATE_IMAGE_CLICK, &CXHtmlTree::OnStateImageClick, this);
    Bind(wxEVT_KEY_DOWN, &CXHtmlTree::OnKeyDown, this);
    Bind(wxEVT_MOTION, &CXHtmlTree::OnMotion, this);
    Bind(wxEVT_LEAVE_WINDOW, &CXHtmlTree::OnLeave, this);
    Bind(wxEVT_LEFT_DCLICK, &CXHtmlTree::OnDoubleClick, this);
    // A double-click activates the item, which the toolkit's tree would answer by folding or
    // unfolding it: the tree stays as it is; the double-click lists the item's operations instead.
    Bind(wxEVT_TREE_ITEM_ACTIVATED, [](wxTreeEvent&) {});
    Bind(wxEVT_CHAR_HOOK, &CXHtmlTree::OnCharHook, this);
    Bind(wxEVT_TREE_SEL_CHANGING, &CXHtmlTree::OnSelChanging, this);
    Bind(wxEVT_TREE_ITEM_EXPANDED, &CXHtmlTree::OnExpandedOrCollapsed, this);
    Bind(wxEVT_TREE_ITEM_COLLAPSED, &CXHtmlTree::OnExpandedOrCollapsed, this);
    Bind(wxEVT_SYS_COLOUR_CHANGED, [this](wxSysColourChangedEvent& e) {
        if (model_.checkBoxes) BuildStateImages();
        e.Skip();
    });
}

CXHtmlTree::~CXHtmlTree() = default;

void CXHtmlTree::Initialize(bool checkBoxes, bool tooltips) {
    DeleteAllTreeItems();
    model_.Initialize(checkBoxes, tooltips);
    if (checkBoxes) BuildStateImages();
}

void CXHtmlTree::BuildStateImages() {
    auto list = std::make_unique<wxImageList>(16, 16, true, 17);
    const wxColour background = GetBackgroundColour();
    HTHEME theme = theme_.IsThemeActive() ? theme_.OpenThemeData(this, L"BUTTON") : nullptr;
    for (int index = 0; index < 17; ++index) {
        wxBitmap bitmap(16, 16);
        {
            wxMemoryDC dc(bitmap);
            dc.SetBackground(wxBrush(background));
            dc.Clear();
            const bool unused = index == 0 || index == 4 || index == 8 || index == 12 || index == 16;
            if (!unused) {
                const wxRect box(1, 1, 13, 13);
                if (!theme || theme_.DrawThemeBackground(theme, &dc, kBpCheckBox, ThemeStateOf(index), box) != kS_OK)
                    DrawClassicCheckBox(dc, box, index);
            }
        }
        list->Add(bitmap);
    }
    if (theme) theme_.CloseThemeData(theme);
    AssignStateImageList(list.release());  // the tree owns it
    UpdateAllStateImages();
}

TreeItem CXHtmlTree::InsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent,
                                TreeItem after) {
    wxTreeItemId wxParent = parent == kNoTreeItem ? hiddenRoot_ : ToWx(parent);
    if (!wxParent.IsOk()) return kNoTreeItem;
    TreeItem item = model_.InsertItem(text, image, selectedImage, parent, after);
    if (item == kNoTreeItem) return kNoTreeItem;
    const auto& siblings = model_.GetChildren(parent);
    size_t position = 0;
    while (position < siblings.size() && siblings[position] != item) ++position;
    const int img = model_.GetItemImage(item) == kNoImage ? -1 : model_.GetItemImage(item);
    const int sel = model_.GetItemSelectedImage(item) == kNoImage ? -1 : model_.GetItemSelectedImage(item);
    wxTreeItemId id = wxTreeCtrl::InsertItem(wxParent, position, wxString(text), img, sel, new ItemHandle(item));
    if (!id.IsOk()) return kNoTreeItem;
    ids_[item] = id;
    // Smart checks may have changed the ancestors' boxes.
    for (TreeItem a = item; a != kNoTreeItem; a = model_.GetParent(a)) UpdateStateImage(a);
    return item;
}

void CXHtmlTree::SetCheck(TreeItem item, bool checked) {
    model_.SetCheck(item, checked);
    UpdateAllStateImages();
}

void CXHtmlTree::ToggleCheck(TreeItem item) {
    const XHTMLTREEDATA* rec = model_.Record(item);
    if (!model_.checkBoxes || model_.readOnly || !rec || !rec->enabled || rec->separator) return;
    SetCheck(item, !model_.GetCheck(item));
    if (model_.selectFollowsCheck) SelectTreeItem(item);
}

void CXHtmlTree::DeleteAllTreeItems() {
    model_.DeleteAllItems();
    ids_.clear();
    hot_ = kNoTreeItem;
    DeleteChildren(hiddenRoot_);
}

void CXHtmlTree::SortChildrenOf(TreeItem parent) {
    model_.SortChildren(parent);
    wxTreeItemId id = parent == kNoTreeItem ? hiddenRoot_ : ToWx(parent);
    if (!id.IsOk()) return;
    sortRank_.clear();
    for (TreeItem child : model_.GetChildren(parent)) sortRank_.emplace(child, sortRank_.size());
    SortChildren(id);
    sortRank_.clear();
}

int CXHtmlTree::OnCompareItems(const wxTreeItemId& a, const wxTreeItemId& b) {
    // The model's order (a stable sort by label) decides, so the walk and the display agree.
    auto ra = sortRank_.find(FromWx(a)), rb = sortRank_.find(FromWx(b));
    if (ra == sortRank_.end() || rb == sortRank_.end()) return 0;
    return ra->second < rb->second ? -1 : ra->second > rb->second ? 1 : 0;
}

void CXHtmlTree::SelectTreeItem(TreeItem item) {
    wxTreeItemId id = ToWx(item);
    if (id.IsOk()) SelectItem(id);
}

TreeItem CXHtmlTree::GetSelectedTreeItem() const {
    wxTreeItemId id = GetSelection();
    return id.IsOk() ? FromWx(id) : kNoTreeItem;
}

TreeItem CXHtmlTree::FromWx(const wxTreeItemId& id) const {
    if (!id.IsOk() || id == hiddenRoot_) return kNoTreeItem;
    auto* handle = dynamic_cast<ItemHandle*>(GetItemData(id));
    return handle ? handle->item : kNoTreeItem;
}

wxTreeItemId CXHtmlTree::ToWx(TreeItem item) const {
    auto it = ids_.find(item);
    return it == ids_.end() ? wxTreeItemId() : it->second;
}

void CXHtmlTree::UpdateStateImage(TreeItem item) {
    wxTreeItemId id = ToWx(item);
    if (!id.IsOk() || !GetStateImageList()) return;
    const int state = model_.GetStateImage(item);
    SetItemState(id, state == 0 ? wxTREE_ITEMSTATE_NONE : state);
}

void CXHtmlTree::UpdateAllStateImages() {
    for (TreeItem item = model_.GetRootItem(); item != kNoTreeItem; item = model_.NextInWalk(item))
        UpdateStateImage(item);
}

void CXHtmlTree::SetHotItem(TreeItem item) {
    if (item == hot_) return;
    TreeItem old = hot_;
    hot_ = item;
    model_.SetHot(old, false);
    UpdateStateImage(old);
    model_.SetHot(item, true);
    UpdateStateImage(item);
}

void CXHtmlTree::OnStateImageClick(wxTreeEvent& event) {
    ToggleCheck(FromWx(event.GetItem()));
}

void CXHtmlTree::OnKeyDown(wxKeyEvent& event) {
    TreeItem selected = GetSelectedTreeItem();
    switch (event.GetKeyCode()) {
        case WXK_SPACE:
            ToggleCheck(selected);
            return;
        case WXK_NUMPAD_MULTIPLY:
            model_.ExpandBranch(selected);
            return;
        case WXK_NUMPAD_ADD:
            if (model_.ItemHasChildren(selected)) model_.Expand(selected, kTreeExpand);
            return;
        case WXK_NUMPAD_SUBTRACT:
            if (model_.ItemHasChildren(selected)) model_.Expand(selected, kTreeCollapse);
            return;
        default:
            event.Skip();
    }
}

void CXHtmlTree::OnMotion(wxMouseEvent& event) {
    event.Skip();
    int flags = 0;
    wxTreeItemId id = HitTest(event.GetPosition(), flags);
    TreeItem item = FromWx(id);
    SetHotItem((flags & wxTREE_HITTEST_ONITEMSTATEICON) ? item : kNoTreeItem);
    if (!model_.tooltips) return;
    std::wstring tip;
    if (item != kNoTreeItem &&
        (flags & (wxTREE_HITTEST_ONITEMLABEL | wxTREE_HITTEST_ONITEMICON | wxTREE_HITTEST_ONITEMSTATEICON))) {
        wxRect text;
        if (XHTMLTREEDATA* rec = model_.Record(item); rec && GetBoundingRect(id, text, true)) {
            rec->textRight = text.GetRight();
            tip = model_.TooltipText(item, GetClientSize().x);
        }
    }
    if (tip.empty())
        UnsetToolTip();
    else if (!GetToolTip() || GetToolTipText() != wxString(tip))
        SetToolTip(wxString(tip));
}

void CXHtmlTree::OnLeave(wxMouseEvent& event) {
    SetHotItem(kNoTreeItem);
    event.Skip();
}

void CXHtmlTree::OnDoubleClick(wxMouseEvent& event) {
    int flags = 0;
    TreeItem item = FromWx(HitTest(event.GetPosition(), flags));
    const XHTMLTREEDATA* rec = model_.Record(item);
    if (rec && !rec->enabled) return;  // swallowed
    event.Skip();
    if (item != kNoTreeItem && onDoubleClick) CallAfter([this] { if (onDoubleClick) onDoubleClick(); });
}

// Enter does what a double-click does (the dialogs swallow Enter before any other control sees it).
void CXHtmlTree::OnCharHook(wxKeyEvent& event) {
    const int key = event.GetKeyCode();
    if (key != WXK_RETURN && key != WXK_NUMPAD_ENTER) {
        event.Skip();
        return;
    }
    const XHTMLTREEDATA* rec = model_.Record(GetSelectedTreeItem());
    if (rec && rec->enabled && onDoubleClick) onDoubleClick();
}

void CXHtmlTree::OnSelChanging(wxTreeEvent& event) {
    const XHTMLTREEDATA* rec = model_.Record(FromWx(event.GetItem()));
    if (rec && !rec->enabled) event.Veto();
}

void CXHtmlTree::OnExpandedOrCollapsed(wxTreeEvent& event) {
    if (XHTMLTREEDATA* rec = model_.Record(FromWx(event.GetItem()))) {
        rec->expanded = event.GetEventType() == wxEVT_TREE_ITEM_EXPANDED ? 1 : 0;
        if (rec->expanded) rec->wasExpanded = 1;
    }
    event.Skip();
}

}  // namespace kestrane
