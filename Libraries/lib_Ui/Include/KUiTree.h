#pragma once
// "DIRTREE": a scrolling tree of the machine's volumes and their folders, read through the "disk" storage
// class. It reports the selected folder's URL through "ON_DIRSELECTED" (an empty string for none), a drop on a
// folder through "ON_COPY_FILE" (two strings: what was dropped, the folder's URL) and its extent through
// "SIZECHANGED" (three doubles: total, visible, first). A vertical scroll bar ("VSCROLLBAR" child, required)
// and a horizontal one ("HSCROLLBAR", optional) scroll it. Listing is synchronous, on the UI thread.
#include <cstdint>
#include <memory>
#include <vector>

#include "KRelayEvent.h"
#include "KUiControl.h"
#include "KUiObjectFactory.h"

class KIFolder;
class KUiFont;
class KUiTree;

// One volume or folder. Owned by its parent; the root (depth 0) stands for the list of volumes.
class KUiTreeNode {
public:
    KUiTreeNode(KUiTree* tree, KIFolder* folder, int32_t depth);
    KUiTreeNode(const KUiTreeNode&) = delete;
    KUiTreeNode& operator=(const KUiTreeNode&) = delete;
    // Deletes the children, releases the folder and drops the label.
    ~KUiTreeNode();

    KUiTreeNode* GetParent() const { return m_pParent; }
    KUiTreeNode* GetPrevious() const { return m_pPrevious; }
    KUiTreeNode* GetNext() const { return m_pNext; }
    KUiTreeNode* GetFirstChild() const { return m_pFirstChild; }
    KUiTreeNode* GetLastChild() const { return m_pLastChild; }
    bool HasChildren() const { return m_pFirstChild != nullptr; }
    KIFolder* GetFolder() const { return m_pFolder; }
    int32_t GetDepth() const { return m_Depth; }
    // The name as the folder listing gave it, and as it is shown (URL-unescaped).
    const KWString& GetRawName() const { return m_RawName; }
    const KWString& GetName() const { return m_Name; }
    bool IsSelected() const { return m_Selected; }
    bool IsExpanded() const { return m_Expanded; }
    bool IsSlow() const { return m_Slow; }
    bool HasNoChildrenHint() const { return m_NoChildren; }
    bool IsReadOnly() const { return m_ReadOnly; }
    bool IsListed() const { return m_Listed; }
    // The folder's URL; empty without a folder.
    KWString GetURL() const;

private:
    friend class KUiTree;

    // Links child before next (at the end for null).
    void priInsertChild(KUiTreeNode* child, KUiTreeNode* next);
    // Unlinks child from the child list (the caller deletes it).
    void priUnlink(KUiTreeNode* child);
    void priDropLabel();

    KUiTree* m_pTree;
    KIFolder* m_pFolder;
    int32_t m_Depth;
    bool m_Selected = false;
    bool m_Expanded = false;
    bool m_Slow = false;
    bool m_NoChildren = false;
    bool m_ReadOnly = false;
    bool m_Listed = false;
    KWString m_RawName;
    KWString m_Name;
    KIUiPixmap* m_pClosedIcon = nullptr;  // borrowed from the tree
    KIUiPixmap* m_pOpenIcon = nullptr;
    KIUiPixmap* m_pLabel = nullptr;  // owned
    // Set by drawing (and by hit testing, which lays the rows out the same way).
    KRect m_ExpanderRect;
    KRect m_IconRect;
    KRect m_LabelRect;
    KRect m_RowRect;
    KUiTreeNode* m_pParent = nullptr;
    KUiTreeNode* m_pPrevious = nullptr;
    KUiTreeNode* m_pNext = nullptr;
    KUiTreeNode* m_pFirstChild = nullptr;
    KUiTreeNode* m_pLastChild = nullptr;
};

class KUiTree : public KUiControl {
public:
    KUiTree();
    ~KUiTree() override;

    bool PostCreationConnect() override;
    bool UiRelayMessage(const KWString& message, void* data) override;
    // Fails without a required key or icon, or without a vertical scroll bar.
    bool InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                      KPropTree* node) override;
    bool SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip) override;
    void Tick(int32_t elapsedMs) override;
    KIUiObject* HitTest(int32_t x, int32_t y) override;
    void DoubleClick(int32_t x, int32_t y, bool ctrl, bool shift) override;
    bool CanAcceptDrop(int32_t x, int32_t y) override;
    bool Drop(int32_t x, int32_t y, bool ctrl, bool shift, const KWString& payload) override;
    bool MouseDown(int32_t x, int32_t y, bool ctrl, bool shift) override;
    void MouseEnter(int32_t x, int32_t y) override;
    void MouseLeave(int32_t x, int32_t y) override;
    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override;
    void KeyDown(int code, bool ctrl, bool shift) override;

    KUiTreeNode* GetRoot() const { return m_pRoot; }
    KUiTreeNode* GetSelected() const { return m_pSelected; }
    int32_t GetRowHeight() const { return m_RowHeight; }
    int32_t GetTotalRows() const { return m_TotalRows; }
    int32_t GetFirstRow() const { return m_FirstRow; }
    int32_t GetWidestRow() const { return m_WidestRow; }
    int32_t GetHorizontalOffset() const { return m_HOffset; }

    static bool RegisterCreator(KIUiObjectFactory* factory);

