// The verified copy: one pass over the source feeds every destination, and each
// destination is read back chunk by chunk right after it was written.
//
// A destination's read-back bytes are compared with the source chunk; while they
// agree its digest is the source's, so only the source is hashed. A destination
// whose bytes ever differ gets a digest of its own, caught up by hashing what it
// already holds, and from then on fed with what is read back from it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "base/Console.h"
#include "base/OperationQueue.h"
#include "base/UniqueFd.h"
#include "platform/crypto/Digest.h"
#include "platform/system/FileOps.h"
#include "support/OWFileManager.h"
#include "support/OWLog.h"

namespace {

namespace fo = platform::system::fileops;
using platform::crypto::Digest;
using Settings = std::shared_ptr<OWFileCopySettings>;

constexpr size_t kChunkSize = 65536;
constexpr uint64_t kMinProgressInterval = 20971520;  // 20 MiB
constexpr uint64_t kReportsPerFile = 500;

std::optional<Digest::Algorithm> algorithmFor(uint64_t type) {
    switch (type) {
        case OWFileManager::kVerifyMD5:
            return Digest::Algorithm::MD5;
        case OWFileManager::kVerifySHA1:
            return Digest::Algorithm::SHA1;
        case OWFileManager::kVerifySHA256:
            return Digest::Algorithm::SHA256;
        case OWFileManager::kVerifySHA512:
            return Digest::Algorithm::SHA512;
        default:
            return std::nullopt;
    }
}

// Progress and should-continue calls run here, asynchronously and side by side.
const std::shared_ptr<base::OperationQueue>& progressQueue() {
    static const auto queue = base::OperationQueue::create(
        "OWFileManager copy progress", base::OperationQueue::kDefaultMaxConcurrent);
    return queue;
}

struct Destination {
    std::string path;
    base::UniqueFd fd;
    bool regular = false;
    // Made when the bytes read back first differ from the source's.
    std::optional<Digest> digest;
};

class VerifiedCopy {
  public:
    VerifiedCopy(const std::string& source, const std::vector<std::string>& destinations,
                 uint64_t type, std::shared_ptr<OWFileCopyDelegate> delegate)
        : source_(source), type_(type), delegate_(std::move(delegate)) {
        for (const auto& path : destinations) {
            destinations_.push_back(Destination{path, base::UniqueFd(), false, std::nullopt});
        }
    }

    bool run(base::Value object, base::Value object2);

  private:
    bool checkArguments() const;
    bool prepareFolders() const;
    void makeSettings(base::Value object, base::Value object2);
    bool openSource();
    bool openDestinations();
    bool refuseAlias(size_t index, const struct stat& st) const;
    bool copyChunks();
    bool writeChunk(Destination& destination, size_t length);
    void readBack(Destination& destination, size_t length);
    void catchUp(Destination& destination);
    void reportProgress();
    void closeAll();
    void verify();
    void copyMetadata() const;
    bool cancelled() const { return cancelled_->load(); }

