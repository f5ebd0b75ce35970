#import "AppProStrings.h"
#import "PaneStrings.h"

const char *const AppProServiceNames[16] = {
    "FTP", "SSH", "SMTP", "Telnet", "DNS", "DHCP Server", "DHCP Client", "TFTP",
    "HTTP", "POP3", "NTP", "SMB", "IMAP", "Airport", "LDAP", "HTTPS",
};

static NSBundle *fixtureBundle = nil;

NSBundle *AppProResourceBundle(void) { return PaneResourceBundle(fixtureBundle, [AppProPrefsStrings class]); }
void AppProSetResourceBundle(NSBundle *bundle) { PaneKeepBundle(&fixtureBundle, bundle); }
NSString *AppProLocalized(NSString *key, NSString *table) { return PaneLocalized(AppProResourceBundle(), key, table); }

@implementation AppProPrefsStrings
- (NSString *)retriveLocalisedString:(NSString *)key
{
    return AppProLocalized(key, @"AppProPrefs");
}

- (id)init
{
    self = [super init];
    if (self == nil)
        return nil;
    const PaneText fields[] = {
        {&rulesString, @"rules"},
        {&exclusionString, @"exclusions"},
        {&appleSignedBinariesString, @"applesignedbinaries"},
        {&unknownModifiedApplicationString, @"unknown/modified"},
        {&applicationNameString, @"applicationname"},
        {&pathString, @"path"},
        {&statusString, @"status"},
        {&forString, @"for"},
        {&secondsString, @"seconds"},
        {&rulesTabHeadingString, @"rulesheading"},
        {&exclusionTabHeadingString, @"exclusionheading"},
        {&allowString, @"allow"},
        {&denyString, @"deny"},
        {&allowExecutionWithNWAccessString, @"allowexecutionwithnwaccess"},
        {&allowExecutionWithoutNWAccessString, @"allowexecutionwithoutnwaccess"},
        {&allowExecutionWithRestrictedAccessString, @"allowexecutionwithrestictednwaccess"},
        {&denyExecutionWithString, @"denyexecution"},
        {&promptString, @"prompt"},
        {&tcpString, @"tcp"},
        {&udpString, @"udp"},
        {&bothString, @"both"},
        {&allowallString, @"allowall"},
        {&denyallString, @"denyall"},
        {&customString, @"custom"},
        {&incomingString, @"incoming"},
        {&outgoingString, @"outgoing"},
        {&anyString, @"any"},
        {&protocolString, @"protocol"},
        {&ipsubnetString, @"ipsubnet"},
        {&portrangeString, @"portrange"},
        {&directionString, @"direction"},
        {&actionString, @"action"},
        {&okString, @"ok"},
        {&cancelString, @"cancel"},
        {&predefinedApplicationsString, @"predefinedApplications"},
        {&existingRulesString, @"existingRules"},
        {&importRulesFromString, @"importRulesFrom"},
        {&allApplicationsString, @"allApplications"},
        {&promptDesString, @"promptDescription"},
    };
    PaneCopyTexts(fields, sizeof fields / sizeof fields[0], AppProResourceBundle(), @"AppProPrefs");
    networkConnectionString = nil;

    portDropDownItem = [[NSMutableArray alloc] init];
    NSString *any = [self retriveLocalisedString:@"any"];
    if (any != nil)
        [portDropDownItem addObject:any];
    for (const char *name : AppProServiceNames) {
        NSString *text = [self retriveLocalisedString:[NSString stringWithUTF8String:name]];
        if (text != nil)
            [portDropDownItem addObject:text];
    }
    IpDropDownItem = [[NSMutableArray alloc] init];
    if (any != nil)
        [IpDropDownItem addObject:any];
    return self;
}

- (void)dealloc
{
    NSString **all[] = {
        &rulesString, &exclusionString, &appleSignedBinariesString, &unknownModifiedApplicationString,
        &applicationNameString, &pathString, &statusString, &networkConnectionString, &forString,
        &secondsString, &rulesTabHeadingString, &exclusionTabHeadingString, &allowString, &denyString,
        &allowExecutionWithNWAccessString, &allowExecutionWithoutNWAccessString,
        &allowExecutionWithRestrictedAccessString, &denyExecutionWithString, &promptString, &tcpString,
        &udpString, &bothString, &allowallString, &denyallString, &customString, &incomingString,
        &outgoingString, &anyString, &protocolString, &ipsubnetString, &portrangeString, &directionString,
        &actionString, &okString, &cancelString, &predefinedApplicationsString, &existingRulesString,
        &importRulesFromString, &allApplicationsString, &promptDesString,
    };
    for (NSString **s : all)
        [*s release];
    [portDropDownItem release];
    [IpDropDownItem release];
    [super dealloc];
}
@end
