#include "ProfileRecordIO.h"

namespace AppProtection {

void ProfileRecordIO::save(ProfileOArchive& ar, const NetworkRule& rule)
{
    ar.beginClass(ProfileClass::NetworkRule);
    ar.writeInt(rule.order);
    ar.writeUnsigned(rule.ipAddress);
    ar.writeText(rule.ipRange);
    ar.writeInt(rule.portRangeStart);
    ar.writeInt(rule.portRangeEnd);
    ar.writeInt(rule.subnetBits);
    ar.writeInt(rule.protocol);
    ar.writeInt(rule.action);
    ar.writeInt(rule.direction);
    ar.writeText(rule.portRange);
}

void ProfileRecordIO::load(ProfileIArchive& ar, NetworkRule& rule)
{
    ar.beginClass(ProfileClass::NetworkRule);
    rule.order = ar.readInt32();
    rule.ipAddress = ar.readUInt32();
    rule.ipRange = ar.readText();
    rule.portRangeStart = ar.readInt32();
    rule.portRangeEnd = ar.readInt32();
    rule.subnetBits = ar.readInt16();
    rule.protocol = static_cast<NWProtocol>(ar.readInt32());
    rule.action = static_cast<actions>(ar.readInt32());
    rule.direction = static_cast<Operation>(ar.readInt32());
    rule.portRange = ar.readText();
}

void ProfileRecordIO::save(ProfileOArchive& ar, const DetailedAppRecord& r)
{
    ar.beginClass(ProfileClass::DetailedAppRecord);
    ar.writeText(r.m_appPath);
    ar.writeText(r.m_applicationHash);
    ar.writeText(r.m_appGroup);
    ar.writeBool(r.appModified);
    ar.writeTextVector(r.m_dependencies);
    ar.writeTextVector(r.changedDeps);
    ar.writeBool(r.execAllowed);
    saveRules(ar, r.nwRules);
    ar.writeBool(r.enabled);
    ar.writeInt(r.nwAction);
}

void ProfileRecordIO::save(ProfileOArchive& ar, const BasicAppRecord& r)
{
    ar.beginClass(ProfileClass::BasicAppRecord);
    ar.writeText(r.appPath);
    ar.writeText(r.applicationHash);
    ar.writeText(r.appGroup);
    ar.writeBool(r.execAllowed);
    saveRules(ar, r.nwRules);
    ar.writeBool(r.appModified);
    ar.writeTextVector(r.changedDeps);
    ar.writeBool(r.enabled);
    ar.writeInt(r.nwAction);
}

void ProfileRecordIO::saveRules(ProfileOArchive& ar, const std::list<NetworkRule>& rules)
{
    saveAll(ar, ProfileClass::NetworkRuleList, rules);
}

void ProfileRecordIO::load(ProfileIArchive& ar, DetailedAppRecord& r)
{
    ar.beginClass(ProfileClass::DetailedAppRecord);
    // Through the setters, so that the keys follow.
    r.setAppPath(ar.readText());
    r.setApplicationHash(ar.readText());
    r.setAppGroup(ar.readText());
    r.appModified = ar.readBool();
    r.m_dependencies = ar.readTextVector();
    r.changedDeps = ar.readTextVector();
    r.execAllowed = ar.readBool();
    ar.beginClass(ProfileClass::NetworkRuleList);
    uint32_t count = ar.readCount();
    std::list<NetworkRule> rules;
    for (uint32_t i = 0; i < count; ++i)
        load(ar, rules.emplace_back());
    r.nwRules = std::move(rules);
    r.enabled = ar.readBool();
    r.nwAction = static_cast<BasicAppRecord::NetworkAction>(ar.readInt32());
}

void ProfileRecordIO::save(ProfileOArchive& ar, const DependentRecord& r)
{
    ar.beginClass(ProfileClass::DependentRecord);
    ar.writeText(r.m_fileName);
    ar.writeText(r.m_fileHash);
    ar.writeUnsigned(r.m_numApps);
    ar.writeTextVector(r.m_appList);
}

void ProfileRecordIO::load(ProfileIArchive& ar, DependentRecord& r)
{
    ar.beginClass(ProfileClass::DependentRecord);
    r.m_fileName = ar.readText();
    r.m_fileHash = ar.readText();
    r.m_numApps = ar.readUInt32();
    r.m_appList = ar.readTextVector();
    r.m_hashVerified = false;
}

void ProfileRecordIO::saveVector(ProfileOArchive& ar, const std::vector<DetailedAppRecord>& records)
{
    saveAll(ar, ProfileClass::AppRecordVector, records);
}

std::vector<DetailedAppRecord> ProfileRecordIO::loadAppVector(ProfileIArchive& ar)
{
    std::vector<DetailedAppRecord> records;
    loadAll<DetailedAppRecord>(ar, ProfileClass::AppRecordVector,
                               [&](DetailedAppRecord&& r) { records.push_back(std::move(r)); });
    return records;
}

void ProfileRecordIO::saveVector(ProfileOArchive& ar, const std::vector<DependentRecord>& records)
{
    saveAll(ar, ProfileClass::DependentVector, records);
}

std::vector<DependentRecord> ProfileRecordIO::loadDependentVector(ProfileIArchive& ar)
{
    std::vector<DependentRecord> records;
    loadAll<DependentRecord>(ar, ProfileClass::DependentVector,
                             [&](DependentRecord&& r) { records.push_back(std::move(r)); });
    return records;
}

} // namespace AppProtection
