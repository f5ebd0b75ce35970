// The port-text check of network sub-rules and the formatter of the prompt
// time-out field.
#import <Foundation/Foundation.h>

#ifdef __cplusplus
#include <string>
/// 1 when `text` is "ANY_PORT", a service name, a number or two numbers
/// joined by a hyphen (the whole text, case-sensitive); 0 otherwise. No
/// number is range-checked here.
int PortRangeValidateWithRegex(std::string text);
#endif

/// The bounds of the prompt time-out in seconds.
enum { AppProMinTimeOut = 10, AppProMaxTimeOut = 300 };
/// `seconds` moved into [AppProMinTimeOut, AppProMaxTimeOut].
int AppProClampTimeOut(int seconds);

@interface AppProCustomNumberFormatter : NSNumberFormatter {
    int maxAllowedValue;
    int minAllowedValue;
}
- (int)maxAllowedValue;
- (void)setMaxAllowedValue:(int)value;
- (int)minAllowedValue;
- (void)setMinAllowedValue:(int)value;
@end
