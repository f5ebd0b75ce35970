// Payloads that carry application rules (commands 20000 to 20003 and 20008),
// and the decision report handed to the report manager. Part of
// protocol_app, which links librulebook.
#pragma once

// boost 1.74's list serializer needs library_version_type declared first.
#include <boost/serialization/library_version_type.hpp>
#include <boost/serialization/list.hpp>
#include <boost/serialization/string.hpp>
#include <boost/serialization/vector.hpp>

#include "AppProtRecords.h"
#include "BasicAppRecord.h"

namespace AppProtection {

/// The report of one decision with the matched rule; never serialised.
class AppProtReport : public AppProtBasicReport {
public:
    /// Execution decisions.
    AppProtReport(const std::string& name, const BasicAppRecord& record, Operation operation, int searchReturnValue);
    /// Network decisions.
    AppProtReport(const std::string& name, const BasicAppRecord& record, Operation operation, int searchReturnValue,
                  const sockaddr_in& addr, NWProtocol protocol);

    BasicAppRecord getBasicAppRecord() const { return basicAppRecord; }
    void setBasicAppRecord(const BasicAppRecord& record) { basicAppRecord = record; }
    // TODO: the profile controller's SearchReturnValue once that class
    // exists; the values (1 to 5) are the same.
    int getSearchReturnValue() const { return searchReturnValue; }

private:
    BasicAppRecord basicAppRecord;
    int searchReturnValue;
};

} // namespace AppProtection
