#pragma once
// Where the storage bucket lives and the shared storage account's keys: compiled-in
// defaults, each overridable by one environment variable so that tests and the demo
// can point the programs at a stand-in on loopback.
//
//   QUORVANE_STORAGE_HOST        endpoint host name (a bucket is prefixed to it)
//   QUORVANE_STORAGE_SCHEME      "https" or "http"
//   QUORVANE_STORAGE_BUCKET      bucket that uploads go to
//   QUORVANE_STORAGE_ACCESS_KEY  access key id
//   QUORVANE_STORAGE_SECRET_KEY  secret access key
#include <string>

struct TXS3Configuration {
    std::string host;
    std::string scheme;
    std::string bucket;
    std::string accessKey;
    std::string secretAccessKey;

    // The defaults with the environment's overrides, read on every call.
    static TXS3Configuration current();
};
