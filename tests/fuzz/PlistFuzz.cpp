// The preferences store's file reader: a file it accepts, written back and
// read again, gives the same keys and values in the same order (a value of
// a kind the store does not read is kept as its XML text, and so compared).
#include <string>

#include "FuzzCheck.h"
#include "Preferences.h"

namespace {

std::string shown(const PrefValue& v)
{
    switch (v.type()) {
    case PrefType::Integer: return "integer " + std::to_string(static_cast<const PrefNumber&>(v).value());
    case PrefType::Boolean: return static_cast<const PrefBoolean&>(v).value() ? "true" : "false";
    case PrefType::String: return "string \"" + static_cast<const PrefString&>(v).utf8() + "\"";
    case PrefType::Array: {
        const auto& a = static_cast<const PrefArray&>(v);
        std::string out = "array [";
        for (size_t i = 0; i < a.count(); ++i)
            out += std::string(i ? ", " : "") + "\"" + a.at(i)->utf8() + "\"";
        return out + "]";
    }
    case PrefType::Other: return "kept " + static_cast<const PrefOther&>(v).xml();
    }
    return "?";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzcheck::guard([&] {
        PrefEntries entries;
        if (!settingstore::parsePlist(std::string(reinterpret_cast<const char*>(data), size), entries))
            return;
        const std::string written = settingstore::writePlist(entries);
        PrefEntries back;
        fuzzcheck::check(settingstore::parsePlist(written, back), "a file the store read does not read after a "
                                                                   "write:\n" + written);
        fuzzcheck::check(back.size() == entries.size(), "a write changed the number of keys");
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::string was = shown(*entries[i].second), now = shown(*back[i].second);
            fuzzcheck::check(back[i].first == entries[i].first && now == was,
                             "key \"" + entries[i].first + "\" (" + was + ") reads back as \"" + back[i].first +
                                 "\" (" + now + ") after a write");
        }
    });
    return 0;
}

void fuzzcheck::writeSeeds(const std::string& dir)
{
    auto array = std::make_shared<PrefArray>();
    array->append(PrefString::createWithUTF8("a & <b>"));
    array->append(PrefString::createWithUTF8("caf\xc3\xa9"));
    const PrefEntries entries{
        {"Count", std::make_shared<const PrefNumber>(-42)},
        {"On", PrefBoolean::get(true)},
        {"Name", PrefString::createWithUTF8("kept\r\n")},
        {"List", array},
        {"Empty", std::make_shared<PrefArray>()},
        {"Real", std::make_shared<const PrefOther>("<real>1.5</real>")},
    };
    writeSeed(dir, "every-kind", settingstore::writePlist(entries));
}
