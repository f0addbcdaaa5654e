#include "KUiTree.h"

#include <algorithm>
#include <new>
#include <utility>

#include "KException.h"
#include "KGenericUiPixmap.h"
#include "KIGenericUiApp.h"
#include "KIGenericUiWindow.h"
#include "KIUiPixmap.h"
#include "KPropTree.h"
#include "KStorage.h"
#include "KUiFont.h"

namespace {

// The program's key codes the tree answers.
constexpr int kKeyReturn = 13, kKeyUp = 14, kKeyDown = 19, kKeyRight = 145, kKeyLeft = 146;

// A relay loop (an event wired back to a command that raises it again) stops after this many events.
constexpr size_t kMaxEventsPerFlush = 1000;

bool Inside(const KRect& r, int32_t x, int32_t y)
{
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// An image of its own size centred in square.
KRect Centred(const KIUiPixmap* image, const KRect& square)
{
    const int32_t w = image->Width(), h = image->Height();
    const int32_t x = SaturatedSize(int64_t(square.left) + (int64_t(square.Width()) - w) / 2);
    const int32_t y = SaturatedSize(int64_t(square.top) + (int64_t(square.Height()) - h) / 2);
    return KRect(x, y, SaturatedSize(int64_t(x) + w), SaturatedSize(int64_t(y) + h));
}

KRect Moved(KRect r, int32_t dx, int32_t dy)
{
    return KRect(SaturatedSize(int64_t(r.left) + dx), SaturatedSize(int64_t(r.top) + dy),
                 SaturatedSize(int64_t(r.right) + dx), SaturatedSize(int64_t(r.bottom) + dy));
}

void BlendWhole(const KIUiPixmap* image, KIUiPixmap* surface, const KRect& destination, const KRect& clip)
{
    if (!image)
        return;
    KRect source;
    image->GetBounds(source);
    BlendClipped(image, surface, destination, source, clip);
}

}  // namespace

// ---- Nodes ----

KUiTreeNode::KUiTreeNode(KUiTree* tree, KIFolder* folder, int32_t depth)
    : m_pTree(tree), m_pFolder(folder), m_Depth(depth)
{
}

KUiTreeNode::~KUiTreeNode()
{
    while (m_pFirstChild) {
        KUiTreeNode* child = m_pFirstChild;
        priUnlink(child);
        delete child;
    }
    if (m_pFolder)
        m_pFolder->Release();
    m_pFolder = nullptr;
    priDropLabel();
}

KWString KUiTreeNode::GetURL() const
{
    KWString url;
    if (m_pFolder)
        m_pFolder->GetURL(url);
    return url;
}

void KUiTreeNode::priInsertChild(KUiTreeNode* child, KUiTreeNode* next)
{
    child->m_pParent = this;
    child->m_pNext = next;
    child->m_pPrevious = next ? next->m_pPrevious : m_pLastChild;
    if (child->m_pPrevious)
        child->m_pPrevious->m_pNext = child;
    else
        m_pFirstChild = child;
    if (next)
        next->m_pPrevious = child;
    else
        m_pLastChild = child;
}

void KUiTreeNode::priUnlink(KUiTreeNode* child)
{
    if (child->m_pPrevious)
        child->m_pPrevious->m_pNext = child->m_pNext;
    else
        m_pFirstChild = child->m_pNext;
    if (child->m_pNext)
        child->m_pNext->m_pPrevious = child->m_pPrevious;
    else
        m_pLastChild = child->m_pPrevious;
    child->m_pParent = child->m_pPrevious = child->m_pNext = nullptr;
}

void KUiTreeNode::priDropLabel()
{
    DeleteUiPixmap(m_pLabel);
}

// ---- The tree ----

KUiTree::KUiTree()
{
    m_pTypeKeyword = "DIRTREE";
    m_pSizeChanged = AddEvent(KWString(u"SIZECHANGED"));
    m_pDirSelected = AddEvent(KWString(u"ON_DIRSELECTED"));
    m_pCopyFile = AddEvent(KWString(u"ON_COPY_FILE"));
}

KUiTree::~KUiTree()
{
    *m_pAlive = false;
    if (m_LanguageListener && m_pApp)
        m_pApp->RemoveLanguageListener(this);
    m_pSelected = nullptr;
    delete m_pRoot;
    m_pRoot = nullptr;
    delete m_pVBar;
    delete m_pHBar;
    for (KIUiPixmap*& icon : m_pIcons)
        DeleteUiPixmap(icon);
}

bool KUiTree::RegisterCreator(KIUiObjectFactory* factory)
{
    return RegisterControlCreator(factory, "DIRTREE", new KUiTreeCreator);
}

KIUiObject* KUiTreeCreator::Create()
{
    return new (std::nothrow) KUiTree;
}

bool KUiTree::InitUiObject(KIGenericUiApp* application, KIGenericUiWindow* window, KIUiObject* parent,
                           KPropTree* node)
{
    KUiObject::InitUiObject(application, window, parent, node);
    if (!application || !node)
        return false;
    const KWString appFont = node->GetString(KWString(u"AppFont"), KWString());
    if (!appFont.IsEmpty())
        m_pAppFont = application->FindFont(appFont);
    m_Font.Read(node);
    KUiLayoutKeys keys;
    keys.Read(node);
    if (!keys.HasAll())
        return false;
    bool found = false;
    struct ColourKey {
        const char* key;
        KUiColor* colour;
    };
    for (const ColourKey& k : {ColourKey{"SelectedFontColor", &m_SelectedColour},
                               ColourKey{"SelectedBgColor", &m_SelectedBgColour},
                               ColourKey{"DisabledFontColor", &m_DisabledColour},
                               ColourKey{"LowerLeftColor", &m_CornerColour}}) {
        *k.colour = GetUiColor(node, k.key, KUiColor(0, 0, 0, 255), &found);
        if (!found)
            return false;
    }
    static const char* const kIconKeys[kIcons] = {"File_DiskIcon",   "File_RemovableDiskIcon", "File_CDRomIcon",
                                                  "File_FolderIcon", "File_OpenFolderIcon",    "File_IsClosedIcon",
                                                  "File_IsOpenIcon"};
    for (int i = 0; i < kIcons; ++i) {
        m_pIcons[i] = LoadImageProperty(node, KWString(kIconKeys[i]), &found);
        if (!m_pIcons[i] || !found) {
            for (KIUiPixmap*& icon : m_pIcons)
                DeleteUiPixmap(icon);
            return false;
        }
    }

    // The first "VSCROLLBAR" and the first "HSCROLLBAR" element; the vertical bar is required.
    KIUiObjectFactory* factory = application->GetFactory();
    for (KPropTree* element = node->GetFirstChild(); element && factory; element = element->GetNextSibling()) {
        const KWString& tag = element->GetName();
        KIUiObject** slot = nullptr;
        if (tag == u"VSCROLLBAR" && !m_pVBar)
            slot = &m_pVBar;
        else if (tag == u"HSCROLLBAR" && !m_pHBar)
            slot = &m_pHBar;
        if (!slot)
            continue;
        KIUiObject* bar = factory->Create(&tag);
        if (!bar)
            continue;
        if (!bar->InitUiObject(application, window, this, element)) {
            delete bar;
            continue;
        }
        *slot = bar;
    }
    if (!m_pVBar)
        return false;
    m_pVBar->ConnectEvent(KWString(u"ON_SCROLL"), KWString(u"VScroll"), this);
    if (m_pHBar)
        m_pHBar->ConnectEvent(KWString(u"ON_SCROLL"), KWString(u"HScroll"), this);

    // Rows are as high as the tallest of the icons and the font.
    int32_t fontHeight = 0, charWidth = 0;
    if (m_pAppFont) {
        KWString language;
        m_LanguageListener = application->AddLanguageListener(this, language);
        m_pAppFont->GetMetrics(nullptr, &fontHeight, &charWidth);
    } else if (!m_Font.GetMetrics(&fontHeight, &charWidth)) {
        fontHeight = charWidth = 0;
    }
    m_RowHeight = std::max({m_pIcons[kDisk]->Width(), m_pIcons[kDisk]->Height(), m_pIcons[kFolder]->Width(),
                            m_pIcons[kFolder]->Height(), fontHeight, charWidth, 1});
    SetLayoutRecord(m_HLayout, SaturatedSize(int64_t(keys.minH) + 1), keys.stretchH);
    SetLayoutRecord(m_VLayout, keys.minV, keys.stretchV);

    // The volumes, each listed one level ahead unless it is slow.
    KWString leaf;
    KIFolder* volumes = nullptr;
    try {
        volumes = OpenFolderByURL(KWString(u"disk"), leaf, false);
    } catch (const KException&) {
        volumes = nullptr;
    }
    m_pRoot = new KUiTreeNode(this, volumes, 0);
    priList(m_pRoot);
    priListAhead(m_pRoot, true);
    priRecount();
    m_Pending.clear();
    return true;
}

bool KUiTree::PostCreationConnect()
{
    bool ok = KUiObject::PostCreationConnect();
    if (m_pVBar)
        ok = m_pVBar->PostCreationConnect() && ok;
    if (m_pHBar)
        ok = m_pHBar->PostCreationConnect() && ok;
    return ok;
}

bool KUiTree::UiRelayMessage(const KWString& message, void* data)
{
    if (message == kUiMsgSetLanguage) {
        if (!UiRelayData<KWString>(data))
            return true;
        // Every node, expanded or not.
        for (KUiTreeNode* n = m_pRoot ? m_pRoot->m_pFirstChild : nullptr; n;) {
            n->priDropLabel();
            if (n->m_pFirstChild) {
                n = n->m_pFirstChild;
                continue;
            }
            while (n && n != m_pRoot && !n->m_pNext)
                n = n->m_pParent;
            n = (n && n != m_pRoot) ? n->m_pNext : nullptr;
        }
        Repaint();
        return true;
    }
    if (message == kUiMsgPostCreationInit) {
        if (m_pVBar)
            m_pVBar->UiRelayMessage(message, data);
        if (m_pHBar)
            m_pHBar->UiRelayMessage(message, data);
        return true;
    }
    if (message == kUiMsgShutdown) {
        if (m_LanguageListener && m_pApp)
            m_pApp->RemoveLanguageListener(this);
        m_LanguageListener = false;
        return true;
    }
    if (message == u"VScroll") {
        if (const int32_t* row = UiRelayData<int32_t>(data)) {
            m_FirstRow = std::clamp(*row, 0, std::max(0, m_TotalRows - priVisibleRows()));
            Repaint();
        }
        return true;
    }
    if (message == u"HScroll") {
        if (const int32_t* offset = UiRelayData<int32_t>(data)) {
            m_HOffset = std::clamp(*offset, 0, std::max(0, m_WidestRow - priContentRect().Width()));
            Repaint();
        }
        return true;
    }
    if (message == u"GetSelectedDir") {
        priQueueSelection();
        priFlush();
        return true;
    }
    if (message == u"Refresh") {
        if (m_pRoot) {
            priRefresh(m_pRoot, false);
            for (KUiTreeNode* volume = m_pRoot->m_pFirstChild; volume; volume = volume->m_pNext)
                if (!volume->m_Slow)
                    priRefresh(volume, true);
        }
        priRecount();
        priUpdateVertical();
        priUpdateHorizontal();
        Repaint();
        priFlush();
        return true;
    }
    if (message == u"SelectDir" || message == u"CreatedNewDir") {
        priSelectByURL(UiRelayData<KWString>(data), message == u"CreatedNewDir");
        priFlush();
        return true;
    }
    return false;
}

// ---- Listing ----

void KUiTree::priListNames(KUiTreeNode* node, std::vector<KWString>& names)
{
    names.clear();
    if (!node || !node->m_pFolder)
        return;
    try {
        node->m_pFolder->ListFolders(names);
    } catch (const KException&) {
        names.clear();
    }
    // Case-insensitive in the user's order; names that differ only in case keep one fixed order.
    std::sort(names.begin(), names.end(), [](const KWString& a, const KWString& b) {
        const int c = LocaleCompareNoCase(a, b);
        return c != 0 ? c < 0 : a.View() < b.View();
    });
}

KUiTreeNode* KUiTree::priMakeChild(KUiTreeNode* parent, const KWString& name)
{
    const bool top = parent == m_pRoot;
    bool slow = parent->m_Slow;
    int driveType = KDRIVE_UNKNOWN;
    bool noChildren = false, readOnly = false;
    KIFolder* folder = nullptr;
    try {
        folder = parent->m_pFolder ? parent->m_pFolder->OpenFolder(name, false) : nullptr;
        if (!folder)
            return nullptr;
        if (top) {
            driveType = folder->GetDriveType();
            slow = driveType == KDRIVE_REMOTE || driveType == KDRIVE_REMOVABLE;
        }
        // A slow volume is not asked: it may have no medium. Attributes that cannot be read mean neither.
        KUInt32 flags = 0;
        if (!(top && slow) && folder->GetAttributes(&flags)) {
            noChildren = (flags & KFOLDER_HIDDEN) != 0;
            readOnly = (flags & KFOLDER_READONLY) != 0;
        }
    } catch (const KException&) {
        if (folder)
            folder->Release();
        return nullptr;
    }
    // Hidden folders are not shown below the volumes.
    if (!top && noChildren) {
        folder->Release();
        return nullptr;
    }
    auto* child = new KUiTreeNode(this, folder, parent->m_Depth + 1);
    child->m_RawName = name;
    UnescapeURLComponent(name, child->m_Name);
    child->m_Slow = slow;
    child->m_NoChildren = noChildren;
    child->m_ReadOnly = readOnly;
    if (top) {
        const Icon drive = driveType == KDRIVE_REMOVABLE ? kRemovable : driveType == KDRIVE_CDROM ? kCdRom : kDisk;
        child->m_pClosedIcon = child->m_pOpenIcon = m_pIcons[drive];
    } else {
        child->m_pClosedIcon = m_pIcons[kFolder];
        child->m_pOpenIcon = m_pIcons[kOpenFolder];
    }
    return child;
}

bool KUiTree::priIsBelow(const KUiTreeNode* node, const KUiTreeNode* ancestor) const
{
    for (const KUiTreeNode* n = node ? node->m_pParent : nullptr; n; n = n->m_pParent)
        if (n == ancestor)
            return true;
    return false;
}

void KUiTree::priDeleteChild(KUiTreeNode* parent, KUiTreeNode* child)
{
    if (m_pSelected && (m_pSelected == child || priIsBelow(m_pSelected, child))) {
        m_pSelected = nullptr;
        priQueueSelection();
    }
    parent->priUnlink(child);
    delete child;
}

void KUiTree::priDeleteChildren(KUiTreeNode* node)
{
    while (node->m_pFirstChild)
        priDeleteChild(node, node->m_pFirstChild);
}

void KUiTree::priList(KUiTreeNode* node)
{
    priDeleteChildren(node);
    std::vector<KWString> names;
    priListNames(node, names);
    for (const KWString& name : names)
        if (KUiTreeNode* child = priMakeChild(node, name))
            node->priInsertChild(child, nullptr);
    node->m_Listed = true;
}

void KUiTree::priListAhead(KUiTreeNode* node, bool skipSlow)
{
    for (KUiTreeNode* child = node->m_pFirstChild; child; child = child->m_pNext)
        if (!child->m_Listed && !(skipSlow && child->m_Slow))
            priList(child);
}

void KUiTree::priRefresh(KUiTreeNode* node, bool recurse)
{
    std::vector<KWString> names;
    priListNames(node, names);
    auto keep = [&](KUiTreeNode* child) {
        // The folder's own read-only mark may have changed since it was listed.
        KUInt32 flags = 0;
        if (!(node == m_pRoot && child->m_Slow) && child->m_pFolder) {
            try {
                child->m_ReadOnly = child->m_pFolder->GetAttributes(&flags) && (flags & KFOLDER_READONLY);
            } catch (const KException&) {
                child->m_ReadOnly = false;
            }
        }
        if (recurse && child->m_Listed)
            priRefresh(child, true);
    };
    KUiTreeNode* cursor = node->m_pFirstChild;
    for (const KWString& name : names) {
        if (cursor && cursor->m_RawName == name) {
            keep(cursor);
            cursor = cursor->m_pNext;
            continue;
        }
        KUiTreeNode* match = cursor ? cursor->m_pNext : nullptr;
        while (match && match->m_RawName != name)
            match = match->m_pNext;
        if (match) {
            // The children between the cursor and the match are gone.
            while (cursor != match) {
                KUiTreeNode* next = cursor->m_pNext;
                priDeleteChild(node, cursor);
                cursor = next;
            }
            keep(match);
            cursor = match->m_pNext;
            continue;
        }
        if (KUiTreeNode* child = priMakeChild(node, name)) {
            node->priInsertChild(child, cursor);
            if (!(node == m_pRoot && child->m_Slow))
                priList(child);
        }
    }
    // What is left after the last name is gone as well.
    while (cursor) {
        KUiTreeNode* next = cursor->m_pNext;
        priDeleteChild(node, cursor);
        cursor = next;
    }
    node->m_Listed = true;
}

// ---- Selection, expansion and finding ----

void KUiTree::priQueueSelection()
{
    priQueue(m_pDirSelected, m_pSelected ? m_pSelected->GetURL() : KWString());
}

void KUiTree::priSelect(KUiTreeNode* node)
{
    if (m_pSelected)
        m_pSelected->m_Selected = false;
    m_pSelected = node;
    if (node)
        node->m_Selected = true;
    priQueueSelection();
    Repaint();
}

void KUiTree::priToggle(KUiTreeNode* node)
{
    if (!node || !node->HasChildren())
        return;
    node->m_Expanded = !node->m_Expanded;
    if (node->m_Expanded) {
        if (!node->m_pFirstChild->m_Listed) {
            Repaint(true);
            priListAhead(node, false);
        }
        priRefresh(node, true);
        priRecount();
        priUpdateVertical();
        priUpdateHorizontal();
        priQueueSelection();
    } else {
        priRecount();
        priUpdateVertical();
        priUpdateHorizontal();
        if (m_pSelected && priIsBelow(m_pSelected, node))
            priSelect(node);
    }
    Repaint();
}

KUiTreeNode* KUiTree::priFind(const KWString& url, bool creatingNewFolder)
{
    std::vector<KWString> components;
    if (!m_pRoot || !m_pRoot->m_pFolder || !SplitURL(url, components) || components.size() < 2)
        return nullptr;
    // Only URLs of the tree's own storage class.
    std::vector<KWString> own;
    if (!SplitURL(m_pRoot->GetURL() + u"://", own) || own.empty() || own[0] != components[0])
        return nullptr;
    const size_t levels = components.size() - 1;
    if (creatingNewFolder && levels == 1)
        priRefresh(m_pRoot, false);
    KUiTreeNode* parent = m_pRoot;
    for (size_t level = 1; level <= levels; ++level) {
        KWString wanted;
        UnescapeURLComponent(components[level], wanted);
        KUiTreeNode* match = nullptr;
        for (KUiTreeNode* c = parent->m_pFirstChild; c && !match; c = c->m_pNext)
            if (c->m_RawName == wanted)
                match = c;
        for (KUiTreeNode* c = parent->m_pFirstChild; c && !match; c = c->m_pNext)
            if (EqualsNoCase(c->m_RawName, wanted))
                match = c;
        if (!match)
            return nullptr;
        if (level == levels)
            return match->m_NoChildren ? nullptr : match;
        // The level that must show a new folder is read again.
        if (creatingNewFolder && level + 1 == levels)
            match->m_Listed = false;
        if (!match->m_Listed)
            priList(match);
        parent = match;
    }
    return nullptr;
}

void KUiTree::priSelectByURL(const KWString* url, bool creatingNewFolder)
{
    if (!url)
        return;
    m_CreatingNewFolder = creatingNewFolder;
    KUiTreeNode* node = priFind(*url, creatingNewFolder);
    if (node) {
        if (creatingNewFolder)
            priSelect(node);
        // The ancestors open (a slow one only for a node on a slow volume), their children listed ahead so
        // that each row knows whether it has children.
        for (KUiTreeNode* p = node->m_pParent; p && p != m_pRoot; p = p->m_pParent) {
            if (!p->m_Expanded && (!p->m_Slow || node->m_Slow))
                p->m_Expanded = true;
            if (p->m_Expanded)
                priListAhead(p, !node->m_Slow);
        }
        if (!creatingNewFolder)
            priSelect(node);
        priRecount();
        priScrollIntoView(false);
        Repaint();
    }
    m_CreatingNewFolder = false;
}

// ---- Rows and scrolling ----

KUiTreeNode* KUiTree::priNextVisible(KUiTreeNode* node) const
{
    if (!node)
        return nullptr;
    if (node->m_Expanded && node->m_pFirstChild)
        return node->m_pFirstChild;
    for (KUiTreeNode* n = node; n && n != m_pRoot; n = n->m_pParent)
        if (n->m_pNext)
            return n->m_pNext;
    return nullptr;
}

int32_t KUiTree::priRowPitch() const
{
    return std::max(1, SaturatedSize(int64_t(m_RowHeight) + 2 * int64_t(m_RowGap)));
}

void KUiTree::priRecount()
{
    const int64_t cell = int64_t(m_RowHeight) + 2 * m_Indent;
    int64_t total = 0, widest = 0;
    for (KUiTreeNode* n = m_pRoot ? m_pRoot->m_pFirstChild : nullptr; n; n = priNextVisible(n)) {
        ++total;
        const KIUiPixmap* label = priLabel(n);
        const int64_t right = (int64_t(n->m_Depth) + 1) * cell + m_Indent + (label ? label->Width() : 0);
        widest = std::max(widest, right);
    }
    m_TotalRows = SaturatedSize(total);
    m_WidestRow = SaturatedSize(widest);
}

int32_t KUiTree::priRowOf(const KUiTreeNode* node) const
{
    int32_t row = 0;
    for (KUiTreeNode* n = m_pRoot ? m_pRoot->m_pFirstChild : nullptr; n; n = priNextVisible(n), ++row)
        if (n == node)
            return row;
    return -1;
}

int32_t KUiTree::priVisibleRows() const
{
    int64_t height = m_Rect.Height();
    if (m_pHBar)
        height -= int64_t(m_pHBar->GetLayout(false)->GetMinimumSize()) + 1;
    return std::max(0, SaturatedSize(height / priRowPitch()));
}

void KUiTree::priScrollIntoView(bool fromTop)
{
    const int32_t row = priRowOf(m_pSelected);
    const int32_t visible = priVisibleRows();
    if (row >= 0 && (row < m_FirstRow || int64_t(row) > int64_t(m_FirstRow) + visible - 1))
        m_FirstRow = fromTop ? row : std::max(0, row - visible + 1);
    priUpdateVertical();
    if (m_pHBar && m_pSelected) {
        const int64_t cell = int64_t(m_RowHeight) + 2 * m_Indent;
        m_HOffset = SaturatedSize((int64_t(m_pSelected->m_Depth) - 1) * cell - 4 * int64_t(m_Indent) -
                                  2 * int64_t(m_RowHeight));
        priUpdateHorizontal();
    }
}

void KUiTree::priUpdateVertical()
{
    const int32_t visible = priVisibleRows();
    double triple[3] = {10, 10, 0};
    if (m_TotalRows > visible) {
        // The same visible count clamps the first row as the bar is told.
        m_FirstRow = std::clamp(m_FirstRow, 0, m_TotalRows - visible);
        triple[0] = m_TotalRows;
        triple[1] = visible;
        triple[2] = m_FirstRow;
    } else {
        m_FirstRow = 0;
    }
    priQueue(m_pSizeChanged, triple[0], triple[1], triple[2]);
    if (m_pVBar)
        UiRelaySend(m_pVBar, KWString(u"Set"), triple);
}

void KUiTree::priUpdateHorizontal()
{
    if (!m_pHBar)
        return;
    const int32_t visible =
        SaturatedSize(int64_t(m_Rect.Width()) - (m_pVBar ? m_pVBar->GetLayout(true)->GetMinimumSize() : 0));
    double triple[3] = {10, 10, 0};
    if (m_WidestRow > visible) {
        m_HOffset = std::clamp(m_HOffset, 0, SaturatedSize(int64_t(m_WidestRow) - visible));
        triple[0] = m_WidestRow;
        triple[1] = visible;
        triple[2] = m_HOffset;
    } else {
        m_HOffset = 0;
    }
    priQueue(m_pSizeChanged, triple[0], triple[1], triple[2]);
    UiRelaySend(m_pHBar, KWString(u"Set"), triple);
}

KRect KUiTree::priContentRect() const
{
    KRect r = m_Rect;
    if (m_pVBar)
        r.right = std::max(r.left, SaturatedSize(int64_t(r.right) - m_pVBar->GetLayout(true)->GetMinimumSize()));
    if (m_pHBar)
        r.bottom = std::max(r.top, SaturatedSize(int64_t(r.bottom) - m_pHBar->GetLayout(false)->GetMinimumSize()));
    return r;
}

bool KUiTree::SetRect(int32_t x, int32_t y, int32_t width, int32_t height)
{
    m_Rect = KRect(x, y, SaturatedSize(int64_t(x) + width), SaturatedSize(int64_t(y) + height));
    const int32_t barWidth = m_pVBar ? m_pVBar->GetLayout(true)->GetMinimumSize() : 0;
    const int32_t barHeight = m_pHBar ? m_pHBar->GetLayout(false)->GetMinimumSize() : 0;
    if (m_pVBar) {
        m_pVBar->SetRect(SaturatedSize(int64_t(m_Rect.right) - barWidth), y, barWidth,
                         SaturatedSize(int64_t(height) - barHeight));
        priUpdateVertical();
    }
    if (m_pHBar) {
        m_pHBar->SetRect(x, SaturatedSize(int64_t(m_Rect.bottom) - barHeight),
                         SaturatedSize(int64_t(width) - barWidth), barHeight);
        priUpdateHorizontal();
    }
    priFlush();
    return true;
}

void KUiTree::priLayoutRow(KUiTreeNode* node, int32_t rowTop)
{
    const KRect content = priContentRect();
    const int64_t cell = int64_t(m_RowHeight) + 2 * m_Indent;
    const int64_t x = int64_t(m_Rect.left) - m_HOffset + (int64_t(node->m_Depth) - 1) * cell;
    const int64_t top = int64_t(rowTop) + m_RowGap;
    auto square = [&](int64_t left) {
        return KRect(SaturatedSize(left), SaturatedSize(top), SaturatedSize(left + m_RowHeight),
                     SaturatedSize(top + m_RowHeight));
    };
    node->m_RowRect = KRect(content.left, rowTop, content.right, SaturatedSize(int64_t(rowTop) + priRowPitch()));
    node->m_ExpanderRect = node->HasChildren() ? square(x + m_Indent) : KRect();
    node->m_IconRect = square(x + cell + m_Indent);
    const KIUiPixmap* label = priLabel(node);
    const int32_t w = label ? label->Width() : 0, h = label ? label->Height() : 0;
    const int64_t labelX = x + 2 * cell + m_Indent;
    const int64_t labelY = top + (int64_t(m_RowHeight) - h) / 2;
    node->m_LabelRect = KRect(SaturatedSize(labelX), SaturatedSize(labelY), SaturatedSize(labelX + w),
                              SaturatedSize(labelY + h));
}

KUiTreeNode* KUiTree::priNodeAt(int32_t x, int32_t y)
{
    const KRect content = priContentRect();
    if (!Inside(content, x, y) || !m_pRoot)
        return nullptr;
    KUiTreeNode* n = m_pRoot->m_pFirstChild;
    for (int32_t i = 0; n && i < m_FirstRow; ++i)
        n = priNextVisible(n);
    const int32_t pitch = priRowPitch();
    for (int64_t top = m_Rect.top; n && top < content.bottom; top += pitch, n = priNextVisible(n)) {
        priLayoutRow(n, SaturatedSize(top));
        if (Inside(n->m_RowRect, x, y))
            return n;
    }
    return nullptr;
}

KUiColor KUiTree::priNormalColour() const
{
    if (m_pAppFont) {
        KUiColor c;
        m_pAppFont->GetColour(c);
        return c;
    }
    return m_Font.colour;
}

KIUiPixmap* KUiTree::priLabel(KUiTreeNode* node)
{
    if (node->m_pLabel)
        return node->m_pLabel;
    const KWString text = node->m_Name.IsEmpty() ? KWString(u"GOT-NO-DIR-NAME!") : node->m_Name;
    // The text alone: drawing lays it on the background colour and recolours it per state.
    if (m_pAppFont) {
        KUiTextAttributes plain;
        plain.bgColour = KUiColor(0, 0, 0, 0);
        plain.hasBgColour = true;
        node->m_pLabel = m_pAppFont->RenderText(&plain, text, false);
    } else {
        KUiOwnFont font = m_Font;
        font.hasBgColour = false;
        node->m_pLabel = font.Render(text);
    }
    return node->m_pLabel;
}

void KUiTree::priDrawRow(KUiTreeNode* node, KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (node->m_Selected) {
        const KRect band = IntersectRects(Moved(node->m_RowRect, dx, dy), clip);
        if (!IsEmptyRect(band))
            surface->FillRect(band, m_SelectedBgColour);
    }
    if (node->HasChildren()) {
        const KIUiPixmap* expander = m_pIcons[node->m_Expanded ? kOpenExpander : kClosedExpander];
        BlendWhole(expander, surface, Moved(Centred(expander, node->m_ExpanderRect), dx, dy), clip);
    }
    if (const KIUiPixmap* icon = node->m_Expanded ? node->m_pOpenIcon : node->m_pClosedIcon)
        BlendWhole(icon, surface, Moved(Centred(icon, node->m_IconRect), dx, dy), clip);
    KIUiPixmap* label = priLabel(node);
    if (!label)
        return;
    const KUiColor colour = node->m_Selected ? m_SelectedColour : !node->m_Listed ? m_DisabledColour : priNormalColour();
    if (auto* recolourable = dynamic_cast<KIGenericUiPixmap*>(label))
        recolourable->SetRGB(colour.r, colour.g, colour.b);
    const KRect destination = Moved(node->m_LabelRect, dx, dy);
    if (m_Font.hasBgColour) {
        const KRect filled = IntersectRects(destination, clip);
        if (!IsEmptyRect(filled))
            surface->FillRect(filled, m_Font.bgColour);
    }
    BlendWhole(label, surface, destination, clip);
}

void KUiTree::Draw(KIUiPixmap* surface, int32_t dx, int32_t dy, const KRect& clip)
{
    if (!surface || IsEmptyRect(IntersectRects(Moved(m_Rect, dx, dy), clip)))
        return;
    for (KIUiObject* bar : {m_pVBar, m_pHBar}) {
        if (!bar)
            continue;
        const KRect c = IntersectRects(Moved(*bar->GetRect(), dx, dy), clip);
        if (!IsEmptyRect(c))
            bar->Draw(surface, dx, dy, c);
    }
    const KRect content = priContentRect();
    if (m_pHBar) {
        const KRect corner = IntersectRects(Moved(KRect(content.right, content.bottom, m_Rect.right, m_Rect.bottom), dx, dy), clip);
        if (!IsEmptyRect(corner))
            surface->FillRect(corner, m_CornerColour);
    }
    const KRect rows = IntersectRects(Moved(content, dx, dy), clip);
    if (IsEmptyRect(rows) || !m_pRoot)
        return;
    KUiTreeNode* n = m_pRoot->m_pFirstChild;
    for (int32_t i = 0; n && i < m_FirstRow; ++i)
        n = priNextVisible(n);
    const int32_t pitch = priRowPitch();
    for (int64_t top = m_Rect.top; n && top < content.bottom; top += pitch, n = priNextVisible(n)) {
        priLayoutRow(n, SaturatedSize(top));
        priDrawRow(n, surface, dx, dy, rows);
    }
}

// ---- Input ----

void KUiTree::Tick(int32_t elapsedMs)
{
    if (m_pVBar)
        m_pVBar->Tick(elapsedMs);
    if (m_pHBar)
        m_pHBar->Tick(elapsedMs);
}

KIUiObject* KUiTree::HitTest(int32_t x, int32_t y)
{
    if (!Inside(m_Rect, x, y))
        return nullptr;
    for (KIUiObject* bar : {m_pVBar, m_pHBar})
        if (bar)
            if (KIUiObject* hit = bar->HitTest(x, y))
                return hit;
    return this;
}

bool KUiTree::MouseDown(int32_t x, int32_t y, bool, bool)
{
    TakeFocus(true);
    KUiTreeNode* node = priNodeAt(x, y);
    if (!node) {
        priQueueSelection();
    } else if (node->HasChildren() && Inside(node->m_ExpanderRect, x, y)) {
        priToggle(node);
    } else {
        // A removable or network volume whose free space is unknown has no medium to show.
        const bool volume = node->m_pParent == m_pRoot;
        if (!(volume && node->m_Slow && (!node->m_pFolder || node->m_pFolder->GetFreeSpace() < 0))) {
            if (!node->m_Listed)
                priRefresh(node, true);
            priSelect(node);
        }
    }
    priFlush();
    return true;
}

void KUiTree::DoubleClick(int32_t x, int32_t y, bool, bool)
{
    TakeFocus(true);
    KUiTreeNode* node = priNodeAt(x, y);
    if (node && (Inside(node->m_LabelRect, x, y) || Inside(node->m_IconRect, x, y)))
        priToggle(node);
    priFlush();
}

void KUiTree::MouseEnter(int32_t, int32_t)
{
    TakeFocus(true);
}

void KUiTree::MouseLeave(int32_t, int32_t)
{
    TakeFocus(false);
}

void KUiTree::MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b)
{
    if (m_pVBar)
        m_pVBar->MouseWheel(x, y, a, b);
}

