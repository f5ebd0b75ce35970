#import "UIRecentEventsData.h"

@implementation UIRecentEventsData
- (void)dealloc
{
    [headerString release];
    [subjectString release];
    [super dealloc];
}
- (NSString *)headerString { return headerString; }
- (void)setHeaderString:(NSString *)value
{
    if (value != headerString) {
        [headerString release];
        headerString = [value copy];
    }
}
- (int)timeOfEvent { return timeOfEvent; }
- (void)setTimeOfEvent:(int)value { timeOfEvent = value; }
- (NSString *)subjectString { return subjectString; }
- (void)setSubjectString:(NSString *)value
{
    if (value != subjectString) {
        [subjectString release];
        subjectString = [value copy];
    }
}
@end
