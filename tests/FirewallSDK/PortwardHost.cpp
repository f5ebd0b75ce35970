// A stand-in for the program that loads libportward: it defines the trace
// file variables, dlopens the real library and checks that the library's
// lines land in its own trace file.
//
//   portward_host LIB host       runs the checks; exit 0 when they hold
//   portward_host LIB undefined  expects dlopen to fail (built without
//                                -rdynamic, the host exports nothing)
#include <clocale>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "Files.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

namespace {

int failures = 0;

void check(bool ok, const std::string& what)
{
    if (!ok) {
        std::fprintf(stderr, "FAIL: %s\n", what.c_str());
        ++failures;
    }
}

template <class T>
T symbol(void* lib, const char* name)
{
    void* p = dlsym(lib, name);
    check(p != nullptr, std::string("symbol ") + name);
    return reinterpret_cast<T>(p);
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LIB host|undefined [TRACEFLAGS.xml]\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (std::strcmp(argv[2], "undefined") == 0) {
        const char* err = lib ? "" : dlerror();
        std::printf("%s\n", err);
        bool named = std::strstr(err, "undefined symbol: traceInited") || std::strstr(err, "undefined symbol: logFilePtr");
        return named ? 0 : 1;
    }
    if (lib == nullptr) {
        std::fprintf(stderr, "FAIL: dlopen: %s\n", dlerror());
        return 1;
    }

    char path[] = "/tmp/portward-host.XXXXXX";
    int fd = mkstemp(path);
    check(fd >= 0, "trace file");
    close(fd);
    logFilePtr = std::fopen(path, "a+");
    traceInited = 1;

    int* command = symbol<int*>(lib, "fwCommandFlowvalue");
    int* ip = symbol<int*>(lib, "ipValidatorFlowvalue");
    int* port = symbol<int*>(lib, "portValidatorFlowvalue");
    int* sdk = symbol<int*>(lib, "firewallSDKTracervalue");
    if (failures)
        return 1;
    check(*command == 5 && *ip == 5 && *port == 5 && *sdk == 0, "initial levels 5 5 5 0");

    // A validator's constructor and destructor, called as a host's code would.
    using Member = void (*)(void*);
    Member ctor = symbol<Member>(lib, "_ZN11FirewallSDK14PORT_Validator13PortValidatorC1Ev");
    Member dtor = symbol<Member>(lib, "_ZN11FirewallSDK14PORT_Validator13PortValidatorD1Ev");
    if (failures)
        return 1;
    alignas(16) unsigned char object[16];
    ctor(object);
    dtor(object);
    std::string expected = "PortValidator - Called\n~PortValidator - Called\n";

    if (argc > 3) {
        using Loader = void (*)(const char*);
        Loader load = symbol<Loader>(lib, "_ZN11FirewallSDK18loadSDKTraceValuesEPKc");
        if (failures)
            return 1;
        *sdk = 2;
        load(argv[3]);
        check(*command == 3 && *ip == 0 && *port == 0, "levels from " + std::string(argv[3]));
        expected += "Trace value of commandFlow = 3\nTrace value of ipValidatorFlow = 0\n"
                    "Trace value of portValidatorFlow = 0\n";
        ctor(object); // silenced now
        dtor(object);
    }

    std::fclose(logFilePtr);
    logFilePtr = nullptr;
    std::string got = wardtest::readFile(path);
    unlink(path);
    check(got == expected, "trace file holds:\n" + got + "instead of:\n" + expected);
    dlclose(lib);
    return failures ? 1 : 0;
}
