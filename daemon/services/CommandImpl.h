// The daemon's command handler, registered with the command broker as
// module 3's command interface; called on the broker's threads.
#pragma once

#include "HVOCommBroker.h"

namespace AppProtection {

class CommandImpl : public HVO::CommandInterface {
public:
    CommandImpl();
    ~CommandImpl() override;
    /// A command addressed to module 3.
    bool handleCommand(HVO::CommandData& command) override;
    /// The reply to an alert or notification this daemon sent.
    void handleCommandResponse(HVO::CommandResult& result) override;
};

} // namespace AppProtection
