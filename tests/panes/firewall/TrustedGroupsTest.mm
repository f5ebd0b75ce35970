// The trusted-groups tab's controller on a display: what naming, renaming,
// checking and address edits send, and the rows after refusals.
#import <AppKit/AppKit.h>

#include <map>
#include <string>
#include <vector>

#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>
#include <gtest/gtest.h>

#import "FWPPresenter.h"
#import "FWPSend.h"
#include "FWServiceRecords.h"
#import "PaneSupport.h"
#import "RecordingPresenter.h"
#import "TrustedSources.h"

using fwptest::FakeService;
using Scope = fwptest::PresenterScope;
using fwptest::utf8;
using fwptest::kHeader;
using fwptest::Ids;

namespace {

FWService::TrustedList office()
{
    FWService::TrustedList list;
    list.getTrustedList()[L"Office"].setMachineAddr(" 10.1.1.1 ");
    return list;
}

std::vector<std::string> names(TrustedSources *c)
{
    std::vector<std::string> out;
    NSArray *rows = [[c groupsController] arrangedObjects];
    for (NSUInteger i = 0; i < [rows count]; ++i)
        out.push_back(utf8([[rows objectAtIndex:i] trustedListName]));
    return out;
}

TrustedObjects *row(TrustedSources *c, NSUInteger i)
{
    return [[[c groupsController] arrangedObjects] objectAtIndex:i];
}

TEST(FirewallTrustedGroups, RenamingKeepsTheGroup)
{
    Scope scope;
    FakeService service;
    TrustedSources *c = [TrustedSources sharedTrustedSources];
    service.answer(10212, office());
    service.clear();
    [c refreshUI];
    EXPECT_EQ(Ids{10212}, service.ids()); // loading sends nothing else
    ASSERT_EQ(std::vector<std::string>{"Office"}, names(c));
    [[c groupsController] setSelectionIndex:0];
    [c tableViewSelectionDidChange:nil];

    service.clear();
    [row(c, 0) setTrustedListName:@"Lab"];
    EXPECT_EQ((Ids{10216, 10215}), service.ids());
    EXPECT_EQ(kHeader + L"0 0 1 0 6 Office", service.text(10216));
    EXPECT_EQ(kHeader + L"0 0 0 0 1 0 0 0 3 Lab 0 0 0 1 0 0 0 1 0 10  10.1.1.1 ", service.text(10215));

    // The new name refused: the old group comes back, the row too.
    const int exists = 13037;
    int sets = 0;
    service.on(10215, [&](HVO::CommandData &, HVO::CommandResult &r) {
        if (sets++ == 0) {
            r.setCommandStatus(false);
            int code = exists;
            r.setCustomData(code);
        }
        return true;
    });
    service.clear();
    [row(c, 0) setTrustedListName:@"Office"]; // back first, accepted
    sets = 0;
    service.clear();
    [row(c, 0) setTrustedListName:@"Taken"];
    EXPECT_EQ((Ids{10216, 10215, 10215}), service.ids());
    EXPECT_EQ(0u, service.text(10215, 1).find(kHeader + L"0 0 0 0 1 0 0 0 6 Office "));
    EXPECT_EQ("Trusted Group Name Already Exist", scope.panels().back());
    EXPECT_EQ(std::vector<std::string>{"Office"}, names(c));
}

TEST(FirewallTrustedGroups, NamingCheckingAndAddresses)
{
    Scope scope;
    FakeService service;
    TrustedSources *c = [TrustedSources sharedTrustedSources];
    service.answer(10212, office());
    [c refreshUI];
    [[c groupsController] setSelectionIndex:0];
    [c tableViewSelectionDidChange:nil];

    // A new group while Office is selected: the new one is sent.
    service.clear();
    [c AddGroup:nil];
    EXPECT_EQ(1u, [[[c groupsController] selectedObjects] count]);
    TrustedObjects *fresh = row(c, 1);
    [fresh setIsSelect:NO]; // unnamed: nothing to send
    EXPECT_EQ(-1, EnableTrustedList(fresh));
    EXPECT_TRUE(service.ids().empty());
    [fresh setTrustedListName:@"New"];
    EXPECT_EQ(Ids{10215}, service.ids());
    EXPECT_EQ(kHeader + L"0 0 0 0 1 0 0 0 3 New 0 0 0 0 0 0 0 0 0", service.text(10215));
    EXPECT_EQ(1, [fresh isNameSet]);

    // nil keeps the name.
    [fresh setTrustedListName:nil];
    EXPECT_EQ("New", utf8([fresh trustedListName]));
    EXPECT_EQ(1, [fresh isNameSet]);

    // Blanks are refused.
    id proposed = @"   ";
    NSError *error = nil;
    EXPECT_FALSE([fresh validateTrustedListName:&proposed error:&error]);
    ASSERT_NE(nil, error);
    EXPECT_EQ("NSCocoaErrorDomain", utf8([error domain]));
    EXPECT_EQ(3072, [error code]);
    EXPECT_EQ("Invalid Exclusion list", utf8([error localizedDescription]));
    EXPECT_EQ("Invalid GroupName", scope.panels().back());
    proposed = @" Lab ";
    EXPECT_TRUE([fresh validateTrustedListName:&proposed error:&error]);
    EXPECT_EQ("Lab", utf8(proposed));

    // Unchecking Office sends its name mapped to false.
    service.clear();
    [row(c, 0) setIsSelect:NO];
    EXPECT_EQ(kHeader + L"0 0 1 0 0 0 6 Office 0", service.text(10213));

    // An address edit sends its own group's addresses, trimmed.
    [[c groupsController] setSelectionIndex:1]; // another group selected
    [c tableViewSelectionDidChange:nil];
    service.clear();
    TrustedIPAddress *address = [[row(c, 0) trustedLists] objectAtIndex:0];
    [address setIpAddress:@" 10.2.2.2 "];
    EXPECT_EQ(Ids{10214}, service.ids());
    EXPECT_EQ(kHeader + L"0 0 1 0 0 0 6 Office 0 0 1 0 8 10.2.2.2", service.text(10214));

    // A refused enable: the error, then the tab from the service.
    service.fail(10213);
    service.clear();
    [row(c, 0) setIsSelect:YES];
    EXPECT_EQ((Ids{10213, 10212}), service.ids());
    EXPECT_EQ("unknown error", scope.panels().back());
}

} // namespace
