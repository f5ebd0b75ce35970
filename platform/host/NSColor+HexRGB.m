#import "NSColor+HexRGB.h"

static int hexDigit(unichar c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

BOOL ZRMParseHexRGB(NSString *hex, unsigned *red, unsigned *green, unsigned *blue)
{
    unsigned parts[3];
    int i;
    if (hex == nil || [hex length] != 6)
        return NO;
    for (i = 0; i < 3; i++) {
        int hi = hexDigit([hex characterAtIndex:2 * i]);
        int lo = hexDigit([hex characterAtIndex:2 * i + 1]);
        if (hi < 0 || lo < 0)
            return NO;
        parts[i] = (unsigned)(hi * 16 + lo);
    }
    *red = parts[0];
    *green = parts[1];
    *blue = parts[2];
    return YES;
}

@implementation NSColor (HexRGB)
+ (NSColor *)colorFromHexRGB:(NSString *)hex
{
    unsigned r, g, b;
    if (!ZRMParseHexRGB(hex, &r, &g, &b))
        return nil;
    return [NSColor colorWithDeviceRed:r / 255.0 green:g / 255.0 blue:b / 255.0 alpha:1.0];
}
@end
