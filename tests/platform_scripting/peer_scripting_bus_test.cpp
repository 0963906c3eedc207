// Scripting commands over a real session bus (the test's own dbus-daemon): descriptors
// keep their type codes and shape, the interaction level arrives with the command, a
// suspended command is answered once, and script errors carry their numbers. The
// sending side runs on a thread of its own, as an editor would in its own process.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QTest>
#include <QTimer>
#include <future>
#include <thread>

#include "platform/scripting/dbus/ScriptingBus.h"
#include "platform/scripting/dbus/WireDescriptor.h"
#include "tests/helpers/desktop/DesktopTest.h"

namespace platform::scripting::dbus {
namespace {

const BusNames kNames{"com.oxburyworks.ScriptingTest", "/com/oxburyworks/ScriptingTest",
                      "com.oxburyworks.ScriptingTest.Commands"};

class ScriptingBusTest : public testsupport::DesktopTest {
  protected:
    void SetUp() override {
        DesktopTest::SetUp();
        if (!QDBusConnection::sessionBus().isConnected()) {
            GTEST_SKIP() << "no session bus";
        }
        server =
            std::make_unique<ScriptingServer>(QDBusConnection::sessionBus(), kNames, "",
                                              [this](ScriptCommand& command) { handle(command); });
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
    }
    void TearDown() override {
        server.reset();
        DesktopTest::TearDown();
    }

    // Sends from another thread over a connection of its own; waits in Qt's loop.
    ScriptingClient::Reply send(const QString& method, const Descriptor& attributes,
                                const Descriptor& parameters) {
        auto future = std::async(std::launch::async, [=] {
            auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "sender");
            ScriptingClient::Reply reply =
                ScriptingClient(bus, kNames).send(method, attributes, parameters, 20000);
            QDBusConnection::disconnectFromBus("sender");
            return reply;
        });
        EXPECT_TRUE(waitFor(
            [&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            30));
        return future.get();
    }

    static Descriptor attributes(std::optional<int32_t> level) {
        Descriptor a = Descriptor::record();
        if (level) {
            a.setField(kKeyInteractLevel, Descriptor::int32(*level));
        }
        return a;
    }

