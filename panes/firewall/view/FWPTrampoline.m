#import "FWPTrampoline.h"

int FWPRunCatchingNSException(void (*body)(void *), void *context)
{
    @try {
        body(context);
    } @catch (NSException *e) {
        return 1;
    }
    return 0;
}
