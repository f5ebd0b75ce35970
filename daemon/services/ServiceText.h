// Narrow (UTF-8) texts of the daemon turned into the wide texts of events,
// alerts and replies.
#pragma once

#include <string>

namespace AppProtection {

/// UTF-8 to wide text through char2widechar; false, `out` untouched, when
/// the text is not UTF-8. A zero byte ends the text.
bool utf8ToWide(const std::string& text, std::wstring& out);

/// UTF-8 to wide text; a byte b that is not UTF-8 becomes U+DC00+b, as the
/// broker's log writes it.
std::wstring wideText(const std::string& text);

} // namespace AppProtection
