#include "platform/system/Archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "base/UniqueFd.h"
#include "platform/system/FileOps.h"

namespace platform::system::archive {
namespace {

using base::UniqueFd;
using ArchivePtr = std::unique_ptr<struct archive, int (*)(struct archive*)>;
using EntryPtr = std::unique_ptr<struct archive_entry, void (*)(struct archive_entry*)>;

constexpr size_t kChunk = 1 << 20;

// libarchive converts names through the thread's locale; under "C" it cannot carry
// UTF-8 names. A UTF-8 character type for this thread only, while we work.
class Utf8Locale {
  public:
    Utf8Locale() : locale_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)) {
        if (locale_) {
            previous_ = ::uselocale(locale_);
        }
    }
    ~Utf8Locale() {
        if (locale_) {
            ::uselocale(previous_);
            ::freelocale(locale_);
        }
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

  private:
    locale_t locale_;
    locale_t previous_ = nullptr;
};

FsStatus archiveFailure(struct archive* a, const std::string& path) {
    const char* text = archive_error_string(a);
    int err = archive_errno(a);
    return FsStatus::failure(err > 0 ? err : -1, path, text ? text : "archive error");
}

// ---- writing ----

class ZipWriter {
  public:
    ZipWriter(struct archive* a, std::vector<char>& buffer) : a_(a), buffer_(buffer) {}

    FsStatus add(const std::string& path, const std::string& name) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            return FsStatus::failure(errno, path);
        }
        return addItem(path, name, st);
    }

    FsStatus addItem(const std::string& path, const std::string& name, const struct stat& st) {
        if (S_ISDIR(st.st_mode)) {
            return addFolder(path, name, st);
        }
        if (S_ISLNK(st.st_mode)) {
            return addLink(path, name, st);
        }
        if (S_ISREG(st.st_mode)) {
            return addFile(path, name, st);
        }
        return FsStatus::success();  // sockets, devices and FIFOs have no place in a zip
    }

  private:
    EntryPtr entryFor(const std::string& name, const struct stat& st) {
        EntryPtr e(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname_utf8(e.get(), name.c_str());
        archive_entry_set_perm(e.get(), st.st_mode & 07777);
        archive_entry_set_mtime(e.get(), st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
        archive_entry_set_uid(e.get(), st.st_uid);
        archive_entry_set_gid(e.get(), st.st_gid);
        return e;
    }

    FsStatus writeHeader(struct archive_entry* e, const std::string& path) {
        if (archive_write_header(a_, e) < ARCHIVE_WARN) {
            return archiveFailure(a_, path);
        }
        return FsStatus::success();
    }

    FsStatus addFolder(const std::string& path, const std::string& name, const struct stat& st) {
        auto entries = fileops::listDirectory(path);
        if (!entries) {
            return FsStatus::failure(errno, path);
        }
        if (!name.empty()) {
            EntryPtr e = entryFor(name + "/", st);
            archive_entry_set_filetype(e.get(), AE_IFDIR);
            archive_entry_set_size(e.get(), 0);
            if (FsStatus s = writeHeader(e.get(), path); !s) {
                return s;
            }
        }
        for (const auto& child : *entries) {
            std::string childName = name.empty() ? child : name + "/" + child;
            if (FsStatus s = add(fileops::joinPath(path, child), childName); !s) {
                return s;
            }
        }
        return FsStatus::success();
    }

    FsStatus addLink(const std::string& path, const std::string& name, const struct stat& st) {
        std::vector<char> target(static_cast<size_t>(st.st_size) + 256);
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size() - 1);
        if (n < 0) {
            return FsStatus::failure(errno, path);
        }
        target[static_cast<size_t>(n)] = '\0';
        EntryPtr e = entryFor(name, st);
        archive_entry_set_filetype(e.get(), AE_IFLNK);
        archive_entry_set_symlink_utf8(e.get(), target.data());
        archive_entry_set_size(e.get(), 0);
        return writeHeader(e.get(), path);
    }

    FsStatus addFile(const std::string& path, const std::string& name, const struct stat& st) {
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (fd.get() < 0) {
            return FsStatus::failure(errno, path);
        }
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        EntryPtr e = entryFor(name, st);
        archive_entry_set_filetype(e.get(), AE_IFREG);
        archive_entry_set_size(e.get(), st.st_size);
        if (FsStatus s = writeHeader(e.get(), path); !s) {
            return s;
        }
        int64_t left = st.st_size;
        while (left > 0) {
            ssize_t n = ::read(fd.get(), buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return FsStatus::failure(errno, path);
            }
            if (n == 0) {
                // The file shrank while being read: the entry would be short.
                return FsStatus::failure(EIO, path, "file changed while being archived");
            }
            if (archive_write_data(a_, buffer_.data(), static_cast<size_t>(n)) < 0) {
                return archiveFailure(a_, path);
            }
            left -= n;
        }
        return FsStatus::success();
    }

    struct archive* a_;
    std::vector<char>& buffer_;
};