    std::function<void(ScriptCommand&)> handle = [](ScriptCommand&) {};
    std::unique_ptr<ScriptingServer> server;
};

TEST_F(ScriptingBusTest, DescriptorsCrossWithTheirTypeCodesAndShape) {
    Descriptor seen;
    int32_t level = -1;
    ScriptCommand::Event event{};
    handle = [&](ScriptCommand& c) {
        seen = c.parameters();
        level = c.interactionLevel();
        event = c.event();
        c.setResult(*c.directParameter());
    };
    Descriptor nested = Descriptor::list();
    nested.append(Descriptor::atomic(kTypeBookmarkData, {0, 1, 2, 0xFF}));
    nested.append(Descriptor::atomic(fourCC("zzzz"), {}));
    Descriptor rec = Descriptor::record(kTypeObjectSpecifier);
    rec.setField(fourCC("seld"), Descriptor::text("SSO-1-2"));
    rec.setField(fourCC("from"), Descriptor());
    rec.setField(fourCC("want"), Descriptor::typeCode(fourCC("Asst")));
    nested.append(rec);
    Descriptor oddList = Descriptor::list(fourCC("qqqq"));
    oddList.append(Descriptor::int16(-2));
    nested.append(oddList);
    nested.append(Descriptor::list());
    Descriptor params = Descriptor::record();
    params.setField(kKeyDirectObject, nested);
    params.setField(fourCC("zzzz"), Descriptor::record(fourCC("blob")));

    const auto reply = send("OpenDocuments", attributes(0x20), params);
    ASSERT_TRUE(reply.ok()) << reply.busError.toStdString() << reply.busErrorMessage.toStdString();
    EXPECT_EQ(event, ScriptCommand::Event::OpenDocuments);
    EXPECT_EQ(level, 0x20);
    EXPECT_EQ(seen, params) << seen.describe();
    EXPECT_EQ(*reply.result, nested) << reply.result->describe();
}

TEST_F(ScriptingBusTest, InteractionLevelIsZeroWithoutTheAttributeAndRawWhenOdd) {
    std::vector<int32_t> levels;
    handle = [&](ScriptCommand& c) { levels.push_back(c.interactionLevel()); };
    send("Make", attributes(std::nullopt), Descriptor::record());
    send("Make", attributes(0x50), Descriptor::record());
    Descriptor shortLevel = Descriptor::record();
    shortLevel.setField(kKeyInteractLevel, Descriptor::int16(0x10));
    send("GetData", shortLevel, Descriptor::record());
    EXPECT_EQ(levels, (std::vector<int32_t>{0, 0x50, 0x10}));
}

TEST_F(ScriptingBusTest, SuspendedCommandIsAnsweredOnceLaterAndErrorsCarryTheirNumber) {
    std::shared_ptr<SuspendedCommand> waiting;
    handle = [&](ScriptCommand& c) {
        if (c.event() == ScriptCommand::Event::Make) {
            waiting = c.suspendExecution();
        } else {
            c.setScriptError(kParameterMissingError, "No object class.");
        }
    };
    // The answer comes after the handler returned, from a timer, and only the first one.
    QTimer::singleShot(300, [&] {
        ASSERT_TRUE(waiting);
        waiting->resume(Descriptor::text("first"));
        waiting->fail(kUserCanceledError);
        waiting->resume(Descriptor::text("second"));
    });
    const auto reply = send("Make", attributes(0x20), Descriptor::record());
    ASSERT_TRUE(reply.ok());
    EXPECT_EQ(*reply.result, Descriptor::text("first"));
    EXPECT_TRUE(waiting->answered());

    const auto failed = send("GetData", attributes(0x10), Descriptor::record());
    ASSERT_TRUE(failed.scriptError);
    EXPECT_EQ(failed.scriptError->number, -1715);
    EXPECT_EQ(failed.scriptError->message, "-1715 No object class.");

    // A suspended command dropped without an answer still ends the sender's wait.
    QTimer::singleShot(100, [&] { waiting.reset(); });
    const auto dropped = send("Make", attributes(0x20), Descriptor::record());
    ASSERT_TRUE(dropped.scriptError);
    EXPECT_EQ(dropped.scriptError->number, kEventFailedError);
}

TEST_F(ScriptingBusTest, MalformedArgumentsAreRefusedAndNestingIsCappedBeforeSending) {
    int handled = 0;
    handle = [&](ScriptCommand& c) {
        ++handled;
        c.setResult(c.parameters());
    };
    const auto nested = [](int depth) {
        Descriptor d = Descriptor::text("bottom");
        for (int i = 1; i < depth; ++i) {
            Descriptor list = Descriptor::list();
            list.append(d);
            d = list;
        }
        return d;
    };
    // The deepest descriptor allowed crosses; one more is refused by the sender, which
    // keeps its connection (the bus would drop a sender over its own limit).
    auto deepest = send("Make", attributes(0x10), nested(Descriptor::kMaxDepth));
    ASSERT_TRUE(deepest.ok()) << deepest.busErrorMessage.toStdString();
    EXPECT_EQ(*deepest.result, nested(Descriptor::kMaxDepth));
    auto tooDeep = send("Make", attributes(0x10), nested(Descriptor::kMaxDepth + 1));
    EXPECT_EQ(tooDeep.busError, "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(handled, 1);

    auto wrongSignature = std::async(std::launch::async, [] {
        auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "raw");
        QDBusMessage call =
            QDBusMessage::createMethodCall(kNames.service, kNames.path, kNames.interface, "Make");
        call << QString("not a descriptor") << 5;
        const QDBusMessage answer = bus.call(call, QDBus::Block, 20000);
        QDBusConnection::disconnectFromBus("raw");
        return answer.errorName();
    });
    ASSERT_TRUE(waitFor([&] {
        return wrongSignature.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }));
    EXPECT_EQ(wrongSignature.get(), "org.freedesktop.DBus.Error.InvalidArgs");
    EXPECT_EQ(handled, 1);
}

TEST_F(ScriptingBusTest, SecondServerCannotTakeTheName) {
    ScriptingServer other(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "second"),
                          kNames, "", {});
    std::string error;
    EXPECT_FALSE(other.start(error));
    EXPECT_NE(error.find("owned"), std::string::npos) << error;
    QDBusConnection::disconnectFromBus("second");
}

}  // namespace
}  // namespace platform::scripting::dbus
