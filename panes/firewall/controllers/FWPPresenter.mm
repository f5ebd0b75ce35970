#import "FWPPresenter.h"

@interface FWPAppKitPresenter : NSObject <FWPPresenter>
@end

@implementation FWPAppKitPresenter

- (BOOL)modeless
{
    return [[NSUserDefaults standardUserDefaults] boolForKey:@"FWPModelessPanels"];
}

- (void)beginSheet:(NSWindow *)sheet
{
    if ([self modeless]) {
        [sheet orderFront:nil];
        return;
    }
    [NSApp beginSheet:sheet modalForWindow:[NSApp keyWindow] modalDelegate:nil didEndSelector:NULL contextInfo:NULL];
}

- (void)endSheet:(NSWindow *)sheet
{
    if (![self modeless])
        [NSApp endSheet:sheet];
    [sheet orderOut:nil];
}

- (void)showPanelWithTitle:(NSString *)title button:(NSString *)button
{
    if ([self modeless]) {
        NSLog(@"FWP panel: %@", title);
        return;
    }
    NSRunInformationalAlertPanel(title, @"", button, nil, nil);
}

@end

static id<FWPPresenter> currentPresenter = nil;

id<FWPPresenter> FWPCurrentPresenter(void)
{
    if (currentPresenter == nil)
        currentPresenter = [[FWPAppKitPresenter alloc] init];
    return currentPresenter;
}

void FWPSetPresenter(id<FWPPresenter> presenter)
{
    [(id)presenter retain];
    [(id)currentPresenter release];
    currentPresenter = presenter;
}
