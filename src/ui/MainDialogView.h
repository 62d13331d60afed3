#pragma once
// The main dialog's controls as its logic and the analysis run use them. Every call is made on the
// user-interface thread (workers go through a UiDispatcher).
#include <cstdint>
#include <string>

#include "ui/XHtmlTreeModel.h"

namespace kestrane {

class MainDialogView {
public:
    virtual ~MainDialogView() = default;
    virtual void SetStatusText(const std::wstring& text) = 0;
    virtual std::wstring GetStatusText() const = 0;
    virtual void SetProgressPosition(int position) = 0;
    // Position 0, then the range 0..upper.
    virtual void SetProgressRange(int upper) = 0;
    virtual void SetVersionText(const std::wstring& text) = 0;
    virtual void SetCollationText(const std::wstring& text) = 0;
    // While running: progress bar and Stop shown, Back, Save and Close disabled; else the reverse.
    virtual void SetRunning(bool running) = 0;
    virtual bool IsRunning() const = 0;
    virtual void ClearRecordGrid() = 0;

    // The check-box tree (1009).
    virtual void TreeDeleteAllItems() = 0;
    virtual TreeItem TreeInsertItem(const std::wstring& text, int image, int selectedImage, TreeItem parent) = 0;
    virtual void TreeSetItemData(TreeItem item, uint32_t data) = 0;
    virtual void TreeSortChildren(TreeItem parent) = 0;
    virtual void TreeInvalidate() = 0;
    virtual int TreeGetCheckedCount() const = 0;
};

}  // namespace kestrane
