#include "PortValidator.h"

#include <string>
#include <vector>

#include <boost/regex.hpp>

#include "FWNormalise.h"
#include "FWTrace.h"
#include "Trace.h"

#define PORTV_TRACE(threshold, ...) WARD_TRACE(portValidatorFlowvalue, threshold, __VA_ARGS__)

namespace FirewallSDK {
namespace PORT_Validator {

namespace {
const int MAX_PORT_ITEMS = 30;
// The longest list that can pass: 30 items of two five-digit ports.
const size_t LONGEST_PORT_LIST = MAX_PORT_ITEMS * 11 + MAX_PORT_ITEMS - 1;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether `ports` fits the list pattern. Up to the longest list that can pass
// the pattern is matched as a regular expression; a longer text, which can
// only be refused, is matched by hand so that no match runs over a text of
// any length (boost.regex throws when its stack or state count runs out):
// one to five digits not starting with 0, then any number of "-" or ","
// each followed by one to five digits.
bool fitsListPattern(const std::string& ports)
{
    if (ports.size() <= LONGEST_PORT_LIST) {
        static const boost::regex pattern("[1-9][0-9]{0,4}((-|,)[0-9]{1,5})*");
        return boost::regex_match(ports, pattern);
    }
    if (ports[0] == '0')
        return false;
    size_t run = 0;
    for (char c : ports) {
        if (isDigit(c)) {
            if (++run > 5)
                return false;
        } else if ((c == '-' || c == ',') && run > 0) {
            run = 0;
        } else {
            return false;
        }
    }
    return run > 0;
}

// The first `most` non-empty pieces of text between separators (the checks
// below stop at the 31st item and the third part of an item).
std::vector<std::string> split(const std::string& text, char separator, size_t most)
{
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (start <= text.size() && parts.size() < most) {
        std::string::size_type end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}
} // namespace

PortValidator::PortValidator()
{
    PORTV_TRACE(4, L"%s - Called\n", "PortValidator");
}

PortValidator::~PortValidator()
{
    PORTV_TRACE(4, L"%s - Called\n", "~PortValidator");
}

bool PortValidator::validatePort(const char* text)
{
    PORTV_TRACE(4, L"%s - Called with port # %s\n", "validatePort", text);
    long value = 0;
    char bad = 0;
    switch (detail::parsePort(text, value, bad)) {
    case detail::PortParse::Overflow:
        PORTV_TRACE(2, L"%s - Conversion Error, Port number to out of acceptable range.\n", "validatePort");
        return false;
    case detail::PortParse::Trailing:
        PORTV_TRACE(2, L"%s - Invalid port # with char ( %c )\n", "validatePort", bad);
        return false;
    case detail::PortParse::Range:
        PORTV_TRACE(2, L"%s - Port number to out of acceptable range.\n", "validatePort");
        return false;
    case detail::PortParse::Ok:
        break;
    }
    PORTV_TRACE(4, L"%s - Port number is valid\n", "validatePort");
    return true;
}

int PortValidator::validatePortNos(std::string ports)
{
    PORTV_TRACE(4, L"%s - Called with portNos # %s\n", "validatePortNos", ports.c_str());
    if (!fitsListPattern(ports)) {
        PORTV_TRACE(4, L"%s - Not a valid port number and port range string # %s\n", "validatePortNos",
                    ports.c_str());
        return 1;
    }
    int items = 0;
    for (const std::string& item : split(ports, ',', MAX_PORT_ITEMS + 1)) {
        PORTV_TRACE(4, L"%s - ',' Separated Tokens : %s\n", "validatePortNos", item.c_str());
        if (++items > MAX_PORT_ITEMS) {
            PORTV_TRACE(2, L"%s - Invalid port number count. Port list should not be more than ( %d )\n",
                        "validatePortNos", MAX_PORT_ITEMS);
            return 4;
        }
        int parts = 0;
        for (const std::string& part : split(item, '-', 3)) {
            if (++parts == 3) {
                PORTV_TRACE(2, L"%s - Invalid port range\n", "validatePortNos");
                return 3;
            }
            PORTV_TRACE(4, L"%s - Tokens : %s\n", "validatePortNos", part.c_str());
            if (!validatePort(part.c_str())) {
                PORTV_TRACE(2, L"%s - Invalid port number\n", "validatePortNos");
                return 1;
            }
            PORTV_TRACE(4, L"%s - Valid port # %s\n", "validatePortNos", part.c_str());
        }
    }
    PORTV_TRACE(4, L"%s - Port number(s) valid\n", "validatePortNos");
    return 0;
}

} // namespace PORT_Validator
} // namespace FirewallSDK
