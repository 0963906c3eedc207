// The events widget against the stand-in service, end to end: the real client, URL
// loader and token controller, the widget's rows in the offscreen platform.
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>
#include <QToolButton>

#include "apps/today/ListRowViewController.h"
#include "apps/today/OWImageView.h"
#include "apps/today/OWTextField.h"
#include "apps/today/TodayHost.h"
#include "base/Format.h"
#include "tests/today/TodayTestSupport.h"

namespace todaytest {
namespace {

using Result = TodayViewController::UpdateResult;

// One event as the service sends it.
std::string event(const std::string& description, double date, const std::string& more = "") {
    return base::format(R"({"title": "Uploaded", "description": "%@", "date": %.0f%@%@})",
                        description, date, more.empty() ? "" : ", ", more);
}

std::string list(std::initializer_list<std::string> events) {
    std::string out = "[";
    for (const std::string& e : events) {
        out += (out.size() > 1 ? ", " : "") + e;
    }
    return out + "]";
}

std::vector<QString> rowTexts(TodayViewController& widget, const char* field) {
    std::vector<QString> texts;
    for (size_t i = 0; i < widget.listViewController().count(); ++i) {
        QWidget* row = widget.listViewController().rowController(i)->view();
        texts.push_back(row->findChild<QLabel*>(field)->text().remove(QChar(0x200B)));
    }
    return texts;
}

class TodayWidgetTest : public TodayTest {};

TEST_F(TodayWidgetTest, UpdatesFetchSinceTheLastCheckAndPutNewEventsOnTop) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    // "later" is past the next check time, so the service sends it again each time.
    const double later = kNow + 400;
    addEvents("Launch Film", list({event("later", later), event("older", kNow - 90)}));
    addEvents("Trailer", list({event("trailer", kNow - 3 * 3600)}));
    auto widget = makeWidget();
    widget->view()->show();

    EXPECT_EQ(update(*widget), Result::NewData);
    EXPECT_EQ(descriptions(*widget), (std::vector<std::string>{"trailer", "older", "later"}));
    EXPECT_EQ(widget->events()[0]["project_title"].stringValue(), "Trailer");
    EXPECT_EQ(widget->events()[2]["project_title"].stringValue(), "Launch Film");
    EXPECT_EQ(widget->lastCheckTime(), base::Date{kNow});
    EXPECT_EQ(rowTexts(*widget, "textField"), (std::vector<QString>{"trailer", "older", "later"}));
    EXPECT_EQ(rowTexts(*widget, "dateField"),
              (std::vector<QString>{"3 hours ago", "1 minute ago", "0 seconds ago"}));
    EXPECT_EQ(rowTexts(*widget, "projectField"),
              (std::vector<QString>{"Trailer", "Launch Film", "Launch Film"}));

    // The same event again is not listed twice; the reply still counts as new data.
    clock->advance(60);
    EXPECT_EQ(update(*widget), Result::NewData);
    EXPECT_EQ(descriptions(*widget).size(), 3u);

    // A changed event is a new row; two new events of one reply: the later one on top.
    clock->advance(60);
    addEvents("Launch Film", list({event("later, renamed", later), event("first new", later),
                                   event("second new", later)}));
    EXPECT_EQ(update(*widget), Result::NewData);
    EXPECT_EQ(descriptions(*widget),
              (std::vector<std::string>{"second new", "first new", "later, renamed", "trailer",
                                        "older", "later"}));
    EXPECT_EQ(rowTexts(*widget, "textField").front(), "second new");

