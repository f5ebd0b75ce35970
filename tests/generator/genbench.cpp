// genbench [BUNDLES]: the generator's cost on BUNDLES application bundles
// (default 2,000) made in a scratch folder, each an executable and the
// library it loads through @executable_path (copies of two clang/lld files,
// each copy with its own tag appended: distinct fingerprints, still
// Mach-O), and a plain folder every tenth. One run times the scan, the
// export, the import, md5sum over the same files (one child, names through
// xargs -0) and the dependency scanner alone over every file; checks that
// the import holds every executable; prints counts, bytes, times and the
// ratios export/md5sum and export/scanner. Exit 1 when a check fails.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ProfileGenerator.h"
#include "scanner.h"

FILE* logFilePtr = nullptr;
int traceInited = 0;

extern char** environ;

namespace fs = std::filesystem;
using AppProtection::ProfileGenerator;

namespace {

const char kLd[] = "ld64.lld-14 -arch x86_64 -platform_version macos 10.15 10.15";

bool sh(const std::string& command)
{
    if (std::system(command.c_str()) == 0)
        return true;
    std::fprintf(stderr, "genbench: failed: %s\n", command.c_str());
    return false;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

/// The executable and its library, made once with clang and ld64.lld.
bool makeOriginals(const std::string& work, std::string& exe, std::string& lib)
{
    const std::string c = "clang -target x86_64-apple-macos10.15 -c ";
    writeFile(work + "/f.c", "int f(void) { return 0; }\n");
    writeFile(work + "/main.c", "int f(void);\nint main(void) { return f(); }\n");
    lib = work + "/libF.dylib";
    exe = work + "/App";
    return sh(c + work + "/f.c -o " + work + "/f.o") && sh(c + work + "/main.c -o " + work + "/main.o") &&
           sh(std::string(kLd) + " -dylib -install_name @executable_path/../Frameworks/libF.dylib " + work +
              "/f.o -o " + lib) &&
           sh(std::string(kLd) + " -e _main " + work + "/main.o " + lib + " -undefined dynamic_lookup -o " + exe);
}

double seconds(const std::function<void()>& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// md5sum over `files` in one child, the names through xargs -0.
bool md5sumAll(const std::vector<std::string>& files, const std::string& work)
{
    const std::string list = work + "/names";
    std::string names;
    for (const std::string& f : files)
        names += f + '\0';
    writeFile(list, names);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, list.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"xargs", "-0", "md5sum", nullptr};
    pid_t child = -1;
    const int rc = posix_spawnp(&child, "xargs", &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    int status = 0;
    return rc == 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    long bundles = 2000;
    if (argc > 2 || (argc == 2 && ((bundles = std::strtol(argv[1], nullptr, 10)) < 1 || bundles > 1000000))) {
        std::fprintf(stderr, "usage: genbench [BUNDLES] (1 to 1000000, default 2000)\n");
        return 2;
    }
    char tmpl[] = "/tmp/genbench.XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        std::perror("genbench: mkdtemp");
        return 1;
    }
    const std::string work = tmpl, apps = work + "/Applications";
    struct Cleanup {
        std::string dir;
        ~Cleanup()
        {
            std::error_code ec;
            fs::remove_all(dir, ec);
        }
    } cleanup{work};

    std::string exe, lib;
    if (!makeOriginals(work, exe, lib))
        return 1;
    const std::string exeBytes = readFile(exe), libBytes = readFile(lib);
    std::vector<std::string> files;
    uint64_t bytes = 0;
    for (long i = 0; i < bundles; ++i) {
        const std::string bundle = apps + "/App" + std::to_string(i) + ".app/Contents";
        fs::create_directories(bundle + "/MacOS");
        fs::create_directories(bundle + "/Frameworks");
        const std::string tag = "tag " + std::to_string(i);
        files.push_back(bundle + "/MacOS/App");
        writeFile(files.back(), exeBytes + tag);
        files.push_back(bundle + "/Frameworks/libF.dylib");
        writeFile(files.back(), libBytes + tag);
        bytes += exeBytes.size() + libBytes.size() + 2 * tag.size();
        if (i % 10 == 0)
            fs::create_directories(apps + "/Folder" + std::to_string(i) + "/Contents");
    }

    ProfileGenerator generator, importer;
    const std::string profile = work + "/profile.data";
    bool scanned = false, exported = false, imported = false, summed = false;
    const double scan = seconds([&] { scanned = generator.loadAppsFromFolder(apps); });
    const double exportTime = seconds([&] { exported = generator.exportAppToProfile(profile); });
    const double importTime = seconds([&] { imported = importer.importAppsFromProfile(profile); });
    const double md5 = seconds([&] { summed = md5sumAll(files, work); });
    long executables = 0;
    const double scanner = seconds([&] {
        for (const std::string& f : files) {
            executables += isFileMachOExecutable(f.c_str());
            dependant_libraries libs = {0, nullptr};
            if (getDependantLibraries(f.c_str(), &libs) == 1 && libs.names != nullptr) {
                for (int32_t k = 0; k < libs.count; ++k)
                    std::free(libs.names[k]);
                std::free(libs.names);
            }
        }
    });

    const size_t candidates = generator.getAppList(false).size();
    const size_t records = importer.getAppList(false).size();
    const uint64_t profileBytes = fs::exists(profile) ? fs::file_size(profile) : 0;
    std::printf("bundles %ld, files %zu, bytes %llu, candidates %zu, imported %zu, profile bytes %llu\n", bundles,
                files.size(), static_cast<unsigned long long>(bytes), candidates, records,
                static_cast<unsigned long long>(profileBytes));
    std::printf("scan %.3f s, export %.3f s, import %.3f s, md5sum %.3f s, scanner %.3f s\n", scan, exportTime,
                importTime, md5, scanner);
    std::printf("export/md5sum %.2f, export/scanner %.2f\n", exportTime / md5, exportTime / scanner);
    bool ok = true;
    auto check = [&](bool cond, const char* what) {
        if (!cond) {
            std::fprintf(stderr, "genbench: %s\n", what);
            ok = false;
        }
    };
    check(scanned && static_cast<long>(candidates) == bundles, "the scan did not find every bundle");
    check(exported, "the export failed");
    check(imported && static_cast<long>(records) == bundles, "the import does not hold every executable");
    check(summed, "md5sum failed");
    check(executables == bundles, "the scanner did not take every executable");
    return ok ? 0 : 1;
}
