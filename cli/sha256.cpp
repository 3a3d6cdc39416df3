#include "cli/sha256.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <nettle/sha2.h>
#endif

namespace pelmark::cli {

namespace {

constexpr std::size_t kDigestSize = 32;

std::string Hex(const std::uint8_t* digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < kDigestSize; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0F];
    }
    return text;
}

}  // namespace

#ifdef _WIN32

std::string Sha256Hex(std::initializer_list<ByteSpan> spans) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::uint8_t digest[kDigestSize] = {};
    bool ok = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
              BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
    for (const ByteSpan& span : spans) {
        for (std::size_t done = 0; ok && done < span.length;) {
            const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(span.length - done, 1u << 30));
            ok = BCryptHashData(hash, const_cast<PUCHAR>(span.bytes + done), chunk, 0) >= 0;
            done += chunk;
        }
    }
    ok = ok && BCryptFinishHash(hash, digest, static_cast<ULONG>(kDigestSize), 0) >= 0;
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok ? Hex(digest) : std::string();
}

#else

std::string Sha256Hex(std::initializer_list<ByteSpan> spans) {
    sha256_ctx context;
    sha256_init(&context);
    for (const ByteSpan& span : spans) {
        if (span.length > 0) sha256_update(&context, span.length, span.bytes);
    }
    std::uint8_t digest[kDigestSize];
    sha256_digest(&context, kDigestSize, digest);
    return Hex(digest);
}

#endif

}  // namespace pelmark::cli
