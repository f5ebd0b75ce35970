// Command envelopes: a request (CommandData) or a reply (CommandResult), each
// holding at most one payload record in a boost wide text archive.
#pragma once

#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "BoundedWIArchive.h"
#include <boost/archive/text_woarchive.hpp>

/// Module ids on the command broker.
constexpr int APP_PROTECTION_HVK_ID = 3;
constexpr int FIREWALL_SERVICE_HVK_ID = 4;
constexpr int REPORTER_HVK_ID = 102;

namespace HVO {

class PayloadAccess;

/// The command header. A reply carries a copy of its request's header, the
/// three broker words included, so that the broker can route it back.
class BasicCommandData {
public:
    BasicCommandData() = default;
    BasicCommandData(int commandId, int destinationId, bool flag);
    virtual ~BasicCommandData() = default;
    BasicCommandData(const BasicCommandData&) = default;
    BasicCommandData& operator=(const BasicCommandData&) = default;

    int getCommandId() const { return commandId; }
    int getDestinationId() const { return destinationId; }
    bool getCommandFlag() const { return commandFlag; }
    uint32_t getBrokerWord1() const { return brokerWord1; }
    int getBrokerWord2() const { return brokerWord2; }
    int getBrokerWord3() const { return brokerWord3; }

private:
    friend class PayloadAccess;
    int commandId = -1;
    uint32_t brokerWord1 = 0;
    int brokerWord2 = -1;
    int destinationId = -1;
    bool commandFlag = false;
    int brokerWord3 = -1;
};

/// The payload holder. The envelopes create the output side; the broker
/// fills the input side when a payload arrived. Owns all four objects and
/// releases each archive before the stream it works on. Not copyable.
class SerializedData {
public:
    SerializedData() = default;
    virtual ~SerializedData();
    SerializedData(const SerializedData&) = delete;
    SerializedData& operator=(const SerializedData&) = delete;

    /// Writes `value` as one top-level object; without an output archive
    /// writes nothing.
    template <class T> void setCustomData(T& value)
    {
        if (outArchive) {
            hasData = true;
            *outArchive << value;
        }
    }

    /// Reads one top-level object into `value`; without an input archive
    /// leaves it unchanged. Archive exceptions pass to the caller.
    template <class T> void getCustomData(T& value)
    {
        if (inArchive)
            *inArchive >> value;
    }

protected:
    /// Creates the output stream and archive (the header is written at once).
    void createOutput();
    /// Releases output archive, input archive, output stream, input stream.
    void releasePayload();

private:
    friend class PayloadAccess;
    std::unique_ptr<std::wstringstream> outStream;
    std::wstring inText; // what inStream reads
    std::unique_ptr<bounded::view_istream<wchar_t>> inStream;
    std::unique_ptr<boost::archive::text_woarchive> outArchive;
    std::unique_ptr<bounded_wiarchive> inArchive;
    bool hasData = false;
};

/// A request: header and payload.
class CommandData : public BasicCommandData, public SerializedData {
public:
    CommandData(int commandId, int destinationId, bool flag);
    ~CommandData() override;
};

/// The reply header: the request's header and two outcome flags.
class BasicCommandResult {
public:
    BasicCommandResult() = default;
    virtual ~BasicCommandResult() = default;

    void setBasicCommandData(const BasicCommandData& header) { commandData = header; }
    BasicCommandData getBasicCommandData() const { return commandData; }
    void setCommandStatus(bool status) { commandStatus = status; }
    bool getCommandStatus() const { return commandStatus; }
    void setCommandCompleted(bool completed) { commandCompleted = completed; }
    bool getCommandCompleted() const { return commandCompleted; }

private:
    BasicCommandData commandData;
    bool commandStatus = true;
    bool commandCompleted = true;
};

/// A reply: both flags true until set, and an output side for its payload.
class CommandResult : public BasicCommandResult, public SerializedData {
public:
    CommandResult();
    ~CommandResult() override;
};

/// What the broker (and tests) need beyond the system's own interface: the
/// broker words, the archive text and the input side.
class PayloadAccess {
public:
    static void setBrokerWords(BasicCommandData& h, uint32_t w1, int w2, int w3)
    {
        h.brokerWord1 = w1;
        h.brokerWord2 = w2;
        h.brokerWord3 = w3;
    }
    static void setHeader(BasicCommandData& h, int commandId, uint32_t w1, int w2, int destinationId,
                          bool flag, int w3)
    {
        h.commandId = commandId;
        h.brokerWord1 = w1;
        h.brokerWord2 = w2;
        h.destinationId = destinationId;
        h.commandFlag = flag;
        h.brokerWord3 = w3;
    }
    static bool hasData(const SerializedData& d) { return d.hasData; }
    static bool hasOutput(const SerializedData& d) { return d.outArchive != nullptr; }
    static bool hasInput(const SerializedData& d) { return d.inArchive != nullptr; }
    /// The text written so far (the archive stays open: no trailing newline).
    static std::wstring outputText(const SerializedData& d);
    /// Gives `d` an input stream holding `text` (moved in when it can be,
    /// so that a large payload is held once) and an input archive over it.
    /// Throws what the archive throws on a bad header; the stream then stays
    /// without an archive.
    static void setInput(SerializedData& d, std::wstring text);
    /// The received text, whole (empty without an input stream).
    static std::wstring inputText(const SerializedData& d);
    /// Replaces what was written with `text` (a whole archive text) and
    /// marks `d` as holding data; without an output stream does nothing.
    static void setOutputText(SerializedData& d, const std::wstring& text);
};

} // namespace HVO
