// Events and relays read from scripts on disk, and how an event fires.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KPropTree.h"
#include "KRelayEvent.h"
#include "KStorageHolder.h"
#include "KStorageURL.h"
#include "KUiObject.h"
#include "KXMLParser.h"
#include "LumoStorageFixture.h"

namespace {

// An object with the events a test names, in that order.
class EventObject : public KUiObject {
public:
    explicit EventObject(std::initializer_list<const char16_t*> events)
    {
        for (const char16_t* name : events)
            m_Events.push_back(AddEvent(KWString(name)));
    }
    RelayEvent* Event(size_t i) const { return m_Events.at(i); }

private:
    std::vector<RelayEvent*> m_Events;
};

// Records what reaches it and answers as told.
class Receiver : public KUiObject {
public:
    explicit Receiver(bool answer = true) : m_Answer(answer) {}
    bool UiRelayMessage(const KWString& message, void* data) override
    {
        messages.push_back(message.GetAscii());
        data_.push_back(data);
        return m_Answer;
    }
    std::vector<std::string> messages;
    std::vector<void*> data_;

private:
    bool m_Answer;
};

struct RelayPicture {
    std::string message, relay, local, data, data2;
    bool hasRelay, hasLocal, hasData, hasData2;
    bool operator==(const RelayPicture&) const = default;
};

std::ostream& operator<<(std::ostream& os, const RelayPicture& p)
{
    return os << "{" << p.message << " R" << p.hasRelay << ":" << p.relay << " L" << p.hasLocal << ":" << p.local
              << " D" << p.hasData << ":" << p.data << " D2" << p.hasData2 << ":" << p.data2 << "}";
}

std::vector<RelayPicture> Relays(const RelayEvent* event)
{
    std::vector<RelayPicture> out;
    for (const RelayEvent::Relay* r = event->GetFirstRelay(); r; r = r->GetNext())
        out.push_back({r->GetMessage().GetAscii(), r->GetRelayName().GetAscii(), r->GetLocalRelay().GetAscii(),
                       r->GetData().GetAscii(), r->GetData2().GetAscii(), r->HasRelayName(), r->HasLocalRelay(),
                       r->HasData(), r->HasData2()});
    return out;
}

class UiRelay : public lumotest::StorageFixture {
protected:
    void SetUp() override
    {
        StorageFixture::SetUp();
        KWString leaf;
        m_Folder.reset(OpenFolderByURL(RootURL(), leaf, false));
        ASSERT_TRUE(m_Folder);
    }
    void TearDown() override
    {
        m_Folder.reset();
        StorageFixture::TearDown();
    }
    // The root of the script text written to the scratch folder and read back by the parser.
    std::unique_ptr<KPropTree> Script(const std::string& text)
    {
        lumotest::WriteText(Root() / "ui.xml", text);
        KXMLParser parser;
        return std::unique_ptr<KPropTree>(parser.Load(m_Folder.get(), u"ui.xml"));
    }

    KFolderHolder m_Folder;
};

}  // namespace

TEST_F(UiRelay, BothScriptFormsAndTheShortKeysAddRelays)
{
    auto root = Script(R"(<OBJ Name="Src">
        <ON_CLICK Message="Hello" Relay="App.Win.Target" Data="X" Data2="Y"/>
        <EVENT Name="ON_CLICK">
            <SEND MSG="Short" GRT="App.B" LRT="Local" DI1="d1" DI2="d2"/>
            <OTHER Message="not a send"/>
            <SEND Message="Third" LocalRelay=""/>
        </EVENT>
        <EVENT Name="ON_NOPE"><SEND Message="lost"/></EVENT>
        <EVENT><SEND Message="nameless"/></EVENT>
        <ON_OTHER Message="Long" MSG="Short"/>
        <on_click Message="case"/>
        <ON_NOPE Message="lost too"/>
    </OBJ>)");
    ASSERT_TRUE(root);
    EventObject object({u"ON_CLICK", u"ON_OTHER", u"ON_CLICK", u"ON_QUIET"});
    object.InitUiObject(nullptr, nullptr, nullptr, root.get());

    EXPECT_EQ(Relays(object.Event(0)), (std::vector<RelayPicture>{
                                           {"Hello", "App.Win.Target", "", "X", "Y", true, false, true, true},
                                           {"Short", "App.B", "Local", "d1", "d2", true, true, true, true},
                                           {"Third", "", "", "", "", false, true, false, false},
                                       }));
    EXPECT_TRUE(object.Event(0)->HasRelays());
    // The long key wins over the short one.
    EXPECT_EQ(Relays(object.Event(1)),
              (std::vector<RelayPicture>{{"Long", "", "", "", "", false, false, false, false}}));
    // The first event of a name takes the relays; an event the script does not name has none.
    EXPECT_TRUE(Relays(object.Event(2)).empty());
    EXPECT_FALSE(object.Event(3)->HasRelays());
    EXPECT_EQ(object.Event(3)->GetFirstRelay(), nullptr);

    KWString path;
    object.GetPath(path);
    EXPECT_EQ(path, KWString(u"Src"));
}

TEST_F(UiRelay, AnObjectWithoutEventsReadsNoRelays)
{
    auto root = Script(R"(<OBJ Name="Quiet"><EVENT Name="ON_NOPE"><SEND Message="M"/></EVENT></OBJ>)");
    ASSERT_TRUE(root);
    EventObject object({});
    EXPECT_FALSE(object.InitUiObject(nullptr, nullptr, nullptr, root.get()));
    EXPECT_EQ(object.GetFirstEvent(), nullptr);
}

