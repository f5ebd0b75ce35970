// wardmacho against llvm-objdump-14 --macho on the same files: the texts
// must be equal once the reviewed differences (llvm_differences.txt) are
// applied to ours, and every reviewed difference must be needed somewhere.
#include "DriverRun.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using machotest::fixture;
using machotest::lines;

namespace {

struct Rule {
    std::string kind;
    std::regex pattern;
    std::string replacement; // "<delete>" drops the line
    std::string text;        // as written, for messages
    int used = 0;
};

std::vector<Rule> loadRules()
{
    std::vector<Rule> rules;
    std::ifstream in(MACHO_LLVM_DIFFERENCES);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t a = line.find('\t');
        const size_t b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos)
            throw std::runtime_error("bad rule: " + line);
        rules.push_back({line.substr(0, a), std::regex(line.substr(a + 1, b - a - 1), std::regex::extended),
                         line.substr(b + 1), line, 0});
    }
    return rules;
}

struct Comparison {
    const char* name;
    std::string file;
    std::vector<std::string> ours;
    std::vector<std::string> llvm;
    std::string kind; // which rules apply
};

std::vector<Comparison> comparisons()
{
    std::vector<Comparison> c{
        {"lit_hl", "lit_i386.o", {"-hl"}, {"--private-headers", "--non-verbose"}, "private-headers"},
        {"lit_hlv", "lit_i386.o", {"-hlv"}, {"--private-headers"}, "private-headers"},
        {"threads_i386", "thr_i386_llvm", {"-hlv"}, {"--private-headers"}, "private-headers"},
        {"threads_x86_64", "thr_x64_llvm", {"-hlv"}, {"--private-headers"}, "private-headers"},
        {"fat_f", "fat.o", {"-f"}, {"--universal-headers", "--non-verbose"}, "universal"},
        {"fat_fv", "fat.o", {"-fv"}, {"--universal-headers"}, "universal"},
        {"archive_a", "libx.a", {"-a"}, {"--archive-headers", "--non-verbose"}, "archive-headers"},
        {"archive_av", "libx.a", {"-av"}, {"--archive-headers"}, "archive-headers"},
        {"indirect_I", "lit_i386.o", {"-I"}, {"--indirect-symbols", "--non-verbose"}, "indirect"},
        {"indirect_Iv", "lit_i386.o", {"-Iv"}, {"--indirect-symbols"}, "indirect"},
        {"ppc_relocations", "ppc_yaml.o", {"-r"}, {"-r", "--non-verbose"}, "relocations"},
    };
    for (const char* f : {"a_i386.o", "lit_i386.o", "lib_i386.o", "a_x64.o"}) {
        c.push_back({"relocations", f, {"-r"}, {"-r", "--non-verbose"}, "relocations"});
        c.push_back({"relocations_verbose", f, {"-rv"}, {"-r"}, "relocations"});
    }
    for (const char* s : {"__literal4", "__literal8", "__literal16", "__cstring", "__litptr", "__bss"}) {
        const std::string seg = std::string(s) == "__litptr" || std::string(s) == "__bss" ? "__DATA" : "__TEXT";
        c.push_back({"section", "lit_i386.o", {"-v", "-s", seg, s}, {"--section=" + seg + "," + s}, "section"});
    }
    for (const char* f : {"a_i386.o", "a_x64.o", "a_x64m.o", "lib_i386.o", "lib_x64.o", "lit_i386.o", "t20.o",
                          "a_x64.exe", "libfoo.A.dylib", "libSystem.B.dylib", "ppc_yaml.o", "thr_i386_llvm",
                          "thr_x64_llvm", "../i386_exe", "../ppc_exe", "../ppc_dylib", "../x86_64_be_free_exe64",
                          "../lld_exe", "../lld_exe_weak", "../lld_libfoo.dylib", "../lld_exe_arm64",
                          "../lld_a-i386.o"}) {
        c.push_back({"header", f, {"-h"}, {"--private-header", "--non-verbose"}, "private-header"});
        c.push_back({"header_verbose", f, {"-hv"}, {"--private-header"}, "private-header"});
    }
    for (const char* f : {"a_x64.exe", "libfoo.A.dylib", "libSystem.B.dylib", "fat.o", "libx.a", "../lld_exe",
                          "../lld_exe_weak", "../lld_libfoo.dylib", "../lld_exe_arm64"})
        c.push_back({"libraries", f, {"-L"}, {"--dylibs-used", "--arch=all"}, "libraries"});
    return c;
}

