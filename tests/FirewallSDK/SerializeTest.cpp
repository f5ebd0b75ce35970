// Serialised form of the records: narrow archives (rule file), wide archives
// (pane payloads), and reading only whole values.
#include <map>
#include <sstream>

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/text_iarchive.hpp>
#include <boost/archive/text_oarchive.hpp>
#include <boost/archive/text_wiarchive.hpp>
#include <boost/archive/text_woarchive.hpp>
#include <gtest/gtest.h>

#include "FWRecords.h"
#include "FWSerialize.h"
#include "FwTestSupport.h"

using namespace FirewallSDK;
using Flags = FWDetailedData;
using RuleTable = std::map<uint16_t, FWExtDetailedData>;

namespace {

template <class T>
std::string writeNarrow(const T& value)
{
    std::ostringstream os;
    {
        boost::archive::text_oarchive ar(os);
        ar << value;
    }
    return os.str();
}

template <class T>
T readNarrow(const std::string& text)
{
    std::istringstream is(text);
    boost::archive::text_iarchive ar(is);
    T value;
    readRecord(ar, value);
    return value;
}

FWExtDetailedData sampleRule(int32_t number)
{
    FWExtDetailedData r;
    r.setRuleNo(number);
    r.setRuleName("");
    r.setAction(FW_ACTION_DENY);
    r.setTrafficDirection(FW_DIRECTION_OUT);
    r.setRuleCategory(0x10000003u);
    r.setProtocol(Flags::FIELD_NOT, "tcp");
    r.setProtocol(Flags::FIELD_OR, "udp");
    r.setProtocol(FW_PROTOCOL_ICMP);
    r.setSrcIp(Flags::FIELD_PLAIN, "10.0.0.0/8");
    r.setSrcIp("10.1.2.3/8");
    r.setDestIp(Flags::FIELD_OR, "me");
    r.setDestPort(Flags::FIELD_NOT, "80,1000-2000");
    r.isLogging(false);
    r.setInterface("xmit", "en1");
    r.setInterface("recv", "en0");
    r.getKeepState() = "keep-state";
    r.getLimit() = "src-addr 10";
    return r;
}

} // namespace

TEST(FWSerializeTest, DefaultExtendedRecordRoundTrips)
{
    FWExtDetailedData def;
    FWExtDetailedData back = readNarrow<FWExtDetailedData>(writeNarrow(def));
    EXPECT_EQ(fwtest::dumpFields(back), fwtest::dumpFields(def));
    EXPECT_EQ(back.getProbability(), 1.0);
    EXPECT_TRUE(back.isLogging());
    std::vector<std::string> fields = fwtest::dumpFields(back);
    // The interface information ends the FWDetailedData part: index, names.
    auto it = std::find(fields.begin(), fields.end(), "list 0");
    EXPECT_NE(it, fields.end());
}

TEST(FWSerializeTest, NarrowKeepsEntryOrderFlagsAndMaps)
{
    FWExtDetailedData rule = sampleRule(5200);
    std::string text = writeNarrow(rule);
    EXPECT_EQ(text.rfind("22 serialization::archive 18 ", 0), 0u) << text;
    FWExtDetailedData back = readNarrow<FWExtDetailedData>(text);
    EXPECT_EQ(fwtest::dumpFields(back), fwtest::dumpFields(rule));
    ASSERT_EQ(back.getProtocolByRef().size(), 3u);
    EXPECT_EQ(back.getProtocolByRef()[0].getProtocolFlag(), Flags::FIELD_NOT);
    EXPECT_EQ(back.getProtocolByRef()[1].getProtocol(), "udp");
    EXPECT_EQ(back.getProtocolByRef()[2].getProtocol(), "icmp");
    EXPECT_EQ(back.getInterfaceByRef(), (FWDetailedData::InterfaceMap{{"recv", "en0"}, {"xmit", "en1"}}));
    EXPECT_EQ(back.getRuleName(), "");
    EXPECT_EQ(back.getSrcIp(), "10.1.2.3/8");
    EXPECT_FALSE(back.isLogging());
}

