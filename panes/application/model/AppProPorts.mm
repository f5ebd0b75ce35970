#import "AppProPorts.h"

@interface AppProDefaultPathInfo : NSObject <AppProPathInfo>
@end

@implementation AppProDefaultPathInfo
- (NSString *)displayNameAtPath:(NSString *)path { return AppProDisplayNameOfPath(path); }
- (id)iconForPath:(NSString *)path
{
    (void)path;
    return nil;
}
@end

static id<AppProToolkit> toolkit = nil;
static id<AppProPathInfo> pathInfo = nil;

id<AppProToolkit> AppProToolkitPort(void) { return toolkit; }

void AppProSetToolkit(id<AppProToolkit> t)
{
    [(id)t retain];
    [(id)toolkit release];
    toolkit = t;
}

id<AppProPathInfo> AppProPathInfoPort(void)
{
    if (pathInfo == nil)
        pathInfo = [[AppProDefaultPathInfo alloc] init];
    return pathInfo;
}

void AppProSetPathInfo(id<AppProPathInfo> info)
{
    [(id)info retain];
    [(id)pathInfo release];
    pathInfo = info;
}

NSString *AppProDisplayNameOfPath(NSString *path)
{
    if (path == nil)
        return nil;
    NSString *name = [path lastPathComponent];
    if ([[name pathExtension] isEqualToString:@"app"])
        name = [name stringByDeletingPathExtension];
    return name;
}
