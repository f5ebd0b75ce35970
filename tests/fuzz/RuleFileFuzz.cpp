// The rule file reader as FWCommands reads QyvRules: the whole file in
// memory, a bounded narrow archive over it, the table read whole. A refusal
// is an archive_exception; a table it accepts writes a file that reads back
// and writes again to the same text.
#include <sstream>
#include <string>

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/map.hpp>

#include "BoundedIArchive.h"
#include "FWCommands.h"
#include "FWSerialize.h"
#include "FuzzCheck.h"

using FirewallSDK::FWCommands;

namespace {

/// True when the `size` bytes at `text` were read into `table`.
bool readTable(const char* text, size_t size, FWCommands::RuleTable& table)
{
    HVO::bounded::view_istream<char> in(text, size);
    try {
        HVO::bounded_iarchive archive(in, 0);
        FirewallSDK::readRecord(archive, table);
        return true;
    } catch (const boost::archive::archive_exception&) {
        return false;
    }
}

std::string written(const FWCommands::RuleTable& table)
{
    std::ostringstream out;
    {
        boost::archive::text_oarchive archive(out, 0);
        archive << table;
    }
    return out.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzcheck::guard([&] {
        FWCommands::RuleTable table;
        if (!readTable(reinterpret_cast<const char*>(data), size, table)) {
            fuzzcheck::check(table.empty(), "a refused rule file changed the table");
            return;
        }
        const std::string first = written(table);
        FWCommands::RuleTable back;
        fuzzcheck::check(readTable(first.data(), first.size(), back), "a rule file as written is refused");
        fuzzcheck::check(written(back) == first, "a rule file read back writes another text");
    });
    return 0;
}

void fuzzcheck::writeSeeds(const std::string& dir)
{
    FWCommands::RuleTable table;
    writeSeed(dir, "empty", written(table));
    FirewallSDK::FWExtDetailedData rule;
    rule.setRuleNo(5122);
    rule.setRuleName("web");
    rule.setAction(std::string("allow"));
    rule.setProtocol(FirewallSDK::FWDetailedData::FIELD_PLAIN, "tcp");
    rule.setSrcIp(FirewallSDK::FWDetailedData::FIELD_NOT, "10.0.0.0/8");
    rule.setDestPort(FirewallSDK::FWDetailedData::FIELD_PLAIN, "80-90");
    rule.setInterface("recv", "en0");
    rule.setActionOpt("port");
    rule.setProbability(0.5);
    table[5122] = rule;
    table[65535] = FirewallSDK::FWExtDetailedData();
    writeSeed(dir, "two-rules", written(table));
}
