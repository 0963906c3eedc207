#pragma once
// Message digests (MD5, SHA-1, SHA-256, SHA-512), one-shot or fed in pieces.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::crypto {

using Bytes = std::vector<uint8_t>;

class Digest {
  public:
    enum class Algorithm { MD5, SHA1, SHA256, SHA512 };

    explicit Digest(Algorithm algorithm);
    ~Digest();
    Digest(Digest&&) noexcept;
    Digest& operator=(Digest&&) noexcept;
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    void update(std::span<const uint8_t> bytes);
    void update(std::string_view text);
    // The digest of everything fed so far. Feeding may go on afterwards: finish()
    // works on a copy of the running state.
    Bytes finish() const;
    std::string finishHex() const { return hex(finish()); }

    static size_t length(Algorithm algorithm);
    static Bytes of(Algorithm algorithm, std::span<const uint8_t> bytes);
    static Bytes of(Algorithm algorithm, std::string_view text);
    // Lower-case hexadecimal text of `bytes`.
    static std::string hex(std::span<const uint8_t> bytes);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform::crypto
