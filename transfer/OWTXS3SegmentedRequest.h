#pragma once
// One part of a multipart upload: a PUT of one byte range of a file, its body read
// from that range of the file as it is sent.
#include <cstdint>
#include <memory>
#include <string>

#include "transfer/TXS3ObjectRequest.h"

struct OWTXS3ByteRange {
    uint64_t location = 0;
    uint64_t length = 0;
};

class OWTXS3SegmentedRequest : public TXS3ObjectRequest {
  public:
    static std::shared_ptr<OWTXS3SegmentedRequest> PUTRequestForSegment(const std::string& path,
                                                                        OWTXS3ByteRange dataRange,
                                                                        const std::string& bucket,
                                                                        const std::string& key);

    // Makes the range the body; false (and the request failed) when the file cannot
    // be read or holds fewer bytes than the range, since a short part would assemble
    // a corrupt object.
    bool readFileData();

    OWTXS3ByteRange dataRange() const { return dataRange_; }
    uint64_t segmentID() const { return segmentID_; }
    void setSegmentID(uint64_t id) { segmentID_ = id; }
    const std::string& filePath() const { return filePath_; }

  protected:
    explicit OWTXS3SegmentedRequest(const std::optional<base::Url>& url) : TXS3ObjectRequest(url) {}
    friend class TXS3ObjectRequest;

  private:
    OWTXS3ByteRange dataRange_;
    uint64_t segmentID_ = 0;
    std::string filePath_;
};
