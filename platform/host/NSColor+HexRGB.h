// Colours written as six hexadecimal digits.
#import <AppKit/AppKit.h>

@interface NSColor (HexRGB)
/// "rrggbb" (for example "3399cc") as an opaque device RGB colour; nil for
/// a text that is not exactly six hexadecimal digits.
+ (NSColor *)colorFromHexRGB:(NSString *)hex;
@end

#ifdef __cplusplus
extern "C" {
#endif
/// The three components of "rrggbb"; NO for any other text.
BOOL ZRMParseHexRGB(NSString *hex, unsigned *red, unsigned *green, unsigned *blue);
#ifdef __cplusplus
}
#endif