    // The first call sends no date; each later one the last check plus one second.
    EXPECT_EQ(sinceFields(), (std::vector<std::string>{"", base::format("%.0f", kNow + 1),
                                                       base::format("%.0f", kNow + 61)}));
}

TEST_F(TodayWidgetTest, RemovedRowsStayRemovedAndBadFieldsShowEmpty) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    addEvents("Launch Film", list({event("keep", kNow - 10), event("remove me", kNow - 5)}));
    // Mistyped, missing and null fields, and an event that is no dictionary at all.
    addEvents("Odd", R"([{"description": 42, "date": "soon", "icon": 7, "url": null},
                        "not an event", {"date": [1], "description": null}])");
    auto widget = makeWidget();
    widget->view()->show();
    ASSERT_EQ(update(*widget), Result::NewData);
    ASSERT_EQ(widget->events().size(), 4u);
    // Rows of the odd events: empty texts, and the 1 January 1970 date.
    EXPECT_EQ(rowTexts(*widget, "textField")[0], "");
    EXPECT_EQ(rowTexts(*widget, "dateField")[0], QString::fromUtf8("Jan 1, 1970, 1:00:00\u202fAM"));
    EXPECT_EQ(rowTexts(*widget, "projectField")[0], "Odd");
    EXPECT_EQ(rowTexts(*widget, "textField")[1], "");
    EXPECT_EQ(rowTexts(*widget, "textField")[2], "remove me");

    // Remove "remove me" with its button while editing.
    widget->widgetDidBeginEditing();
    auto buttons = widget->view()->findChildren<QToolButton*>("removeButton");
    ASSERT_EQ(buttons.size(), 4);
    ASSERT_TRUE(buttons[2]->isVisible());
    QTest::mouseClick(buttons[2], Qt::LeftButton);
    widget->widgetDidEndEditing();
    EXPECT_FALSE(buttons[0]->isVisible());
    EXPECT_EQ(descriptions(*widget)[2], "keep");

    // After a restart the list is as it was left, and an empty reply leaves it so.
    const base::Array before = widget->events();
    widget.reset();
    auto restarted = makeWidget();
    EXPECT_EQ(restarted->events(), before);
    EXPECT_EQ(restarted->events().size(), 3u);
    clearEvents();
    EXPECT_EQ(update(*restarted), Result::NoData);  // an empty reply
    EXPECT_EQ(restarted->events(), before);
}

TEST_F(TodayWidgetTest, FailedRequestKeepsListAndCheckTimeAndShowsTheError) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    addEvents("Launch Film", list({event("one", kNow - 10)}));
    auto widget = makeWidget();
    ASSERT_EQ(update(*widget), Result::NewData);

    clock->advance(600);
    service.script("/api/0/projects/events", R"({"status": 500, "text": "Internal error"})");
    alerts->script(1);
    EXPECT_EQ(update(*widget), Result::NoData);
    EXPECT_EQ(descriptions(*widget), std::vector<std::string>{"one"});
    EXPECT_EQ(widget->lastCheckTime(), base::Date{kNow});
    ASSERT_TRUE(widget->lastError());
    ASSERT_EQ(alerts->presented().size(), 1u);
    EXPECT_EQ(alerts->presented()[0].messageText, "Quorvane Error");

    // The next good update asks from the last good check (and finds nothing newer).
    EXPECT_EQ(update(*widget), Result::NoData);
    EXPECT_EQ(sinceFields().back(), base::format("%.0f", kNow + 1));
    EXPECT_FALSE(widget->lastError());
}

TEST_F(TodayWidgetTest, TheHostStopsAnUpdateThatDoesNotEndAndTheNextOneRuns) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    addEvents("Launch Film", list({event("one", kNow - 10)}));
    // The service takes the first call and answers it long after the test is over.
    service.script("/api/0/projects/events", R"({"delay": 3600, "json": []})");
    auto widget = makeWidget();
    TodayHost host(widget);
    host.setUpdateTimeOut(0.5);
    host.start(TodayHost::Mode::Window);  // shows the panel, which asks for an update
    ASSERT_TRUE(widget->isUpdating());
    ASSERT_TRUE(waitFor([&] { return !widget->isUpdating(); }, 30));
    ASSERT_TRUE(widget->lastError());
    EXPECT_TRUE(widget->events().empty());
    EXPECT_FALSE(widget->lastCheckTime());

    host.update();
    ASSERT_TRUE(waitFor([&] { return !widget->isUpdating(); }, 30));
    EXPECT_FALSE(widget->lastError());
    EXPECT_EQ(descriptions(*widget), std::vector<std::string>{"one"});
    // Both calls reached the service; the second, too, asked for every event.
    EXPECT_EQ(requestsTo("/api/0/projects/events"), 2u);
    EXPECT_EQ(sinceFields(), std::vector<std::string>{""});
}

TEST_F(TodayWidgetTest, WithoutALinkedAccountNothingIsSentAndEveryUpdateIsAnswered) {
    QV_TODAY_PEER_SETUP();
    widgetDefaults->setObject(base::Array{base::Dictionary{{"description", "cached"}}},
                              TodayEventList::kEventCacheKey);
    auto widget = makeWidget();
    widget->view()->show();
    std::optional<Result> result;
    widget->widgetPerformUpdateWithCompletionHandler([&](Result r) { result = r; });
    EXPECT_EQ(result, Result::NoData);  // at once
    EXPECT_EQ(sinceFields().size(), 0u);
    EXPECT_EQ(descriptions(*widget), std::vector<std::string>{"cached"});
    EXPECT_FALSE(widget->lastCheckTime());

    // Linked: an update that replaces a waiting one answers it first.
    link();
    widget = makeWidget();
    std::vector<Result> answers;
    widget->widgetPerformUpdateWithCompletionHandler([&](Result r) { answers.push_back(r); });
    widget->widgetPerformUpdateWithCompletionHandler([&](Result r) { answers.push_back(r); });
    ASSERT_EQ(answers, std::vector<Result>{Result::NoData});
    EXPECT_TRUE(waitFor([&] { return answers.size() == 2; }, 30));
    EXPECT_EQ(answers.back(), Result::NewData);
}

