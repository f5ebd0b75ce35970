#include "ProfileFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "FileIO.h"
#include "ProfileArchive.h"
#include "ProfileRecordIO.h"
#include "RulebookTrace.h"

namespace AppProtection {

namespace {

void writeStores(ProfileOArchive& ar, const ApplicationStore& apps, const DependentStore& deps)
{
    ar.beginClass(ProfileClass::ApplicationStore);
    apps.save(ar, 0);
    ar.beginClass(ProfileClass::DependentStore);
    deps.save(ar, 0);
    ar.finish();
}

void writeRecordList(ProfileOArchive& ar, const std::list<BasicAppRecord>& records)
{
    ProfileRecordIO::saveAll(ar, ProfileClass::BasicAppRecordList, records);
    ar.finish();
}

void readStores(ProfileIArchive& ar, ApplicationStore& apps, DependentStore& deps)
{
    apps.load(ar, ar.beginClass(ProfileClass::ApplicationStore));
    deps.load(ar, ar.beginClass(ProfileClass::DependentStore));
}

} // namespace

void writeProfile(std::ostream& out, const ApplicationStore& apps, const DependentStore& deps)
{
    ProfileOArchive ar(out);
    writeStores(ar, apps, deps);
}

void writeProfile(int fd, const ApplicationStore& apps, const DependentStore& deps)
{
    ProfileOArchive ar(fd);
    writeStores(ar, apps, deps);
}

void writeTempProfile(std::ostream& out, const std::list<BasicAppRecord>& records)
{
    ProfileOArchive ar(out);
    writeRecordList(ar, records);
}

void writeTempProfile(int fd, const std::list<BasicAppRecord>& records)
{
    ProfileOArchive ar(fd);
    writeRecordList(ar, records);
}

bool replaceProfileFile(const std::string& path, const wchar_t* who, const std::function<void(int fd)>& write,
                        const std::function<void()>& beforeRename)
{
    wardfile::ReplaceResult r = wardfile::replaceFile(path, 0660, [&](int fd) {
        try {
            write(fd);
        } catch (const std::system_error& e) {
            return e.code().value() != 0 ? e.code().value() : EIO;
        }
        if (beforeRename)
            beforeRename();
        return 0;
    });
    if (r.error != 0 && std::strcmp(r.step, "mkostemp") == 0) {
        WARD_TRACE(pdcFlowvalue, 0, L"%ls - Could not open Profile file %s: %s\n", who, r.temporary.c_str(),
                   std::strerror(r.error));
        return false;
    }
    if (r.error != 0) {
        WARD_TRACE(pdcFlowvalue, 0, L"%ls - %s failed for %s: %s\n", who, r.step, r.temporary.c_str(),
                   std::strerror(r.error));
        return false;
    }
    if (r.folderSyncError != 0)
        WARD_TRACE(pdcFlowvalue, 0, L"%ls - fsync of %s failed: %s\n", who, wardfile::parentPath(path).c_str(),
                   std::strerror(r.folderSyncError));
    return true;
}

void readProfile(std::istream& in, ApplicationStore& apps, DependentStore& deps)
{
    ProfileIArchive ar(in);
    readStores(ar, apps, deps);
}

void readProfile(int fd, uint64_t size, ApplicationStore& apps, DependentStore& deps)
{
    ProfileIArchive ar(fd, size);
    readStores(ar, apps, deps);
}

} // namespace AppProtection
