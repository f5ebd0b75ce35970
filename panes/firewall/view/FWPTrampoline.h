// Runs a block of the pane's work inside an Objective-C exception handler:
// .mm files here use C++ handlers only.
#import <Foundation/Foundation.h>

#ifdef __cplusplus
extern "C" {
#endif
/// Runs body(context): 0 when it returned, 1 when it raised an NSException.
/// Anything else it throws passes to the caller.
int FWPRunCatchingNSException(void (*body)(void *), void *context);
#ifdef __cplusplus
}
#endif
