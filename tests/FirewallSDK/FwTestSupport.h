// Helpers shared by the firewall tests: a trace file the test reads back,
// saved trace levels, a field-by-field dump of records through their own
// serialize members, and the byte-wise wide-character facet.
#pragma once

#include <cstdio>
#include <locale>
#include <map>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include <boost/mpl/bool.hpp>
#include <boost/serialization/access.hpp>

#include "FWTrace.h"
#include "TraceCapture.h"

namespace fwtest {

using wardtest::TraceCapture;

/// Restores the four trace levels when the test ends.
class LevelGuard {
public:
    LevelGuard()
        : cmd_(fwCommandFlowvalue), ip_(ipValidatorFlowvalue), port_(portValidatorFlowvalue),
          sdk_(firewallSDKTracervalue)
    {
    }
    ~LevelGuard()
    {
        fwCommandFlowvalue = cmd_;
        ipValidatorFlowvalue = ip_;
        portValidatorFlowvalue = port_;
        firewallSDKTracervalue = sdk_;
    }

private:
    int cmd_, ip_, port_, sdk_;
};

/// A saving "archive" that records every field a serialize member visits, in
/// order, as text: records compare field by field without boost's format.
class FieldDump {
public:
    using is_saving = boost::mpl::true_;
    using is_loading = boost::mpl::false_;

    template <class T>
    FieldDump& operator&(const T& value)
    {
        put(value);
        return *this;
    }
    template <class T>
    FieldDump& operator<<(const T& value)
    {
        return *this & value;
    }
    unsigned get_library_version() const { return 18; }

    std::vector<std::string> fields;

private:
    void put(const std::string& s) { fields.push_back("\"" + s + "\""); }
    void put(bool b) { fields.push_back(b ? "true" : "false"); }
    void put(double d) { fields.push_back(std::to_string(d)); }
    template <class K, class V>
    void put(const std::map<K, V>& m)
    {
        fields.push_back("map " + std::to_string(m.size()));
        for (const auto& kv : m) {
            put(kv.first);
            put(kv.second);
        }
    }
    template <class T>
    void put(const std::vector<T>& v)
    {
        fields.push_back("list " + std::to_string(v.size()));
        for (const auto& e : v)
            put(e);
    }
    template <class T>
    void put(const T& value)
    {
        if constexpr (std::is_enum_v<T>)
            fields.push_back(std::to_string(static_cast<long long>(value)));
        else if constexpr (std::is_integral_v<T>)
            fields.push_back(std::to_string(value));
        else
            boost::serialization::access::serialize(*this, const_cast<T&>(value), 0u);
    }
};

template <class T>
std::vector<std::string> dumpFields(const T& record)
{
    FieldDump d;
    d & record;
    return d.fields;
}

/// Each byte becomes the wide character of the same value and back, so that
/// UTF-8 bytes of narrow texts cross wide archives unchanged.
class ByteWiseCtype : public std::ctype<wchar_t> {
protected:
    wchar_t do_widen(char c) const override { return static_cast<wchar_t>(static_cast<unsigned char>(c)); }
    const char* do_widen(const char* lo, const char* hi, wchar_t* to) const override
    {
        for (; lo < hi; ++lo, ++to)
            *to = do_widen(*lo);
        return hi;
    }
    char do_narrow(wchar_t c, char dfault) const override
    {
        return static_cast<unsigned long>(c) < 256 ? static_cast<char>(c) : dfault;
    }
    const wchar_t* do_narrow(const wchar_t* lo, const wchar_t* hi, char dfault, char* to) const override
    {
        for (; lo < hi; ++lo, ++to)
            *to = do_narrow(*lo, dfault);
        return hi;
    }
};

inline std::locale byteWiseLocale()
{
    return std::locale(std::locale::classic(), new ByteWiseCtype);
}

} // namespace fwtest
