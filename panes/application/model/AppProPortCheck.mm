#import "AppProPortCheck.h"
#import "AppProStrings.h"

#include <boost/regex.hpp>

int PortRangeValidateWithRegex(std::string text)
{
    if (text.empty())
        return 0;
    if (text == "ANY_PORT")
        return 1;
    for (const char *name : AppProServiceNames)
        if (text == name)
            return 1;
    static const boost::regex port("[0-9]+");
    static const boost::regex range("[0-9]+-[0-9]+");
    if (boost::regex_match(text, port) || boost::regex_match(text, range))
        return 1;
    return 0;
}

int AppProClampTimeOut(int seconds)
{
    if (seconds < AppProMinTimeOut)
        return AppProMinTimeOut;
    if (seconds > AppProMaxTimeOut)
        return AppProMaxTimeOut;
    return seconds;
}

@implementation AppProCustomNumberFormatter
- (id)init
{
    self = [super init];
    if (self != nil) {
        maxAllowedValue = AppProMaxTimeOut;
        minAllowedValue = AppProMinTimeOut;
    }
    return self;
}

- (int)maxAllowedValue { return maxAllowedValue; }
- (void)setMaxAllowedValue:(int)value { maxAllowedValue = value; }
- (int)minAllowedValue { return minAllowedValue; }
- (void)setMinAllowedValue:(int)value { minAllowedValue = value; }

- (BOOL)isPartialStringValid:(NSString **)partialStringPtr
       proposedSelectedRange:(NSRangePointer)proposedSelRangePtr
              originalString:(NSString *)origString
       originalSelectedRange:(NSRange)origSelRange
            errorDescription:(NSString **)error
{
    (void)origString;
    NSString *proposed = *partialStringPtr;
    NSUInteger from = origSelRange.location;
    NSUInteger to = proposedSelRangePtr != NULL ? proposedSelRangePtr->location : [proposed length];
    NSString *inserted = @"";
    if (to > from && to <= [proposed length])
        inserted = [proposed substringWithRange:NSMakeRange(from, to - from)];
    for (NSUInteger i = 0; i < [inserted length]; i++) {
        unichar c = [inserted characterAtIndex:i];
        if (c < '0' || c > '9') {
            if (error != NULL)
                *error = @"Input is not an integer";
            return NO;
        }
    }
    NSString *maxText = [NSString stringWithFormat:@"%d", maxAllowedValue];
    if ([proposed length] > [maxText length]) {
        if (error != NULL)
            *error = @"Input is greater than maxvakue";
        return NO;
    }
    if ([proposed intValue] <= maxAllowedValue) {
        if (error != NULL)
            *error = nil;
        return YES;
    }
    *partialStringPtr = maxText;
    return NO;
}

- (NSString *)stringForObjectValue:(id)value
{
    int v = 0;
    if (value != nil && [value respondsToSelector:@selector(intValue)])
        v = [value intValue];
    if (v <= minAllowedValue)
        return [NSString stringWithFormat:@"%d", minAllowedValue];
    if (v >= maxAllowedValue)
        return [NSString stringWithFormat:@"%d", maxAllowedValue];
    return [NSString stringWithFormat:@"%d", v];
}

- (BOOL)getObjectValue:(id *)value forString:(NSString *)text errorDescription:(NSString **)error
{
    (void)error;
    if (value != NULL)
        *value = [NSNumber numberWithInt:[text intValue]];
    return YES;
}
@end