// ---- reading ----

std::optional<std::vector<std::string>> safeComponents(const char* name) {
    if (!name || !*name || name[0] == '/') {
        return std::nullopt;
    }
    std::vector<std::string> parts;
    std::string part;
    for (const char* p = name;; ++p) {
        if (*p == '/' || *p == '\0') {
            if (part == "..") {
                return std::nullopt;
            }
            if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            part.clear();
            if (*p == '\0') {
                break;
            }
        } else {
            part.push_back(*p);
        }
    }
    if (parts.size() > kMaxDepth) {
        return std::nullopt;
    }
    return parts;
}

struct FolderFixup {
    std::vector<std::string> parts;
    mode_t mode;
    struct timespec mtime;
};

class Extractor {
  public:
    Extractor(struct archive* a, int rootFd, std::string folder)
        : a_(a), root_(rootFd), folder_(std::move(folder)) {}

    FsStatus entry(struct archive_entry* e) {
        const char* name = archive_entry_pathname_utf8(e);
        if (!name) {
            name = archive_entry_pathname(e);
        }
        auto parts = safeComponents(name);
        std::string display = fileops::joinPath(folder_, name ? name : "");
        if (!parts) {
            return FsStatus::failure(EPERM, display, "unsafe entry name");
        }
        if (parts->empty()) {
            return FsStatus::success();
        }
        if (archive_entry_hardlink(e)) {
            return FsStatus::failure(EPERM, display, "hard links are not extracted");
        }
        std::string leaf = parts->back();
        parts->pop_back();
        int parent = openParents(*parts);
        if (parent < 0) {
            return FsStatus::failure(errno, display);
        }
        UniqueFd parentFd(parent == root_ ? -1 : parent);
        parts->push_back(leaf);
        switch (archive_entry_filetype(e)) {
            case AE_IFDIR:
                return makeFolder(parent, leaf, e, *parts, display);
            case AE_IFLNK:
                return makeLink(parent, leaf, e, display);
            case AE_IFREG:
                return makeFile(parent, leaf, e, display);
            default:
                return FsStatus::success();  // devices and FIFOs are not recreated
        }
    }

    // Folder modes and dates are set last, so read-only folders can still be filled
    // and their dates are not moved by the files written into them.
    void finish() {
        for (auto it = fixups_.rbegin(); it != fixups_.rend(); ++it) {
            int fd = openPath(it->parts);
            if (fd < 0) {
                continue;
            }
            ::fchmod(fd, it->mode & 0777);
            const struct timespec times[2] = {it->mtime, it->mtime};
            ::futimens(fd, times);
            if (fd != root_) {
                ::close(fd);
            }
        }
    }

