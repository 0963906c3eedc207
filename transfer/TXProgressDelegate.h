#pragma once
// A receiver of upload or download progress. Amounts are signed: a restarted
// transfer withdraws what it had reported. A progress bar overrides
// setDoubleValue() (the fraction done) and setMaxValue() (1.0 when it is attached).
// Every call arrives on the main thread.
#include <cstdint>

class TXHTTPRequest;

class TXProgressDelegate {
  public:
    virtual ~TXProgressDelegate() = default;

    virtual void didSendBytes(TXHTTPRequest&, int64_t) {}
    virtual void didReceiveBytes(TXHTTPRequest&, int64_t) {}
    virtual void incrementUploadSizeBy(TXHTTPRequest&, int64_t) {}
    virtual void incrementDownloadSizeBy(TXHTTPRequest&, int64_t) {}

    virtual void setDoubleValue(double) {}
    virtual void setMaxValue(double) {}
};
