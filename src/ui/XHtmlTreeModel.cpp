#include "ui/XHtmlTreeModel.h"

#include <algorithm>
#include <cwctype>

#include "platform/TextCodec.h"

namespace kestrane {

int XHTMLTREEDATA::liveCount = 0;

XHTMLTREEDATA::XHTMLTREEDATA(const XHTMLTREEDATA& other) : XHTMLTREEDATA() {
    *this = other;
}

namespace {
const std::vector<TreeItem> kNoChildren;

// Letters for the whole-word test: ASCII letters, and beyond ASCII every letter-range code point
// (Latin-1 letters without the two arithmetic signs, and everything from Greek on). Digits are no letters.
bool IsWordLetter(wchar_t c) {
    if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) return true;
    if (c >= 0xC0 && c <= 0x24F) return c != 0xD7 && c != 0xF7;
    return c >= 0x370;
}
}  // namespace

XHtmlTreeModel::~XHtmlTreeModel() = default;

XHtmlTreeModel::Node* XHtmlTreeModel::node(TreeItem item) {
    auto it = nodes_.find(item);
    return it == nodes_.end() ? nullptr : &it->second;
}
const XHtmlTreeModel::Node* XHtmlTreeModel::node(TreeItem item) const {
    auto it = nodes_.find(item);
    return it == nodes_.end() ? nullptr : &it->second;
}

XHTMLTREEDATA* XHtmlTreeModel::Record(TreeItem item) {
    if (lookupsSuspended_) return nullptr;
    auto it = records_.find(item);
    return it == records_.end() ? nullptr : it->second.get();
}
const XHTMLTREEDATA* XHtmlTreeModel::Record(TreeItem item) const {
    if (lookupsSuspended_) return nullptr;
    auto it = records_.find(item);
    return it == records_.end() ? nullptr : it->second.get();
}

void XHtmlTreeModel::Initialize(bool withCheckBoxes, bool withTooltips) {
    DeleteAllItems();
    checkBoxes = withCheckBoxes;
    tooltips = withTooltips;
}

TreeItem XHtmlTreeModel::InsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent,
                                    TreeItem after) {
    return InsertItem(text, image, selectedImage, parent, after, nullptr);
}

TreeItem XHtmlTreeModel::InsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent,
                                    TreeItem after, const XHTMLTREEDATA* given) {
    if (parent != kNoTreeItem && !node(parent)) return kNoTreeItem;
    auto record = std::make_unique<XHTMLTREEDATA>();
    if (given) {
        *record = *given;
        record->expanded = record->wasExpanded = 0;
        record->descendants = record->checkedDescendants = record->nonParticipating = 0;
    }
    std::vector<TreeItem>& siblings = parent == kNoTreeItem ? roots_ : node(parent)->children;
    auto where = siblings.end();
    if (after == kTreeFirst) {
        where = siblings.begin();
    } else if (after != kTreeLast) {
        auto found = std::find(siblings.begin(), siblings.end(), after);
        if (found != siblings.end()) where = found + 1;
    }
    TreeItem handle = nextHandle_++;
    Node n;
    n.text = text;
    n.image = images ? image : kNoImage;
    n.selectedImage = images ? selectedImage : kNoImage;
    n.parent = parent;
    siblings.insert(where, handle);
    nodes_.emplace(handle, std::move(n));
    const bool checked = record->checked != 0;
    records_.emplace(handle, std::move(record));

    if (smartCheck) {
        int change = checked ? 1 : 0;
        for (TreeItem a = parent; a != kNoTreeItem; a = node(a)->parent) {
            XHTMLTREEDATA* rec = Record(a);
            if (!rec) continue;
            rec->descendants += 1;
            rec->checkedDescendants = std::max(0, rec->checkedDescendants + change);
            uint32_t now = rec->checkedDescendants == rec->descendants - rec->nonParticipating ? 1 : 0;
            if (now != rec->checked) change += now ? 1 : -1;
            rec->checked = now;
        }
    }
    return handle;
}

bool XHtmlTreeModel::GetCheck(TreeItem item) const {
    if (!checkBoxes || item == kNoTreeItem) return false;
    const XHTMLTREEDATA* rec = Record(item);
    if (!rec) return false;
    if (smartCheck && ItemHasChildren(item))
        return rec->checkedDescendants == rec->descendants - rec->nonParticipating;
    return rec->checked != 0;
}

int XHtmlTreeModel::GetStateImage(TreeItem item) const {
    const XHTMLTREEDATA* rec = Record(item);
    const Node* n = node(item);
    if (!rec || !n || rec->separator) return 0;
    int state;
    if (smartCheck && rec->descendants > 0) {
        if (rec->checkedDescendants == 0)
            state = 1;
        else if (rec->checkedDescendants == rec->descendants - rec->nonParticipating)
            state = 2;
        else
            state = 3;
    } else {
        state = rec->checked ? 2 : 1;
    }
    if (!rec->enabled) state += 4;
    if (n->hot) state += 8;
    return state;
}

