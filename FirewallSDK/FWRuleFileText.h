// The rule file's text built a record at a time (library-internal), so that
// an addition can splice its one record into the text last written instead
// of serialising the whole table again. The bytes are always the narrow
// archive's: what `text_oarchive(os, 0) << table` writes.
//
// A record's text depends on the records before it only through the class
// descriptions: the archive describes a class where its first object is
// written. The first record describes the map's element, the record classes
// and their containers; a protocol, an address, a port or an interface
// entry is described with the first record holding one. Every other record
// reads the same wherever it stands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FWRecords.h"

namespace FirewallSDK {

using RuleTable = std::map<uint16_t, FWExtDetailedData>;

/// Where the record count and each record stand in a text built here; it
/// holds for that text only.
struct RuleFileLayout {
    size_t countAt = 0;             // the count's digits
    size_t countSize = 0;
    std::vector<uint16_t> numbers;  // the table's numbers, ascending
    std::vector<size_t> starts;     // where each record's text starts
    size_t tailAt = 0;              // where the archive's closing starts
};

/// The table's rule file written by the serialisation library in one go.
std::string archiveRuleFileText(const RuleTable& table);

/// Replaces `text` with the table's rule file and fills `layout`. The
/// serialisation library's exceptions pass on; std::logic_error when its
/// output is not laid out as expected (the caller then writes the table
/// whole).
void buildRuleFileText(const RuleTable& table, std::string& text, RuleFileLayout& layout);

/// `text` and `layout` were built for `table` without its record `number`:
/// adds that record's text when it reads as anywhere else (it is not the
/// first record, and it holds no class that no record before it holds) and
/// returns true. Otherwise returns false and changes nothing.
bool spliceRuleFileText(const RuleTable& table, uint16_t number, std::string& text, RuleFileLayout& layout);

} // namespace FirewallSDK
