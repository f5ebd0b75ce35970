#include "CommandData.h"

#include "WideStream.h"

namespace HVO {

BasicCommandData::BasicCommandData(int commandId, int destinationId, bool flag)
    : commandId(commandId), destinationId(destinationId), commandFlag(flag)
{
}

SerializedData::~SerializedData()
{
    releasePayload();
}

void SerializedData::createOutput()
{
    outStream = newWideStream(std::ios::in | std::ios::out | std::ios::binary);
    try {
        outArchive = std::make_unique<boost::archive::text_woarchive>(*outStream);
    } catch (...) {
        // No archive: setCustomData then writes nothing.
        outArchive.reset();
    }
}

void SerializedData::releasePayload()
{
    outArchive.reset();
    inArchive.reset();
    outStream.reset();
    inStream.reset();
    inText = std::wstring();
}

CommandData::CommandData(int commandId, int destinationId, bool flag)
    : BasicCommandData(commandId, destinationId, flag)
{
    createOutput();
}

CommandData::~CommandData()
{
    releasePayload();
}

CommandResult::CommandResult()
{
    createOutput();
}

CommandResult::~CommandResult()
{
    releasePayload();
}

std::wstring PayloadAccess::outputText(const SerializedData& d)
{
    return d.outStream ? d.outStream->str() : std::wstring();
}

std::wstring PayloadAccess::inputText(const SerializedData& d)
{
    return d.inStream ? d.inText : std::wstring();
}

void PayloadAccess::setOutputText(SerializedData& d, const std::wstring& text)
{
    if (!d.outStream)
        return;
    d.outStream->str(text);
    d.outStream->seekp(0, std::ios::end);
    d.hasData = true;
}

void PayloadAccess::setInput(SerializedData& d, std::wstring text)
{
    d.inArchive.reset();
    d.inStream.reset();
    d.inText = std::move(text);
    d.inStream = std::make_unique<bounded::view_istream<wchar_t>>(d.inText.data(), d.inText.size());
    d.inStream->imbue(byteWiseLocale());
    d.inArchive = std::make_unique<bounded_wiarchive>(*d.inStream);
}

} // namespace HVO
