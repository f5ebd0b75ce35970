#include "CommandImpl.h"

#include "TraceLevels.h"

#define CMD_TRACE(threshold, ...) WARD_TRACE(appCmdFlowvalue, threshold, __VA_ARGS__)

namespace AppProtection {

CommandImpl::CommandImpl()
{
    CMD_TRACE(4, L"CommandImpl::CommandImpl - Constructed\n");
}

CommandImpl::~CommandImpl()
{
    CMD_TRACE(4, L"CommandImpl::~CommandImpl - Destroyed\n");
}

bool CommandImpl::handleCommand(HVO::CommandData& command)
{
    CMD_TRACE(2, L"CommandImpl::handleCommand - Received command %d\n", command.getCommandId());
    // TODO: serve 1003, 1004 and 20000 to 20010 (rules, preferences,
    // exclusions, special folders, dashboard, about box) and ignore 1010;
    // until then every command is refused and the broker sends the sender a
    // failure reply.
    return false;
}

void CommandImpl::handleCommandResponse(HVO::CommandResult& result)
{
    CMD_TRACE(0, L"CommandImpl::handleCommandResponse - Reply to command %d\n", result.getBasicCommandData().getCommandId());
    // TODO: hand alert answers (60001) to the alert manager, and deny every
    // pending alert on a failed or incomplete one; no alert is sent yet.
}

} // namespace AppProtection
