#import "ZRMCustomTableView.h"

@implementation ZRMCustomTableView
- (BOOL)isTableFirstResponder { return isTableFirstResponder; }

- (void)tellDelegate
{
    id d = [self delegate];
    if (d != nil && [d respondsToSelector:@selector(ZRMTableViewResponderChanged:)])
        [d ZRMTableViewResponderChanged:self];
}

- (BOOL)becomeFirstResponder
{
    BOOL took = [super becomeFirstResponder];
    if (took) {
        isTableFirstResponder = YES;
        [self tellDelegate];
    }
    return took;
}

- (BOOL)resignFirstResponder
{
    BOOL gave = [super resignFirstResponder];
    if (gave) {
        isTableFirstResponder = NO;
        [self tellDelegate];
    }
    return gave;
}
@end
