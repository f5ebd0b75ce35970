// How the broker reaches the hub.
//
// The default connects a Unix stream socket to the hub's path. Tests may
// install their own connector, e.g. the in-process hub of
// testing/HVOTestPeer.h, so that code using the broker runs without hvod.
#pragma once

#include <functional>
#include <string>

namespace HVO {

/// (hub socket path) -> a connected stream socket, close-on-exec, which the
/// broker owns from then on. Throws HVOException when the hub cannot be
/// reached.
using HubConnector = std::function<int(const std::string& socketPath)>;

/// Installs a connector for connections opened from now on; an empty one
/// restores the default. Returns the one it replaces.
HubConnector setHubConnector(HubConnector connector);

/// Connects through the installed connector, or the default.
int connectToHub(const std::string& socketPath);

/// The default: socket(AF_UNIX, SOCK_STREAM) and connect to the path.
int connectUnixSocket(const std::string& socketPath);

} // namespace HVO