void KUiTree::KeyDown(int code, bool, bool)
{
    KUiTreeNode* s = m_pSelected;
    if (!s)
        return;
    switch (code) {
    case kKeyReturn:
        priToggle(s);
        break;
    case kKeyUp: {
        KUiTreeNode* target = nullptr;
        if (KUiTreeNode* previous = s->m_pPrevious)
            target = previous->m_Expanded && previous->HasChildren() ? previous->m_pLastChild : previous;
        else if (s->m_pParent != m_pRoot)
            target = s->m_pParent;
        if (target) {
            priSelect(target);
            priScrollIntoView(true);
        }
        break;
    }
    case kKeyDown: {
        KUiTreeNode* target = nullptr;
        if (s->m_Expanded && s->HasChildren())
            target = s->m_pFirstChild;
        for (KUiTreeNode* n = s; !target && n && n != m_pRoot; n = n->m_pParent)
            target = n->m_pNext;
        if (target) {
            priSelect(target);
            priScrollIntoView(false);
        }
        break;
    }
    case kKeyRight:
        if (s->HasChildren()) {
            if (s->m_Expanded) {
                priSelect(s->m_pFirstChild);
                priScrollIntoView(false);
            } else {
                priToggle(s);
            }
        }
        break;
    case kKeyLeft:
        if (s->m_Expanded && s->HasChildren()) {
            priToggle(s);
        } else if (s->m_pParent != m_pRoot) {
            priSelect(s->m_pParent);
            priScrollIntoView(true);
        }
        break;
    default:
        break;
    }
    priFlush();
}

