#import "AppProRule.h"
#import "AppProPorts.h"
#import "AppProStrings.h"

// Setters that keep a copy and do nothing for the value already held.
#define COPY_SETTER(field, value)        \
    if ((value) != (field)) {            \
        id old = (field);                \
        (field) = [(value) copy];        \
        [old release];                   \
    }
#define RETAIN_SETTER(field, value)      \
    if ((value) != (field)) {            \
        id old = (field);                \
        (field) = [(value) retain];      \
        [old release];                   \
    }

@implementation AppProRule
- (id)init
{
    self = [super init];
    if (self != nil) {
        isRuleEnabled = 1;
        statusTag = AppProStatusAllowWithNetwork;
        detailedRule = [[NSMutableArray alloc] init];
    }
    return self;
}

- (void)dealloc
{
    [applicationName release];
    [applicationIcon release];
    [applicationNameWithAbsPath release];
    [detailedRule release];
    [super dealloc];
}

- (void)initRuleObject
{
    isRuleEnabled = 1;
    [self setApplicationName:nil];
    [self setApplicationIcon:nil];
    [self setApplicationNameWithAbsPath:nil];
    statusTag = AppProStatusAllowWithNetwork;
    isDetailTableEnabled = NO;
    [detailedRule removeAllObjects];
}

- (id)initWithApplicationPath:(NSString *)path
{
    id<AppProPathInfo> info = AppProPathInfoPort();
    [self setApplicationName:[info displayNameAtPath:path]];
    [self setApplicationIcon:[info iconForPath:path]];
    [self setApplicationNameWithAbsPath:path];
    return self;
}

- (int)isRuleEnabled { return isRuleEnabled; }
- (void)setIsRuleEnabled:(int)value
{
    if (value == -1) {
        isRuleEnabled = isRuleModified ? -1 : 1;
        return;
    }
    isRuleEnabled = value;
    isRuleModified = NO;
}

- (BOOL)isRuleModified { return isRuleModified; }
- (void)setIsRuleModified:(BOOL)value
{
    isRuleModified = value;
    if (value)
        [self setIsRuleEnabled:-1];
}

- (NSString *)applicationName { return applicationName; }
- (void)setApplicationName:(NSString *)value { COPY_SETTER(applicationName, value) }
- (id)applicationIcon { return applicationIcon; }
- (void)setApplicationIcon:(id)value { RETAIN_SETTER(applicationIcon, value) }
- (NSString *)applicationNameWithAbsPath { return applicationNameWithAbsPath; }
- (void)setApplicationNameWithAbsPath:(NSString *)value { COPY_SETTER(applicationNameWithAbsPath, value) }

- (int)statusTag { return statusTag; }
- (void)setStatusTag:(int)value
{
    statusTag = value;
    [self setIsDetailTableEnabled:(value == AppProStatusAllowRestricted)];
}

- (BOOL)isDetailTableEnabled { return isDetailTableEnabled; }
- (void)setIsDetailTableEnabled:(BOOL)value { isDetailTableEnabled = value; }

- (NSMutableArray *)detailedRule { return detailedRule; }
- (void)setDetailedRule:(NSMutableArray *)list
{
    if (list == detailedRule)
        return;
    NSMutableArray *old = detailedRule;
    detailedRule = list != nil ? [list mutableCopy] : [[NSMutableArray alloc] init];
    [old release];
}

- (void)copyRule:(AppProRule *)other
{
    [self setIsRuleEnabled:[other isRuleEnabled]];
    [self setApplicationName:[other applicationName]];
    [self setStatusTag:[other statusTag]];
    [self setIsDetailTableEnabled:[other isDetailTableEnabled]];
    [self setDetailedRule:[other detailedRule]];
}

- (id)copyWithZone:(NSZone *)zone
{
    AppProRule *copy = [[AppProRule allocWithZone:zone] init];
    // Enabled before the mark: a mixed value survives the copy.
    [copy setIsRuleEnabled:isRuleEnabled];
    [copy setIsRuleModified:isRuleModified];
    [copy setApplicationName:applicationName];
    [copy setApplicationIcon:applicationIcon];
    [copy setApplicationNameWithAbsPath:applicationNameWithAbsPath];
    [copy setStatusTag:statusTag];
    [copy setIsDetailTableEnabled:isDetailTableEnabled];
    [copy setDetailedRule:detailedRule];
    return copy;
}

- (NSString *)displayName { return applicationName; }
- (id)displayIcon { return applicationIcon; }
@end

@implementation AppProDetailedRule
- (void)dealloc
{
    [ipSubnetString release];
    [portRangeString release];
    [super dealloc];
}

- (int)protocolTag { return protocolTag; }
- (void)setProtocolTag:(int)value { protocolTag = value; }
- (NSString *)ipSubnetString { return ipSubnetString; }
- (void)setIpSubnetString:(NSString *)value { COPY_SETTER(ipSubnetString, value) }
- (NSString *)portRangeString { return portRangeString; }
- (void)setPortRangeString:(NSString *)value { COPY_SETTER(portRangeString, value) }
- (int)directionTag { return directionTag; }
- (void)setDirectionTag:(int)value { directionTag = value; }
- (int)actionTag { return actionTag; }
- (void)setActionTag:(int)value { actionTag = value; }
- (int)orderNumber { return orderNumber; }
- (void)setOrderNumber:(int)value { orderNumber = value; }

- (NSString *)getLocalisedString:(NSString *)key
{
    try {
        return AppProLocalized(key, @"AppProPrefs");
    } catch (...) {
        return key;
    }
}
@end
