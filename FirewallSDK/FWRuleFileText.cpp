#include "FWRuleFileText.h"

#include <algorithm>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <streambuf>

#include <boost/archive/text_oarchive.hpp>
#include <boost/serialization/map.hpp>

namespace FirewallSDK {

namespace {

using Archive = boost::archive::text_oarchive;
using Entry = RuleTable::value_type;

/// Classes the archive describes with the first record holding an object
/// of them; every other class is described by the first record.
enum : unsigned {
    HAS_PROTOCOL = 1,
    HAS_ADDRESS = 2,
    HAS_PORT = 4,
    HAS_INTERFACE = 8,
    EVERY_CLASS = 15
};

unsigned classesOf(const FWExtDetailedData& r)
{
    unsigned c = 0;
    if (!r.getProtocolByRef().empty())
        c |= HAS_PROTOCOL;
    if (!r.getSrcIpByRef().empty() || !r.getDestIpByRef().empty())
        c |= HAS_ADDRESS;
    if (!r.getSrcPortByRef().empty() || !r.getDestPortByRef().empty())
        c |= HAS_PORT;
    if (!r.getInterfaceByRef().empty())
        c |= HAS_INTERFACE;
    return c;
}

/// A record holding one object of each class in `classes`: written first,
/// it leaves the archive having described them and the record's own.
Entry primer(unsigned classes)
{
    FWExtDetailedData r;
    if (classes & HAS_PROTOCOL)
        r.setProtocol(FWDetailedData::FIELD_PLAIN, "ip");
    if (classes & HAS_ADDRESS)
        r.setSrcIp(FWDetailedData::FIELD_PLAIN, "any");
    if (classes & HAS_PORT)
        r.setSrcPort(FWDetailedData::FIELD_PLAIN, "1");
    if (classes & HAS_INTERFACE)
        r.setInterface("via", "lo0");
    return Entry(1, r);
}

/// An output buffer that appends to a string, which may be changed between
/// writes (after a flush).
class Sink : public std::streambuf {
public:
    explicit Sink(std::string* out) : m_out(out) { setp(m_buf, m_buf + sizeof m_buf); }
    void target(std::string* out)
    {
        drain();
        m_out = out;
    }

protected:
    int_type overflow(int_type c) override
    {
        drain();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        if (n > epptr() - pptr()) {
            drain();
            if (n > epptr() - pptr()) {
                m_out->append(s, static_cast<size_t>(n));
                return n;
            }
        }
        std::memcpy(pptr(), s, static_cast<size_t>(n));
        pbump(static_cast<int>(n));
        return n;
    }
    int sync() override
    {
        drain();
        return 0;
    }

private:
    void drain()
    {
        m_out->append(pbase(), static_cast<size_t>(pptr() - pbase()));
        setp(m_buf, m_buf + sizeof m_buf);
    }

