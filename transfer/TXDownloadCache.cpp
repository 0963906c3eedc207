#include "transfer/TXDownloadCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>

#include "base/Console.h"
#include "base/Format.h"
#include "base/Path.h"
#include "base/PropertyList.h"
#include "base/Random.h"
#include "platform/crypto/Digest.h"
#include "platform/net/HttpDate.h"
#include "platform/net/HttpHeaders.h"
#include "support/OWException.h"
#include "support/OWLocalPaths.h"
#include "transfer/TXHTTPRequest.h"

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return std::string(s);
}

// The comma-separated directives of a header, lower-cased and trimmed.
std::vector<std::string> directives(const std::optional<std::string>& value) {
    std::vector<std::string> out;
    if (!value) {
        return out;
    }
    std::string_view rest = *value;
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        out.push_back(lower(trim(rest.substr(0, comma))));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return out;
}

bool hasDirective(const std::optional<std::string>& value, std::string_view directive) {
    auto all = directives(value);
    return std::find(all.begin(), all.end(), directive) != all.end();
}

// The seconds of "max-age=N" in "Cache-Control"; 0 without a usable one.
double maxAgeOf(const std::optional<std::string>& cacheControl) {
    for (const std::string& d : directives(cacheControl)) {
        if (d.rfind("max-age", 0) != 0) {
            continue;
        }
        std::string_view rest = std::string_view(d).substr(7);
        size_t eq = rest.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        std::string number = trim(rest.substr(eq + 1));
        double seconds = 0;
        auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), seconds);
        if (ec == std::errc() && end != number.data()) {
            return seconds;
        }
    }
    return 0;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Writes `bytes` beside `path` owner-only and renames it over `path`, so a reader
// sees the old body or the new one, never a part.
bool replaceFile(const std::string& path, const uint8_t* bytes, size_t size) {
    std::string temporary = path + ".tmp-" + base::randomString(12);
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    while (size > 0 && ok) {
        ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        if (ok) {
            bytes += n;
            size -= static_cast<size_t>(n);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temporary.c_str());
    }
    return ok;
}

std::optional<base::Data> readWholeFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    base::Data out;
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    ::close(fd);
    return out;
}

const base::Value* findIgnoringCase(const base::Dictionary& d, std::string_view name) {
    for (const auto& [key, value] : d) {
        if (platform::net::HttpHeaders::equalsIgnoringCase(key, name)) {
            return &value;
        }
    }
    return nullptr;
}

bool isStorableStatus(int status) {
    return status == 200 || status == 301 || status == 302 || status == 303 || status == 307;
}

// Every caller holds the cache's lock through a guard, so the lock is released as
// the exception leaves, before any caller sees it.
[[noreturn]] void raise(const char* name, const char* reason, const std::string& path) {
    throw OWException(name, base::format(reason, path));
}

// The body's extension: the URL's, or "html" for none and for server scripts.
std::string bodyExtension(const base::Url& url) {
    std::string extension = base::pathExtension(url.path());
    const auto& html = TXDownloadCache::fileExtensionsToHandleAsHTML();
    if (extension.empty() || std::find(html.begin(), html.end(), lower(extension)) != html.end()) {
        return "html";
    }
    return extension;
}

std::string headersName(const base::Url& url) {
    return TXDownloadCache::keyForURL(url) + ".cachedheaders";
}

std::string bodyName(const base::Url& url) {
    return TXDownloadCache::keyForURL(url) + "." + bodyExtension(url);
}

}  // namespace

TXDownloadCache::TXDownloadCache() = default;

TXDownloadCache::~TXDownloadCache() = default;

// ---- class operations ---------------------------------------------------------

std::shared_ptr<TXDownloadCache> TXDownloadCache::sharedCache() {
    static std::shared_ptr<TXDownloadCache> shared = [] {
        auto cache = std::make_shared<TXDownloadCache>();
        auto caches = OWLocalPaths::cacheDirectory(true);
        if (!caches) {
            return cache;
        }
        std::error_code ec;
        if (!std::filesystem::exists(*caches, ec)) {
            std::filesystem::create_directories(*caches, ec);
            ::chmod(caches->c_str(), 0700);
        }
        try {
            cache->setStoragePath(base::appendingPathComponent(*caches, kSharedCacheFolder));
        } catch (const OWException& e) {
            base::Console::log("%@ - %@", e.name(), e.reason());
        }
        return cache;
    }();
    return shared;
}