bool KUiTree::CanAcceptDrop(int32_t x, int32_t y)
{
    KUiTreeNode* node = priNodeAt(x, y);
    return node && !node->m_ReadOnly;
}

bool KUiTree::Drop(int32_t x, int32_t y, bool, bool, const KWString& payload)
{
    KUiTreeNode* node = priNodeAt(x, y);
    if (!node || node->m_ReadOnly)
        return false;
    priQueue(m_pCopyFile, payload, node->GetURL());
    priFlush();
    return true;
}

// ---- Events ----

void KUiTree::priQueue(RelayEvent* event, const KWString& a)
{
    Pending p;
    p.event = event;
    p.strings[0] = a;
    p.isStrings = true;
    m_Pending.push_back(std::move(p));
}

void KUiTree::priQueue(RelayEvent* event, const KWString& a, const KWString& b)
{
    Pending p;
    p.event = event;
    p.strings[0] = a;
    p.strings[1] = b;
    p.isStrings = true;
    m_Pending.push_back(std::move(p));
}

void KUiTree::priQueue(RelayEvent* event, double total, double visible, double first)
{
    Pending p;
    p.event = event;
    p.numbers[0] = total;
    p.numbers[1] = visible;
    p.numbers[2] = first;
    m_Pending.push_back(std::move(p));
}

void KUiTree::priFlush()
{
    // A relay may call the tree again: what it raises joins the queue and the outer flush fires it in turn.
    if (m_Flushing)
        return;
    m_Flushing = true;
    const std::shared_ptr<bool> alive = m_pAlive;
    size_t fired = 0;
    while (!m_Pending.empty()) {
        if (++fired > kMaxEventsPerFlush) {
            m_Pending.clear();
            break;
        }
        Pending p = std::move(m_Pending.front());
        m_Pending.erase(m_Pending.begin());
        if (p.isStrings)
            p.event->Fire(p.strings);
        else
            p.event->Fire(p.numbers);
        if (!*alive)
            return;
    }
    m_Flushing = false;
}
