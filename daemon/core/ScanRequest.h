// The request record the kernel extension sends and the daemon answers in
// place: 1,072 bytes, host byte order. Its layout is the kernel extension's;
// every offset is checked against the wire description both ends share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <netinet/in.h>

#include "KextWire.h"

struct ScanRequest {
    int32_t pid;         ///< the launching, connecting or created process
    int32_t reserved1;   ///< echoed unchanged in the answer
    int32_t reserved2;   ///< echoed unchanged in the answer
    int32_t requestType; ///< AppProtection::Operation
    int16_t result;      ///< written by the daemon: 1 allow, 2 deny
    uint16_t padding;    ///< echoed unchanged
    int32_t protocol;    ///< AppProtection::NWProtocol of a connection
    int32_t cookie;      ///< names the request in its answer and in alerts
    char path[1024];     ///< NUL-terminated unless all 1,024 bytes are used
    sockaddr_in peerAddress; ///< sin_port as a plain number, sin_addr in network order
    int32_t networkAction;   ///< written by the daemon: 1 allow, 2 block, 3 custom rules, 4 unsettled
};

static_assert(sizeof(ScanRequest) == kctl::record::kSize, "request record size");
static_assert(offsetof(ScanRequest, pid) == kctl::record::kPid, "pid offset");
static_assert(offsetof(ScanRequest, reserved1) == kctl::record::kReserved1, "reserved1 offset");
static_assert(offsetof(ScanRequest, reserved2) == kctl::record::kReserved2, "reserved2 offset");
static_assert(offsetof(ScanRequest, requestType) == kctl::record::kRequestType, "requestType offset");
static_assert(offsetof(ScanRequest, result) == kctl::record::kResult, "result offset");
static_assert(offsetof(ScanRequest, padding) == kctl::record::kPadding, "padding offset");
static_assert(offsetof(ScanRequest, protocol) == kctl::record::kProtocol, "protocol offset");
static_assert(offsetof(ScanRequest, cookie) == kctl::record::kCookie, "cookie offset");
static_assert(offsetof(ScanRequest, path) == kctl::record::kPath, "path offset");
static_assert(sizeof(ScanRequest::path) == kctl::record::kPathSize, "path size");
static_assert(offsetof(ScanRequest, peerAddress) == kctl::record::kPeerAddress, "peerAddress offset");
static_assert(sizeof(ScanRequest::peerAddress) == kctl::record::kPeerAddressSize, "peerAddress size");
static_assert(offsetof(ScanRequest, networkAction) == kctl::record::kNetworkAction, "networkAction offset");

/// The request's path: up to its NUL, or all 1,024 bytes when it has none.
inline std::string requestPath(const ScanRequest& request)
{
    return std::string(request.path, strnlen(request.path, sizeof request.path));
}