const std::vector<std::string>& TXDownloadCache::fileExtensionsToHandleAsHTML() {
    static const std::vector<std::string> extensions{"asp", "aspx", "jsp", "php",
                                                     "rb",  "py",   "pl",  "cgi"};
    return extensions;
}

// Directives are read one by one, so "no-store, no-cache" forbids storing as much
// as either alone does.
bool TXDownloadCache::serverAllowsResponseCachingForRequest(const TXHTTPRequest& request) {
    auto headers = request.responseHeaders();
    auto cacheControl = headers.get("Cache-Control");
    if (hasDirective(cacheControl, "no-cache") || hasDirective(cacheControl, "no-store")) {
        return false;
    }
    return !hasDirective(headers.get("Pragma"), "no-cache");
}

std::string TXDownloadCache::keyForURL(const base::Url& url) {
    std::string text = url.absoluteString();
    if (!text.empty() && text.back() == '/') {
        text.pop_back();
    }
    auto digest = platform::crypto::Digest::of(platform::crypto::Digest::Algorithm::MD5, text);
    std::string key;
    for (uint8_t byte : digest) {
        key += base::format("%02X", static_cast<unsigned>(byte));
    }
    return key;
}

std::optional<double> TXDownloadCache::expiryDateForRequest(const TXHTTPRequest& request,
                                                            double maxAge) {
    return expiryDate(request.responseHeaders(), maxAge);
}

std::optional<double> TXDownloadCache::expiryDate(const platform::net::HttpHeaders& headers,
                                                  double maxAge) {
    if (maxAge <= 0) {
        maxAge = maxAgeOf(headers.get("Cache-Control"));
    }
    if (maxAge <= 0) {
        auto expires = headers.get("Expires");
        return expires ? platform::net::HttpDate::parse(*expires) : std::nullopt;
    }
    return base::Date::now().secondsSince1970 + maxAge;
}

// ---- fields -----------------------------------------------------------------

std::optional<std::string> TXDownloadCache::storagePath() const {
    std::lock_guard guard(accessLock_);
    return storagePath_;
}

void TXDownloadCache::setStoragePath(const std::optional<std::string>& path) {
    std::lock_guard guard(accessLock_);
    if (storagePath_) {
        clearCachedResponsesForStoragePolicy(kSessionStorage);
    }
    storagePath_ = path;
    if (path) {
        makeFolder(*path);
        makeFolder(base::appendingPathComponent(*path, kSessionStoreFolder));
        makeFolder(base::appendingPathComponent(*path, kPermanentStoreFolder));
        clearCachedResponsesForStoragePolicy(kSessionStorage);
    }
}

void TXDownloadCache::makeFolder(const std::string& path) {
    if (exists(path) && !isFolder(path)) {
        raise("FileExistsAtCachePath",
              "Cannot create a directory for the cache at '%@', because a file already exists",
              path);
    }
    if (!exists(path)) {
        ::mkdir(path.c_str(), 0700);
        if (!isFolder(path)) {
            raise("FailedToCreateCacheDirectory",
                  "Failed to create a directory for the cache at '%@'", path);
        }
    }
}

int TXDownloadCache::defaultCachePolicy() const {
    std::lock_guard guard(accessLock_);
    return defaultCachePolicy_;
}

void TXDownloadCache::setDefaultCachePolicy(int policy) {
    std::lock_guard guard(accessLock_);
    defaultCachePolicy_ = policy == 0 ? kUseCacheIfCurrent : policy;
}

bool TXDownloadCache::shouldRespectCacheControlHeaders() const {
    std::lock_guard guard(accessLock_);
    return respectCacheControl_;
}

void TXDownloadCache::setShouldRespectCacheControlHeaders(bool on) {
    std::lock_guard guard(accessLock_);
    respectCacheControl_ = on;
}

TXDownloadCache::RequestFacts TXDownloadCache::factsOf(const TXHTTPRequest& request) const {
    RequestFacts facts;
    facts.url = request.url();
    facts.headers = request.responseHeaders();
    facts.status = request.responseStatusCode();
    facts.policy = request.cachePolicy();
    if (facts.policy == 0) {
        facts.policy = defaultCachePolicy();
    }
    facts.storagePolicy = request.cacheStoragePolicy();
    facts.failed = request.error().has_value();
    facts.complete = request.complete();
    return facts;
}

// ---- paths ------------------------------------------------------------------

