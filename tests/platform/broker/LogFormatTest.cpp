// HVO_LOG_MSG's own formatting: narrow "%s" as UTF-8 whatever the locale,
// invalid bytes as U+DC80+b, numeric directives one at a time, "%n" inert.
#include <clocale>
#include <cstdarg>
#include <string>

#include <gtest/gtest.h>

#include "LogFormat.h"

namespace {

std::wstring fmt(const wchar_t* f, ...)
{
    va_list ap;
    va_start(ap, f);
    std::wstring out = HVO::detail::formatLogText(f, ap);
    va_end(ap);
    return out;
}

TEST(LogFormat, NarrowTextIsDecodedNotPassedToWprintf)
{
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        std::setlocale(LC_CTYPE, locale);
        EXPECT_EQ(L"Denied /tmp/a%s%n/\x00e9 from executing", fmt(L"%s", "Denied /tmp/a%s%n/\xc3\xa9 from executing"));
        std::wstring lone = fmt(L"%s", "caf\xe9!");
        EXPECT_EQ((std::wstring{L'c', L'a', L'f', static_cast<wchar_t>(0xDCE9), L'!'}), lone);
        EXPECT_EQ(L"x\x20ac", fmt(L"x%ls", L"\x20ac"));
    }
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

TEST(LogFormat, Directives)
{
    int written = 99;
    EXPECT_EQ(L"pid 42, 0x1f, -7, 3.50, 100%", fmt(L"pid %d, 0x%x, %ld, %.2f, 100%%", 42, 31u, -7L, 3.5));
    EXPECT_EQ(L"[  ab][ab  ][a]", fmt(L"[%4s][%-4s][%.1s]", "ab", "ab", "ab"));
    EXPECT_EQ(L"18446744073709551615 z", fmt(L"%llu %c", 18446744073709551615ULL, 'z'));
    EXPECT_EQ(L"n:", fmt(L"n:%n", &written));
    EXPECT_EQ(99, written);
    EXPECT_EQ(L"(null) %q", fmt(L"%s %q", static_cast<const char*>(nullptr)));
    EXPECT_EQ(L"[   7]", fmt(L"[%*d]", 4, 7));
}

} // namespace
