#import "RecordingPresenter.h"
#import "PaneSupport.h"

@implementation FWPRecordingPresenter
- (id)init
{
    self = [super init];
    panels = [[NSMutableArray alloc] init];
    return self;
}
- (void)dealloc
{
    [panels release];
    [super dealloc];
}
- (void)beginSheet:(NSWindow *)sheet { (void)sheet; ++begun; }
- (void)endSheet:(NSWindow *)sheet { (void)sheet; ++ended; }
- (void)showPanelWithTitle:(NSString *)title button:(NSString *)button
{
    (void)button;
    [panels addObject:title];
}
@end

namespace fwptest {

PresenterScope::PresenterScope()
{
    pool = [[NSAutoreleasePool alloc] init];
    [NSApplication sharedApplication];
    presenter = [[FWPRecordingPresenter alloc] init];
    FWPSetPresenter(presenter);
}

PresenterScope::~PresenterScope()
{
    FWPSetPresenter(nil);
    [presenter release];
    [pool release];
}

std::vector<std::string> PresenterScope::panels()
{
    std::vector<std::string> out;
    for (NSUInteger i = 0; i < [presenter->panels count]; ++i)
        out.push_back(utf8([presenter->panels objectAtIndex:i]));
    return out;
}

} // namespace fwptest
