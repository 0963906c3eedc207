#include "transfer/TXDataDecompressor.h"

#include "base/Format.h"
#include "transfer/TXHTTPRequestError.h"

std::unique_ptr<TXDataDecompressor> TXDataDecompressor::decompressor() {
    auto d = std::make_unique<TXDataDecompressor>();
    if (d->setupStream()) {
        return nullptr;
    }
    return d;
}

std::optional<base::Data> TXDataDecompressor::uncompressData(std::span<const uint8_t> data,
                                                             std::optional<base::Error>* error) {
    TXDataDecompressor d;
    if (auto e = d.setupStream()) {
        if (error)
            *error = std::move(e);
        return std::nullopt;
    }
    return d.uncompressBytes(data, error);
}

bool TXDataDecompressor::uncompressDataFromFile(const std::string& source,
                                                const std::string& destination,
                                                std::optional<base::Error>* error) {
    TXDataDecompressor d;
    return d.processFile(source, destination, error);
}

base::Error TXDataDecompressor::inflateErrorWithCode(int code) {
    return TXMakeError(TXErrorCode::Compression,
                       base::format("Decompression of data failed with code %d", code));
}