std::optional<std::string> TXDownloadCache::storeFolder(int storagePolicy) const {
    std::lock_guard guard(accessLock_);
    if (!storagePath_) {
        return std::nullopt;
    }
    return base::appendingPathComponent(*storagePath_, storagePolicy == kSessionStorage
                                                           ? kSessionStoreFolder
                                                           : kPermanentStoreFolder);
}

std::optional<std::string> TXDownloadCache::pathToFile(const std::string& name) {
    std::lock_guard guard(accessLock_);
    for (int policy : {kSessionStorage, kPermanentStorage}) {
        auto folder = storeFolder(policy);
        if (!folder) {
            return std::nullopt;
        }
        std::string path = base::appendingPathComponent(*folder, name);
        if (exists(path)) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<std::string> TXDownloadCache::pathToCachedResponseDataForURL(const base::Url& url) {
    return pathToFile(bodyName(url));
}

std::optional<std::string> TXDownloadCache::pathToCachedResponseHeadersForURL(
    const base::Url& url) {
    return pathToFile(headersName(url));
}

std::optional<std::string> TXDownloadCache::storePath(const RequestFacts& facts, bool headers) {
    auto folder = storeFolder(facts.storagePolicy);
    if (!folder || !facts.url) {
        return std::nullopt;
    }
    return base::appendingPathComponent(*folder,
                                        headers ? headersName(*facts.url) : bodyName(*facts.url));
}

std::optional<std::string> TXDownloadCache::pathToStoreCachedResponseDataForRequest(
    const TXHTTPRequest& request) {
    return storePath(factsOf(request), false);
}

std::optional<std::string> TXDownloadCache::pathToStoreCachedResponseHeadersForRequest(
    const TXHTTPRequest& request) {
    return storePath(factsOf(request), true);
}

// ---- reading ----------------------------------------------------------------

std::optional<base::Dictionary> TXDownloadCache::storedHeaders(const base::Url& url) {
    std::lock_guard guard(accessLock_);
    auto path = pathToCachedResponseHeadersForURL(url);
    if (!path) {
        return std::nullopt;
    }
    auto value = base::PropertyList::readFile(*path);
    if (!value || !value->dictionary()) {
        return std::nullopt;
    }
    return *value->dictionary();
}

std::optional<platform::net::HttpHeaders> TXDownloadCache::cachedResponseHeadersForURL(
    const base::Url& url) {
    auto stored = storedHeaders(url);
    if (!stored) {
        return std::nullopt;
    }
    platform::net::HttpHeaders headers;
    for (const auto& [name, value] : *stored) {
        headers.add(name, value.stringValue());
    }
    return headers;
}

std::optional<base::Data> TXDownloadCache::cachedResponseDataForURL(const base::Url& url) {
    std::lock_guard guard(accessLock_);
    auto path = pathToCachedResponseDataForURL(url);
    return path ? readWholeFile(*path) : std::nullopt;
}

// ---- storing ----------------------------------------------------------------

void TXDownloadCache::storeResponseForRequest(TXHTTPRequest& request, double maxAge) {
    RequestFacts facts = factsOf(request);
    if (facts.failed || facts.headers.empty() || (facts.policy & kDoNotWriteToCache) ||
        !isStorableStatus(facts.status)) {
        return;
    }
    if (shouldRespectCacheControlHeaders() && !serverAllowsResponseCachingForRequest(request)) {
        return;
    }
    base::Dictionary headers;
    for (const auto& field : facts.headers.fields()) {
        headers.set(field.first, *facts.headers.get(field.first));
    }
    if (request.isResponseCompressed()) {
        // The body kept is the inflated one.
        for (const auto& key : headers.keys()) {
            if (platform::net::HttpHeaders::equalsIgnoringCase(key, "Content-Encoding")) {
                headers.remove(key);
            }
        }
    }
    if (auto expiry = expiryDate(facts.headers, maxAge)) {
        headers.set(kExpiresHeader, *expiry);
    }
    headers.set(kStatusCodeHeader, facts.status == 304 ? 200 : facts.status);
    std::string downloaded = request.downloadDestinationPath();
    std::optional<base::Data> body;
    if (downloaded.empty()) {
        body = request.responseData();
    }

    std::lock_guard guard(accessLock_);
    auto headerPath = storePath(facts, true);
    auto bodyPath = storePath(facts, false);
    if (!headerPath || !bodyPath || !base::PropertyList::writeFile(headers, *headerPath)) {
        return;
    }
    if (!downloaded.empty() && downloaded != *bodyPath) {
        body = readWholeFile(downloaded);
    }
    if (body) {
        replaceFile(*bodyPath, body->data(), body->size());
    }
}

void TXDownloadCache::updateExpiryForRequest(TXHTTPRequest& request, double maxAge) {
    RequestFacts facts = factsOf(request);
    auto expiry = expiryDate(facts.headers, maxAge);
    if (!facts.url || !expiry) {
        return;
    }
    std::lock_guard guard(accessLock_);
    auto path = pathToCachedResponseHeadersForURL(*facts.url);
    auto headers = storedHeaders(*facts.url);
    if (!path || !headers) {
        return;
    }
    headers->set(kExpiresHeader, *expiry);
    base::PropertyList::writeFile(*headers, *path);
}

// ---- answering ----------------------------------------------------------------

bool TXDownloadCache::isCachedDataCurrentForRequest(TXHTTPRequest& request) {
    return isCurrentLocked(factsOf(request));
}

bool TXDownloadCache::isCurrentLocked(const RequestFacts& facts) {
    std::lock_guard guard(accessLock_);
    if (!storagePath_ || !facts.url) {
        return false;
    }
    auto stored = storedHeaders(*facts.url);
    if (!stored || !pathToCachedResponseDataForURL(*facts.url)) {
        return false;
    }
    if (facts.status == 304) {
        return true;
    }
    if (!facts.headers.empty() && facts.complete) {
        for (const char* name : {"Etag", "Last-Modified"}) {
            const base::Value* kept = findIgnoringCase(*stored, name);
            auto now = facts.headers.get(name);
            if (!kept || !now || kept->stringValue() != *now) {
                return false;
            }
        }
    }
    if (respectCacheControl_) {
        const base::Value* expires = stored->find(kExpiresHeader);
        if (!expires || !expires->isNumber() ||
            expires->doubleValue() < base::Date::now().secondsSince1970) {
            return false;
        }
    }
    return true;
}

bool TXDownloadCache::canUseCachedDataForRequest(TXHTTPRequest& request) {
    RequestFacts facts = factsOf(request);
    int policy = facts.policy;
    if (policy & kDoNotReadFromCache) {
        return false;
    }
    if (policy & kUseCacheOnly) {
        return true;
    }
    if (!facts.url || !storedHeaders(*facts.url) || !pathToCachedResponseDataForURL(*facts.url)) {
        return false;
    }
    if (policy & kUseCacheIfPresent) {
        return true;
    }
    if (facts.complete && (policy & kUseCacheOnFailure)) {
        return true;
    }
    if (!(policy & (kUseCacheIfCurrent | kUseCacheAfterHeadersIfCurrent))) {
        return false;
    }
    if ((policy & kUseCacheAfterHeadersIfCurrent) && !(policy & kUseCacheIfCurrent) &&
        facts.headers.empty()) {
        return false;
    }
    return isCurrentLocked(facts);
}

// ---- removing ---------------------------------------------------------------

void TXDownloadCache::removeCachedDataForURL(const base::Url& url) {
    std::lock_guard guard(accessLock_);
    for (int policy : {kSessionStorage, kPermanentStorage}) {
        if (auto folder = storeFolder(policy)) {
            ::unlink(base::appendingPathComponent(*folder, headersName(url)).c_str());
            ::unlink(base::appendingPathComponent(*folder, bodyName(url)).c_str());
        }
    }
}

void TXDownloadCache::removeCachedDataForRequest(const TXHTTPRequest& request) {
    if (auto url = request.url()) {
        removeCachedDataForURL(*url);
    }
}

void TXDownloadCache::clearCachedResponsesForStoragePolicy(int storagePolicy) {
    std::lock_guard guard(accessLock_);
    auto folder = storeFolder(storagePolicy);
    if (!folder || !exists(*folder)) {
        return;
    }
    std::vector<std::string> entries;
    DIR* dir = ::opendir(folder->c_str());
    if (!dir) {
        raise("FailedToTraverseCacheDirectory", "Listing cache directory failed at path '%@'",
              *folder);
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            entries.push_back(base::appendingPathComponent(*folder, name));
        }
    }
    ::closedir(dir);
    for (const std::string& path : entries) {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        if (ec) {
            raise("FailedToRemoveCacheFile", "Failed to remove cached data at path '%@'", path);
        }
    }
}
