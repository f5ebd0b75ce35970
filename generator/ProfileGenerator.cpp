#include "ProfileGenerator.h"

#include <boost/regex.hpp>

#include "AppProtError.h"
#include "ConfigController.h"
#include "DirectoryEnumerator.h"
#include "ProfileDataController.h"
#include "ProfileFile.h"

namespace AppProtection {

ProfileGenerator::ProfileGenerator() = default;

ProfileGenerator::~ProfileGenerator() = default;

bool ProfileGenerator::loadInstalledApplications() { return loadAppsFromFolder("/Applications"); }

bool ProfileGenerator::loadAppsFromFolder(std::string folder)
{
    // The dot is escaped: "Snapp" or a bare "app" is no bundle.
    static const boost::regex bundle(R"(.*[^/]\.app)");
    std::vector<std::string> dirs = DirectoryEnumerator().enumerate(folder, true, true);
    std::list<BasicAppRecord> found;
    for (const std::string& dir : dirs) {
        if (!boost::regex_match(dir, bundle))
            continue;
        found.emplace_back();
        found.back().setAppGroup(dir);
    }
    m_appRecordList.splice(m_appRecordList.end(), found);
    return true;
}

bool ProfileGenerator::addAppToList(BasicAppRecord& record)
{
    m_appRecordList.push_back(record);
    return true;
}

bool ProfileGenerator::deleteAppFromList(BasicAppRecord& record)
{
    const std::string group = record.getAppGroup();
    m_appRecordList.remove_if([&](const BasicAppRecord& r) { return r.getAppGroup() == group; });
    return true;
}

bool ProfileGenerator::updateAppInList(BasicAppRecord& record)
{
    // A copy first: the argument may be one of the records removed.
    BasicAppRecord copy = record;
    deleteAppFromList(copy);
    return addAppToList(copy);
}

std::list<BasicAppRecord> ProfileGenerator::getAppList(bool onePerGroup)
{
    // list::sort is stable.
    m_appRecordList.sort(
        [](const BasicAppRecord& a, const BasicAppRecord& b) { return a.getAppGroup() < b.getAppGroup(); });
    std::list<BasicAppRecord> copy = m_appRecordList;
    if (onePerGroup)
        copy.unique([](const BasicAppRecord& a, const BasicAppRecord& b) { return a.getAppGroup() == b.getAppGroup(); });
    return copy;
}

bool ProfileGenerator::enforceAppList()
{
    try {
        ConfigController* config = ConfigController::getInstance();
        const std::string path = config->getTempProfilePath();
        if (!replaceProfileFile(path, L"ProfileGenerator::enforceAppList",
                                [this](int fd) { writeTempProfile(fd, m_appRecordList); }))
            return false;
        return config->setProfileSyncNeeded(true) == SUCCESS;
    } catch (...) {
        return false;
    }
}

bool ProfileGenerator::exportAppToProfile(std::string path)
{
    try {
        // Starts empty: the file's old content is replaced, not merged.
        ProfileDataController profile;
        for (BasicAppRecord& record : m_appRecordList) {
            try {
                profile.addAppToProfile(record);
            } catch (...) {
                // A refused or failing record leaves the others to go in.
            }
        }
        // The libraries go into the file with their applications.
        profile.drainPendingDeps();
        // A missing file has no lock to take; the persist creates it.
        profile.lockProfile(path);
        bool written = false;
        try {
            written = profile.persistProfile(path);
        } catch (...) {
        }
        profile.unlockProfile(path);
        return written;
    } catch (...) {
        return false;
    }
}

bool ProfileGenerator::importAppsFromProfile(std::string path)
{
    try {
        ProfileDataController profile;
        if (!profile.loadProfileReadOnly(path))
            return false;
        std::list<BasicAppRecord> rules = profile.getAllProfileRules(false);
        m_appRecordList.splice(m_appRecordList.end(), rules);
        return true;
    } catch (...) {
        return false;
    }
}

bool ProfileGenerator::loadRecommendedProfile()
{
    return importAppsFromProfile(ConfigController::getInstance()->getRecommendedProfilePath());
}

bool ProfileGenerator::importCurrentProfile()
{
    return importAppsFromProfile(ConfigController::getInstance()->getProfilePath());
}

} // namespace AppProtection