private:
    friend class KUiTreeNode;

    enum Icon { kDisk, kRemovable, kCdRom, kFolder, kOpenFolder, kClosedExpander, kOpenExpander, kIcons };
    // An event waiting to be fired once the tree is consistent again.
    struct Pending {
        RelayEvent* event = nullptr;
        KWString strings[2];
        double numbers[3] = {0, 0, 0};
        bool isStrings = false;
    };

    // Listing (children rebuilt from scratch), list-ahead and the refresh merge.
    void priList(KUiTreeNode* node);
    void priListAhead(KUiTreeNode* node, bool skipSlow);
    void priRefresh(KUiTreeNode* node, bool recurse);
    // The sorted sub-folder names of node's folder.
    void priListNames(KUiTreeNode* node, std::vector<KWString>& names);
    // A new child of parent for name, or null when the folder cannot be opened or is hidden below a volume.
    KUiTreeNode* priMakeChild(KUiTreeNode* parent, const KWString& name);
    // Deletes child (and what is below it), dropping the selection when it was there.
    void priDeleteChild(KUiTreeNode* parent, KUiTreeNode* child);
    void priDeleteChildren(KUiTreeNode* node);

    // Selection and its report.
    void priSelect(KUiTreeNode* node);
    void priQueueSelection();
    bool priIsBelow(const KUiTreeNode* node, const KUiTreeNode* ancestor) const;
    void priToggle(KUiTreeNode* node);
    KUiTreeNode* priFind(const KWString& url, bool creatingNewFolder);
    void priSelectByURL(const KWString* url, bool creatingNewFolder);

    // Rows: the visible nodes in order, counting and scrolling.
    KUiTreeNode* priNextVisible(KUiTreeNode* node) const;
    void priRecount();
    int32_t priRowOf(const KUiTreeNode* node) const;
    int32_t priRowPitch() const;
    int32_t priVisibleRows() const;
    void priScrollIntoView(bool fromTop);
    void priUpdateVertical();
    void priUpdateHorizontal();
    // Where rows are drawn: the control less its scroll bars.
    KRect priContentRect() const;
    // Lays out the node's rectangles for a row whose top is rowTop (window coordinates, unscrolled by dx/dy).
    void priLayoutRow(KUiTreeNode* node, int32_t rowTop);
    // The visible node whose row band holds the point (its rectangles laid out), or null.
    KUiTreeNode* priNodeAt(int32_t x, int32_t y);

    // The node's label surface, made once in the normal colour.
    KIUiPixmap* priLabel(KUiTreeNode* node);
    void priDrawRow(KUiTreeNode* node, KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip);
    KUiColor priNormalColour() const;

    // Events wait in a queue until the operation that raised them is done; Flush fires them in order and
    // stops when a relay deleted the tree.
    void priQueue(RelayEvent* event, const KWString& a);
    void priQueue(RelayEvent* event, const KWString& a, const KWString& b);
    void priQueue(RelayEvent* event, double total, double visible, double first);
    void priFlush();

    // Labels.
    KUiOwnFont m_Font;
    KUiFont* m_pAppFont = nullptr;
    bool m_LanguageListener = false;
    KUiColor m_SelectedColour;
    KUiColor m_SelectedBgColour;
    KUiColor m_DisabledColour;
    KUiColor m_CornerColour;

    KIUiPixmap* m_pIcons[kIcons] = {};
    int32_t m_RowHeight = 0;
    const int32_t m_Indent = 2;
    const int32_t m_RowGap = 0;

    KUiTreeNode* m_pRoot = nullptr;
    KUiTreeNode* m_pSelected = nullptr;
    int32_t m_TotalRows = 0;
    int32_t m_FirstRow = 0;
    int32_t m_WidestRow = 0;
    int32_t m_HOffset = 0;

    RelayEvent* m_pSizeChanged = nullptr;
    RelayEvent* m_pDirSelected = nullptr;
    RelayEvent* m_pCopyFile = nullptr;
    KIUiObject* m_pVBar = nullptr;
    KIUiObject* m_pHBar = nullptr;
    bool m_CreatingNewFolder = false;

    std::vector<Pending> m_Pending;
    bool m_Flushing = false;
    // Cleared by the destructor: a relay fired from the queue may delete the tree with its window.
    std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true);
};

class KUiTreeCreator : public KIUiObjectCreator {
public:
    KIUiObject* Create() override;
};
