// NSStrings to wide strings (32-bit characters) for the firewall service's
// payloads.
#import <Foundation/Foundation.h>

#include <string>

@interface NSString (fwpane_wchar_additions)
/// A malloc'ed, zero-terminated wide text of the string in `encoding` (the
/// pane passes UTF-8); the caller frees it. NULL, after the log line
/// "Failed to convert to nchar", when the string has no form in the
/// encoding or the conversion fails.
- (wchar_t *)wcharUsingEncoding:(NSStringEncoding)encoding;
@end

/// The wide text of `text` through wcharUsingEncoding: (UTF-8), the buffer
/// freed. Throws FirewallSDK::FirewallException (`code`) for nil or a
/// failed conversion, so that a payload is never built from it.
std::wstring FWPWideText(NSString *text, int code);

/// The UTF-8 text of `text` by way of its wide text; nil gives "". Throws as
/// FWPWideText.
std::string FWPUtf8Text(NSString *text, int code);
