// The rule model: tags and defaults, the rule built for the service (texts
// on the wire), a detailed rule shown in the sheet, and the rule commands.
#import <Foundation/Foundation.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#import "FWPRuleCommands.h"
#import "FWPSend.h"
#include "FWRecords.h"
#import "PaneSupport.h"
#import "RulesContainer.h"

using FirewallSDK::FWDetailedData;
using fwptest::FakeService;
using fwptest::ns;
using fwptest::utf8;
using fwptest::kHeader;

namespace {

struct Pool {
    Pool() { pool = [[NSAutoreleasePool alloc] init]; }
    ~Pool() { [pool release]; }
    NSAutoreleasePool *pool;
};

RulesContainer *newRule()
{
    return [[[RulesContainer alloc] init] autorelease];
}

TEST(FirewallRuleModel, ANewRuleAndItsTags)
{
    Pool pool;
    RulesContainer *r = newRule();
    EXPECT_EQ(FWP_TAG_ALLOW, [r rulesActionAsInt]);
    EXPECT_EQ("allow", utf8([r rulesActionAsString]));
    EXPECT_EQ(FWP_TAG_INCOMING, [r directionAsInt]);
    EXPECT_EQ("incoming", utf8([r directionAsString]));
    EXPECT_EQ(FWP_TAG_IP, [r protocolAsInt]);
    EXPECT_EQ("me", utf8([r getIPAddressForSource]));
    EXPECT_EQ("any", utf8([r getIPAddressForDestination]));
    EXPECT_EQ("", utf8([r portSource]));
    EXPECT_EQ(0, [r rulesNumber]);

    [r setPortSource:@"22"];
    [r setProtocolAsInt:FWP_TAG_ICMP];
    EXPECT_FALSE([r isPortEnabled]);
    EXPECT_EQ("", utf8([r portSource]));
    [r setProtocolAsInt:FWP_TAG_TCP];
    EXPECT_TRUE([r isPortEnabled]);
    EXPECT_EQ("", utf8([r portSource]));

    [r setRulesActionAsInt:FWP_TAG_DENY];
    EXPECT_EQ("Deny", utf8([r rulesActionAsString]));
    [r setDirectionAsInt:FWP_TAG_OUTGOING];
    EXPECT_EQ("outgoing", utf8([r directionAsString]));
    [r setNetworkInterface:@"en0"];
    EXPECT_EQ("all", utf8([r networkInterface]));
    [r setRulesNameAsString:nil];
    EXPECT_EQ("", utf8([r rulesNameAsString]));

    struct Tag {
        int action, actionTag, direction, directionTag;
    } tags[] = {{2, FWP_TAG_DENY, 3, FWP_TAG_OUTGOING}, {1, FWP_TAG_ALLOW, 2, FWP_TAG_INCOMING},
                {1, FWP_TAG_ALLOW, 1, FWP_TAG_BOTH}, {1, FWP_TAG_ALLOW, 0, FWP_TAG_BOTH}};
    for (auto &t : tags) {
        EXPECT_EQ(t.actionTag, FWPActionTag(t.action));
        EXPECT_EQ(t.directionTag, FWPDirectionTag(t.direction));
    }
}

TEST(FirewallRuleModel, RulesOnTheWire)
{
    Pool pool;
    FakeService service;
    RulesContainer *web = newRule();
    [web setRulesNameAsString:@"web"];
    [web setProtocolAsInt:FWP_TAG_TCP];
    [web setPortDestination:@"80"];
    EXPECT_EQ(0, FWPAddRule(web));
    EXPECT_EQ(kHeader + L"0 0 5122 3 web 5 allow 2 268435456 0 0 1 0 0 0 0 3 tcp 0 0 0 0 2 me 0 0 1 0 0 0 0 0  0 0 3 "
                        L"any 1 0 0 2 80 1 0 0 0 0 0 0 -1 0 0 0 0",
              service.text(10211));

    // A change: its number, deny, a typed address; a name with its UTF-8
    // bytes and its leading blank.
    service.clear();
    RulesContainer *cafe = newRule();
    [cafe setRulesNameAsString:ns(" Caf\xC3\xA9")];
    [cafe setRulesNumber:5123];
    [cafe setRulesActionAsInt:FWP_TAG_DENY];
    [cafe setDirectionAsInt:FWP_TAG_BOTH];
    [cafe setSourcePopUp:FWP_TAG_TYPED];
    [cafe setSourceAddress:@"10.0.0.0/8"];
    EXPECT_EQ(0, FWPModifyRule(cafe));
    EXPECT_EQ(kHeader + L"0 0 5123 6  Caf\u00c3\u00a9 4 deny 1 268435456 0 0 1 0 0 0 0 2 ip 0 0 0 0 10 10.0.0.0/8 0 0 1 0 "
                        L"0 0 0 0  0 0 3 any 1 0 0 0  1 0 0 0 0 0 0 -1 0 0 0 0",
              service.text(10210));

    // Tags no control has: nothing is sent.
    struct Bad {
        const char *what;
        int action, direction, protocol;
    } bad[] = {
        {"action", 1234, FWP_TAG_BOTH, FWP_TAG_TCP},
        {"direction", FWP_TAG_ALLOW, 9, FWP_TAG_TCP},
        {"protocol", FWP_TAG_ALLOW, FWP_TAG_BOTH, 7},
    };
    for (auto &b : bad) {
        SCOPED_TRACE(b.what);
        service.clear();
        RulesContainer *r = newRule();
        [r setRulesNameAsString:@"x"];
        [r setRulesNumber:5122];
        [r setRulesActionAsInt:b.action];
        [r setDirectionAsInt:b.direction];
        [r setProtocolAsInt:b.protocol];
        EXPECT_EQ(-1, FWPAddRule(r));
        EXPECT_EQ(-1, FWPModifyRule(r));
        EXPECT_TRUE(service.ids().empty());
    }

    // A number the record refuses: nothing sent, -1.
    service.clear();
    RulesContainer *zero = newRule();
    [zero setRulesNameAsString:@"x"];
    EXPECT_EQ(-1, FWPModifyRule(zero));
    EXPECT_TRUE(service.ids().empty());
}

TEST(FirewallRuleModel, ADetailedRuleInTheSheet)
{
    Pool pool;
    FakeService service;
    struct Case {
        std::string src, dst, srcPort, protocol;
        int srcTag, dstTag, protocolTag;
        std::string srcText, portShown;
    } cases[] = {
        {"10.0.0.0/8", "any", "22", "tcp", FWP_TAG_TYPED, FWP_TAG_ANY, FWP_TAG_TCP, "10.0.0.0/8", "22"},
        {"me", "me", "22", "icmp", FWP_TAG_ME, FWP_TAG_ME, FWP_TAG_ICMP, "", ""},
        {"any", "host.example", "", "gre", FWP_TAG_ANY, FWP_TAG_TYPED, FWP_TAG_IP, "", ""},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.src + " " + c.protocol);
        FWDetailedData d;
        d.setSrcIp(c.src);
        d.setDestIp(c.dst);
        d.setSrcPort(FWDetailedData::FIELD_PLAIN, c.srcPort);
        d.setProtocol(FWDetailedData::FIELD_PLAIN, c.protocol);
        service.answer(10206, d);
        service.clear();
        RulesContainer *sheet = newRule();
        [sheet setSourceAddress:@"stale"];
        EXPECT_EQ(0, FWPGetDetailedRule(sheet, 5122));
        EXPECT_EQ(kHeader + L"5122", service.text(10206));
        EXPECT_EQ(c.srcTag, [sheet sourcePopUp]);
        EXPECT_EQ(c.dstTag, [sheet destinationPopUp]);
        EXPECT_EQ(c.protocolTag, [sheet protocolAsInt]);
        EXPECT_EQ(c.srcText, utf8([sheet sourceAddress]));
        EXPECT_EQ(c.portShown, utf8([sheet portSource]));
        EXPECT_GT([[sheet listOfNetworkInterfaces] count], 0u); // this machine's, then "all"
        EXPECT_EQ("all", utf8([[sheet listOfNetworkInterfaces] lastObject]));
    }
    service.clear();
    EXPECT_EQ(-1, FWPGetDetailedRule(nil, 5122));
    EXPECT_TRUE(service.ids().empty());
}