void XHtmlTreeModel::SetHot(TreeItem item, bool hot) {
    if (Node* n = node(item)) n->hot = hot;
}

void XHtmlTreeModel::SetDescendantsChecked(TreeItem item, bool checked) {
    for (TreeItem child : GetChildren(item)) {
        if (XHTMLTREEDATA* rec = Record(child)) {
            rec->checked = checked ? 1 : 0;
            rec->checkedDescendants = checked ? rec->descendants - rec->nonParticipating : 0;
        }
        SetDescendantsChecked(child, checked);
    }
}

void XHtmlTreeModel::AdjustAncestors(TreeItem item, int change) {
    const Node* n = node(item);
    for (TreeItem a = n ? n->parent : kNoTreeItem; a != kNoTreeItem; a = node(a)->parent) {
        XHTMLTREEDATA* rec = Record(a);
        if (!rec) continue;
        rec->checkedDescendants = std::max(0, rec->checkedDescendants + change);
        uint32_t now = rec->checkedDescendants == rec->descendants - rec->nonParticipating ? 1 : 0;
        if (now != rec->checked) change += now ? 1 : -1;
        rec->checked = now;
    }
}

void XHtmlTreeModel::SetCheck(TreeItem item, bool checked) {
    XHTMLTREEDATA* rec = Record(item);
    if (!rec || !rec->enabled || rec->separator) return;
    const uint32_t value = checked ? 1 : 0;
    const bool changed = rec->checked != value;
    // The change carried to the ancestors is taken before the descendants are set.
    const int change = checked ? rec->descendants - rec->checkedDescendants + 1 : -(rec->checkedDescendants + 1);
    rec->checked = value;
    if (smartCheck && changed) {
        rec->checkedDescendants = checked ? rec->descendants - rec->nonParticipating : 0;
        SetDescendantsChecked(item, checked);
        AdjustAncestors(item, change);
    }
    if (onCheckboxClicked) onCheckboxClicked(item, checked);
}

TreeItem XHtmlTreeModel::NextInWalk(TreeItem item) const {
    const Node* n = node(item);
    if (!n) return kNoTreeItem;
    if (!n->children.empty()) return n->children.front();
    for (TreeItem cur = item; cur != kNoTreeItem; cur = node(cur)->parent) {
        const std::vector<TreeItem>& siblings = GetChildren(node(cur)->parent);
        auto it = std::find(siblings.begin(), siblings.end(), cur);
        if (it != siblings.end() && it + 1 != siblings.end()) return *(it + 1);
    }
    return kNoTreeItem;
}

TreeItem XHtmlTreeModel::PreviousInWalk(TreeItem item) const {
    const Node* n = node(item);
    if (!n) return kNoTreeItem;
    const std::vector<TreeItem>& siblings = GetChildren(n->parent);
    auto it = std::find(siblings.begin(), siblings.end(), item);
    if (it == siblings.begin()) return n->parent;
    TreeItem prev = *(it - 1);
    while (!GetChildren(prev).empty()) prev = GetChildren(prev).back();
    return prev;
}

TreeItem XHtmlTreeModel::LastItem() const {
    if (roots_.empty()) return kNoTreeItem;
    TreeItem last = roots_.back();
    while (!GetChildren(last).empty()) last = GetChildren(last).back();
    return last;
}

TreeItem XHtmlTreeModel::GetFirstCheckedItem() const {
    if (!checkBoxes) return kNoTreeItem;
    for (TreeItem item = GetRootItem(); item != kNoTreeItem; item = NextInWalk(item))
        if (GetCheck(item)) return item;
    return kNoTreeItem;
}

TreeItem XHtmlTreeModel::GetNextCheckedItem(TreeItem item) const {
    if (!checkBoxes) return kNoTreeItem;
    for (item = NextInWalk(item); item != kNoTreeItem; item = NextInWalk(item))
        if (GetCheck(item)) return item;
    return kNoTreeItem;
}

int XHtmlTreeModel::GetCheckedCount() const {
    int count = 0;
    for (TreeItem item = GetRootItem(); item != kNoTreeItem; item = NextInWalk(item))
        if (GetCheck(item)) ++count;
    return count;
}

void XHtmlTreeModel::DeleteAllItems() {
    CollapseAll();
    lookupsSuspended_ = true;
    nodes_.clear();
    roots_.clear();
    records_.clear();
    lookupsSuspended_ = false;
}

bool XHtmlTreeModel::Expand(TreeItem item, unsigned code) {
    XHTMLTREEDATA* rec = Record(item);
    if (rec && rec->enabled && ItemHasChildren(item)) {
        const uint32_t before = rec->expanded;
        if (code == kTreeCollapse || (code & kTreeCollapseReset))
            rec->expanded = 0;
        else if (code == kTreeExpand)
            rec->expanded = 1;
        else if (code == kTreeToggle)
            rec->expanded = rec->expanded ? 0 : 1;
        if (rec->expanded) rec->wasExpanded = 1;
        if (rec->expanded != before && onItemExpanded) onItemExpanded(item, rec->expanded != 0);
    }
    return viewExpand ? viewExpand(item, code) : Exists(item);
}

