#import "ZRMStringFormatter.h"

@implementation ZRMStringFormatter
- (int)maxStringSize { return maxStringSize; }
- (void)setMaxStringSize:(int)size { maxStringSize = size; }

- (NSString *)stringForObjectValue:(id)value
{
    if (value == nil)
        return @"";
    if ([value isKindOfClass:[NSString class]])
        return value;
    return [value description];
}

- (BOOL)getObjectValue:(id *)value forString:(NSString *)text errorDescription:(NSString **)error
{
    (void)error;
    if (value != NULL)
        *value = text;
    return YES;
}

- (BOOL)isPartialStringValid:(NSString *)partial newEditingString:(NSString **)replacement
            errorDescription:(NSString **)error
{
    if (maxStringSize > 0 && [partial length] > (NSUInteger)maxStringSize) {
        if (replacement != NULL)
            *replacement = [partial substringToIndex:(NSUInteger)maxStringSize];
        if (error != NULL)
            *error = @"Input is too long";
        return NO;
    }
    return YES;
}
@end
