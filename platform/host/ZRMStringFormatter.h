// A formatter that keeps a text field's text within a number of characters.
#import <Foundation/Foundation.h>

@interface ZRMStringFormatter : NSFormatter {
    int maxStringSize;
}
- (int)maxStringSize;
/// The limit in characters; 0 or less: no limit.
- (void)setMaxStringSize:(int)size;
@end