void XHtmlTreeModel::ExpandBranch(TreeItem item) {
    if (!ItemHasChildren(item)) return;
    Expand(item, kTreeExpand);
    for (TreeItem child : std::vector<TreeItem>(GetChildren(item))) ExpandBranch(child);
}

void XHtmlTreeModel::CollapseBranch(TreeItem item) {
    if (!ItemHasChildren(item)) return;
    Expand(item, kTreeCollapse);
    if (ItemHasChildren(GetChildren(item).front()))
        for (TreeItem child : std::vector<TreeItem>(GetChildren(item))) CollapseBranch(child);
}

void XHtmlTreeModel::CollapseAll() {
    for (TreeItem root : std::vector<TreeItem>(roots_)) CollapseBranch(root);
}

void XHtmlTreeModel::SortChildren(TreeItem parent) {
    std::vector<TreeItem>& children = parent == kNoTreeItem ? roots_ : node(parent)->children;
    std::stable_sort(children.begin(), children.end(), [this](TreeItem a, TreeItem b) {
        return LowerCase(node(a)->text) < LowerCase(node(b)->text);
    });
}

bool XHtmlTreeModel::Matches(const std::wstring& itemText, const std::wstring& what, bool matchCase,
                             bool wholeWord) const {
    const std::wstring text = matchCase ? itemText : LowerCase(itemText);
    for (size_t pos = text.find(what); pos != std::wstring::npos; pos = text.find(what, pos + what.size())) {
        if (!wholeWord) return true;
        const size_t end = pos + what.size();
        const bool before = pos > 0 && (IsWordLetter(text[pos - 1]) || text[pos - 1] == L'_');
        const bool after = end < text.size() && (IsWordLetter(text[end]) || text[end] == L'_');
        if (!before && !after) return true;
    }
    return false;
}

TreeItem XHtmlTreeModel::FindItem(const std::wstring& text, bool matchCase, bool down, bool wholeWord, bool wrap,
                                  TreeItem start) const {
    if (text.empty()) return kNoTreeItem;
    const std::wstring what = matchCase ? text : LowerCase(text);
    auto step = [&](TreeItem item) { return down ? NextInWalk(item) : PreviousInWalk(item); };
    auto restart = [&]() { return down ? GetRootItem() : LastItem(); };
    TreeItem candidate = start != kNoTreeItem ? step(start) : kNoTreeItem;
    if (candidate == kNoTreeItem) candidate = restart();
    // Every item is visited at most once per lap; two laps bound the walk even when the start is gone.
    for (size_t visited = 0; visited <= 2 * nodes_.size() + 2; ++visited) {
        if (candidate == kNoTreeItem) {
            if (!wrap || start == kNoTreeItem) return kNoTreeItem;
            candidate = restart();
            if (candidate == kNoTreeItem) return kNoTreeItem;
        }
        if (candidate == start) return kNoTreeItem;
        if (Matches(GetItemText(candidate), what, matchCase, wholeWord) && (!acceptFound || acceptFound(candidate)))
            return candidate;
        candidate = step(candidate);
    }
    return kNoTreeItem;
}

std::wstring XHtmlTreeModel::TooltipText(TreeItem item, int clientWidth) const {
    const XHTMLTREEDATA* rec = Record(item);
    if (!rec || rec->separator) return {};
    if (rec->tooltip.empty() && rec->textRight <= clientWidth - 3) return {};
    std::wstring text = rec->tooltip.empty() ? GetItemText(item) : rec->tooltip;
    if (text.size() > 78) text.resize(78);
    return text;
}

std::wstring XHtmlTreeModel::GetItemText(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->text : std::wstring();
}
void XHtmlTreeModel::SetItemText(TreeItem item, const std::wstring& text) {
    if (Node* n = node(item)) n->text = text;
}
uint32_t XHtmlTreeModel::GetItemData(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->data : 0;
}
void XHtmlTreeModel::SetItemData(TreeItem item, uint32_t data) {
    if (Node* n = node(item)) n->data = data;
}
int XHtmlTreeModel::GetItemImage(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->image : kNoImage;
}
int XHtmlTreeModel::GetItemSelectedImage(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->selectedImage : kNoImage;
}
TreeItem XHtmlTreeModel::GetParent(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->parent : kNoTreeItem;
}
const std::vector<TreeItem>& XHtmlTreeModel::GetChildren(TreeItem item) const {
    if (item == kNoTreeItem) return roots_;
    const Node* n = node(item);
    return n ? n->children : kNoChildren;
}

}  // namespace kestrane
