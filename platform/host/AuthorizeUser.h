// Administrator authorisation for the panes' lock.
#import <Foundation/Foundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int (*AuthorizeUserHandler)(void);

/// 1 when the user granted administrator authorisation, else 0. Asks the
/// installed handler; the default shows a modal panel with the buttons
/// "Authorize" and "Cancel".
int AuthorizeUser(void);
/// Replaces the handler (the host's own dialog, a test's answer); NULL
/// restores the default. Returns the handler it replaced.
AuthorizeUserHandler SetAuthorizeUserHandler(AuthorizeUserHandler handler);

#ifdef __cplusplus
}
#endif
