// The UI object base: paths, links, layout records, defaults and the tree walk.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KDebug.h"
#include "KPropTree.h"
#include "KUiObject.h"

namespace {

// Counts the objects alive, so that a test sees the destructor free a whole tree.
int g_Alive = 0;

class TestObject : public KUiObject {
public:
    explicit TestObject(std::vector<std::string>* log = nullptr) : m_pLog(log) { ++g_Alive; }
    ~TestObject() override { --g_Alive; }

    bool Relayout() override
    {
        if (m_pLog) {
            KWString name;
            GetName(name);
            m_pLog->push_back(name.GetAscii());
        }
        return KUiObject::Relayout();
    }
    bool PostCreationConnect() override
    {
        ++connects;
        return KUiObject::PostCreationConnect();
    }

    using KUiObject::AddEvent;
    int connects = 0;

private:
    std::vector<std::string>* m_pLog;
};

// Takes the wheel and remembers its arguments.
class WheelObject : public TestObject {
public:
    using TestObject::TestObject;
    void MouseWheel(int32_t x, int32_t y, int32_t a, int32_t b) override { wheel = {x, y, a, b}; }
    std::vector<int32_t> wheel;
};

std::unique_ptr<KPropTree> Node(const char* element, const char* name = nullptr)
{
    auto node = std::make_unique<KPropTree>(nullptr, element);
    if (name)
        node->AddPair("Name", name);
    return node;
}

// Builds an object under parent from a node named name (none: no Name) and links it as parent's last child.
template <class T = TestObject>
T* Add(KUiObject* parent, const char* name, std::vector<std::string>* log = nullptr)
{
    T* object = new T(log);
    auto node = Node("OBJ", name);
    object->InitUiObject(nullptr, nullptr, parent, node.get());
    parent->AppendChild(object);
    return object;
}

std::string PathOf(const KIUiRelay* object)
{
    KWString path;
    object->GetPath(path);
    return path.GetAscii();
}

}  // namespace

TEST(UiObject, PathsFollowTheOwnersAndUnnamedObjectsAreNotFound)
{
    auto app = std::make_unique<TestObject>();
    auto appNode = Node("OBJ", "App");
    EXPECT_FALSE(app->InitUiObject(nullptr, nullptr, nullptr, appNode.get()));  // negation of the bind
    TestObject* main = Add(app.get(), "Main");
    TestObject* box = Add(main, "Box");
    TestObject* unnamed = Add(box, nullptr);
    EXPECT_EQ(PathOf(app.get()), "App");
    EXPECT_EQ(PathOf(box), "App.Main.Box");
    EXPECT_EQ(PathOf(unnamed), "App.Main.Box");

    KWString name(u"x");
    unnamed->GetName(name);
    EXPECT_TRUE(name.IsEmpty());
    EXPECT_EQ(unnamed->FindObject(KWString()), nullptr);
    EXPECT_EQ(unnamed->FindObject(KWString(u"Box")), nullptr);
    EXPECT_EQ(box->FindObject(KWString(u"Box")), box);
    EXPECT_EQ(box->FindObject(KWString(u"box")), nullptr);
    EXPECT_EQ(box->FindObject(KWString(u"App.Main.Box")), nullptr);

    // Links: parent set by the initialisation, siblings by the tree's builder.
    EXPECT_EQ(unnamed->GetParent(), box);
    EXPECT_EQ(box->GetFirstChild(), unnamed);
    TestObject* second = Add(box, "Second");
    EXPECT_EQ(unnamed->GetNext(), second);
    EXPECT_EQ(second->GetPrevious(), unnamed);
    EXPECT_EQ(PathOf(second), "App.Main.Box.Second");
}

