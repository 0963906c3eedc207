#pragma once
// Inflate of zlib or gzip data (detected automatically), for compressed responses.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "transfer/TXZStream.h"

class TXDataDecompressor : public TXZStream {
  public:
    // At most this much inflated output is kept in memory by one decompressor.
    static constexpr uint64_t kMaxInflatedBytes = 256ull * 1024 * 1024;

    TXDataDecompressor() : TXZStream(Kind::Inflate) { setOutputLimit(kMaxInflatedBytes); }
    static std::unique_ptr<TXDataDecompressor> decompressor();

    // Inflates `bytes` as far as they go. Empty input answers none and no error; bad
    // data or output past the memory cap answers none with a code-11 error.
    std::optional<base::Data> uncompressBytes(std::span<const uint8_t> bytes,
                                              std::optional<base::Error>* error) {
        return process(bytes, false, error);
    }

    static std::optional<base::Data> uncompressData(std::span<const uint8_t> data,
                                                    std::optional<base::Error>* error);
    static bool uncompressDataFromFile(const std::string& source, const std::string& destination,
                                       std::optional<base::Error>* error);
    static base::Error inflateErrorWithCode(int code);
};
