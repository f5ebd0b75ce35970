#include "ReportRecords.h"

#include <cstring>
#include <ctime>
#include <stdexcept>
#include <vector>

#include "StringConvert.h"

namespace {

template <class Record> std::wstring archiveText(const Record& r)
{
    try {
        auto stream = HVO::newWideStream(std::ios::out);
        boost::archive::text_woarchive ar(*stream);
        ar << r;
        return stream->str();
    } catch (const std::exception&) {
        return std::wstring();
    }
}

int32_t now32()
{
    return static_cast<int32_t>(std::time(nullptr));
}

} // namespace

ReportData::ReportData() : time(now32()) {}

std::wstring ReportData::toWstring() const
{
    return archiveText(*this);
}

DetailReportData::DetailReportData() : time(now32()) {}

std::wstring DetailReportData::toWstring() const
{
    return archiveText(*this);
}

void DashBoardData::setDashBoardDispalyData(const std::map<std::wstring, DashBoardDispalyContents>& m)
{
    for (const auto& e : m)
        displayData[e.first] = e.second;
}

void AboutBoxData::setAboutBoxDisplayContents(const std::map<std::wstring, std::wstring>& m)
{
    for (const auto& e : m)
        displayContents[e.first] = e.second;
}

ReporterData::ReporterData() : customData(copyText(std::string())) {}

std::unique_ptr<char[]> ReporterData::copyText(const std::string& text)
{
    std::unique_ptr<char[]> p(new char[text.size() + 1]);
    std::memcpy(p.get(), text.c_str(), text.size() + 1);
    return p;
}

void ReporterData::setCustomText(const std::wstring& text)
{
    // A zero character would cut the converted text short without an error.
    if (text.find(L'\0') != std::wstring::npos)
        throw std::runtime_error("ReporterData: alert text holds a zero character");
    size_t n = text.size();
    std::vector<char> buf(n * 6 + 1);
    int capacity = static_cast<int>(buf.size());
    if (widechar2charstr(text.c_str(), buf.data(), &capacity) != 0)
        throw std::runtime_error("ReporterData: alert text cannot be converted to UTF-8");
    customData = copyText(std::string(buf.data()));
}

std::wstring ReporterData::customText() const
{
    size_t n = std::strlen(customData.get());
    std::vector<wchar_t> buf((n + 1) * 6);
    int capacity = static_cast<int>(n + 1);
    if (char2widechar(customData.get(), buf.data(), &capacity) != 0)
        throw std::runtime_error("ReporterData: custom text is not valid UTF-8");
    return std::wstring(buf.data());
}