TEST(UiObject, RectAndLayoutRecords)
{
    TestObject object;
    EXPECT_TRUE(object.SetRect(10, 20, 30, 40));
    const KRect* r = object.GetRect();
    EXPECT_EQ(*r, KRect(10, 20, 40, 60));

    KILayoutObject* h = object.GetLayout(true);
    KILayoutObject* v = object.GetLayout(false);
    ASSERT_NE(h, nullptr);
    ASSERT_NE(v, nullptr);
    EXPECT_NE(h, v);
    for (KILayoutObject* layout : {h, v}) {
        EXPECT_EQ(layout->GetMinimumSize(), 5);
        EXPECT_EQ(layout->GetSize(), 5);
        EXPECT_EQ(layout->GetStretch(), 0);
        EXPECT_EQ(layout->GetWorkingStretch(), 0);
        EXPECT_EQ(layout->GetWorkingOffset(), 0);
        EXPECT_FALSE(layout->IsSizeAssigned());
        EXPECT_FALSE(layout->HasCap());
        int32_t size = -1;
        EXPECT_TRUE(layout->GetFixedSize(size));
        EXPECT_EQ(size, 5);
    }

    // A layout pass: the records keep apart, Reset restores the working values.
    h->SetStretch(3);
    h->SetWorkingStretch(1);
    h->SetWorkingOffset(7);
    h->AssignSize(40);
    h->SetCap(90);
    EXPECT_TRUE(h->IsSizeAssigned());
    EXPECT_EQ(h->GetSize(), 40);
    EXPECT_TRUE(h->HasCap());
    EXPECT_EQ(h->GetCap(), 90);
    EXPECT_EQ(v->GetStretch(), 0);
    h->Reset();
    EXPECT_EQ(h->GetWorkingStretch(), 3);
    EXPECT_EQ(h->GetWorkingOffset(), 0);
    EXPECT_FALSE(h->IsSizeAssigned());
    EXPECT_EQ(h->GetSize(), 40);

    KLayoutObject stretchy;
    stretchy.SetFixed(false);
    int32_t untouched = -1;
    EXPECT_FALSE(stretchy.GetFixedSize(untouched));
    EXPECT_EQ(untouched, -1);
}

TEST(UiObject, WheelClimbsToTheNearestAncestorThatTakesIt)
{
    auto top = std::make_unique<WheelObject>();
    auto node = Node("OBJ", "Top");
    top->InitUiObject(nullptr, nullptr, nullptr, node.get());
    WheelObject* middle = Add<WheelObject>(top.get(), "Middle");
    TestObject* plain = Add(middle, "Plain");
    TestObject* leaf = Add(plain, "Leaf");

    leaf->MouseWheel(1, 2, 3, -4);
    EXPECT_EQ(middle->wheel, (std::vector<int32_t>{1, 2, 3, -4}));
    EXPECT_TRUE(top->wheel.empty());

    // Without a taker the wheel stops at the top.
    TestObject root;
    TestObject* child = Add(&root, "C");
    child->MouseWheel(5, 6, 7, 8);
}

TEST(UiObject, DefaultsAnswerNothingAndTheClipboardOnesTrace)
{
    TestObject object;
    KWString text(u"keep"), payload;
    EXPECT_FALSE(object.UiRelayMessage(KWString(u"Anything"), nullptr));
    EXPECT_TRUE(object.ConnectEvent(KWString(u"ON_X"), KWString(u"M"), &object));
    EXPECT_EQ(object.GetFirstEvent(), nullptr);
    EXPECT_FALSE(object.IsHBox());
    EXPECT_FALSE(object.IsVBox());
    EXPECT_EQ(object.HitTest(0, 0), nullptr);
    EXPECT_FALSE(object.MouseDown(0, 0, false, false));
    EXPECT_FALSE(object.BeginDrag(0, 0, false, false, payload));
    EXPECT_FALSE(object.CanAcceptDrop(0, 0));
    EXPECT_FALSE(object.Drop(0, 0, false, false, payload));

    KTraceCapture capture;
    object.Copy(text);
    object.Cut(text);
    object.Paste(text);
    EXPECT_EQ(text, KWString(u"keep"));
    EXPECT_EQ(capture.Text(),
              "This is completely broken. Fix.\nThis is completely broken. Fix.\nThis is completely broken. Fix.\n");

    // Without an application no picture loads; an absent key is not found either.
    auto node = Node("IMAGE");
    node->AddPair("Image", "a.png");
    bool found = true;
    EXPECT_EQ(object.LoadImageProperty(node.get(), KWString(u"Missing"), &found), nullptr);
    EXPECT_FALSE(found);
    found = true;
    EXPECT_EQ(object.LoadImageProperty(node.get(), KWString(u"Image"), &found), nullptr);
    EXPECT_FALSE(found);
    EXPECT_EQ(object.LoadImageProperty(node.get(), KWString(u"Image"), nullptr), nullptr);
}

