#pragma once
// The widget's list of project events, newest first, and the time of its last good
// check, both kept in the widget's own user defaults ("eventCache", "lastCheckTime") so
// the list survives restarts. Events come from the service's events reply (an array of
// projects, each with its "title" and "events"); each event is kept as the service sent
// it plus "project_title". Main thread only.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/UserDefaults.h"
#include "base/Value.h"

class TodayEventList {
  public:
    static constexpr const char* kEventCacheKey = "eventCache";
    static constexpr const char* kLastCheckTimeKey = "lastCheckTime";
    // Only the newest events (by their own dates) are kept beyond this, so the list and
    // its file stay small.
    static constexpr size_t kMaxEvents = 500;

    // What a row shows of one event. Fields the service left out or sent with the wrong
    // type are empty (a date of 0); addresses are kept only when they are http or https.
    struct Row {
        std::optional<std::string> icon;
        std::string text;
        base::Date date;
        std::string project;
        std::optional<std::string> url;
    };
    static Row rowForEvent(const base::Value& event);

    explicit TodayEventList(std::shared_ptr<base::UserDefaults> defaults);

    const base::Array& events() const { return events_; }
    std::optional<base::Date> lastCheckTime() const;

    enum class Merge {
        Unreadable,  // the reply is no list of projects: nothing changed
        NoEvents,    // an empty list: only the check time moved
        Merged,
    };
    // Takes one events reply at `now`: the check time moves to `now`, and every event not
    // yet listed goes on top, in reply order (so the reply's last new event ends first).
    // Beyond kMaxEvents the events with the oldest dates go, wherever they stand, so
    // events the service sends again cannot push out newer ones.
    Merge addReply(const base::Value& reply, base::Date now);
    // An equal event (every key and value, "project_title" included) is listed.
    bool eventAlreadyExists(const base::Value& event) const;
    void removeRow(size_t index);

  private:
    // One event of a reply where the reply holds it, with its project's title.
    struct ReplyEvent {
        const base::Value* item;
        const std::string* title;
        double date;     // of its listed form
        uint64_t print;  // the hash of its listed form's fingerprint
        // As the list keeps it: storable, with "project_title".
        base::Value listed() const;
    };

    std::vector<bool> repeatedEvents(const std::vector<ReplyEvent>& incoming) const;
    static std::vector<bool> newestRows(const std::vector<double>& dates);
    void save();

    std::shared_ptr<base::UserDefaults> defaults_;
    base::Array events_;
};