    const std::string source_;
    const uint64_t type_;
    const std::shared_ptr<OWFileCopyDelegate> delegate_;
    std::vector<Destination> destinations_;
    Settings settings_;
    base::UniqueFd sourceFd_;
    struct stat sourceStat_ {};
    std::optional<Digest> sourceDigest_;
    std::unique_ptr<uint8_t[]> readBuffer_;
    std::unique_ptr<uint8_t[]> backBuffer_;
    uint64_t copied_ = 0;
    uint64_t lastReported_ = 0;
    uint64_t interval_ = kMinProgressInterval;
    // Shared with should-continue calls that may outlive the copy.
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
};

bool VerifiedCopy::run(base::Value object, base::Value object2) {
    if (!checkArguments() || !prepareFolders()) {
        return false;
    }
    makeSettings(std::move(object), std::move(object2));
    if (!openSource() || !openDestinations()) {
        return false;
    }
    readBuffer_.reset(new (std::nothrow) uint8_t[kChunkSize]);
    backBuffer_.reset(new (std::nothrow) uint8_t[kChunkSize]);
    if (!readBuffer_ || !backBuffer_) {
        OWLog::appendLogAndPrint("Error copying file %@ - out of memory", source_);
        return false;
    }
    const bool complete = copyChunks();
    readBuffer_.reset();
    backBuffer_.reset();
    closeAll();
    if (cancelled() || !complete) {
        return false;
    }
    if (copied_ < static_cast<uint64_t>(sourceStat_.st_size)) {
        base::Console::log("Error: copied file size does not match original source %@", source_);
        return false;
    }
    if (delegate_) {
        delegate_->fileCopyBytesWritten(copied_, settings_);
    }
    verify();
    copyMetadata();
    if (delegate_) {
        delegate_->fileCopyFinished(settings_);
    }
    return true;
}

bool VerifiedCopy::checkArguments() const {
    if (!fo::exists(source_)) {
        base::Console::log("Error: File %@ doesn't exist. Aborting copy process...", source_);
        return false;
    }
    if (destinations_.empty()) {
        base::Console::log(
            "Error: You must have at least one destination. Aborting copy process...");
        return false;
    }
    // Checked before anything is written: an unknown kind could never be verified.
    if (type_ > OWFileManager::kVerifySHA512) {
        base::Console::log("Error: Unknown verification type %llu. Aborting copy process...",
                           static_cast<unsigned long long>(type_));
        return false;
    }
    return true;
}

bool VerifiedCopy::prepareFolders() const {
    for (const auto& destination : destinations_) {
        const std::string folder = fo::parentPath(destination.path);
        if (!fo::exists(folder) &&
            !OWFileManager::createDirectory(folder, OWFileManager::Seconds(10))) {
            base::Console::log(
                "Unable to copy file %@ - destination directory %@ doesn't exist. Aborting copy "
                "process...",
                source_, folder);
            return false;
        }
    }
    return true;
}

void VerifiedCopy::makeSettings(base::Value object, base::Value object2) {
    base::Array paths;
    for (const auto& destination : destinations_) {
        paths.emplace_back(destination.path);
    }
    base::Dictionary values{
        {"source", source_}, {"destinations", std::move(paths)}, {"operationtype", "copy"}};
    if (!object.isNull()) {
        values.set("object", std::move(object));
    }
    if (!object2.isNull()) {
        values.set("object2", std::move(object2));
    }
    settings_ = std::make_shared<OWFileCopySettings>(std::move(values), delegate_);
}

bool VerifiedCopy::openSource() {
    sourceFd_ = base::UniqueFd(::open(source_.c_str(), O_RDONLY | O_CLOEXEC));
    if (sourceFd_.get() < 0 || fstat(sourceFd_.get(), &sourceStat_) != 0) {
        base::Console::log("Error: Unable to read source file %@. Aborting copy process...",
                           source_);
        return false;
    }
    interval_ = std::max<uint64_t>(kMinProgressInterval,
                                   static_cast<uint64_t>(sourceStat_.st_size) / kReportsPerFile);
    if (auto algorithm = algorithmFor(type_)) {
        sourceDigest_.emplace(*algorithm);
    }
    return true;
}

// Destinations are opened without truncation first: one that turns out to be the
// source itself, or another destination, must be refused before anything is cut.
bool VerifiedCopy::openDestinations() {
    for (size_t i = 0; i < destinations_.size(); ++i) {
        Destination& destination = destinations_[i];
        destination.fd =
            base::UniqueFd(::open(destination.path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        struct stat st {};
        if (destination.fd.get() < 0 || fstat(destination.fd.get(), &st) != 0) {
            base::Console::log(
                "Error: Unable to open destination file %@. Aborting copy process...",
                destination.path);
            return false;
        }
        if (refuseAlias(i, st)) {
            return false;
        }
        destination.regular = S_ISREG(st.st_mode);
    }
    for (auto& destination : destinations_) {
        if (destination.regular && ftruncate(destination.fd.get(), 0) != 0) {
            base::Console::log(
                "Error: Unable to open destination file %@. Aborting copy process...",
                destination.path);
            return false;
        }
    }
    return true;
}

bool VerifiedCopy::refuseAlias(size_t index, const struct stat& st) const {
    auto same = [&](const struct stat& other) {
        return other.st_dev == st.st_dev && other.st_ino == st.st_ino;
    };
    const std::string& path = destinations_[index].path;
    if (same(sourceStat_)) {
        base::Console::log("Error: Destination %@ is the source file %@. Aborting copy process...",
                           path, source_);
        return true;
    }
    for (size_t j = 0; j < index; ++j) {
        struct stat earlier {};
        if (fstat(destinations_[j].fd.get(), &earlier) == 0 && same(earlier)) {
            base::Console::log(
                "Error: Destination %@ is listed more than once. Aborting copy process...", path);
            return true;
        }
    }
    return false;
}

bool VerifiedCopy::copyChunks() {
    while (!cancelled()) {
        bool readFailed = false;
        const size_t length =
            base::readFully(sourceFd_.get(), readBuffer_.get(), kChunkSize, &readFailed);
        if (readFailed) {
            OWLog::appendLogAndPrint("Error reading file %@ - aborting...", source_);
            return false;
        }
        if (length == 0) {
            break;
        }
        if (sourceDigest_) {
            sourceDigest_->update(std::span<const uint8_t>(readBuffer_.get(), length));
        }
        for (auto& destination : destinations_) {
            if (cancelled()) {
                break;
            }
            if (!writeChunk(destination, length)) {
                return false;
            }
        }
        copied_ += length;
        if (copied_ - lastReported_ >= interval_) {
            lastReported_ = copied_;
            reportProgress();
        }
    }
    return true;
}

// A write that falls short (a full disk) ends the copy: a corrupt copy is no success.
bool VerifiedCopy::writeChunk(Destination& destination, size_t length) {
    if (!base::writeFully(destination.fd.get(), readBuffer_.get(), length)) {
        base::Console::log("Error writing file %@: %i", destination.path, errno);
        return false;
    }
    if (sourceDigest_) {
        readBack(destination, length);
    }
    return true;
}

void VerifiedCopy::readBack(Destination& destination, size_t length) {
    const auto position = static_cast<off_t>(copied_);
    if (lseek(destination.fd.get(), position, SEEK_SET) != position) {
        const int error = errno;
        base::Console::log("Error: unable to seek within file %@", destination.path);
        base::Console::log("cur pos: %llu", static_cast<unsigned long long>(copied_));
        base::Console::log("read size: %zu", length);
        base::Console::log("errno: %i", error);
        base::Console::log("err: %i", 0);
    }
    const size_t got = base::readFully(destination.fd.get(), backBuffer_.get(), length);
    if (!destination.digest &&
        (got != length || std::memcmp(backBuffer_.get(), readBuffer_.get(), length) != 0)) {
        catchUp(destination);
    }
    if (destination.digest) {
        destination.digest->update(std::span<const uint8_t>(backBuffer_.get(), got));
    }
}

// Everything before this chunk read back equal to the source: hash it again from
// the destination itself so that its digest covers its own bytes.
void VerifiedCopy::catchUp(Destination& destination) {
    destination.digest.emplace(*algorithmFor(type_));
    std::vector<uint8_t> buffer(kChunkSize);
    for (uint64_t offset = 0; offset < copied_;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunkSize, copied_ - offset));
        const ssize_t n =
            pread(destination.fd.get(), buffer.data(), want, static_cast<off_t>(offset));
        if (n <= 0) {
            break;
        }
        destination.digest->update(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
        offset += static_cast<uint64_t>(n);
    }
}

void VerifiedCopy::reportProgress() {
    if (!delegate_) {
        return;
    }
    const auto& queue = progressQueue();
    queue->addOperation([delegate = delegate_, settings = settings_, bytes = copied_] {
        delegate->fileCopyBytesWritten(bytes, settings);
    });
    queue->addOperation([delegate = delegate_, settings = settings_, flag = cancelled_] {
        if (!delegate->fileCopyShouldContinue(settings)) {
            flag->store(true);
        }
    });
}

void VerifiedCopy::closeAll() {
    sourceFd_.reset();
    for (auto& destination : destinations_) {
        destination.fd.reset();
    }
}

void VerifiedCopy::verify() {
    if (!sourceDigest_) {
        return;
    }
    const std::string sourceText = sourceDigest_->finishHex();
    settings_->set("sourceChecksum", sourceText);
    base::Array texts;
    for (const auto& destination : destinations_) {
        std::string text = destination.digest ? destination.digest->finishHex() : sourceText;
        texts.emplace_back(text);
        if (text != sourceText && delegate_) {
            settings_->set("destChecksum", text);
            delegate_->fileCopyVerificationFailed(settings_, destination.path);
        }
    }
    settings_->set("destChecksums", std::move(texts));
}

// Linux keeps no creation date, hidden-extension flag or type codes a program may
// set: the modification date is what carries over, and only to regular files.
void VerifiedCopy::copyMetadata() const {
    const timespec times[2] = {{0, UTIME_OMIT}, sourceStat_.st_mtim};
    for (const auto& destination : destinations_) {
        if (destination.regular && utimensat(AT_FDCWD, destination.path.c_str(), times, 0) != 0) {
            base::Console::log("Error setting metadata for file %@ - %@", destination.path,
                               std::strerror(errno));
        }
    }
}

std::string hexOf(const Digest& context, Digest::Algorithm algorithm) {
    const auto bytes = context.finish();
    return bytes.size() == Digest::length(algorithm) ? Digest::hex(bytes) : std::string();
}

}  // namespace

base::Value OWFileCopySettings::value(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const base::Value* found = values_.find(key);
    return found ? *found : base::Value();
}

base::Dictionary OWFileCopySettings::dictionary() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void OWFileCopySettings::set(std::string key, base::Value value) {
    std::lock_guard lock(mutex_);
    values_.set(std::move(key), std::move(value));
}

bool OWFileManager::copyFileWithProgress(const std::string& source, const std::string& destination,
                                         std::shared_ptr<OWFileCopyDelegate> delegate,
                                         base::Value object, base::Value object2) {
    return copyFileWithProgress(source, std::vector<std::string>{destination}, kVerifyNone,
                                std::move(delegate), std::move(object), std::move(object2));
}

bool OWFileManager::copyFileWithProgress(const std::string& source,
                                         const std::vector<std::string>& destinations,
                                         uint64_t verificationType,
                                         std::shared_ptr<OWFileCopyDelegate> delegate,
                                         base::Value object, base::Value object2) {
    VerifiedCopy copy(source, destinations, verificationType, std::move(delegate));
    return copy.run(std::move(object), std::move(object2));
}

std::string OWFileManager::md5HashWithContext(const Digest& context) {
    return hexOf(context, Digest::Algorithm::MD5);
}

std::string OWFileManager::sha1HashWithContext(const Digest& context) {
    return hexOf(context, Digest::Algorithm::SHA1);
}

std::string OWFileManager::sha256HashWithContext(const Digest& context) {
    return hexOf(context, Digest::Algorithm::SHA256);
}

std::string OWFileManager::sha512HashWithContext(const Digest& context) {
    return hexOf(context, Digest::Algorithm::SHA512);
}