TEST(UiObject, RelayoutVisitsChildrenInOrderAndConnectOnlyTheFirstChild)
{
    std::vector<std::string> log;
    TestObject root(&log);
    TestObject* a = Add(&root, "A", &log);
    TestObject* b = Add(&root, "B", &log);
    Add(a, "A1", &log);
    EXPECT_TRUE(root.Relayout());
    EXPECT_EQ(log, (std::vector<std::string>{"", "A", "A1", "B"}));

    // The second child's failing relay does not count: the base connects only the first child.
    b->AddEvent(KWString(u"ON_B"))->AddDirectRelay(KWString(u"M"), nullptr);
    EXPECT_TRUE(root.PostCreationConnect());
    EXPECT_EQ(a->connects, 1);
    EXPECT_EQ(b->connects, 0);

    // A failure in the first child's event is reported, and every event is still tried.
    a->AddEvent(KWString(u"ON_A1"))->AddDirectRelay(KWString(u"M"), nullptr);
    RelayEvent* fine = a->AddEvent(KWString(u"ON_A2"));
    fine->AddDirectRelay(KWString(u"M"), b);
    EXPECT_FALSE(root.PostCreationConnect());
    EXPECT_EQ(a->connects, 2);
}

TEST(UiObject, PreOrderWalk)
{
    // R(A(A1, A2(A21)), B(B1)), S
    TestObject r;
    auto rNode = Node("OBJ", "R");
    r.InitUiObject(nullptr, nullptr, nullptr, rNode.get());
    TestObject* a = Add(&r, "A");
    Add(a, "A1");
    TestObject* a2 = Add(a, "A2");
    Add(a2, "A21");
    TestObject* b = Add(&r, "B");
    Add(b, "B1");
    TestObject s;
    auto sNode = Node("OBJ", "S");
    s.InitUiObject(nullptr, nullptr, nullptr, sNode.get());
    r.SetNext(&s);
    s.SetPrevious(&r);

    std::vector<std::string> order;
    for (KIUiObject* o = &r; o; o = NextUiObjectPreOrder(o)) {
        KWString name;
        o->GetName(name);
        order.push_back(name.GetAscii());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"R", "A", "A1", "A2", "A21", "B", "B1", "S"}));

    order.clear();
    for (KIUiObject* o = a; o; o = NextUiObjectPreOrder(o, a)) {
        KWString name;
        o->GetName(name);
        order.push_back(name.GetAscii());
    }
    EXPECT_EQ(order, (std::vector<std::string>{"A", "A1", "A2", "A21"}));
    EXPECT_EQ(NextUiObjectPreOrder(nullptr), nullptr);
    r.SetNext(nullptr);  // s is not r's to free
}

TEST(UiObject, DestructorFreesEventsRelaysAndTheWholeTree)
{
    g_Alive = 0;
    {
        auto root = std::make_unique<TestObject>();
        for (int i = 0; i < 3; ++i) {
            TestObject* child = Add(root.get(), "C");
            child->AddEvent(KWString(u"ON_X"))->AddDirectRelay(KWString(u"M"), root.get());
            for (int j = 0; j < 2; ++j) {
                TestObject* grandchild = Add(child, "G");
                RelayEvent* event = grandchild->AddEvent(KWString(u"ON_Y"));
                auto send = Node("SEND");
                send->AddPair("Message", "Hello");
                send->AddPair("Data", "payload");
                event->AddRelay(send.get());
                event->AddRelay(send.get());
            }
        }
        EXPECT_EQ(g_Alive, 1 + 3 + 6);
    }
    EXPECT_EQ(g_Alive, 0);
}
