// Event, dashboard and about-box records, and the alert envelope of
// commands 60000 and 60001.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "BoundedWIArchive.h"
#include <boost/archive/text_woarchive.hpp>
#include <boost/serialization/map.hpp>
#include <boost/serialization/split_member.hpp>
#include <boost/serialization/string.hpp>

#include "WideStream.h"

constexpr int ALERT_TYPE_NOTIFICATION = 31;
constexpr int ALERT_TYPE_ALERT = 32;

/// Event summary sent through the broker's logger.
class ReportData {
public:
    ReportData();

    void setName(const std::wstring& n) { name = n; }
    void setKind(const std::wstring& k) { kind = k; }
    void setHvkId(int id) { hvkId = id; }

    /// The archive text of this record alone (header first, no newline);
    /// empty if the archive cannot be made.
    std::wstring toWstring() const;

    template <class Archive> void serialize(Archive& ar, const unsigned int)
    {
        ar & number & name & kind & time & hvkId;
    }

protected:
    uint32_t number = 4294967295u; // never changed
    std::wstring name;
    std::wstring kind;
    int32_t time;
    int hvkId = -1;
};

/// Details of an event.
class DetailReportData {
public:
    DetailReportData();

    void setTitle(const std::wstring& t) { title = t; }
    void setHeader(const std::map<std::wstring, std::wstring>& h) { header = h; }
    void setDetail(const std::multimap<std::wstring, std::wstring>& d) { detail = d; }
    void setHvkId(int id) { hvkId = id; }
    std::wstring getTitle() const { return title; }
    std::map<std::wstring, std::wstring> getHeader() const { return header; }
    int32_t getTime() const { return time; }

    std::wstring toWstring() const;

    template <class Archive> void serialize(Archive& ar, const unsigned int)
    {
        ar & title & header & detail & time & hvkId;
    }

protected:
    std::wstring title;
    std::map<std::wstring, std::wstring> header;
    std::multimap<std::wstring, std::wstring> detail;
    int32_t time;
    int hvkId = -1;
};

enum DashBoardStatus : int {
    DASHBOARD_ENABLED = 0,
    DASHBOARD_RISK = 1,
    DASHBOARD_DISABLED = 2,
    DASHBOARD_UNKNOWN = 3,
};

/// One dashboard entry.
class DashBoardDispalyContents {
public:
    DashBoardDispalyContents() = default;
    DashBoardDispalyContents(const DashBoardDispalyContents&) = default;
    DashBoardDispalyContents& operator=(const DashBoardDispalyContents&) = default;

    void setDisplayString(const std::wstring& s) { displayString = s; }
    void setStatus(DashBoardStatus s) { status = s; }
    std::wstring getDisplayString() const { return displayString; }
    DashBoardStatus getStatus() const { return status; }

    template <class Archive> void serialize(Archive& ar, const unsigned int)
    {
        ar & displayString & status;
    }

private:
    std::wstring displayString;
    DashBoardStatus status = DASHBOARD_UNKNOWN;
};

/// Reply to command 1003.
class DashBoardData {
public:
    void setHvkId(int id) { hvkId = id; }
    int getHvkId() const { return hvkId; }
    /// Stores every given entry (insert or overwrite); other keys stay.
    void setDashBoardDispalyData(const std::map<std::wstring, DashBoardDispalyContents>& m);
    std::map<std::wstring, DashBoardDispalyContents> getDashBoardDispalyData() const { return displayData; }

    template <class Archive> void serialize(Archive& ar, const unsigned int)
    {
        ar & hvkId & displayData;
    }

private:
    int hvkId = -1;
    std::map<std::wstring, DashBoardDispalyContents> displayData;
};

/// Reply to command 1004: version texts by key.
class AboutBoxData {
public:
    void setHvkId(int id) { hvkId = id; }
    int getHvkId() const { return hvkId; }
    /// Stores every given entry (insert or overwrite); other keys stay.
    void setAboutBoxDisplayContents(const std::map<std::wstring, std::wstring>& m);
    std::map<std::wstring, std::wstring> getAboutBoxDisplayContents() const { return displayContents; }

    template <class Archive> void serialize(Archive& ar, const unsigned int)
    {
        ar & hvkId & displayContents;
    }

private:
    int hvkId = -1;
    std::map<std::wstring, std::wstring> displayContents;
};

/// The envelope of commands 60000 and 60001: the sender, the alert type and
/// the alert as UTF-8 archive text. Owns its text; not copyable.
class ReporterData {
public:
    ReporterData();
    ReporterData(const ReporterData&) = delete;
    ReporterData& operator=(const ReporterData&) = delete;

    void setHvkId(int id) { hvkId = id; }
    void setAlertType(int type) { alertType = type; }
    int getHvkId() const { return hvkId; }
    int getAlertType() const { return alertType; }

    /// Stores `alert` as the UTF-8 form of its archive text. Throws
    /// std::runtime_error when the text cannot be converted; the old text
    /// then stays.
    template <class T> void setAlertCustomData(T& alert)
    {
        auto stream = HVO::newWideStream(std::ios::in | std::ios::out | std::ios::binary);
        std::wstring text;
        {
            boost::archive::text_woarchive ar(*stream);
            ar << alert;
            text = stream->str();
        }
        setCustomText(text);
    }

    /// Reads the alert back. Without custom data the alert is unchanged; a
    /// text that is no alert archive throws (the alert keeps what was read).
    template <class T> void getAlertCustomData(T& alert)
    {
        if (!customData)
            return;
        auto stream = HVO::newWideStream(customText(), std::ios::in | std::ios::out);
        HVO::bounded_wiarchive ar(*stream);
        ar >> alert;
    }

    template <class Archive> void save(Archive& ar, const unsigned int) const
    {
        std::string text(customData ? customData.get() : "");
        ar << hvkId << alertType << text;
    }
    template <class Archive> void load(Archive& ar, const unsigned int)
    {
        std::string text;
        ar >> hvkId >> alertType >> text;
        customData = copyText(text);
    }
    BOOST_SERIALIZATION_SPLIT_MEMBER()

private:
    static std::unique_ptr<char[]> copyText(const std::string& text);
    void setCustomText(const std::wstring& text);
    std::wstring customText() const;

    int hvkId = -1;
    int alertType = 0;
    std::unique_ptr<char[]> customData;
};
