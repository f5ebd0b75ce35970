// The profile file reader, from a stream and from a descriptor (as the
// controller reads the file): a refusal is an archive_exception, and both
// readers refuse or accept alike; a profile they accept writes a file that
// reads back, and that file writes again to the same bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include <boost/archive/archive_exception.hpp>

#include "ApplicationStore.h"
#include "DependentStore.h"
#include "FuzzCheck.h"
#include "ProfileFile.h"

using namespace AppProtection;

namespace {

std::string written(const ApplicationStore& apps, const DependentStore& deps)
{
    std::ostringstream out(std::ios::out | std::ios::binary);
    writeProfile(out, apps, deps);
    return out.str();
}

/// What the descriptor reader makes of the input: the bytes its stores
/// write, or empty when it refuses.
std::string readThroughDescriptor(const uint8_t* data, size_t size)
{
    const int fd = ::memfd_create("profile", MFD_CLOEXEC);
    fuzzcheck::check(fd >= 0, "memfd_create");
    fuzzcheck::check(::write(fd, data, size) == static_cast<ssize_t>(size) && ::lseek(fd, 0, SEEK_SET) == 0,
                     "writing the input");
    ApplicationStore apps;
    DependentStore deps;
    std::string out;
    try {
        readProfile(fd, size, apps, deps);
        out = written(apps, deps);
    } catch (const boost::archive::archive_exception&) {
    }
    ::close(fd);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzcheck::guard([&] {
        ApplicationStore apps;
        DependentStore deps;
        {
            std::istringstream in(std::string(reinterpret_cast<const char*>(data), size),
                                  std::ios::in | std::ios::binary);
            try {
                readProfile(in, apps, deps);
            } catch (const boost::archive::archive_exception&) {
                fuzzcheck::check(readThroughDescriptor(data, size).empty(),
                                 "the descriptor reader accepts what the stream reader refuses");
                return; // refused, as documented
            }
        }
        const std::string first = written(apps, deps);
        fuzzcheck::check(readThroughDescriptor(data, size) == first, "the two readers read other profiles");
        ApplicationStore apps2;
        DependentStore deps2;
        std::istringstream in(first, std::ios::in | std::ios::binary);
        try {
            readProfile(in, apps2, deps2);
        } catch (const boost::archive::archive_exception& e) {
            fuzzcheck::fail(std::string("a profile as written is refused: ") + e.what());
        }
        fuzzcheck::check(written(apps2, deps2) == first, "a profile read back writes other bytes");
    });
    return 0;
}

void fuzzcheck::writeSeeds(const std::string& dir)
{
    ApplicationStore apps;
    DependentStore deps;
    writeSeed(dir, "empty", written(apps, deps));
    DetailedAppRecord app;
    app.setAppPath("/Applications/A.app/Contents/MacOS/A");
    app.setApplicationHash("d41d8cd98f00b204e9800998ecf8427e");
    app.setAppGroup("/Applications/A.app");
    app.setDependencies({"/usr/lib/libx.dylib"});
    NetworkRule rule;
    rule.setOrder(1);
    rule.setIpRange("10.1.2.0/24");
    rule.setPortRange("80-90");
    app.setNwRules({rule});
    apps.addApp(app);
    DependentRecord lib;
    lib.setFileName("/usr/lib/libx.dylib");
    lib.setFileHash("0cc175b9c0f1b6a831c399e269772661");
    lib.setAppList({app.getAppPath()});
    deps.addDependent(lib);
    writeSeed(dir, "one-app", written(apps, deps));
}
