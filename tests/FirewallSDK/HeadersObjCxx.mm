// The record headers as the firewall pane compiles them: Objective-C++, after
// Foundation, with the pane-only members declared.
#import <Foundation/Foundation.h>

#include "FWRecords.h"
#include "FWSerialize.h"
#include "FirewallException.h"

@interface FWHeaderProbe : NSObject
- (int)protocolOf:(FirewallSDK::FWDetailedData*)rule;
@end

@implementation FWHeaderProbe
- (int)protocolOf:(FirewallSDK::FWDetailedData*)rule
{
    NSString* name = [NSString stringWithUTF8String:rule->getRuleName().c_str()];
    (void)name;
    FirewallSDK::NetworkInterfaceInfo info = rule->getNetworkInterface();
    return rule->getProtocol() + info.getIndex();
}
@end
