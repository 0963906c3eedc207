#include "transfer/TXZStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "base/Format.h"
#include "base/UniqueFd.h"
#include "transfer/TXHTTPRequestError.h"

namespace {

// Growth step of the output buffer when zlib fills it. Growing by a fraction of the
// input alone would stall at zero for tiny inputs.
constexpr size_t kMinGrowth = 16 * 1024;

constexpr int kGzipWindowBits = 15 + 16;        // 15-bit window, gzip wrapper
constexpr int kAutoDetectWindowBits = 15 + 32;  // 15-bit window, zlib or gzip
constexpr int kMemoryLevel = 8;

base::Error posixError(int err) {
    return base::Error::withDescription("NSPOSIXErrorDomain", err, std::strerror(err));
}

}  // namespace

struct TXZStream::State {
    z_stream z{};
};

TXZStream::TXZStream(Kind kind) : kind_(kind), state_(std::make_unique<State>()) {}

TXZStream::~TXZStream() {
    closeStream();
}

const char* TXZStream::verb() const {
    return kind_ == Kind::Deflate ? "Compression" : "Decompression";
}

base::Error TXZStream::zlibError(int code) const {
    return TXMakeError(TXErrorCode::Compression,
                       base::format("%s of data failed with code %d", verb(), code));
}

std::optional<base::Error> TXZStream::setupStream() {
    if (ready_) {
        return std::nullopt;
    }
    state_->z = z_stream{};
    int status = kind_ == Kind::Deflate
                     ? deflateInit2(&state_->z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits,
                                    kMemoryLevel, Z_DEFAULT_STRATEGY)
                     : inflateInit2(&state_->z, kAutoDetectWindowBits);
    if (status != Z_OK) {
        return zlibError(status);
    }
    ready_ = true;
    produced_ = 0;
    return std::nullopt;
}

std::optional<base::Error> TXZStream::closeStream() {
    if (!ready_) {
        return std::nullopt;
    }
    ready_ = false;
    int status = kind_ == Kind::Deflate ? deflateEnd(&state_->z) : inflateEnd(&state_->z);
    // Ending a deflate stream before its finish reports Z_DATA_ERROR; that is not a fault here.
    if (status != Z_OK && status != Z_DATA_ERROR) {
        return zlibError(status);
    }
    return std::nullopt;
}

std::optional<base::Data> TXZStream::process(std::span<const uint8_t> input, bool finish,
                                             std::optional<base::Error>* error) {
    if (input.empty() && !finish) {
        return std::nullopt;
    }
    if (!ready_) {
        if (auto e = setupStream()) {
            if (error)
                *error = std::move(e);
            return std::nullopt;
        }
    }
    z_stream& z = state_->z;
    const size_t growth = std::max(input.size() / 2, kMinGrowth);
    size_t initialSize = kind_ == Kind::Deflate
                             ? std::max<size_t>(deflateBound(&z, input.size()), 64)
                             : input.size() + growth;
    if (kind_ == Kind::Inflate && outputLimit_ != UINT64_MAX) {
        // Under a cap the output is measured first, so that a bomb is refused before
        // any of it is held, and what is kept is held once, at its size: growing a
        // buffer would hold old and new copies at once.
        int status = Z_OK;
        std::optional<uint64_t> size = inflatedSize(input, outputLimit_ - produced_, &status);
        if (!size || *size > outputLimit_ - produced_) {
            if (error)
                *error = zlibError(size ? Z_MEM_ERROR : status);
            return std::nullopt;
        }
        initialSize = static_cast<size_t>(*size) + 1;  // room left over ends the loop below
    }
    base::Data out(initialSize);
    size_t written = 0;
    // zlib's counters are 32-bit; feed large inputs in slices.
    const uint8_t* next = input.data();
    size_t remaining = input.size();
    for (;;) {
        if (z.avail_in == 0 && remaining > 0) {
            const size_t slice = std::min<size_t>(remaining, std::numeric_limits<uInt>::max());
            z.next_in = const_cast<Bytef*>(next);
            z.avail_in = static_cast<uInt>(slice);
            next += slice;
            remaining -= slice;
        }
        if (written == out.size()) {
            if (produced_ + out.size() >= outputLimit_) {
                if (error)
                    *error = zlibError(Z_MEM_ERROR);
                return std::nullopt;
            }
            out.resize(out.size() + growth);
        }
        const size_t space =
            std::min<size_t>(out.size() - written, std::numeric_limits<uInt>::max());
        z.next_out = out.data() + written;
        z.avail_out = static_cast<uInt>(space);
        const bool lastSlice = remaining == 0;
        int status = kind_ == Kind::Deflate
                         ? deflate(&z, finish && lastSlice ? Z_FINISH : Z_NO_FLUSH)
                         : inflate(&z, Z_NO_FLUSH);
        written += space - z.avail_out;
        if (status == Z_STREAM_END) {
            break;
        }
        if (status != Z_OK && !(status == Z_BUF_ERROR && z.avail_out != 0)) {
            if (error)
                *error = zlibError(status);
            return std::nullopt;
        }
        // zlib stops when it has used all input and has room left: nothing more to do.
        if (z.avail_out != 0 && z.avail_in == 0 && remaining == 0) {
            break;
        }
    }
    if (produced_ + written > outputLimit_) {
        if (error)
            *error = zlibError(Z_MEM_ERROR);
        return std::nullopt;
    }
    produced_ += written;
    out.resize(written);
    return out;
}

