// paneview BUNDLE [--tab ID] [--unlock] [--seconds S] [--shot FILE]
//          [--peer] [--geometry-out FILE] [--rows-out FILE]
//
// Loads a pane bundle, shows its preference view in a window and runs
// until the window closes (or S seconds passed). --shot writes the window
// as PNG by GNUstep's own capture once it is drawn. --peer answers the
// pane's commands in-process (two rules, two exclusions) and prints each
// command id it receives as "command N". --geometry-out writes the window's
// frame and the rows' screen positions for a driver (xdotool).
#import <AppKit/AppKit.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "AppProtError.h"
#include "AppProtRecords.h"
#include "AppRecordPayload.h"
#include "HVOTestPeer.h"

@interface NSObject (PaneView)
+ (id)sharedView;
- (NSView *)preferenceView;
@end

@interface PaneViewRunner : NSObject {
@public
    NSWindow *window;
    NSString *shot;
    NSString *geometryOut;
    NSString *rowsOut;
    double seconds;
    BOOL unlock;
    NSString *tab;
}
@end

@interface NSObject (PaneViewControllers)
+ (id)sharedAppProPrefsController;
+ (id)sharedAppProExclusionController;
- (void)setIsPreferenceEnabled:(BOOL)flag;
@end

static void printCommand(int commandId)
{
    printf("command %d\n", commandId);
    fflush(stdout);
}

static std::unique_ptr<HVO::TestPeer> startPeer()
{
    std::unique_ptr<HVO::TestPeer> peer(new HVO::TestPeer());
    peer->setAnswer([](HVO::CommandData &request, HVO::CommandResult &reply) {
        int cmd = request.getCommandId();
        printCommand(cmd);
        if (cmd == 20003) {
            std::list<AppProtection::BasicAppRecord> rules;
            for (const char *g : {"/Applications/Mail.app", "/usr/local/bin/tool"}) {
                AppProtection::BasicAppRecord r;
                r.setAppGroup(g);
                r.setExecAllowed(true);
                rules.push_back(r);
            }
            reply.setCustomData(rules);
        } else if (cmd == 20004) {
            AppProtection::AppProtPrefsData prefs;
            prefs.setPromptTimeout(45);
            prefs.setUnknownAppAction(3);
            reply.setCustomData(prefs);
        } else if (cmd == 20006) {
            std::vector<std::string> paths = {"/Applications/Safari.app", "/opt/excluded"};
            reply.setCustomData(paths);
        } else if (cmd == 20000 || cmd == 20001 || cmd == 20002) {
            std::vector<AppProtection::BasicAppRecord> records;
            request.getCustomData(records);
            std::vector<AppProtection::AppProtError> codes(records.size(), AppProtection::SUCCESS);
            reply.setCustomData(codes);
        } else {
            AppProtection::AppProtError code = AppProtection::SUCCESS;
            reply.setCustomData(code);
        }
        return true;
    });
    return peer;
}

@implementation PaneViewRunner
- (void)writeShot:(id)unused
{
    (void)unused;
    NSView *content = [window contentView];
    [content display];
    NSBitmapImageRep *rep = [content bitmapImageRepForCachingDisplayInRect:[content bounds]];
    [content cacheDisplayInRect:[content bounds] toBitmapImageRep:rep];
    NSData *png = [rep representationUsingType:NSPNGFileType properties:[NSDictionary dictionary]];
    if (![png writeToFile:shot atomically:YES])
        fprintf(stderr, "paneview: cannot write %s\n", [shot UTF8String]);
    else
        printf("shot %s\n", [shot UTF8String]);
    fflush(stdout);
}

- (void)writeGeometry
{
    NSRect f = [window frame];
    NSRect screen = [[window screen] frame];
    // X11 coordinates: origin top left.
    double top = screen.size.height - (f.origin.y + f.size.height);
    FILE *out = fopen([geometryOut UTF8String], "w");
    if (out == NULL)
        return;
    fprintf(out, "window %d %d %d %d\n", (int)f.origin.x, (int)top, (int)f.size.width, (int)f.size.height);
    fclose(out);
}

// The rows the pane shows: "rule PATH" and "exclusion PATH", in order.
- (void)writeRows
{
    FILE *out = fopen([rowsOut UTF8String], "w");
    if (out == NULL)
        return;
    NSArray *rules = [[NSClassFromString(@"AppProPrefsController") sharedAppProPrefsController]
        valueForKey:@"appProRulesArray"];
    NSArray *excluded = [[NSClassFromString(@"AppProExclusionController") sharedAppProExclusionController]
        valueForKey:@"appProExclusionsListArray"];
    for (NSUInteger i = 0; i < [rules count]; i++)
        fprintf(out, "rule %s\n", [[[rules objectAtIndex:i] valueForKey:@"applicationNameWithAbsPath"] UTF8String]);
    for (NSUInteger i = 0; i < [excluded count]; i++)
        fprintf(out, "exclusion %s\n",
                [[[excluded objectAtIndex:i] valueForKey:@"applicationNameWithAbsPath"] UTF8String]);
    fclose(out);
}

