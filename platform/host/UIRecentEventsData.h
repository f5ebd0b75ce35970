// One row of the host's recent-events list.
#import <Foundation/Foundation.h>

@interface UIRecentEventsData : NSObject {
    NSString *headerString;
    int timeOfEvent;
    NSString *subjectString;
}
- (NSString *)headerString;
- (void)setHeaderString:(NSString *)value;
/// The event time as the daemon's record gives it.
- (int)timeOfEvent;
- (void)setTimeOfEvent:(int)value;
- (NSString *)subjectString;
- (void)setSubjectString:(NSString *)value;
@end
