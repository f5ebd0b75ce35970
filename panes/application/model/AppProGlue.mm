#import "AppProGlue.h"
#import "AppProConversion.h"
#import "AppProExclusionController.h"
#import "AppProPrefsController.h"
#import "AppProRule.h"

#include <string>
#include <vector>

#include "AppProtError.h"
#include "AppProtRecords.h"
#include "AppRecordPayload.h"
#include "CommandData.h"
#include "HVOCommBroker.h"

using AppProtection::AppProtPrefsData;
using AppProtection::BasicAppRecord;

const char *const AppProBrokerSocket = "/usr/local/Vantrel/hvo/var/hvodsocket";

namespace {

enum Command {
    APP_PROT_ADD_RULES = 20000,
    APP_PROT_DELETE_RULE = 20001,
    APP_PROT_MODIFY_RULE = 20002,
    APP_PROT_GET_RULES = 20003,
    APP_PROT_GET_PREFS = 20004,
    APP_PROT_SET_PREFS = 20005,
    APP_PROT_GET_EXCLUSIONS = 20006,
    APP_PROT_SET_EXCLUSIONS = 20007,
};

// A code no reply carries: "the reply held no code".
constexpr int NoCode = -1;

/// Sends `command` and waits for its reply; false when the broker is
/// missing or the reply is not completed with its status set. Broker and
/// archive exceptions pass to the caller.
bool exchange(HVO::CommandData &command, HVO::CommandResult &reply)
{
    HVO::HVOCommBroker *broker = HVO::HVOCommBroker::getInstance(AppProBrokerSocket);
    if (broker == nullptr)
        return false;
    broker->sendCommand(command, &reply, true, 45);
    return reply.getCommandCompleted() && reply.getCommandStatus();
}

/// A rule command with one record per row; codes other than 20000 are shown.
int ruleCommand(int commandId, const std::vector<BasicAppRecord> &constRecords)
{
    try {
        std::vector<BasicAppRecord> records = constRecords;
        HVO::CommandData command(commandId, APP_PROTECTION_HVK_ID, false);
        command.setCustomData(records);
        HVO::CommandResult reply;
        if (!exchange(command, reply))
            return -1;
        std::vector<AppProtection::AppProtError> codes;
        reply.getCustomData(codes);
        int result = 0;
        for (AppProtection::AppProtError code : codes) {
            if (code != AppProtection::SUCCESS) {
                HandleErrorCode(code);
                result = -1;
            }
        }
        return result;
    } catch (...) {
        return -1;
    }
}

int oneRow(int commandId, AppProRule *row)
{
    BasicAppRecord record;
    if (!AppProRecordFromRow(row, record))
        return -1;
    return ruleCommand(commandId, std::vector<BasicAppRecord>(1, record));
}

/// 20004: the daemon's settings.
bool readPrefs(AppProtPrefsData &prefs)
{
    try {
        HVO::CommandData command(APP_PROT_GET_PREFS, APP_PROTECTION_HVK_ID, false);
        HVO::CommandResult reply;
        if (!exchange(command, reply))
            return false;
        AppProtPrefsData read;
        reply.getCustomData(read);
        prefs = read;
        return true;
    } catch (...) {
        return false;
    }
}

/// A command whose reply is one result code: 0 only for a 20000 reply.
template <class Payload> int codeCommand(int commandId, Payload &payload)
{
    try {
        HVO::CommandData command(commandId, APP_PROTECTION_HVK_ID, false);
        command.setCustomData(payload);
        HVO::CommandResult reply;
        if (!exchange(command, reply))
            return -1;
        int code = NoCode;
        if (HVO::PayloadAccess::hasInput(reply)) {
            AppProtection::AppProtError read = AppProtection::UNEXPECTED_EXCEPTION;
            reply.getCustomData(read);
            code = read;
        }
        return code == AppProtection::SUCCESS ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

int unknownActionFromTag(int tag)
{
    switch (tag) {
    case 100: return 1;
    case 101: return 2;
    default: return 3;
    }
}

int tagFromUnknownAction(int action)
{
    switch (action) {
    case 1: return 100;
    case 2: return 101;
    default: return 102;
    }
}

void takeControllerSettings(AppProtPrefsData &prefs)
{
    AppProPrefsController *c = [AppProPrefsController sharedAppProPrefsController];
    prefs.setPromptTimeout([c timeOut]);
    prefs.setUnknownAppAction(unknownActionFromTag([c unknownModifidAllowDenyPromptOption]));
    prefs.setAllowAppleSignedBinaries([c isAllowAppleSignedBinaries] == YES);
}

} // namespace

void HandleErrorCode(int code)
{
    NSString *key;
    switch (code) {
    case AppProtection::DUPLICATE_ENTRY: key = @"DuplicateEntry"; break;
    case AppProtection::ENTRY_NOT_FOUND: key = @"RuleNotFound"; break;
    case AppProtection::CONFLICTING_ENTRY: key = @"ConflictingEntry"; break;
    case AppProtection::NOT_A_VALID_EXECUTABLE: key = @"NotAValidExecutable"; break;
    default: key = @"UnknownError"; break;
    }
    [[AppProPrefsController sharedAppProPrefsController] displayErrorMsg:key];
}

int GetAllAppProRules(void)
{
    std::list<BasicAppRecord> records;
    try {
        HVO::CommandData command(APP_PROT_GET_RULES, APP_PROTECTION_HVK_ID, false);
        HVO::CommandResult reply;
        if (!exchange(command, reply))
            return -1;
        reply.getCustomData(records);
    } catch (...) {
        return -1;
    }
    for (const BasicAppRecord &record : records)
        addRuleToAppProRulesArray(record);
    return 0;
}

int AddNewAppProRule(AppProRule *row) { return oneRow(APP_PROT_ADD_RULES, row); }

int ModifyAppProRule(AppProRule *row) { return oneRow(APP_PROT_MODIFY_RULE, row); }

int EnableAppProRules(NSArray *rows)
{
    NSMutableArray *marked = [NSMutableArray array];
    for (NSUInteger i = 0; i < [rows count]; i++)
        if ([[rows objectAtIndex:i] isRuleModified])
            [marked addObject:[rows objectAtIndex:i]];
    // Every marked row is checked first, so that a bad one leaves all rows
    // as they were.
    BasicAppRecord probe;
    for (NSUInteger i = 0; i < [marked count]; i++)
        if (!AppProRecordFromRow([marked objectAtIndex:i], probe))
            return -1;
    std::vector<BasicAppRecord> records;
    for (NSUInteger i = 0; i < [marked count]; i++) {
        AppProRule *row = [marked objectAtIndex:i];
        [row setIsRuleModified:NO];
        [row setIsRuleEnabled:1];
        BasicAppRecord record;
        if (!AppProRecordFromRow(row, record))
            return -1;
        records.push_back(record);
    }
    return ruleCommand(APP_PROT_MODIFY_RULE, records);
}

int DeleteAppProRules(NSArray *rows)
{
    std::vector<BasicAppRecord> records;
    for (NSUInteger i = 0; i < [rows count]; i++) {
        BasicAppRecord record;
        if (!AppProRecordFromRow([rows objectAtIndex:i], record))
            return -1;
        records.push_back(record);
    }
    return ruleCommand(APP_PROT_DELETE_RULE, records);
}

int GetAppProPreferences(void)
{
    AppProtPrefsData prefs;
    if (!readPrefs(prefs))
        return -1;
    AppProPrefsController *c = [AppProPrefsController sharedAppProPrefsController];
    [c setIsAllowAppleSignedBinaries:prefs.getAllowAppleSignedBinaries() ? YES : NO];
    [c setUnknownModifidAllowDenyPromptOption:tagFromUnknownAction(prefs.getUnknownAppAction())];
    [c setTimeOut:prefs.getPromptTimeout()];
    return 0;
}

int SetAppProPreferences(void)
{
    AppProtPrefsData prefs;
    if (!readPrefs(prefs))
        return -1;
    takeControllerSettings(prefs);
    return codeCommand(APP_PROT_SET_PREFS, prefs);
}

bool GetAppProGeneralPrefsStatus(void)
{
    AppProtPrefsData prefs;
    return readPrefs(prefs) && prefs.getEnableAppProtection();
}

int SetAppProGeneralPrefsStatus(bool enable)
{
    AppProtPrefsData prefs;
    if (!readPrefs(prefs))
        return -1;
    prefs.setEnableAppProtection(enable);
    return codeCommand(APP_PROT_SET_PREFS, prefs);
}

int GetExclusionList(void)
{
    std::vector<std::string> paths;
    try {
        HVO::CommandData command(APP_PROT_GET_EXCLUSIONS, APP_PROTECTION_HVK_ID, false);
        HVO::CommandResult reply;
        if (!exchange(command, reply))
            return -1;
        reply.getCustomData(paths);
    } catch (...) {
        return -1;
    }
    NSMutableArray *rows = [NSMutableArray array];
    for (const std::string &path : paths) {
        NSString *text = [NSString stringWithUTF8String:path.c_str()];
        if (text == nil)
            continue;
        [rows addObject:[[[AppProExclusionData alloc] initWithApplicationPath:text] autorelease]];
    }
    [[AppProExclusionController sharedAppProExclusionController] addExclusions:rows];
    return 0;
}

int SetExclusionList(NSArray *rows)
{
    std::vector<std::string> paths;
    for (NSUInteger i = 0; i < [rows count]; i++) {
        const char *p = [[[rows objectAtIndex:i] applicationNameWithAbsPath] UTF8String];
        paths.push_back(p != nullptr ? p : "");
    }
    return codeCommand(APP_PROT_SET_EXCLUSIONS, paths);
}