  private:
    // Walks and makes the parent folders, never through a link.
    int openParents(const std::vector<std::string>& parts) {
        int fd = root_;
        for (const auto& p : parts) {
            if (::mkdirat(fd, p.c_str(), 0700) != 0 && errno != EEXIST) {
                int err = errno;
                closeIfOwned(fd);
                errno = err;
                return -1;
            }
            int next = ::openat(fd, p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            int err = errno;
            closeIfOwned(fd);
            if (next < 0) {
                errno = err;
                return -1;
            }
            fd = next;
        }
        return fd;
    }

    int openPath(const std::vector<std::string>& parts) {
        int fd = root_;
        for (const auto& p : parts) {
            int next = ::openat(fd, p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            closeIfOwned(fd);
            if (next < 0) {
                return -1;
            }
            fd = next;
        }
        return fd;
    }

    void closeIfOwned(int fd) {
        if (fd != root_) {
            ::close(fd);
        }
    }

    FsStatus makeFolder(int parent, const std::string& leaf, struct archive_entry* e,
                        const std::vector<std::string>& parts, const std::string& display) {
        if (::mkdirat(parent, leaf.c_str(), 0700) != 0) {
            struct stat st {};
            if (errno != EEXIST || ::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) ||
                !S_ISDIR(st.st_mode)) {
                return FsStatus::failure(errno ? errno : EEXIST, display);
            }
        }
        fixups_.push_back({parts,
                           archive_entry_perm(e) | 0700,
                           {archive_entry_mtime(e), archive_entry_mtime_nsec(e)}});
        return FsStatus::success();
    }

    // A name listed twice replaces the earlier item, unless that is a folder.
    static bool replaceExisting(int parent, const std::string& leaf) {
        struct stat st {};
        if (::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) {
            return false;
        }
        return ::unlinkat(parent, leaf.c_str(), 0) == 0;
    }

    FsStatus makeLink(int parent, const std::string& leaf, struct archive_entry* e,
                      const std::string& display) {
        const char* target = archive_entry_symlink_utf8(e);
        if (!target) {
            target = archive_entry_symlink(e);
        }
        if (!target) {
            return FsStatus::failure(EINVAL, display, "link without target");
        }
        if (::symlinkat(target, parent, leaf.c_str()) != 0) {
            if (errno != EEXIST || !replaceExisting(parent, leaf) ||
                ::symlinkat(target, parent, leaf.c_str()) != 0) {
                return FsStatus::failure(errno, display);
            }
        }
        const struct timespec times[2] = {{0, UTIME_OMIT},
                                          {archive_entry_mtime(e), archive_entry_mtime_nsec(e)}};
        ::utimensat(parent, leaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return FsStatus::success();
    }

    FsStatus makeFile(int parent, const std::string& leaf, struct archive_entry* e,
                      const std::string& display) {
        const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
        int fd = ::openat(parent, leaf.c_str(), flags, 0600);
        if (fd < 0 && errno == EEXIST && replaceExisting(parent, leaf)) {
            fd = ::openat(parent, leaf.c_str(), flags, 0600);
        }
        if (fd < 0) {
            return FsStatus::failure(errno, display);
        }
        UniqueFd out(fd);
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        for (;;) {
            int r = archive_read_data_block(a_, &block, &size, &offset);
            if (r == ARCHIVE_EOF) {
                break;
            }
            if (r < ARCHIVE_WARN) {
                return archiveFailure(a_, display);
            }
            const char* p = static_cast<const char*>(block);
            for (size_t done = 0; done < size;) {
                ssize_t n = ::pwrite(fd, p + done, size - done,
                                     static_cast<off_t>(offset) + static_cast<off_t>(done));
                if (n < 0) {
                    if (errno == EINTR) {
                        continue;
                    }
                    return FsStatus::failure(errno, display);
                }
                done += static_cast<size_t>(n);
            }
        }
        if (archive_entry_size_is_set(e)) {
            ::ftruncate(fd, archive_entry_size(e));
        }
        // Set-id bits never come out of an archive.
        ::fchmod(fd, archive_entry_perm(e) & 0777);
        const struct timespec times[2] = {{0, UTIME_OMIT},
                                          {archive_entry_mtime(e), archive_entry_mtime_nsec(e)}};
        ::futimens(fd, times);
        return FsStatus::success();
    }

    struct archive* a_;
    int root_;
    std::string folder_;
    std::vector<FolderFixup> fixups_;
};

std::string temporaryArchivePath(const std::string& archivePath) {
    return fileops::joinPath(fileops::parentPath(archivePath),
                             "." + fileops::lastComponent(archivePath) + ".partial-XXXXXX");
}

}  // namespace

FsStatus zip(const std::string& source, const std::string& archivePath, bool keepParent) {
    Utf8Locale utf8;
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) {
        return FsStatus::failure(errno, source);
    }
    std::string tempPath = temporaryArchivePath(archivePath);
    std::vector<char> templ(tempPath.begin(), tempPath.end());
    templ.push_back('\0');
    UniqueFd out(::mkostemp(templ.data(), O_CLOEXEC));
    if (out.get() < 0) {
        return FsStatus::failure(errno, archivePath);
    }
    tempPath = templ.data();
    ::fchmod(out.get(), 0644);

