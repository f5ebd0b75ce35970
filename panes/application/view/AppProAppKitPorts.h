// The toolkit and path ports on AppKit.
#import <AppKit/AppKit.h>

#import "AppProPorts.h"

@interface AppProAppKitToolkit : NSObject <AppProToolkit>
@end

@interface AppProAppKitPathInfo : NSObject <AppProPathInfo>
@end

/// Installs both (once).
void AppProInstallAppKitPorts(void);