TEST_F(UiRelay, FireHandsTheRelayDataOrTheCallersPointer)
{
    auto root = Script(R"(<OBJ><EVENT Name="ON_GO">
        <SEND Message="CreateWindow" Data="X" Data2="Y"/>
        <SEND Message="Plain"/>
    </EVENT></OBJ>)");
    ASSERT_TRUE(root);
    EventObject object({u"ON_GO"});
    object.InitUiObject(nullptr, nullptr, nullptr, root.get());
    RelayEvent* event = object.Event(0);
    Receiver receiver;
    for (RelayEvent::Relay* r = event->GetFirstRelay(); r; r = r->GetNext())
        r->SetTarget(&receiver);

    EXPECT_TRUE(event->Fire(nullptr));
    ASSERT_EQ(receiver.messages, (std::vector<std::string>{"CreateWindow", "Plain"}));
    // Data and Data2 lie side by side: a command taking two strings reads both.
    const KWString* strings = static_cast<const KWString*>(receiver.data_[0]);
    ASSERT_NE(strings, nullptr);
    EXPECT_EQ(strings[0], KWString(u"X"));
    EXPECT_EQ(strings[1], KWString(u"Y"));
    EXPECT_EQ(receiver.data_[1], nullptr);

    int payload = 42;
    receiver.data_.clear();
    EXPECT_TRUE(event->Fire(&payload));
    EXPECT_EQ(receiver.data_, (std::vector<void*>{&payload, &payload}));
}

TEST_F(UiRelay, UnresolvedRelaysAreSkippedAndFireAndsTheDeliveredResults)
{
    auto root = Script(R"(<OBJ><ON_GO Message="ToNowhere" Relay="App.Missing"/></OBJ>)");
    ASSERT_TRUE(root);
    EventObject object({u"ON_GO", u"ON_EMPTY"});
    object.InitUiObject(nullptr, nullptr, nullptr, root.get());
    RelayEvent* event = object.Event(0);

    // Nothing resolves the path without an application.
    EXPECT_FALSE(event->Connect(static_cast<KIGenericUiApp*>(nullptr)));
    EXPECT_FALSE(event->Connect(static_cast<KIGenericUiWindow*>(nullptr)));
    EXPECT_FALSE(object.PostCreationConnect());
    EXPECT_TRUE(event->Fire(nullptr));  // no relay delivered

    Receiver yes(true), no(false);
    event->AddDirectRelay(KWString(u"ToYes"), &yes);
    EXPECT_TRUE(event->Fire(nullptr));
    EXPECT_EQ(yes.messages, (std::vector<std::string>{"ToYes"}));
    event->AddDirectRelay(KWString(u"ToNo"), &no);
    EXPECT_FALSE(event->Fire(nullptr));
    EXPECT_EQ(yes.messages.size(), 2u);
    EXPECT_EQ(no.messages, (std::vector<std::string>{"ToNo"}));

    // An event without relays connects and fires as a success.
    EXPECT_TRUE(object.Event(1)->Connect(static_cast<KIGenericUiApp*>(nullptr)));
    EXPECT_TRUE(object.Event(1)->Fire(nullptr));

    // Once every relay has a target, connecting again has nothing to do.
    event->GetFirstRelay()->SetTarget(&yes);
    EXPECT_TRUE(event->Connect(static_cast<KIGenericUiApp*>(nullptr)));
    EXPECT_TRUE(object.PostCreationConnect());
}

TEST_F(UiRelay, BroadcastMessagesAreSpelledOnce)
{
    EXPECT_EQ(KWString(kUiMsgPostCreationInit), KWString("Post Creation Initialization"));
    EXPECT_EQ(KWString(kUiMsgShutdown), KWString("we're goin' bye-bye"));
    EXPECT_EQ(KWString(kUiMsgSetLanguage), KWString("Set Language"));
    EXPECT_EQ(KWString(kUiMsgDisableWindowDisplay), KWString("Disable Window Display."));
    EXPECT_EQ(KWString(kUiMsgEnableWindowDisplay), KWString("Enable Window Display & Redraw All."));
}

TEST_F(UiRelay, AnEventWiredBackToItselfStopsNestingAndAnswersFalse)
{
    EventObject object({u"ON_GO"});
    RelayEvent* event = object.Event(0);
    // Fires the event again for each message, as a command wired back to its own event does.
    class Echo : public KUiObject {
    public:
        explicit Echo(RelayEvent* e) : m_pEvent(e) {}
        bool UiRelayMessage(const KWString&, void*) override
        {
            ++deliveries;
            return m_pEvent->Fire(nullptr);
        }
        int deliveries = 0;

    private:
        RelayEvent* m_pEvent;
    } echo(event);
    event->AddDirectRelay(KWString(u"Again"), &echo);
    EXPECT_FALSE(event->Fire(nullptr));
    EXPECT_EQ(echo.deliveries, 64);

    // Unwound, the event delivers as before.
    event->DeleteRelays();
    Receiver receiver;
    event->AddDirectRelay(KWString(u"Once"), &receiver);
    EXPECT_TRUE(event->Fire(nullptr));
    EXPECT_EQ(receiver.messages, (std::vector<std::string>{"Once"}));
}
