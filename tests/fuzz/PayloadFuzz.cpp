// Payload archives as a receiver reads them: the text handed to an envelope
// (PayloadAccess::setInput) and one getCustomData of the type the command
// promises. The first input byte picks the type; the rest is the archive
// text, decoded as UTF-8 (a byte that starts no valid sequence is the
// character of its value), so that seeds stay readable and every character
// up to U+10FFFF can be reached.
//
// A refusal is an archive_exception (and, for the alert inside a
// ReporterData, the documented runtime_error for a text that is not UTF-8).
// A value that was read writes a text that reads back and writes again to
// the same text.
#include <list>
#include <map>
#include <string>
#include <vector>

#include <boost/archive/archive_exception.hpp>
// boost 1.74's list serializer needs library_version_type declared first.
#include <boost/serialization/library_version_type.hpp>
#include <boost/serialization/list.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include "AppProtError.h"
#include "AppProtRecords.h"
#include "AppRecordPayload.h"
#include "CommandData.h"
#include "FWRecords.h"
#include "FuzzCheck.h"
#include "ReportRecords.h"
#include "StringConvert.h"
#include "Utf8.h"

using namespace AppProtection;
using HVO::PayloadAccess;

namespace {

template <class T> std::wstring textOf(T& value)
{
    HVO::CommandData sent(1, APP_PROTECTION_HVK_ID, false);
    sent.setCustomData(value);
    return PayloadAccess::outputText(sent);
}

/// Reads `text` into `value`; false when the archive refused it.
template <class T> bool readInto(const std::wstring& text, T& value)
{
    HVO::CommandResult received;
    try {
        PayloadAccess::setInput(received, text);
        received.getCustomData(value);
        return true;
    } catch (const boost::archive::archive_exception&) {
        return false;
    }
}

/// What a reader does with a value after reading it: nothing for most.
template <class T> void afterRead(T&) {}

void afterRead(ReporterData& r)
{
    AppProtAlert alert;
    try {
        r.getAlertCustomData(alert);
    } catch (const boost::archive::archive_exception&) {
    } catch (const std::runtime_error& e) {
        fuzzcheck::check(std::string(e.what()).find("custom text is not valid UTF-8") != std::string::npos,
                         std::string("ReporterData threw an undocumented runtime_error: ") + e.what());
    }
}

template <class T> void payload(const std::wstring& text)
{
    T value{};
    if (!readInto(text, value))
        return;
    afterRead(value);
    const std::wstring first = textOf(value);
    T back{};
    fuzzcheck::check(readInto(first, back), "a payload as written is refused");
    fuzzcheck::check(textOf(back) == first, "a payload read back writes another text");
}

/// A value of each type with something in it, for the seeds.
template <class T> void fill(T&) {}
template <class X> void fill(std::vector<X>& v) { v.resize(1); }
template <class X> void fill(std::list<X>& l) { l.resize(1); }
template <class K, class V> void fill(std::map<K, V>& m) { fill(m[K()]); }
void fill(ReporterData& r)
{
    AppProtAlert alert;
    r.setAlertCustomData(alert);
}

template <class T> std::wstring seed()
{
    T value{};
    fill(value);
    return textOf(value);
}

struct PayloadType {
    void (*read)(const std::wstring&);
    std::wstring (*seed)();
};
#define PAYLOAD(...) PayloadType{payload<__VA_ARGS__>, seed<__VA_ARGS__>}

// The types receivers read: application protection, reports, the firewall
// pane's records and its standard types. Append only: seeds name these
// positions in their first byte.
const PayloadType kTypes[] = {
    PAYLOAD(AppProtPrefsData),
    PAYLOAD(AppProtAlert),
    PAYLOAD(ReporterData),
    PAYLOAD(AppProtError),
    PAYLOAD(std::vector<AppProtError>),
    PAYLOAD(std::vector<std::string>),
    PAYLOAD(ReportData),
    PAYLOAD(DetailReportData),
    PAYLOAD(DashBoardData),
    PAYLOAD(AboutBoxData),
    PAYLOAD(BasicAppRecord),
    PAYLOAD(std::vector<BasicAppRecord>),
    PAYLOAD(std::list<BasicAppRecord>),
    PAYLOAD(FirewallSDK::NetworkInterfaceInfo),
    PAYLOAD(FirewallSDK::FWBasicData),
    PAYLOAD(FirewallSDK::FWDetailedData),
    PAYLOAD(std::vector<FirewallSDK::FWDetailedData>),
    PAYLOAD(std::list<FirewallSDK::FWDetailedData>),
    PAYLOAD(int),
    PAYLOAD(bool),
    PAYLOAD(signed char),
    PAYLOAD(std::vector<int>),
    PAYLOAD(std::vector<std::wstring>),
    PAYLOAD(std::map<std::wstring, bool>),
    PAYLOAD(std::map<std::wstring, std::vector<std::wstring>>),
};
#undef PAYLOAD
constexpr size_t kTypeCount = sizeof kTypes / sizeof kTypes[0];

std::string utf8(const std::wstring& text)
{
    std::vector<char> buf(text.size() * 6 + 1);
    int capacity = static_cast<int>(buf.size());
    fuzzcheck::check(widechar2charstr(text.c_str(), buf.data(), &capacity) == 0, "a seed text is not Unicode");
    return buf.data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const PayloadType& type = kTypes[data[0] % kTypeCount];
    const std::wstring text = wardutf8::decode(reinterpret_cast<const char*>(data + 1), size - 1,
                                               [](std::wstring& out, unsigned char b) { out.push_back(b); });
    fuzzcheck::guard([&] { type.read(text); });
    return 0;
}

void fuzzcheck::writeSeeds(const std::string& dir)
{
    for (size_t i = 0; i < kTypeCount; ++i)
        writeSeed(dir, "type-" + std::to_string(i), std::string(1, static_cast<char>(i)) + utf8(kTypes[i].seed()));
}
