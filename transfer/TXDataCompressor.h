#pragma once
// Deflate with a gzip wrapper, for request bodies sent with "Content-Encoding: gzip".
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "transfer/TXZStream.h"

class TXDataCompressor : public TXZStream {
  public:
    TXDataCompressor() : TXZStream(Kind::Deflate) {}
    // A new compressor with its stream set up; none when zlib refuses.
    static std::unique_ptr<TXDataCompressor> compressor();

    // Deflates `bytes`; with `shouldFinish` the gzip trailer is written too. Empty input
    // answers none and no error; a zlib failure answers none with a code-11 error.
    std::optional<base::Data> compressBytes(std::span<const uint8_t> bytes,
                                            std::optional<base::Error>* error, bool shouldFinish) {
        if (bytes.empty()) {
            return std::nullopt;
        }
        return process(bytes, shouldFinish, error);
    }

    static std::optional<base::Data> compressData(std::span<const uint8_t> data,
                                                  std::optional<base::Error>* error);
    // Writes a complete gzip file of `source` to `destination` (an empty source gives an
    // empty destination).
    static bool compressDataFromFile(const std::string& source, const std::string& destination,
                                     std::optional<base::Error>* error);
    static base::Error deflateErrorWithCode(int code);
};
