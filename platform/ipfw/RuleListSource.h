// Where the kernel rule reader gets its bytes.
//
// On the original platform the list comes from
// getsockopt(fd, IPPROTO_IP, IP_FW_GET, buf, &len). Linux has no such option
// (44 there is MCAST_UNBLOCK_SOURCE), so the reader calls `getRuleList`
// instead, with the same arguments and return convention. The default source
// serves the stand-in's rules.bin; tests may install their own.
#pragma once

#include <functional>
#include <sys/socket.h>

namespace ipfw {

/// (raw socket, buffer, in: offered size / out: bytes written) -> 0, or -1
/// with errno set.
using RuleListSource = std::function<int(int, void*, socklen_t*)>;

/// Copies min(list size, *len) bytes of the current list into buf and stores
/// that count in *len. -1 with errno when the list cannot be read.
int getRuleList(int fd, void* buf, socklen_t* len);

/// Installs a source; an empty function restores the default. Returns the
/// source it replaces.
RuleListSource setRuleListSource(RuleListSource source);

/// The default source: rules.bin of the stand-in's state folder; when the
/// file is absent, the kernel's default rule alone.
int stateRuleListSource(int fd, void* buf, socklen_t* len);

} // namespace ipfw
