// Wide strings (32-bit characters) of the daemon's records to NSStrings.
#import <Foundation/Foundation.h>

#include <string>

@interface NSString (wstring_additions)
// An autoreleased string of the characters read as UTF-32 little-endian;
// a character that is no Unicode scalar value reads as U+FFFD.
+ (NSString*)stringWithwstring:(const std::wstring&)text;
@end
