#include "transfer/TXDataCompressor.h"

#include "base/Format.h"
#include "transfer/TXHTTPRequestError.h"

std::unique_ptr<TXDataCompressor> TXDataCompressor::compressor() {
    auto c = std::make_unique<TXDataCompressor>();
    if (c->setupStream()) {
        return nullptr;
    }
    return c;
}

std::optional<base::Data> TXDataCompressor::compressData(std::span<const uint8_t> data,
                                                         std::optional<base::Error>* error) {
    TXDataCompressor c;
    if (auto e = c.setupStream()) {
        if (error)
            *error = std::move(e);
        return std::nullopt;
    }
    if (data.empty()) {
        return std::nullopt;
    }
    return c.compressBytes(data, error, true);
}

bool TXDataCompressor::compressDataFromFile(const std::string& source,
                                            const std::string& destination,
                                            std::optional<base::Error>* error) {
    TXDataCompressor c;
    return c.processFile(source, destination, error);
}

base::Error TXDataCompressor::deflateErrorWithCode(int code) {
    return TXMakeError(TXErrorCode::Compression,
                       base::format("Compression of data failed with code %d", code));
}