TEST_F(TodayWidgetTest, ClicksOpenWebAddressesOnly) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    addEvents("P", list({event("web", kNow - 4, R"("url": "https://site.invalid/f/31")"),
                         event("script", kNow - 3, R"x("url": "javascript:alert(1)")x"),
                         event("file", kNow - 2, R"("url": "file:///etc/passwd")"),
                         event("none", kNow - 1)}));
    auto widget = makeWidget();
    widget->view()->show();
    ASSERT_EQ(update(*widget), Result::NewData);
    ASSERT_EQ(widget->listViewController().count(), 4u);
    auto row = [&](size_t i) { return widget->listViewController().rowController(i)->view(); };
    for (size_t i = 0; i < 3; ++i) {  // "none", "file", "script"
        QTest::mouseClick(row(i)->findChild<OWTextField*>("textField"), Qt::LeftButton);
        QTest::mouseClick(row(i)->findChild<OWImageView*>("imageView"), Qt::LeftButton);
    }
    QTest::mouseClick(row(3)->findChild<OWTextField*>("textField"), Qt::LeftButton);
    QTest::mouseClick(row(3)->findChild<OWImageView*>("imageView"), Qt::LeftButton);
    QTest::mouseClick(row(3)->findChild<QLabel*>("dateField"), Qt::LeftButton);
    QTest::keyClick(row(3)->findChild<OWTextField*>("textField"), Qt::Key_Return);
    EXPECT_TRUE(waitFor([&] { return opened().size() >= 3; }));
    EXPECT_EQ(opened(), std::vector<std::string>(3, "https://site.invalid/f/31"));
}

TEST_F(TodayWidgetTest, IconsLoadOncePerAddressWithoutHoldingTheList) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    const std::string slow = service.url() + "/icon?color=cc3300&delay=1";
    const std::string quick = service.url() + "/icon?color=2b6cd4";
    addEvents("P", list({event("a", kNow - 3, R"("icon": ")" + slow + R"(")"),
                         event("b", kNow - 2, R"("icon": ")" + slow + R"(")"),
                         event("c", kNow - 1, R"("icon": ")" + quick + R"(")"),
                         event("d", kNow - 1, R"("icon": "upload")")}));
    auto widget = makeWidget();
    widget->view()->show();
    ASSERT_EQ(update(*widget), Result::NewData);
    // The rows are there before the slow icon is.
    ASSERT_EQ(widget->listViewController().count(), 4u);
    auto icon = [&](size_t i) { return widget->listViewController().rowController(i)->icon(); };
    EXPECT_TRUE(icon(2).isNull());
    EXPECT_TRUE(
        waitFor([&] { return !icon(1).isNull() && !icon(2).isNull() && !icon(3).isNull(); }));
    EXPECT_EQ(icon(1).pixelColor(2, 2), QColor(0x2b, 0x6c, 0xd4));
    EXPECT_EQ(icon(3).pixelColor(2, 2), QColor(0xcc, 0x33, 0x00));
    EXPECT_TRUE(icon(0).isNull());  // "upload" is no address
    // Rows made again by the next update take the icons from memory.
    ASSERT_EQ(update(*widget), Result::NoData);
    EXPECT_FALSE(icon(1).isNull());
    EXPECT_EQ(requestsTo("/icon"), 2u);
}

TEST_F(TodayWidgetTest, TheListKeepsTheNewest500Events) {
    QV_TODAY_PEER_SETUP();
    link();
    clearEvents();
    std::string events = "[";
    for (int i = 0; i < 620; ++i) {
        events += (i ? ", " : "") + event("e" + std::to_string(i), kNow - 1000 + i);
    }
    addEvents("P", events + "]");
    auto widget = makeWidget();
    ASSERT_EQ(update(*widget), Result::NewData);
    ASSERT_EQ(widget->events().size(), TodayEventList::kMaxEvents);
    EXPECT_EQ(descriptions(*widget).front(), "e619");
    EXPECT_EQ(descriptions(*widget).back(), "e120");
    EXPECT_EQ(widgetDefaults->object(TodayEventList::kEventCacheKey).size(),
              TodayEventList::kMaxEvents);
}

}  // namespace
}  // namespace todaytest