std::optional<uint64_t> TXZStream::inflatedSize(std::span<const uint8_t> input, uint64_t budget,
                                                int* status) {
    z_stream probe{};
    if ((*status = inflateCopy(&probe, &state_->z)) != Z_OK) {
        return std::nullopt;
    }
    std::vector<uint8_t> scratch(64 * 1024);
    uint64_t size = 0;
    const uint8_t* next = input.data();
    size_t remaining = input.size();
    std::optional<uint64_t> answer;
    for (;;) {
        if (probe.avail_in == 0 && remaining > 0) {
            const size_t slice = std::min<size_t>(remaining, std::numeric_limits<uInt>::max());
            probe.next_in = const_cast<Bytef*>(next);
            probe.avail_in = static_cast<uInt>(slice);
            next += slice;
            remaining -= slice;
        }
        probe.next_out = scratch.data();
        probe.avail_out = static_cast<uInt>(scratch.size());
        *status = inflate(&probe, Z_NO_FLUSH);
        size += scratch.size() - probe.avail_out;
        if (*status == Z_STREAM_END || size > budget) {
            answer = size;
            break;
        }
        if (*status != Z_OK && !(*status == Z_BUF_ERROR && probe.avail_out != 0)) {
            break;
        }
        if (probe.avail_out != 0 && probe.avail_in == 0 && remaining == 0) {
            answer = size;
            break;
        }
    }
    inflateEnd(&probe);
    return answer;
}

bool TXZStream::processFile(const std::string& source, const std::string& destination,
                            std::optional<base::Error>* error) {
    auto fail = [&](base::Error e) {
        closeStream();
        if (error)
            *error = std::move(e);
        return false;
    };
    base::UniqueFd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!out.valid()) {
        return fail(
            TXMakeError(TXErrorCode::Compression,
                        base::format("%s of %@ failed because we were to create a file at %@",
                                     verb(), source, destination)));
    }
    struct stat st {};
    if (::stat(source.c_str(), &st) != 0) {
        return fail(
            TXMakeError(TXErrorCode::Compression,
                        base::format("%s of %@ failed the file does not exist", verb(), source)));
    }
    base::UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    auto readError = [&](int err) {
        base::Error underlying = posixError(err);
        return fail(TXMakeError(
            TXErrorCode::Compression,
            base::format("%s of %@ failed because we were unable to read from the source data file",
                         verb(), source),
            &underlying));
    };
    if (!in.valid()) {
        return readError(errno);
    }
    // Files are written to disk, not memory: no output cap here.
    const uint64_t savedLimit = outputLimit_;
    outputLimit_ = UINT64_MAX;
    struct RestoreLimit {
        TXZStream* s;
        uint64_t limit;
        ~RestoreLimit() { s->outputLimit_ = limit; }
    } restore{this, savedLimit};

    if (auto e = setupStream()) {
        return fail(std::move(*e));
    }
    base::Data chunk(kFileChunkSize);
    bool readAny = false;
    bool allFull = true;
    while (ready_) {
        bool readFailed = false;
        const size_t n = base::readFully(in.get(), chunk.data(), chunk.size(), &readFailed);
        if (readFailed) {
            return readError(errno);
        }
        std::optional<base::Data> output;
        std::optional<base::Error> zerr;
        if (n == 0) {
            // Every chunk was full, so none was deflated with finish: close the gzip file.
            if (kind_ == Kind::Deflate && readAny && allFull) {
                output = process({}, true, &zerr);
            }
            if (!output && !zerr) {
                break;
            }
        } else {
            readAny = true;
            const bool shortChunk = n < kFileChunkSize;
            allFull = allFull && !shortChunk;
            output = process({chunk.data(), n}, kind_ == Kind::Deflate && shortChunk, &zerr);
        }
        if (zerr) {
            return fail(std::move(*zerr));
        }
        if (output && !base::writeFully(out.get(), output->data(), output->size())) {
            base::Error underlying = posixError(errno);
            return fail(
                TXMakeError(TXErrorCode::Compression,
                            base::format("%s of %@ failed because we were unable to write to "
                                         "the destination data file at %@",
                                         verb(), source, destination),
                            &underlying));
        }
        if (n == 0) {
            break;
        }
    }
    if (auto e = closeStream()) {
        if (error)
            *error = std::move(e);
        return false;
    }
    return true;
}
