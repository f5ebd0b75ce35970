// Catching Objective-C exceptions. gcc's Objective-C++ cannot catch them
// (its @catch crashes the unwinder), plain Objective-C can: every catch of
// the pane goes through here, and C++ exceptions are caught in C++ before
// they reach it.
#import <Foundation/Foundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*AppProCatchFunction)(void *context);

/// Runs function(context). NO when it raised; `reason` (may be NULL) then
/// holds the exception's reason, or the object raised when it is no
/// NSException.
BOOL AppProRunCatching(AppProCatchFunction function, void *context, NSString **reason);

#ifdef __cplusplus
}

/// Runs `f` and answers YES, or NO (with the reason) when it raised.
template <class F> BOOL AppProCatching(F &&f, NSString **reason = nullptr)
{
    return AppProRunCatching([](void *c) { (*static_cast<F *>(c))(); }, &f, reason);
}
#endif