TEST(FirewallRuleModel, AnInPlaceChange)
{
    Pool pool;
    FakeService service;
    FWDetailedData stored;
    stored.setRuleNo(5123);
    stored.setRuleName("web");
    stored.setAction(FirewallSDK::FW_ACTION_ALLOW);
    stored.setTrafficDirection(FirewallSDK::FW_DIRECTION_IN);
    service.answer(10206, stored);
    RulesContainer *row = newRule();
    [row setRulesNumber:5123];
    [row setRulesActionAsInt:FWP_TAG_DENY];
    [row setDirectionAsInt:FWP_TAG_OUTGOING];
    EXPECT_EQ(0, ChangeFireWallRule(row));
    EXPECT_EQ((std::vector<int>{10206, 10210}), service.ids());
    EXPECT_EQ(0u, service.text(10210).find(kHeader + L"0 0 5123 3 web 4 deny 3 0"));

    service.clear();
    service.fail(10206);
    EXPECT_EQ(-1, ChangeFireWallRule(row));
    EXPECT_EQ(std::vector<int>{10206}, service.ids());

    const int refused = 13049;
    service.answer(10206, stored);
    service.fail(10210, &refused);
    EXPECT_EQ(13049, ChangeFireWallRule(row));
}

TEST(FirewallRuleModel, TheInterfaceList)
{
    Pool pool;
    FakeService service;
    RulesContainer *sheet = newRule();
    EXPECT_EQ(-1, FWPGetInterfaceList(sheet)); // a true reply without its list
    EXPECT_EQ(nil, [sheet listOfNetworkInterfaces]);
    service.answer(10204, FirewallSDK::NetworkInterfaceInfo());
    EXPECT_EQ(0, FWPGetInterfaceList(sheet)); // an empty list: this machine's
    EXPECT_EQ("all", utf8([[sheet listOfNetworkInterfaces] lastObject]));
    EXPECT_EQ("all", utf8([sheet networkInterface]));
}

} // namespace
