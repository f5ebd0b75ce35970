// A separate process for the profile-lock tests.
//   pdc_helper lock PATH      prints "w", takes the lock, prints "L", unlocks
//   pdc_helper reload PATH    takes the lock, loads, prints "<apps> <inode>\n",
//                             holds the lock until standard input closes
//   pdc_helper flip PATH N    persists two profiles of N records in turn,
//                             forever; prints "ready" after the first
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "ProfileDataController.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

using namespace AppProtection;

namespace {

class Filled : public ProfileDataController {
public:
    Filled(const std::string& group, int n)
    {
        for (int i = 0; i < n; ++i) {
            DetailedAppRecord r;
            r.setAppPath(group + "/app" + std::to_string(i));
            r.setAppGroup(group);
            r.setApplicationHash(std::string(32, 'a' + i % 6));
            m_appStore.addApp(r);
        }
    }
    void touch() { m_profileChanged = true; }
};

void say(const char* text)
{
    if (write(1, text, std::char_traits<char>::length(text)) < 0)
        std::exit(3);
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (argc < 3)
        return 2;
    std::string command = argv[1], path = argv[2];
    if (command == "lock") {
        ProfileDataController p;
        say("w");
        if (!p.lockProfile(path))
            return 1;
        say("L");
        p.unlockProfile(path);
        return 0;
    }
    if (command == "reload") {
        ProfileDataController p;
        if (!p.lockProfile(path))
            return 1;
        p.loadProfile(path);
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
            return 1;
        std::string line = std::to_string(p.getAllProfileRules(false).size()) + " " + std::to_string(st.st_ino) + "\n";
        say(line.c_str());
        char c;
        while (read(0, &c, 1) > 0) {
        }
        p.unlockProfile(path);
        return 0;
    }
    if (command == "flip" && argc == 4) {
        int n = std::atoi(argv[3]);
        Filled one("/one", n), two("/two", n);
        one.touch();
        one.persistProfile(path);
        say("ready\n");
        for (;;) {
            two.touch();
            two.persistProfile(path);
            one.touch();
            one.persistProfile(path);
        }
    }
    return 2;
}
