// The rule editor's commands, on a given sheet model (the rules tab passes
// its own): the interface list, a rule's details, adding and changing.
#import <Foundation/Foundation.h>

@class RulesContainer;

/// 10204: the interfaces offered (this machine's when the reply has none).
int FWPGetInterfaceList(RulesContainer *sheet);
/// 10206: the rule's addresses, ports, protocol and interfaces into the
/// sheet; -1 with nothing sent without a sheet.
int FWPGetDetailedRule(RulesContainer *sheet, int ruleNumber);
/// 10211: a new rule; the service numbers it. The service's code on refusal.
int FWPAddRule(RulesContainer *sheet);
/// 10210: the rule under the sheet's number.
int FWPModifyRule(RulesContainer *sheet);
/// 10206, then 10210 with the row's action and direction.
int ChangeFireWallRule(RulesContainer *row);
