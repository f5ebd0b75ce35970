#import "NSString+FWPaneWchar.h"

#include <cstdlib>
#include <cstring>

#include "FirewallException.h"
#include "StringConvert.h"

@implementation NSString (fwpane_wchar_additions)

- (wchar_t *)wcharUsingEncoding:(NSStringEncoding)encoding
{
    // GNUstep raises, rather than answering NULL, for a string with no form
    // in the encoding: ask first.
    const char *bytes = [self canBeConvertedToEncoding:encoding] ? [self cStringUsingEncoding:encoding] : NULL;
    if (bytes == NULL) {
        NSLog(@"Failed to convert to nchar");
        return NULL;
    }
    size_t n = std::strlen(bytes);
    // The converter is given the buffer's size in bytes; it needs n + 1
    // characters, which (n + 1) x 4 bytes always hold.
    int capacity = static_cast<int>((n + 1) * 4);
    wchar_t *buffer = static_cast<wchar_t *>(std::calloc(n + 1, 4));
    if (buffer == NULL) {
        NSLog(@"Failed to convert to nchar");
        return NULL;
    }
    if (char2widechar(bytes, buffer, &capacity) != 0) {
        NSLog(@"Failed to convert to nchar");
        std::free(buffer);
        return NULL;
    }
    return buffer;
}

@end

std::wstring FWPWideText(NSString *text, int code)
{
    wchar_t *wide = text == nil ? NULL : [text wcharUsingEncoding:NSUTF8StringEncoding];
    if (wide == NULL)
        throw FirewallSDK::FirewallException("Failed to convert a string to a wide text",
                                             static_cast<FirewallSDK::FWErrorCode>(code));
    std::wstring out(wide);
    std::free(wide);
    return out;
}

std::string FWPUtf8Text(NSString *text, int code)
{
    if (text == nil)
        return std::string();
    std::wstring wide = FWPWideText(text, code);
    std::string out(wide.size() * 6 + 6, '\0');
    int capacity = static_cast<int>(out.size());
    if (widechar2charstr(wide.c_str(), &out[0], &capacity) != 0)
        throw FirewallSDK::FirewallException("Failed to convert a wide text to a text",
                                             static_cast<FirewallSDK::FWErrorCode>(code));
    out.resize(std::strlen(out.c_str()));
    return out;
}