    ArchivePtr a(archive_write_new(), archive_write_free);
    archive_write_set_format_zip(a.get());
    archive_write_zip_set_compression_deflate(a.get());
    // Names are stored as UTF-8 with the zip flag that says so, whatever the locale.
    archive_write_set_format_option(a.get(), "zip", "hdrcharset", "UTF-8");
    archive_write_set_bytes_per_block(a.get(), static_cast<int>(kChunk));
    archive_write_set_bytes_in_last_block(a.get(), 1);
    FsStatus result;
    if (archive_write_open_fd(a.get(), out.get()) != ARCHIVE_OK) {
        result = archiveFailure(a.get(), archivePath);
    } else {
        std::vector<char> buffer(kChunk);
        ZipWriter writer(a.get(), buffer);
        std::string name = fileops::lastComponent(source);
        if (S_ISDIR(st.st_mode)) {
            result = writer.addItem(source, keepParent ? name : "", st);
        } else {
            result = writer.addItem(source, name, st);
        }
        if (result && archive_write_close(a.get()) != ARCHIVE_OK) {
            result = archiveFailure(a.get(), archivePath);
        }
    }
    if (result && ::fsync(out.get()) != 0) {
        result = FsStatus::failure(errno, archivePath);
    }
    if (result && ::rename(tempPath.c_str(), archivePath.c_str()) != 0) {
        result = FsStatus::failure(errno, archivePath);
    }
    if (!result) {
        ::unlink(tempPath.c_str());
    }
    return result;
}

FsStatus unzip(const std::string& archivePath, const std::string& folder) {
    Utf8Locale utf8;
    ArchivePtr a(archive_read_new(), archive_read_free);
    archive_read_support_format_zip(a.get());
    if (archive_read_open_filename(a.get(), archivePath.c_str(), kChunk) != ARCHIVE_OK) {
        return archiveFailure(a.get(), archivePath);
    }
    if (FsStatus s = fileops::createDirectories(folder); !s) {
        return s;
    }
    UniqueFd root(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.get() < 0) {
        return FsStatus::failure(errno, folder);
    }
    Extractor extractor(a.get(), root.get(), folder);
    FsStatus result;
    size_t count = 0;
    for (;;) {
        struct archive_entry* e = nullptr;
        int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF) {
            break;
        }
        if (r < ARCHIVE_WARN) {
            result = archiveFailure(a.get(), archivePath);
            break;
        }
        if (++count > kMaxEntries) {
            result = FsStatus::failure(EFBIG, archivePath, "too many entries");
            break;
        }
        result = extractor.entry(e);
        if (!result) {
            break;
        }
    }
    extractor.finish();
    return result;
}

}  // namespace platform::system::archive
