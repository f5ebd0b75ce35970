// prefsctl: reads and writes stored preference keys for scripts and tests.
//   prefsctl get D K
//   prefsctl set D K -int N | -bool true|false | -string S | -array S...
//   prefsctl delete D K
// Exit status: 0 done, 1 key not stored, 2 error or refused.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Preferences.h"

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: prefsctl get DOMAIN KEY\n"
                 "       prefsctl set DOMAIN KEY -int N | -bool true|false | -string S | -array S...\n"
                 "       prefsctl delete DOMAIN KEY\n");
    return 2;
}

// A whole 32-bit decimal: optional '-', digits, nothing else.
bool parseInt(const char* s, int& out)
{
    const char* digits = *s == '-' ? s + 1 : s;
    if (*digits < '0' || *digits > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (errno == ERANGE || *end != '\0' || v < INT_MIN || v > INT_MAX)
        return false;
    out = static_cast<int>(v);
    return true;
}

int get(PreferencesBase& store, const char* key)
{
    PrefValueRef v = store.GetStoredValue(key);
    if (!v)
        return 1;
    switch (v->type()) {
    case PrefType::Integer:
        std::printf("%lld\n", static_cast<long long>(static_cast<const PrefNumber&>(*v).value()));
        return 0;
    case PrefType::Boolean:
        std::printf("%s\n", static_cast<const PrefBoolean&>(*v).value() ? "true" : "false");
        return 0;
    case PrefType::String:
        std::printf("%s\n", static_cast<const PrefString&>(*v).utf8().c_str());
        return 0;
    case PrefType::Array: {
        const auto& a = static_cast<const PrefArray&>(*v);
        for (size_t i = 0; i < a.count(); ++i)
            std::printf("%s\n", a.at(i)->utf8().c_str());
        return 0;
    }
    case PrefType::Other:
        std::fprintf(stderr, "prefsctl: %s holds a value of another kind\n", key);
        return 2;
    }
    return 2;
}

int set(PreferencesBase& store, const char* key, int argc, char** argv)
{
    if (argc < 1)
        return usage();
    std::string kind = argv[0];
    PrefValueRef value;
    if (kind == "-int" && argc == 2) {
        int n;
        if (!parseInt(argv[1], n)) {
            std::fprintf(stderr, "prefsctl: not a 32-bit decimal: %s\n", argv[1]);
            return 2;
        }
        value = std::make_shared<const PrefNumber>(n);
    } else if (kind == "-bool" && argc == 2 && (!std::strcmp(argv[1], "true") || !std::strcmp(argv[1], "false"))) {
        value = PrefBoolean::get(!std::strcmp(argv[1], "true"));
    } else if (kind == "-string" && argc == 2) {
        value = PrefString::createWithUTF8(argv[1]);
    } else if (kind == "-array") {
        auto array = std::make_shared<PrefArray>();
        for (int i = 1; i < argc && array; ++i) {
            PrefStringRef s = PrefString::createWithUTF8(argv[i]);
            if (s)
                array->append(s);
            else
                array.reset();
        }
        value = array;
    } else {
        return usage();
    }
    if (!value) {
        std::fprintf(stderr, "prefsctl: not a text the store can keep\n");
        return 2;
    }
    if (!store.SetValue(key, value)) {
        std::fprintf(stderr, "prefsctl: %s refused the value\n", store.filePath().c_str());
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return usage();
    std::string cmd = argv[1];
    PreferencesBase store;
    store.initialize(argv[2], nullptr, nullptr, 0);
    try {
        if (cmd == "get" && argc == 4)
            return get(store, argv[3]);
        if (cmd == "set")
            return set(store, argv[3], argc - 4, argv + 4);
        if (cmd == "delete" && argc == 4) {
            bool wasStored = false;
            if (store.RemoveValue(argv[3], &wasStored))
                return 0;
            if (!wasStored) {
                try {
                    store.GetStoredValue(argv[3]);
                    return 1;
                } catch (const PreferencesException&) {
                }
            }
            std::fprintf(stderr, "prefsctl: %s refused the change\n", store.filePath().c_str());
            return 2;
        }
    } catch (const PreferencesException& e) {
        std::fprintf(stderr, "prefsctl: %s\n", e.getMessage().c_str());
        return 2;
    }
    return usage();
}
