// A presenter that records the pane's panels and sheets instead of showing
// them, and a scope that installs one with NSApp and a pool.
#pragma once

#import <AppKit/AppKit.h>

#include <string>
#include <vector>

#import "FWPPresenter.h"

@interface FWPRecordingPresenter : NSObject <FWPPresenter> {
@public
    NSMutableArray *panels;
    int begun;
    int ended;
}
@end

namespace fwptest {

struct PresenterScope {
    PresenterScope();
    ~PresenterScope();
    /// The panels' titles so far.
    std::vector<std::string> panels();
    NSAutoreleasePool *pool;
    FWPRecordingPresenter *presenter;
};

} // namespace fwptest
