#import <AppKit/AppKit.h>

#import "AuthorizeUser.h"

static int defaultAuthorize(void)
{
    NSInteger answer = NSRunAlertPanel(@"Authorization", @"Administrator authorization is needed to make changes.",
                                       @"Authorize", @"Cancel", nil);
    return answer == NSAlertDefaultReturn ? 1 : 0;
}

static AuthorizeUserHandler currentHandler = defaultAuthorize;

int AuthorizeUser(void)
{
    return currentHandler() == 1 ? 1 : 0;
}

AuthorizeUserHandler SetAuthorizeUserHandler(AuthorizeUserHandler handler)
{
    AuthorizeUserHandler old = currentHandler;
    currentHandler = handler != NULL ? handler : defaultAuthorize;
    return old;
}
