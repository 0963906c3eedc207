#include "apps/today/TodayEventList.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/Url.h"

namespace {

// An address the widget may fetch or open: absolute http or https with a host.
std::optional<std::string> webAddress(const base::Value& value) {
    const auto* text = value.string();
    if (!text) {
        return std::nullopt;
    }
    auto url = base::Url::parse(*text);
    if (!url || url->host().empty()) {
        return std::nullopt;
    }
    std::string scheme = url->scheme();
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != "http" && scheme != "https") {
        return std::nullopt;
    }
    return *text;
}

// Whole seconds, as a number or as the digits of a text; anything else is 0.
base::Date eventDate(const base::Value& event) {
    return base::Date{static_cast<double>(event["date"].integerValue())};
}

std::string textOf(const base::Value& value) {
    const auto* text = value.string();
    return text ? text->str() : std::string();
}

// A text a property list can hold: XML 1.0 allows no control characters but tab, line
// feed and carriage return, and not U+FFFE or U+FFFF; those become U+FFFD.
std::string storableText(const std::string& text) {
    constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') {
            out += kReplacement;
        } else if (byte == 0xEF && text.compare(i, 2, "\xEF\xBF") == 0 && i + 2 < text.size() &&
                   (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
            out += kReplacement;
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// What the service sent, in a form the list's file can always hold: property lists have
// no null, so nulls are dropped at any depth, and texts lose the characters XML refuses.
// Without this one odd event would make every later save fail and the list be lost.
base::Value storable(const base::Value& value) {
    if (const base::Dictionary* dictionary = value.dictionary()) {
        base::Dictionary out;
        for (const auto& [key, item] : *dictionary) {
            if (!item.isNull()) {
                out.set(storableText(key), storable(item));
            }
        }
        return out;
    }
    if (const base::Array* array = value.array()) {
        base::Array out;
        for (const base::Value& item : *array) {
            if (!item.isNull()) {
                out.push_back(storable(item));
            }
        }
        return out;
    }
    if (const auto* text = value.string()) {
        return storableText(*text);
    }
    return value;
}

// A text that equal events share whatever their key order; unequal events may share it
// too, so it only narrows the search.
std::string fingerprint(const base::Value& event) {
    std::vector<std::string> parts;
    if (const base::Dictionary* dictionary = event.dictionary()) {
        for (const auto& [key, item] : *dictionary) {
            parts.push_back(key.str() + '\x1f' + item.describe());
        }
    }
    std::sort(parts.begin(), parts.end());
    std::string out;
    for (const std::string& part : parts) {
        out += part;
        out += '\x1e';
    }
    return out;
}

// Events already seen, found by fingerprint, so a long reply is merged in linear time.
class SeenEvents {
  public:
    bool contains(const base::Value& event, const std::string& print) const {
        auto found = seen_.find(print);
        return found != seen_.end() &&
               std::find(found->second.begin(), found->second.end(), event) != found->second.end();
    }
    void add(const base::Value& event, std::string print) {
        seen_[std::move(print)].push_back(event);
    }

  private:
    std::unordered_map<std::string, std::vector<base::Value>> seen_;
};

}  // namespace

TodayEventList::Row TodayEventList::rowForEvent(const base::Value& event) {
    Row row;
    row.icon = webAddress(event["icon"]);
    row.text = textOf(event["description"]);
    row.date = eventDate(event);
    row.project = textOf(event["project_title"]);
    row.url = webAddress(event["url"]);
    return row;
}

TodayEventList::TodayEventList(std::shared_ptr<base::UserDefaults> defaults)
    : defaults_(std::move(defaults)) {
    const base::Value stored = defaults_->object(kEventCacheKey);
    if (const base::Array* cached = stored.array()) {
        for (const base::Value& event : *cached) {
            if (event.isDictionary() && events_.size() < kMaxEvents) {
                events_.push_back(event);
            }
        }
    }
}

std::optional<base::Date> TodayEventList::lastCheckTime() const {
    base::Value stored = defaults_->object(kLastCheckTimeKey);
    if (const base::Date* date = stored.date()) {
        return *date;
    }
    return std::nullopt;
}

TodayEventList::Merge TodayEventList::addReply(const base::Value& reply, base::Date now) {
    const base::Array* projects = reply.array();
    if (!projects) {
        // Moving the check time past a reply that was not read would lose its events.
        return Merge::Unreadable;
    }
    defaults_->setObject(now, kLastCheckTimeKey);
    if (projects->empty()) {
        return Merge::NoEvents;
    }
    SeenEvents seen;
    for (const base::Value& event : events_) {
        seen.add(event, fingerprint(event));
    }
    base::Array added;
    for (const base::Value& project : *projects) {
        const base::Array* events = project["events"].array();
        if (!events) {
            continue;
        }
        std::string title = storableText(textOf(project["title"]));
        for (const base::Value& item : *events) {
            if (!item.isDictionary()) {
                continue;
            }
            base::Value event = storable(item);
            event.dictionary()->set("project_title", title);
            std::string print = fingerprint(event);
            if (!seen.contains(event, print)) {
                seen.add(event, std::move(print));
                added.push_back(std::move(event));
            }
        }
    }
    // The last new event of the reply goes first.
    std::reverse(added.begin(), added.end());
    events_.insert(events_.begin(), std::make_move_iterator(added.begin()),
                   std::make_move_iterator(added.end()));
    keepNewest();
    save();
    return Merge::Merged;
}

// Cuts the list to kMaxEvents by date, newest kept, the higher row first among equal
// dates; the rows kept stay in their order.
void TodayEventList::keepNewest() {
    if (events_.size() <= kMaxEvents) {
        return;
    }
    std::vector<std::pair<double, size_t>> byAge;
    byAge.reserve(events_.size());
    for (size_t i = 0; i < events_.size(); ++i) {
        byAge.emplace_back(eventDate(events_[i]).secondsSince1970, i);
    }
    const auto newestFirst = [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    };
    std::nth_element(byAge.begin(), byAge.begin() + kMaxEvents, byAge.end(), newestFirst);
    std::vector<bool> kept(events_.size(), false);
    for (size_t i = 0; i < kMaxEvents; ++i) {
        kept[byAge[i].second] = true;
    }
    base::Array newest;
    newest.reserve(kMaxEvents);
    for (size_t i = 0; i < events_.size(); ++i) {
        if (kept[i]) {
            newest.push_back(std::move(events_[i]));
        }
    }
    events_ = std::move(newest);
}

bool TodayEventList::eventAlreadyExists(const base::Value& event) const {
    return std::find(events_.begin(), events_.end(), event) != events_.end();
}

void TodayEventList::removeRow(size_t index) {
    if (index >= events_.size()) {
        return;
    }
    events_.erase(events_.begin() + static_cast<std::ptrdiff_t>(index));
    save();
}

void TodayEventList::save() {
    defaults_->setObject(events_, kEventCacheKey);
}
