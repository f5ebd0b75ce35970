// What the kernel extension and the daemon agree on: the control name, the
// option numbers and the byte layout of a request record and of an answer.
// Both the daemon's record type and the kernel-side stand-in check
// themselves against these numbers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kctl {

constexpr char kAppProtectionControlName[] = "com.vantrel.kext.AppProtection";

/// Options set at level SYSPROTO_CONTROL. The numbers are the kernel
/// extension's: never renumber. 3 is not used.
enum KextOption : int32_t {
    KEXT_OPT_START_HOOKING = 1,
    KEXT_OPT_STOP_HOOKING = 2,
    KEXT_OPT_RESPONSE = 4,
    KEXT_OPT_PROMPT_TIMEOUT = 5,
    KEXT_OPT_PING = 6,
    KEXT_OPT_FLUSH_EXCLUSIONS = 7,
    KEXT_OPT_ADD_EXCLUSION = 8,
    KEXT_OPT_PURGE_CACHE = 9,
};

/// Request record: host byte order (little-endian), offsets in bytes.
namespace record {
constexpr size_t kSize = 1072;
constexpr size_t kPid = 0;           // int32
constexpr size_t kReserved1 = 4;     // int32, echoed
constexpr size_t kReserved2 = 8;     // int32, echoed
constexpr size_t kRequestType = 12;  // int32
constexpr size_t kResult = 16;       // int16, written by the daemon
constexpr size_t kPadding = 18;      // 2 bytes, echoed
constexpr size_t kProtocol = 20;     // int32
constexpr size_t kCookie = 24;       // int32
constexpr size_t kPath = 28;         // char[1024], NUL-terminated unless full
constexpr size_t kPathSize = 1024;
constexpr size_t kPeerAddress = 1052; // struct sockaddr_in of this platform
constexpr size_t kPeerAddressSize = 16;
constexpr size_t kNetworkAction = 1068; // int32, written by the daemon
static_assert(kNetworkAction + 4 == kSize, "record ends with networkAction");
static_assert(kPath + kPathSize == kPeerAddress, "address follows the path");
} // namespace record

/// Payload of KEXT_OPT_RESPONSE: an int32 holding 1, then the record.
namespace answer {
constexpr int32_t kWord = 1;
constexpr size_t kRecord = 4;
constexpr size_t kSize = kRecord + record::kSize;
} // namespace answer

/// An exclusion path is sent from a buffer of this size, never longer.
constexpr size_t kMaxExclusionLength = 1024;

} // namespace kctl
