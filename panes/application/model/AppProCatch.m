#import "AppProCatch.h"

BOOL AppProRunCatching(AppProCatchFunction function, void *context, NSString **reason)
{
    @try {
        function(context);
        return YES;
    } @catch (NSException *e) {
        if (reason != NULL)
            *reason = [e reason];
    } @catch (id other) {
        if (reason != NULL)
            *reason = [other description];
    }
    return NO;
}
