// The daemon's health check, registered with the command broker; called on
// the broker's threads.
#pragma once

#include "HVOCommBroker.h"

namespace AppProtection {

class HealthCheckImpl : public HVO::HealthCheckInterface {
public:
    HealthCheckImpl();
    ~HealthCheckImpl() override;
    /// Persists the profile; always true.
    bool handleHealthCheck() override;
};

} // namespace AppProtection
