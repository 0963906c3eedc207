#pragma once
// The zlib machinery shared by TXDataCompressor and TXDataDecompressor: one stream
// state, the grow-as-you-go buffer loop and the chunked file-to-file conversion.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/Error.h"
#include "base/Value.h"

class TXZStream {
  public:
    // Files are converted in chunks of this size, so no whole file is held in memory.
    static constexpr size_t kFileChunkSize = 262144;

    TXZStream(const TXZStream&) = delete;
    TXZStream& operator=(const TXZStream&) = delete;
    virtual ~TXZStream();

    // Nothing when the stream is ready or was made ready; else the zlib error.
    std::optional<base::Error> setupStream();
    std::optional<base::Error> closeStream();
    bool streamReady() const { return ready_; }

  protected:
    enum class Kind { Deflate, Inflate };
    explicit TXZStream(Kind kind);

    // Runs zlib over all of `input`. Empty input answers none without an error.
    std::optional<base::Data> process(std::span<const uint8_t> input, bool finish,
                                      std::optional<base::Error>* error);
    // Converts `source` into `destination` chunk by chunk; `verb` is "Compression"
    // or "Decompression" in the error texts.
    bool processFile(const std::string& source, const std::string& destination,
                     std::optional<base::Error>* error);

    // Output kept in memory by one stream is capped (against decompression bombs).
    void setOutputLimit(uint64_t bytes) { outputLimit_ = bytes; }

  private:
    // What `input` inflates to from the stream's present state, counted on a copy of
    // it (the stream itself does not move); counting stops once past `budget`. None
    // for bad data, with zlib's code in *status.
    std::optional<uint64_t> inflatedSize(std::span<const uint8_t> input, uint64_t budget,
                                         int* status);
    base::Error zlibError(int code) const;
    const char* verb() const;

    Kind kind_;
    struct State;
    std::unique_ptr<State> state_;
    bool ready_ = false;
    uint64_t outputLimit_ = UINT64_MAX;
    uint64_t produced_ = 0;
};
