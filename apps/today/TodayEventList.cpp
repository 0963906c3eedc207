#include "apps/today/TodayEventList.h"

#include <algorithm>
#include <functional>
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

uint64_t printHash(const base::Value& event) {
    return std::hash<std::string>{}(fingerprint(event));
}

}  // namespace

base::Value TodayEventList::ReplyEvent::listed() const {
    base::Value event = storable(*item);
    event.dictionary()->set("project_title", *title);
    return event;
}

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
    // The reply's events stay where the reply holds them: a reply may carry hundreds of
    // thousands, of which at most kMaxEvents are kept, so each is copied in its listed
    // form only for a moment (to find its date and fingerprint) and again when kept.
    std::vector<std::string> titles;
    titles.reserve(projects->size());
    std::vector<ReplyEvent> incoming;
    for (const base::Value& project : *projects) {
        const base::Array* events = project["events"].array();
        if (!events) {
            continue;
        }
        titles.push_back(storableText(textOf(project["title"])));
        for (const base::Value& item : *events) {
            if (!item.isDictionary()) {
                continue;
            }
            ReplyEvent event{&item, &titles.back(), 0, 0};
            const base::Value copy = event.listed();
            event.date = eventDate(copy).secondsSince1970;
            event.print = printHash(copy);
            incoming.push_back(event);
        }
    }
    const std::vector<bool> repeated = repeatedEvents(incoming);

    // The new events, the last of the reply first, above the listed ones.
    std::vector<size_t> added;
    std::vector<double> dates;
    for (size_t i = incoming.size(); i-- > 0;) {
        if (!repeated[i]) {
            added.push_back(i);
            dates.push_back(incoming[i].date);
        }
    }
    for (const base::Value& event : events_) {
        dates.push_back(eventDate(event).secondsSince1970);
    }
    const std::vector<bool> kept = newestRows(dates);
    base::Array merged;
    merged.reserve(std::min(dates.size(), kMaxEvents));
    for (size_t row = 0; row < added.size(); ++row) {
        if (kept[row]) {
            merged.push_back(incoming[added[row]].listed());
        }
    }
    for (size_t i = 0; i < events_.size(); ++i) {
        if (kept[added.size() + i]) {
            merged.push_back(std::move(events_[i]));
        }
    }
    events_ = std::move(merged);
    save();
    return Merge::Merged;
}

// Which events of the reply equal one listed or one earlier in the reply: found among
// those that share a fingerprint's hash, so only they are compared whole.
std::vector<bool> TodayEventList::repeatedEvents(const std::vector<ReplyEvent>& incoming) const {
    std::unordered_map<uint64_t, std::vector<size_t>> listed;
    for (size_t i = 0; i < events_.size(); ++i) {
        listed[printHash(events_[i])].push_back(i);
    }
    std::vector<std::pair<uint64_t, size_t>> byPrint;
    byPrint.reserve(incoming.size());
    for (size_t i = 0; i < incoming.size(); ++i) {
        byPrint.emplace_back(incoming[i].print, i);
    }
    std::sort(byPrint.begin(), byPrint.end());
    std::vector<bool> repeated(incoming.size(), false);
    for (size_t start = 0; start < byPrint.size();) {
        const uint64_t print = byPrint[start].first;
        size_t end = start + 1;
        while (end < byPrint.size() && byPrint[end].first == print) {
            ++end;
        }
        const auto sharing = listed.find(print);
        if (end - start > 1 || sharing != listed.end()) {
            // In reply order: the first of equal events is the one kept.
            std::vector<base::Value> distinct;
            for (size_t k = start; k < end; ++k) {
                base::Value event = incoming[byPrint[k].second].listed();
                const bool isListed = sharing != listed.end() &&
                                      std::any_of(sharing->second.begin(), sharing->second.end(),
                                                  [&](size_t i) { return events_[i] == event; });
                if (isListed ||
                    std::find(distinct.begin(), distinct.end(), event) != distinct.end()) {
                    repeated[byPrint[k].second] = true;
                } else {
                    distinct.push_back(std::move(event));
                }
            }
        }
        start = end;
    }
    return repeated;
}

// Which rows stay when only kMaxEvents may: those with the newest dates, the higher row
// first among equal dates.
std::vector<bool> TodayEventList::newestRows(const std::vector<double>& dates) {
    if (dates.size() <= kMaxEvents) {
        return std::vector<bool>(dates.size(), true);
    }
    std::vector<std::pair<double, size_t>> byAge;
    byAge.reserve(dates.size());
    for (size_t i = 0; i < dates.size(); ++i) {
        byAge.emplace_back(dates[i], i);
    }
    const auto newestFirst = [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    };
    std::nth_element(byAge.begin(), byAge.begin() + kMaxEvents, byAge.end(), newestFirst);
    std::vector<bool> kept(dates.size(), false);
    for (size_t i = 0; i < kMaxEvents; ++i) {
        kept[byAge[i].second] = true;
    }
    return kept;
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
