// Rule rows to the daemon's rule records and back.
#import <Foundation/Foundation.h>

#include <list>

#include "BasicAppRecord.h"
#include "NetworkRule.h"

@class AppProRule;

/// The network rules of `rows` (AppProDetailedRule), in order. Writes 0 to
/// `status` when every row converted; at the first invalid address or port
/// shows "InvalidIPAddress" or "InvalidPortRange", writes -1 and answers the
/// rules converted so far.
std::list<AppProtection::NetworkRule> populateNWRuleList(NSMutableArray *rows, int *status);

/// The record of `row`; false (the invalid sub-rule already reported) when
/// a network row does not convert.
bool AppProRecordFromRow(AppProRule *row, AppProtection::BasicAppRecord &record);

/// A new row for `record`, handed to the shared rules controller; a group
/// that is not UTF-8 is skipped.
void addRuleToAppProRulesArray(AppProtection::BasicAppRecord record);

/// Status tag <-> (execAllowed, nwAction).
void AppProStatusToRecord(int tag, AppProtection::BasicAppRecord &record);
int AppProStatusFromRecord(const AppProtection::BasicAppRecord &record);