    std::string* m_out;
    char m_buf[8192];
};

/// Records written after a primer of `described`: each appended to the
/// string given with it.
class RecordWriter {
public:
    explicit RecordWriter(unsigned described)
        : m_sink(&m_scratch), m_os(&m_sink), m_archive(m_os, boost::archive::no_header)
    {
        const Entry p = primer(described);
        m_archive << p;
    }
    ~RecordWriter()
    {
        // Whatever the archive adds at its end is not a record's.
        m_os.flush();
        m_sink.target(&m_scratch);
    }
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    void write(const Entry& e, std::string& out)
    {
        m_os.flush();
        m_sink.target(&out);
        m_archive << e;
        m_os.flush();
        m_sink.target(&m_scratch);
    }

private:
    std::string m_scratch;
    Sink m_sink;
    std::ostream m_os;
    Archive m_archive;
};

[[noreturn]] void unexpected(const char* what)
{
    throw std::logic_error(std::string("rule file text: ") + what);
}

} // namespace

std::string archiveRuleFileText(const RuleTable& table)
{
    std::string text;
    Sink sink(&text);
    std::ostream os(&sink);
    {
        Archive archive(os, 0);
        archive << table;
    } // the archive ends its text when it goes
    os.flush();
    return text;
}

void buildRuleFileText(const RuleTable& table, std::string& text, RuleFileLayout& layout)
{
    // An empty map reads HEAD " 0 0" TAIL (count, element version); a map of
    // the first record alone HEAD " 1 0" FIRST TAIL.
    const std::string empty = archiveRuleFileText(RuleTable());
    const size_t headSize = empty.rfind(" 0 0");
    if (headSize == std::string::npos)
        unexpected("no count in an empty table's text");
    const std::string tail = empty.substr(headSize + 4);
    std::string first;
    if (!table.empty()) {
        const std::string one = archiveRuleFileText(RuleTable(table.begin(), std::next(table.begin())));
        if (one.size() < empty.size() || one.compare(0, headSize, empty, 0, headSize) != 0 ||
            one.compare(headSize, 4, " 1 0") != 0 || one.compare(one.size() - tail.size(), tail.size(), tail) != 0)
            unexpected("a one-record table's text is not laid out as an empty one's");
        first = one.substr(headSize + 4, one.size() - headSize - 4 - tail.size());
    }

    text.assign(empty, 0, headSize);
    const std::string count = std::to_string(table.size());
    text += ' ';
    layout.countAt = text.size();
    layout.countSize = count.size();
    text += count;
    text += " 0";
    layout.numbers.clear();
    layout.starts.clear();
    layout.numbers.reserve(table.size());
    layout.starts.reserve(table.size());

    unsigned described = 0;
    RecordWriter steady(EVERY_CLASS);
    for (const Entry& e : table) {
        layout.numbers.push_back(e.first);
        layout.starts.push_back(text.size());
        const unsigned classes = classesOf(e.second);
        if (layout.numbers.size() == 1) {
            text += first;
        } else if ((classes & ~described) == 0) {
            steady.write(e, text);
        } else {
            RecordWriter(described).write(e, text);
        }
        described |= classes;
    }
    layout.tailAt = text.size();
    text += tail;
}

bool spliceRuleFileText(const RuleTable& table, uint16_t number, std::string& text, RuleFileLayout& layout)
{
    auto added = table.find(number);
    if (added == table.end() || layout.numbers.size() + 1 != table.size() || layout.numbers.empty())
        return false;
    auto at = std::lower_bound(layout.numbers.begin(), layout.numbers.end(), number);
    if (at != layout.numbers.end() && *at == number)
        return false;
    const size_t place = static_cast<size_t>(at - layout.numbers.begin());
    if (place == 0)
        return false; // the first record describes the classes
    unsigned described = 0;
    for (auto it = table.begin(); it != added; ++it)
        described |= classesOf(it->second);
    if ((classesOf(added->second) & ~described) != 0)
        return false; // it would describe a class a later record describes now

    std::string record;
    RecordWriter(EVERY_CLASS).write(*added, record);
    const std::string count = std::to_string(table.size());
    const size_t offset = place < layout.starts.size() ? layout.starts[place] : layout.tailAt;
    text.insert(offset, record);
    text.replace(layout.countAt, layout.countSize, count);

    const size_t grown = record.size();
    const long shift = static_cast<long>(count.size()) - static_cast<long>(layout.countSize);
    layout.countSize = count.size();
    layout.numbers.insert(at, number);
    layout.starts.insert(layout.starts.begin() + static_cast<long>(place), offset);
    for (size_t i = 0; i < layout.starts.size(); ++i) {
        if (i > place)
            layout.starts[i] += grown;
        layout.starts[i] = static_cast<size_t>(static_cast<long>(layout.starts[i]) + shift);
    }
    layout.tailAt = static_cast<size_t>(static_cast<long>(layout.tailAt + grown) + shift);
    return true;
}

} // namespace FirewallSDK
