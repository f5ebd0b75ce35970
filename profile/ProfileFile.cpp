#include "ProfileFile.h"

#include "ProfileArchive.h"

namespace AppProtection {

void writeProfile(std::ostream& out, const ApplicationStore& apps, const DependentStore& deps)
{
    ProfileOArchive ar(out);
    ar.beginClass(ProfileClass::ApplicationStore);
    apps.save(ar, 0);
    ar.beginClass(ProfileClass::DependentStore);
    deps.save(ar, 0);
    ar.finish();
}

void readProfile(std::istream& in, ApplicationStore& apps, DependentStore& deps)
{
    ProfileIArchive ar(in);
    apps.load(ar, ar.beginClass(ProfileClass::ApplicationStore));
    deps.load(ar, ar.beginClass(ProfileClass::DependentStore));
}

} // namespace AppProtection