TEST(FWSerializeTest, ExtensionFieldsFollowTheDetailedPart)
{
    FWExtDetailedData r;
    r.setRuleSet(31);
    r.setTimeStamp(7);
    r.setPackCount(8);
    r.setByteCount(9);
    r.setProbability(0.5);
    r.setLogAmount(100);
    r.setActionOptPort(8668);
    std::string text = writeNarrow(r);
    const std::string ext = "31 7 8 9 5.00000000000000000e-01 100 0  0  8668";
    std::string::size_type at = text.find(ext);
    ASSERT_NE(at, std::string::npos) << text;
    // The 27 option texts, all empty, follow the port.
    std::string rest = text.substr(at + ext.size());
    std::string empties;
    for (int i = 0; i < 27; ++i)
        empties += " 0 ";
    EXPECT_EQ(rest, empties + "\n");

    FWExtDetailedData back = readNarrow<FWExtDetailedData>(text);
    EXPECT_EQ(back.getRuleSet(), 31);
    EXPECT_EQ(back.getProbability(), 0.5);
    EXPECT_EQ(back.getLogAmount(), 100u);
    EXPECT_EQ(back.getActionOptPort(), 8668);
    EXPECT_EQ(fwtest::dumpFields(back), fwtest::dumpFields(r));
}

TEST(FWSerializeTest, CutArchiveLeavesCallersValueUntouched)
{
    RuleTable table{{5122, sampleRule(5122)}, {5123, sampleRule(5123)}};
    std::string text = writeNarrow(table);
    // Cut inside the last record's option texts: "keep-state" is the 26th.
    std::string::size_type cut = text.rfind("keep-state");
    ASSERT_NE(cut, std::string::npos);
    std::string cutText = text.substr(0, cut + 4);

    RuleTable mine{{7, sampleRule(7)}};
    std::vector<std::string> before = fwtest::dumpFields(mine);
    {
        std::istringstream is(cutText);
        boost::archive::text_iarchive ar(is);
        EXPECT_THROW(readRecord(ar, mine), boost::archive::archive_exception);
    }
    EXPECT_EQ(fwtest::dumpFields(mine), before);

    // One record cut the same way.
    std::string one = writeNarrow(sampleRule(5124));
    FWExtDetailedData rule = sampleRule(9);
    std::vector<std::string> ruleBefore = fwtest::dumpFields(rule);
    {
        std::istringstream is(one.substr(0, one.rfind("keep-state") + 2));
        boost::archive::text_iarchive ar(is);
        EXPECT_THROW(readRecord(ar, rule), boost::archive::archive_exception);
    }
    EXPECT_EQ(fwtest::dumpFields(rule), ruleBefore);

    // The whole table reads back.
    RuleTable back = readNarrow<RuleTable>(text);
    EXPECT_EQ(fwtest::dumpFields(back), fwtest::dumpFields(table));
}

TEST(FWSerializeTest, WideRoundTripKeepsUtf8BytesWithByteWiseFacet)
{
    FWDetailedData rule = sampleRule(5300);
    rule.setRuleName("Caf\xc3\xa9");
    std::wstringstream ws;
    ws.imbue(fwtest::byteWiseLocale());
    {
        boost::archive::text_woarchive ar(ws);
        ar << rule;
        NetworkInterfaceInfo info;
        ar << info;
    }
    FWDetailedData back;
    NetworkInterfaceInfo info;
    {
        boost::archive::text_wiarchive ar(ws);
        readRecord(ar, back);
        readRecord(ar, info);
    }
    EXPECT_EQ(back.getRuleName(), "Caf\xc3\xa9");
    EXPECT_EQ(fwtest::dumpFields(back), fwtest::dumpFields(rule));
    EXPECT_EQ(fwtest::dumpFields(info), (std::vector<std::string>{"-1", "list 0"}));
}

TEST(FWSerializeTest, WideWithoutByteWiseFacetLosesNonAsciiName)
{
    // Why the facet: the stream's own ctype widens bytes above 0x7F to WEOF.
    FWDetailedData rule;
    rule.setRuleName("Caf\xc3\xa9");
    std::wstringstream ws;
    bool same = false;
    try {
        {
            boost::archive::text_woarchive ar(ws);
            ar << rule;
        }
        FWDetailedData back;
        boost::archive::text_wiarchive ar(ws);
        ar >> back;
        same = back.getRuleName() == rule.getRuleName();
    } catch (const std::exception&) {
    }
    EXPECT_FALSE(same);
}
