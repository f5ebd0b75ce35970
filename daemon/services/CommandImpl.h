// The daemon's command handler, registered with the command broker as
// module 3's command interface; called on the broker's threads.
#pragma once

#include <vector>

#include "AppProtError.h"
#include "HVOCommBroker.h"

namespace AppProtection {

class CommandImpl : public HVO::CommandInterface {
public:
    CommandImpl();
    ~CommandImpl() override;
    /// A command addressed to module 3. Each served command gets one reply
    /// before this returns: its result, or, when it fails on the way, a
    /// reply with completed and status false. Always true.
    bool handleCommand(HVO::CommandData& command) override;
    /// The reply to an alert or notification this daemon sent.
    void handleCommandResponse(HVO::CommandResult& result) override;

    /// The one code of a 20005 from its setters' codes, in order: 20001
    /// wins, then 20022, then the last other failure; 20000 when all
    /// succeeded.
    static AppProtError mergeSetPrefsResults(const std::vector<AppProtError>& results);

private:
    void handleDashBoard(HVO::CommandData& command);
    void handleAboutBox(HVO::CommandData& command);
    void handleRuleAddition(HVO::CommandData& command);
    void handleRuleDeletion(HVO::CommandData& command);
    void handleRuleModification(HVO::CommandData& command);
    void handleGetRules(HVO::CommandData& command, bool perGroup);
    void handleGetPrefs(HVO::CommandData& command);
    void handleSetPrefs(HVO::CommandData& command);
    void handleGetExclusions(HVO::CommandData& command);
    void handleSetExclusions(HVO::CommandData& command);
    void handleGetSpecialFolders(HVO::CommandData& command);
    void handleSetSpecialFolders(HVO::CommandData& command);
    /// Completed and status false, no payload; failures traced.
    void sendFailureReply(HVO::CommandData& command);
};

} // namespace AppProtection