- (void)quit:(id)unused
{
    (void)unused;
    [NSApp terminate:nil];
}

- (void)applicationDidFinishLaunching:(NSNotification *)n
{
    (void)n;
    id pane = [NSClassFromString(@"AppProPrefsView") sharedView];
    NSView *view = [pane preferenceView];
    window = [[NSWindow alloc] initWithContentRect:[view frame]
                                         styleMask:NSTitledWindowMask | NSClosableWindowMask
                                           backing:NSBackingStoreBuffered
                                             defer:NO];
    [window setTitle:@"paneview"];
    [window setContentView:view];
    [window setReleasedWhenClosed:NO];
    [window setDelegate:(id)self];
    [window setFrameTopLeftPoint:NSMakePoint(0, [[window screen] frame].size.height)];
    [window makeKeyAndOrderFront:nil];
    if (unlock)
        [[NSClassFromString(@"AppProPrefsController") sharedAppProPrefsController] setIsPreferenceEnabled:YES];
    if (tab != nil) {
        NSArray *subs = [view subviews];
        for (NSUInteger i = 0; i < [subs count]; i++)
            if ([[subs objectAtIndex:i] isKindOfClass:[NSTabView class]])
                [[subs objectAtIndex:i] selectTabViewItemWithIdentifier:tab];
    }
    if (geometryOut != nil)
        [self writeGeometry];
    if (rowsOut != nil)
        [self writeRows];
    if (shot != nil)
        [self performSelector:@selector(writeShot:) withObject:nil afterDelay:0.5];
    if (seconds > 0)
        [self performSelector:@selector(quit:) withObject:nil afterDelay:seconds];
    // Where the view's top left is on the screen (X11 coordinates), for a
    // driver's clicks.
    NSRect content = [window contentRectForFrameRect:[window frame]];
    double screenHeight = [[window screen] frame].size.height;
    printf("origin %d %d\n", (int)content.origin.x, (int)(screenHeight - (content.origin.y + content.size.height)));
    printf("ready\n");
    fflush(stdout);
}

// GNUstep hands the command line's paths to the application to open.
- (BOOL)application:(NSApplication *)app openFile:(NSString *)file
{
    (void)app;
    (void)file;
    return YES;
}

- (void)windowWillClose:(NSNotification *)n
{
    (void)n;
    [NSApp terminate:nil];
}
@end

int main(int argc, char **argv)
{
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    if (argc < 2) {
        fprintf(stderr, "usage: paneview BUNDLE [--tab ID] [--unlock] [--seconds S] [--shot FILE] [--peer]"
                        " [--geometry-out FILE]\n");
        return 2;
    }
    PaneViewRunner *runner = [[PaneViewRunner alloc] init];
    bool peer = false;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--tab" && more)
            runner->tab = [[NSString alloc] initWithUTF8String:argv[++i]];
        else if (a == "--unlock")
            runner->unlock = YES;
        else if (a == "--seconds" && more)
            runner->seconds = atof(argv[++i]);
        else if (a == "--shot" && more)
            runner->shot = [[NSString alloc] initWithUTF8String:argv[++i]];
        else if (a == "--rows-out" && more)
            runner->rowsOut = [[NSString alloc] initWithUTF8String:argv[++i]];
        else if (a == "--geometry-out" && more)
            runner->geometryOut = [[NSString alloc] initWithUTF8String:argv[++i]];
        else if (a == "--peer")
            peer = true;
        else if (a.rfind("-GS", 0) == 0 || a.rfind("-NS", 0) == 0) {
            ++i; // a GNUstep default and its value
        } else {
            fprintf(stderr, "paneview: unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    std::unique_ptr<HVO::TestPeer> hub;
    if (peer)
        hub = startPeer();
    NSBundle *bundle = [NSBundle bundleWithPath:[NSString stringWithUTF8String:argv[1]]];
    if (bundle == nil || ![bundle load] || NSClassFromString(@"AppProPrefsView") == nil) {
        fprintf(stderr, "paneview: cannot load %s\n", argv[1]);
        return 1;
    }
    [NSApplication sharedApplication];
    [NSApp setDelegate:(id)runner];
    [NSApp run];
    hub.reset();
    [pool release];
    return 0;
}
