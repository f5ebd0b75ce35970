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

#include <type_traits>

/// Runs `f` and answers YES, or NO (with the reason) when it raised.
template <class F> BOOL AppProCatching(F &&f, NSString **reason = nullptr)
{
    using Fn = typename std::remove_reference<F>::type;
    return AppProRunCatching([](void *c) { (*static_cast<Fn *>(c))(); }, (void *)&f, reason);
}
#endif
