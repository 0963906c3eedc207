// Gzip bodies and inflated responses, checked against zlib's own one-shot functions
// and the gzip tool, which nobody here wrote.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <string>

#include "tests/helpers/RunTool.h"
#include "tests/helpers/TempDir.h"
#include "tests/transfer/HttpTestServer.h"
#include "transfer/TXDataCompressor.h"
#include "transfer/TXDataDecompressor.h"
#include "transfer/TXHTTPRequest.h"
#include "transfer/TXHTTPRequestError.h"

namespace {

using testsupport::TempDir;

base::Data bytesOf(std::string_view s) {
    return base::Data(s.begin(), s.end());
}

base::Data noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    base::Data d(n);
    for (auto& b : d) b = static_cast<uint8_t>(rng() % 7 + 'a');  // compressible
    return d;
}

// zlib's reference inflate, detecting gzip or zlib.
base::Data referenceInflate(const base::Data& in) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, 47), Z_OK);
    base::Data out(in.size() * 20 + 1024);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

base::Data referenceDeflate(const base::Data& in, int windowBits) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    base::Data out(deflateBound(&z, in.size()));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST(DataCompressorTest, InMemoryRoundTripsAtAwkwardSizes) {
    // A 1-byte body must compress (the buffer growth may never be zero).
    for (size_t n : {size_t{1}, size_t{2}, size_t{100}, size_t{65537}, size_t{1} << 20}) {
        base::Data in = noise(n, static_cast<unsigned>(n));
        std::optional<base::Error> error;
        auto gz = TXDataCompressor::compressData(in, &error);
        ASSERT_TRUE(gz) << n << " " << (error ? error->localizedDescription() : "");
        EXPECT_EQ((*gz)[0], 0x1f);  // gzip magic
        EXPECT_EQ((*gz)[1], 0x8b);
        EXPECT_EQ(referenceInflate(*gz), in) << n;
        auto back = TXDataDecompressor::uncompressData(*gz, &error);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, in);
    }
}

TEST(DataCompressorTest, EmptyInputAnswersNothingWithoutError) {
    std::optional<base::Error> error;
    EXPECT_FALSE(TXDataCompressor::compressData({}, &error));
    EXPECT_FALSE(error);
    EXPECT_FALSE(TXDataDecompressor::uncompressData({}, &error));
    EXPECT_FALSE(error);
}

TEST(DataDecompressorTest, AcceptsZlibAndGzipWrappers) {
    base::Data in = noise(300000, 7);
    for (int bits : {15, 31}) {
        std::optional<base::Error> error;
        auto out = TXDataDecompressor::uncompressData(referenceDeflate(in, bits), &error);
        ASSERT_TRUE(out) << bits;
        EXPECT_EQ(*out, in);
    }
}

TEST(DataDecompressorTest, InflatesPieceByPiece) {
    base::Data in = noise(500000, 3);
    base::Data gz = referenceDeflate(in, 31);
    auto d = TXDataDecompressor::decompressor();
    ASSERT_TRUE(d);
    base::Data out;
    std::optional<base::Error> error;
    for (size_t at = 0; at < gz.size(); at += 1000) {
        size_t n = std::min<size_t>(1000, gz.size() - at);
        auto piece = d->uncompressBytes({gz.data() + at, n}, &error);
        ASSERT_FALSE(error);
        if (piece)
            out.insert(out.end(), piece->begin(), piece->end());
    }
    EXPECT_EQ(out, in);
}

TEST(DataDecompressorTest, BadDataIsCode11WithTheZlibCode) {
    std::optional<base::Error> error;
    auto out =
        TXDataDecompressor::uncompressData(bytesOf("this is not deflate data at all"), &error);
    EXPECT_FALSE(out);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), TXHTTPRequestErrorDomain);
    EXPECT_EQ(error->code(), 11);
    EXPECT_EQ(error->localizedDescription(), "Decompression of data failed with code -3");
}

