#include "HashGenerator.h"

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "AppProtError.h"
#include "RulebookTrace.h"

namespace AppProtection {

namespace {

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

constexpr size_t kBlockSize = 64 * 1024;

[[noreturn]] void notFound() { throw AppProtException(appProtErrorMessage(FILE_NOT_FOUND), FILE_NOT_FOUND); }

} // namespace

std::string HashGenerator::generateHash(const std::string& path) { return generateHash(path, ::read); }

std::string HashGenerator::generateHash(const std::string& path, ReadFunction readFn)
{
    WARD_TRACE(hashGenFlagvalue, 0, L"HashGenerator::generateHash - Entry %s\n", path.c_str());
    // Non-blocking so that a FIFO or a device cannot hold the caller; only
    // regular files are fingerprinted.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        WARD_TRACE(hashGenFlagvalue, 0,
                   L"HashGenerator::generateHash - Could not open file %s. Throwing exception\n", path.c_str());
        notFound();
    }
    FdCloser closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        WARD_TRACE(hashGenFlagvalue, 0,
                   L"HashGenerator::generateHash - %s is not a regular file. Throwing exception\n", path.c_str());
        notFound();
    }

    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1)
        throw AppProtException("MD5 unavailable", UNEXPECTED_EXCEPTION);

    // Most programs are read in one or two calls.
    unsigned char block[kBlockSize];
    for (;;) {
        ssize_t n = readFn(fd, block, sizeof block);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A prefix's fingerprint would pass for the file's: refuse.
            WARD_TRACE(hashGenFlagvalue, 0,
                       L"HashGenerator::generateHash - Could not read file %s. Throwing exception\n", path.c_str());
            notFound();
        }
        EVP_DigestUpdate(ctx.get(), block, static_cast<size_t>(n));
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &len);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * len);
    for (unsigned int i = 0; i < len; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 0xF]);
    }
    WARD_TRACE(hashGenFlagvalue, 0, L"HashGenerator::generateHash - Returning %s for %s\n", out.c_str(),
               path.c_str());
    return out;
}

} // namespace AppProtection
