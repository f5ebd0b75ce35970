#import "AppProAppKitPorts.h"

// The open panel asks its delegate entry by entry.
@interface AppProPanelFilterBridge : NSObject {
    id<AppProOpenPanelFilter> filter;
}
- (id)initWithFilter:(id<AppProOpenPanelFilter>)f;
@end

@implementation AppProPanelFilterBridge
- (id)initWithFilter:(id<AppProOpenPanelFilter>)f
{
    self = [super init];
    filter = f;
    return self;
}
- (BOOL)panel:(id)sender shouldShowFilename:(NSString *)filename
{
    return filter == nil || [filter panel:sender shouldShowFilename:filename];
}
@end

@implementation AppProAppKitToolkit
- (void)showInformationalPanel:(NSString *)title button:(NSString *)button
{
    NSRunInformationalAlertPanel(title, @"", button, nil, nil);
}

- (void)beginSheet:(id)window
{
    NSWindow *parent = [NSApp keyWindow];
    if (parent == nil)
        parent = [NSApp mainWindow];
    if (window == nil)
        return;
    if (parent != nil)
        [NSApp beginSheet:window modalForWindow:parent modalDelegate:nil didEndSelector:NULL contextInfo:NULL];
    else
        [window makeKeyAndOrderFront:nil];
}

- (void)endSheet:(id)window
{
    if (window == nil)
        return;
    [NSApp endSheet:window];
    [window orderOut:nil];
}

- (NSArray *)runOpenPanelIn:(NSString *)folder
                      title:(NSString *)title
                     prompt:(NSString *)prompt
                      files:(BOOL)files
                    folders:(BOOL)folders
                   multiple:(BOOL)multiple
                     filter:(id<AppProOpenPanelFilter>)filter
{
    NSOpenPanel *panel = [NSOpenPanel openPanel];
    AppProPanelFilterBridge *bridge = [[[AppProPanelFilterBridge alloc] initWithFilter:filter] autorelease];
    [panel setDelegate:(id)bridge];
    [panel setCanChooseFiles:files];
    [panel setCanChooseDirectories:folders];
    [panel setAllowsMultipleSelection:multiple];
    [panel setResolvesAliases:YES];
    if (title != nil)
        [panel setTitle:title];
    if (prompt != nil)
        [panel setPrompt:prompt];
    NSInteger answer = [panel runModalForDirectory:folder file:nil types:nil];
    [panel setDelegate:nil];
    if (answer != NSOKButton)
        return nil;
    return [panel filenames];
}

- (id)textColorForUnlocked:(BOOL)unlocked { return unlocked ? [NSColor blackColor] : [NSColor grayColor]; }
@end

@implementation AppProAppKitPathInfo
- (NSString *)displayNameAtPath:(NSString *)path { return AppProDisplayNameOfPath(path); }
- (id)iconForPath:(NSString *)path
{
    if (path == nil || NSApp == nil)
        return nil;
    return [[NSWorkspace sharedWorkspace] iconForFile:path];
}
@end

void AppProInstallAppKitPorts(void)
{
    static BOOL installed = NO;
    if (installed)
        return;
    installed = YES;
    AppProSetToolkit([[[AppProAppKitToolkit alloc] init] autorelease]);
    AppProSetPathInfo([[[AppProAppKitPathInfo alloc] init] autorelease]);
}
