#import "NSString+wstring.h"

static_assert(sizeof(wchar_t) == 4, "wide characters are 32 bits");

namespace {

const NSStringEncoding kEncoding_wchar_t = NSUTF32LittleEndianStringEncoding;

bool scalar(wchar_t c)
{
    uint32_t u = static_cast<uint32_t>(c);
    return u <= 0x10FFFF && (u < 0xD800 || u > 0xDFFF);
}

} // namespace

@implementation NSString (wstring_additions)

+ (NSString*)stringWithwstring:(const std::wstring&)text
{
    const std::wstring* chars = &text;
    std::wstring mended;
    for (wchar_t c : text) {
        if (!scalar(c)) {
            // The decoder refuses the whole text for one bad character.
            mended = text;
            for (wchar_t& m : mended)
                if (!scalar(m))
                    m = 0xFFFD;
            chars = &mended;
            break;
        }
    }
    NSString* s = [[NSString alloc] initWithBytes:chars->data()
                                           length:chars->size() * sizeof(wchar_t)
                                         encoding:kEncoding_wchar_t];
    return [s autorelease];
}

@end