// `mebibytes` of zeros in a gzip wrapper: about a thousandth of that in size.
base::Data gzipOfZeros(int mebibytes) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    base::Data zeros(1 << 20, 0), gz;
    base::Data buffer(1 << 16);
    for (int i = 0; i < mebibytes; ++i) {
        z.next_in = zeros.data();
        z.avail_in = static_cast<uInt>(zeros.size());
        do {
            z.next_out = buffer.data();
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, i == mebibytes - 1 ? Z_FINISH : Z_NO_FLUSH);
            gz.insert(gz.end(), buffer.begin(), buffer.end() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return gz;
}

// Run by AnInflatingBombStopsAtTheCap in a process of its own, whose peak memory it
// prints: the bomb as a response inflated at the end and as it arrives, and fed to a
// decompressor piece by piece.
TEST(InflateBombProbe, PrintsWhatItGotAndItsPeakMemory) {
    const char* path = std::getenv("QV_INFLATE_BOMB");
    if (!path) {
        GTEST_SKIP() << "only run by DataDecompressorTest.AnInflatingBombStopsAtTheCap";
    }
    std::string gz = testsupport::readFile(path);
    txtest::HttpTestServer server([&](const txtest::ReceivedRequest&) {
        return txtest::HttpTestServer::Reply{
            txtest::HttpTestServer::response(200, "Content-Encoding: gzip\r\n", gz)};
    });
    auto url = base::Url::parse(server.url());
    auto waiting = TXHTTPRequest::requestWithURL(url);
    waiting->startSynchronous();
    std::cout << "WAITING " << waiting->responseStatusCode() << " "
              << (waiting->responseData() ? "data" : "none") << "\n";
    auto onTheFly = TXHTTPRequest::requestWithURL(url);
    onTheFly->setShouldWaitToInflateCompressedResponses(false);
    onTheFly->startSynchronous();
    std::cout << "ONTHEFLY " << (onTheFly->error() ? onTheFly->error()->code() : 0) << "\n";
    auto d = TXDataDecompressor::decompressor();
    uint64_t total = 0;
    std::optional<base::Error> error;
    for (size_t at = 0; at < gz.size() && !error; at += 65536) {
        auto piece = d->uncompressBytes({reinterpret_cast<const uint8_t*>(gz.data()) + at,
                                         std::min<size_t>(65536, gz.size() - at)},
                                        &error);
        total += piece ? piece->size() : 0;
    }
    std::cout << "PIECES " << (total <= TXDataDecompressor::kMaxInflatedBytes ? "capped" : "over")
              << " " << (error ? error->code() : 0) << "\n";
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::cout << "PEAK " << usage.ru_maxrss / 1024 << " MiB\n";
}

// 512 MiB of zeros come as half a megabyte of gzip. Inflating stops at the cap of
// 256 MiB without holding anywhere near that much.
TEST(DataDecompressorTest, AnInflatingBombStopsAtTheCap) {
    base::Data gz = gzipOfZeros(512);
    ASSERT_LT(gz.size(), 1u << 20);
    std::optional<base::Error> error;
    EXPECT_FALSE(TXDataDecompressor::uncompressData(gz, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), 11);

    TempDir dir;
    std::string bomb = dir.write("bomb.gz", std::string(gz.begin(), gz.end()));
    auto result =
        testsupport::runTool({std::filesystem::read_symlink("/proc/self/exe").string(),
                              "--gtest_filter=InflateBombProbe.PrintsWhatItGotAndItsPeakMemory"},
                             {"QV_INFLATE_BOMB=" + bomb});
    const std::string& out = result.out;
    EXPECT_NE(out.find("WAITING 200 none\n"), std::string::npos) << out;
    EXPECT_NE(out.find("ONTHEFLY 11\n"), std::string::npos) << out;
    EXPECT_NE(out.find("PIECES capped 11\n"), std::string::npos) << out;
    size_t at = out.find("PEAK ");
    ASSERT_NE(at, std::string::npos) << out;
    long peak = std::atol(out.c_str() + at + 5);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers keep freed memory in quarantine: the peak says nothing there.
    (void)peak;
#else
    EXPECT_LT(peak, 160) << "MiB at the peak; the cap is 256 MiB";
#endif
}

TEST(DataCompressorFileTest, ChunkMultiplesStillMakeACompleteGzipFile) {
    TempDir dir;
    for (size_t n : {size_t{0}, size_t{10}, TXZStream::kFileChunkSize,
                     2 * TXZStream::kFileChunkSize, 2 * TXZStream::kFileChunkSize + 5}) {
        base::Data in = noise(n, 11);
        std::string src = dir.write("src", std::string(in.begin(), in.end()));
        std::string gz = dir.file("src.gz");
        std::optional<base::Error> error;
        ASSERT_TRUE(TXDataCompressor::compressDataFromFile(src, gz, &error)) << n;
        std::string packed = testsupport::readFile(gz);
        if (n == 0) {
            EXPECT_TRUE(packed.empty());
            continue;
        }
        // The gzip tool checks the trailer (CRC and length).
        std::string cmd = "gzip -t " + gz;
        EXPECT_EQ(std::system(cmd.c_str()), 0) << n;
        std::string out = dir.file("out");
        ASSERT_TRUE(TXDataDecompressor::uncompressDataFromFile(gz, out, &error));
        EXPECT_EQ(testsupport::readFile(out), std::string(in.begin(), in.end())) << n;
    }
}

TEST(DataCompressorFileTest, FileErrorsCarryTheirTexts) {
    TempDir dir;
    std::optional<base::Error> error;
    std::string missing = dir.file("missing");
    EXPECT_FALSE(TXDataCompressor::compressDataFromFile(missing, dir.file("out"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(),
              "Compression of " + missing + " failed the file does not exist");
    error.reset();
    std::string src = dir.write("src", "x");
    std::string badDest = dir.file("no/such/folder/out");
    EXPECT_FALSE(TXDataDecompressor::uncompressDataFromFile(src, badDest, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(),
              "Decompression of " + src + " failed because we were to create a file at " + badDest);
}

}  // namespace
