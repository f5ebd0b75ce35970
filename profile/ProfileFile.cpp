#include "ProfileFile.h"

#include "ProfileArchive.h"

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