std::string path(const std::string& f)
{
    return f.rfind("../", 0) == 0 ? fixture(f.substr(3)) : fixture("print/" + f);
}

// llvm's lines less its file-name lines (kept for the library lists, whose
// headings are ours too) and " (compatibility version ...)" tails.
std::vector<std::string> llvmLines(const std::string& text, const std::string& file, bool libraries)
{
    std::vector<std::string> out;
    for (std::string l : lines(text)) {
        if (l.rfind("Archive : ", 0) == 0)
            continue;
        if (!libraries && l.rfind(file, 0) == 0 && !l.empty() && l.back() == ':')
            continue;
        const size_t tail = l.find(" (compatibility version ");
        if (libraries && tail != std::string::npos)
            l.erase(tail);
        out.push_back(l);
    }
    return out;
}

TEST(AgainstLlvmObjdump, EqualOnceReviewedDifferencesApplied)
{
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C", 1);
    std::vector<Rule> rules = loadRules();
    ASSERT_FALSE(rules.empty());
    for (const Comparison& c : comparisons()) {
        const std::string file = path(c.file);
        SCOPED_TRACE(std::string(c.name) + " " + file);
        std::vector<std::string> argv{WARDMACHO};
        argv.insert(argv.end(), c.ours.begin(), c.ours.end());
        argv.push_back(file);
        const machotest::DriverResult ours = machotest::runProgramStreams(argv);
        ASSERT_EQ(0, ours.status);

        std::vector<std::string> largv{"/usr/bin/llvm-objdump-14", "--macho"};
        largv.insert(largv.end(), c.llvm.begin(), c.llvm.end());
        largv.push_back(file);
        const machotest::DriverResult llvm = machotest::runProgramStreams(largv);
        ASSERT_EQ(0, llvm.status) << llvm.err;

        std::vector<std::string> mine;
        for (const std::string& l : lines(ours.out)) {
            std::string changed = l;
            bool drop = false;
            for (Rule& r : rules) {
                if (r.kind != c.kind || !std::regex_match(changed, r.pattern))
                    continue;
                ++r.used;
                if (r.replacement == "<delete>")
                    drop = true;
                else
                    changed = std::regex_replace(changed, r.pattern, r.replacement);
                break;
            }
            if (!drop)
                mine.push_back(changed);
        }
        EXPECT_EQ(llvmLines(llvm.out, file, c.kind == "libraries"), mine);
    }
    for (const Rule& r : rules)
        EXPECT_GT(r.used, 0) << "reviewed difference no comparison needs: " << r.text;
}

// Labels in a 64-bit image: each label line is followed by the address
// llvm-objdump gives it (ld64.lld puts __TEXT above 4 GiB).
TEST(AgainstLlvmObjdump, LabelsAndAddressesOf64BitCode)
{
    const std::string file = path("a_x64.exe");
    const auto ours = machotest::runProgramStreams({WARDMACHO, "-tv", file});
    const auto llvm =
        machotest::runProgramStreams({"/usr/bin/llvm-objdump-14", "--macho", "-d", "--full-leading-addr", file});
    auto labels = [](const std::string& text) {
        std::vector<std::string> out;
        const std::vector<std::string> l = lines(text);
        for (size_t i = 0; i + 1 < l.size(); ++i)
            if (!l[i].empty() && l[i].back() == ':' && l[i][0] == '_')
                out.push_back(l[i] + " " + l[i + 1].substr(0, l[i + 1].find('\t') + 1));
        return out;
    };
    const std::vector<std::string> want = labels(llvm.out);
    ASSERT_EQ(2u, want.size());
    EXPECT_EQ("_init: 0000000100000660\t", want[0]);
    EXPECT_EQ(want, labels(ours.out));
}

} // namespace
