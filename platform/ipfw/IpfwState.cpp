#include "IpfwState.h"

#include <unistd.h>

namespace ipfw {

StateLock::StateLock()
{
    m_error = wardfile::makeDirectories(kStateDir);
    if (m_error != 0)
        return;
    wardfile::Locked lock = wardfile::lockFile(kLockFile, wardfile::LockKind::Process, 0644);
    m_fd = lock.fd;
    m_error = lock.error;
}

StateLock::~StateLock()
{
    if (m_fd >= 0)
        ::close(m_fd);  // closing drops the lock
}

} // namespace ipfw
