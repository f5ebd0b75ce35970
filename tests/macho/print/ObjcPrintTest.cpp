// The Objective-C metadata printers: generated images (both byte orders,
// cut-short and malformed) through wardmacho with exact texts, clang- and
// ld64.lld-made objects against llvm-objdump-14 --objc-meta-data, and the
// entry points called directly on a buffer in memory.
#include "DriverRun.h"

#include "libstuff/reader.h"
#include "print/objc.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using machotest::fixture;
using machotest::lines;
using namespace macho;

namespace {

std::string printFixture(const std::string& name)
{
    return fixture("print/" + name);
}

std::string wardmacho(const std::vector<std::string>& options, const std::string& file)
{
    setenv("LC_ALL", "C", 1);
    std::vector<std::string> argv{WARDMACHO};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(printFixture(file));
    const machotest::DriverResult r = machotest::runProgramStreams(argv);
    EXPECT_EQ(0, r.status) << file;
    EXPECT_EQ("", r.err) << file;
    return r.out;
}

// ---- pieces of the Objective-C 1 texts ----

std::string module(const char* addr, const char* size, const char* name)
{
    return std::string("Module ") + addr + "\n    version 7\n       size " + size + "\n       name " + name + "\n";
}

std::string symtab(const char* addr, int classes, int categories)
{
    return std::string("     symtab ") + addr + "\n\tsel_ref_cnt 0\n\trefs 0x00000000 (not in an __OBJC section)\n"
           + "\tcls_def_cnt " + std::to_string(classes) + "\n\tcat_def_cnt " + std::to_string(categories) + "\n";
}

std::string imageInfo(const char* flags)
{
    return std::string("Contents of (__OBJC,__image_info) section\n  version 0\n    flags ") + flags + "\n";
}

// A class without ivars, methods or protocols.
std::string bareClass(const char* isa, const char* name, const char* info)
{
    return std::string("\t\t      isa ") + isa + "\n\t      super_class 0x00000000 (not in an __OBJC section)\n"
           + "\t\t     name " + name + "\n\t\t  version 0x00000000\n\t\t     info " + info + "\n"
           + "\t    instance_size 0x00000008\n\t\t    ivars 0x00000000 (not in an __OBJC section)\n"
           + "\t\t  methods 0x00000000 (not in an __OBJC section)\n\t\t    cache 0x00000000\n"
           + "\t\tprotocols 0x00000000 (not in an __OBJC section)\n";
}

const std::string kNoModules = "Objective-C segment\n"
                               "can't print objective-C information no (__OBJC,__module_info) section\n";

struct ObjcCase {
    const char* name;
    std::string file;
    std::vector<std::string> options;
    std::string out;
};

[[maybe_unused]] void PrintTo(const ObjcCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<ObjcCase> objc1Cases()
{
    const std::vector<std::string> ov{"-ov"};
    return {
        {"no_module_info", "objc1_no_module_info", {"-o"}, kNoModules},
        {"no_module_info_verbose", "objc1_no_module_info", ov, kNoModules},
        {"symtab_outside_then_next_module", "objc1_symtab_outside", ov,
         "Objective-C segment\n" + module("0x1000", "16", "m")
             + "     symtab 0x00900000 (not in an __OBJC section)\n" + module("0x1010", "16", "second")
             + symtab("0x00003000", 0, 0) + imageInfo("0x1  F&C RR")},
        {"symtab_outside_not_verbose", "objc1_symtab_outside", {"-o"},
         "Objective-C segment\nModule 0x1000\n    version 7\n       size 16\n       name 0x00002000\n"
         "     symtab 0x00900000 (not in an __OBJC section)\n"
         "Module 0x1010\n    version 7\n       size 16\n       name 0x00002002\n"
             + symtab("0x00003000", 0, 0) + imageInfo("0x1  F&C RR")},
        {"class_defs_past_section", "objc1_defs_cut", ov,
         "Objective-C segment\n" + module("0x4000", "16", "m") + symtab("0x00003000", 2, 0)
             + "\tClass Definitions\n\tdefs[0] 0x00001000\n"
             + bareClass("0x00000000", "0x00002000 A", "0x00000000")
             + "\t(remaining class defs entries entends past the end of the section)\n" + imageInfo("0x0 RR")},
        {"method_list_past_section", "objc1_methods_cut", ov,
         "Objective-C segment\n" + module("0x5000", "16", "m") + symtab("0x00004000", 1, 0)
             + "\tClass Definitions\n\tdefs[0] 0x00003000\n"
               "\t\t      isa 0x00000000\n\t      super_class 0x00000000 (not in an __OBJC section)\n"
               "\t\t     name 0x00002008 A\n\t\t  version 0x00000000\n\t\t     info 0x00000000\n"
               "\t    instance_size 0x00000008\n\t\t    ivars 0x00000000 (not in an __OBJC section)\n"
               "\t\t  methods 0x00001000\n\t\t         obsolete 0x00000000\n\t\t     method_count 3\n"
               "\t\t      method_name 0x00002000 a\n\t\t     method_types 0x00002002 v\n"
               "\t\t       method_imp 0x00000000 \n"
               "\t\t      method_name 0x00002004 b\n\t\t     method_types 0x00002006 v\n"
               "\t\t       method_imp 0x00000000 \n"
               "\t\t remaining method's extend past the of the section\n"
               "\t\t    cache 0x00000000\n\t\tprotocols 0x00000000 (not in an __OBJC section)\n"
             + imageInfo("0x0 RR")},
        {"image_info_of_4_bytes", "objc1_image_info_cut", ov,
         "Objective-C segment\n" + module("0x2000", "16", "m") + symtab("0x00001000", 0, 0)
             + "Contents of (__OBJC,__image_info) section\n (imageInfo entends past the end of the section)\n"
               "  version 0\n    flags 0x0 RR\n"},
        {"module_size_zero_ends_walk", "objc1_module_size_zero", ov,
         "Objective-C segment\n" + module("0x2000", "0", "m") + symtab("0x00001000", 0, 0) + imageInfo("0x0 RR")},
        {"module_size_past_section_ends_walk", "objc1_module_size_wraps", ov,
         "Objective-C segment\nmodule extends past end of __module_info section\n"
             + module("0x2000", "4294967288", "m") + symtab("0x00001000", 0, 0) + imageInfo("0x0 RR")},
        {"class_is_its_own_meta_class", "objc1_self_isa", ov,
         "Objective-C segment\n" + module("0x4000", "16", "m") + symtab("0x00003000", 1, 0)
             + "\tClass Definitions\n\tdefs[0] 0x00001000\n"
             + bareClass("0x00001000", "0x00002000 Self", "0x00000001 CLS_CLASS") + "\tMeta Class\n"
             + bareClass("0x00001000", "0x00002000 Self", "0x00000001 CLS_CLASS") + imageInfo("0x0 RR")},
        // 3,292 bytes: the hash table, then one _hashEntry at byte 3284. The
        // chain of word 5 leads back to its first entry.
        {"runtime_setup", "objc1_runtime_setup", {"-v", "-s", "__OBJC", "__runtime_setup"},
         "Contents of (__OBJC,__runtime_setup) section\n"
         "PHASH[  0] 0x3010\n     sel 0x00001000 sel\n    next 0x00000000\n"
         "PHASH[  5] 0x3000\n     sel 0x00001000 sel\n    next 0x00003008\n"
         "\t sel 0x00001000 sel\n\tnext 0x00003000\n"
         "PHASH[  7] 0x900000 (not in an __OBJC section)\n"
         "HASH at 0x00002cd4\n     sel 0x00001000 sel\n    next 0x00002cd4\n"},
        {"protocol_section", "objc1_le", {"-v", "-s", "__OBJC", "__protocol"},
         "Contents of (__OBJC,__protocol) section\nProtocol 0x3000\n              isa 0x00000000\n"
         "    protocol_name 0x0000100b P\n    protocol_list 0x00000000 (not in an __OBJC section)\n"
         " instance_methods 0x00002000\n        count 1\n        list[0]\n             name 0x00001000 req\n"
         "            types 0x00001004 v8@0:4\n    class_methods 0x00000000 (not in an __OBJC section)\n"},
        // A protocol list already being printed further up is not followed.
        {"protocol_list_names_itself", "objc1_protocol_loop", {"-v", "-s", "__OBJC", "__protocol"},
         "Contents of (__OBJC,__protocol) section\nProtocol 0x1000\n              isa 0x00000000\n"
         "    protocol_name 0x00003000 Loop\n    protocol_list 0x00002000\n             next 0x00000000\n"
         "            count 1\n          list[0] 0x00001000\n                  isa 0x00000000\n"
         "        protocol_name 0x00003000 Loop\n        protocol_list 0x00002000\n"
         "     instance_methods 0x00000000 (not in an __OBJC section)\n"
         "        class_methods 0x00000000 (not in an __OBJC section)\n"
         " instance_methods 0x00000000 (not in an __OBJC section)\n"
         "    class_methods 0x00000000 (not in an __OBJC section)\n"},
        {"cstring_object_clang", "o2.o", {"-v", "-s", "__OBJC", "__cstring_object"},
         "Contents of (__OBJC,__cstring_object) section\nString Object 0xc4\n           isa 0x0\n"
         "    characters 0x33 hello\n       _length 5\n"},
    };
}

std::string classT(const char* isa, const char* data)
{
    return std::string("           isa ") + isa + "\n    superclass 0x0\n         cache 0x0\n        vtable 0x0\n"
           + "          data " + data + " (struct class_ro_t *)\n";
}

std::vector<ObjcCase> objc2Cases()
{
    const std::vector<std::string> ov{"-ov"};
    const std::string stringObjects = "Contents of (__OBJC,__string_object) section\n"
                                      "String Object 0x1000\n           isa 0x900000\n"
                                      "    characters 0x2000 hi\n       _length 2\n          _pad 0\n"
                                      "String Object 0x1018\n           isa 0x0\n"
                                      "    characters 0x900000\n       _length 3\n          _pad 0\n"
                                      "String Object extends past end of __string_object section\n"
                                      "String Object 0x1030\n           isa 0x0\n"
                                      "    characters 0x0\n       _length 0\n          _pad 0\n";
    return {
        {"class_list_of_12_bytes", "objc2_classlist_cut", ov,
         "Contents of (__DATA,__objc_classlist) section\n0000000000001000 0x1234\n"
         "class list pointer extends past end of (__DATA,__objc_classlist) section\n"
         "0000000000001008 0x5678\n"},
        {"class_data_outside", "objc2_data_outside", ov,
         "Contents of (__DATA,__objc_classlist) section\n0000000000002000 0x1000\n" + classT("0x0", "0x900000")},
        {"third_method_cut_short", "objc2_methods_cut", ov,
         "Contents of (__DATA,__objc_classlist) section\n0000000000005000 0x4000\n" + classT("0x0", "0x3000")
             + "                    flags 0x0\n            instanceStart 0\n             instanceSize 0\n"
               "                 reserved 0x0\n               ivarLayout 0x0\n"
               "                     name 0x200c K\n"
               "              baseMethods 0x1000 (struct method_list_t *)\n"
               "\t\t   entsize 24\n\t\t     count 3\n"
               "\t\t      name 0x2000 a\n\t\t     types 0x2002 v\n\t\t       imp 0x0\n"
               "\t\t      name 0x2004 b\n\t\t     types 0x2006 v\n\t\t       imp 0x0\n"
               "   (method_t entends past the end of the section)\n"
               "\t\t      name 0x2008 c\n\t\t     types 0x200a v\n\t\t       imp 0x0\n"
               "            baseProtocols 0x0\n                    ivars 0x0\n"
               "           weakIvarLayout 0x0\n           baseProperties 0x0\n"},
        {"no_lists", "objc2_no_lists", ov,
         "Contents of (__DATA,__objc_msgrefs) section\n  imp 0x0\n  sel 0x2000 m\n"
         " (message_ref entends past the end of the section)\n  imp 0x7\n  sel 0x0\n"
         "Contents of (__DATA,__objc_imageinfo) section\n  version 0\n"
         "    flags 0x3 OBJC_IMAGE_IS_REPLACEMENT OBJC_IMAGE_SUPPORTS_GC\n"},
        {"string_objects_64", "objc2_string_object", {"-v", "-s", "__OBJC", "__string_object"}, stringObjects},
        {"string_objects_64_big_endian", "objc2_string_object_be", {"-v", "-s", "__OBJC", "__string_object"},
         stringObjects},
        // ld64.lld moves the lists to __DATA_CONST, where they are not looked for.
        {"lists_in_data_const", "o64c.dylib", ov, ""},
    };
}

TEST(ObjcPrintersObjc1, GeneratedImagesPrintExactly)
{
    for (const ObjcCase& c : objc1Cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.out, wardmacho(c.options, c.file));
    }
}

TEST(ObjcPrintersObjc2, GeneratedImagesPrintExactly)
{
    for (const ObjcCase& c : objc2Cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.out, wardmacho(c.options, c.file));
    }
}

// The same image in both byte orders prints the same lines, protocol
// records, relocation-entry names and string objects included.
TEST(ObjcPrinters, BothByteOrdersPrintTheSame)
{
    const struct {
        const char* little;
        const char* big;
        std::vector<std::string> options;
    } pairs[] = {
        {"objc1_le", "objc1_be", {"-ov"}},
        {"objc1_le", "objc1_be", {"-o"}},
        {"objc1_le", "objc1_be", {"-v", "-s", "__OBJC", "__protocol"}},
        {"objc1_runtime_setup", "objc1_runtime_setup_be", {"-v", "-s", "__OBJC", "__runtime_setup"}},
        {"objc2_le", "objc2_be", {"-ov"}},
        {"objc2_le", "objc2_be", {"-o"}},
    };
    for (const auto& p : pairs) {
        SCOPED_TRACE(std::string(p.little) + " " + p.options[0]);
        const std::string little = wardmacho(p.options, p.little);
        EXPECT_NE("", little);
        EXPECT_EQ(little, wardmacho(p.options, p.big));
    }
}

bool hasLine(const std::string& text, const std::string& line)
{
    for (const std::string& l : lines(text))
        if (l == line)
            return true;
    return false;
}

TEST(ObjcPrintersObjc1, FullImageLines)
{
    const std::string out = wardmacho({"-ov"}, "objc1_be");
    for (const char* want :
         {"\t\t      isa 0x00006000", "\tMeta Class", "\t\t     info 0x00000002 CLS_META",
          "\t\t      isa 0x00000000 (not in an __OBJC section)", "\t\t       ivar_count 2",
          "\t\t\tivar_type 0x00001022 d", "\t\t      list[0] 0x00003000", "\t\t    protocol_name 0x0000100b P",
          "\tdefs[1] 0x0000a000", "\t       category name 0x00001042 Cat", "    flags 0x2 GC RR"}) {
        EXPECT_TRUE(hasLine(out, want)) << want;
    }
    // Without verbose: no names, no info words.
    const std::string plain = wardmacho({"-o"}, "objc1_le");
    EXPECT_TRUE(hasLine(plain, "\t\t     info 0x00000001")) << plain;
    EXPECT_TRUE(hasLine(plain, "\t\t      method_name 0x00001024")) << plain;
}

TEST(ObjcPrintersObjc2, FullImageLines)
{
    const std::string out = wardmacho({"-ov"}, "objc2_be");
    for (const char* want :
         {"0000000000006000 0x0 _OBJC_CLASS_$_Foo", "           isa 0x5000 _OBJC_METACLASS_$_Foo",
          "                layout map: 0x11 0x02 ", "                      count 2",
          "\t\t      list[1] 0x2040 (struct protocol_t *)", "\t\t\tattributes x4028 Ti,Vz",
          "\t\t\t   offset 12292", "\t\t       imp 0x1010 -[Foo(Cat) req]", "  imp 0x1000 -[Foo bar:]",
          "    flags 0x2 OBJC_IMAGE_SUPPORTS_GC"}) {
        EXPECT_TRUE(hasLine(out, want)) << want;
    }
    // Without verbose pointer fields have no names; strings still print.
    const std::string plain = wardmacho({"-o"}, "objc2_le");
    for (const char* want : {"0000000000006000 0x0", "           isa 0x5000", "                     name 0x4031 Foo",
                             "\t\t      name 0x4000 bar:", "\t\t       imp 0x1000"})
        EXPECT_TRUE(hasLine(plain, want)) << want;
    // The old section names in __OBJC2.
    const std::string old = wardmacho({"-ov"}, "objc2_old_names");
    EXPECT_EQ(0u, old.find("Contents of (__OBJC2,__class_list) section\n0000000000006000 0x5028 _OBJC_CLASS_$_Foo\n"))
        << old;
    EXPECT_TRUE(hasLine(old, "Contents of (__OBJC,__image_info) section"));
}

// ---- against llvm-objdump-14 ----

std::string llvmObjc(const std::string& file)
{
    const machotest::DriverResult r = machotest::runProgramStreams(
        {"/usr/bin/llvm-objdump-14", "--macho", "--objc-meta-data", printFixture(file)});
    EXPECT_EQ(0, r.status) << r.err;
    // Less its first line, the file name.
    const size_t nl = r.out.find('\n');
    return nl == std::string::npos ? "" : r.out.substr(nl + 1);
}

TEST(ObjcAgainstLlvmObjdump, Objc1ClangObjectIsEqual)
{
    const std::string ours = wardmacho({"-ov"}, "o32.o");
    EXPECT_EQ(llvmObjc("o32.o"), ours);
    for (const char* want : {"Module 0x1a4", "    version 7", "       size 16", "\tcls_def_cnt 1",
                             "\t\t     info 0x00000001 CLS_CLASS", "\tMeta Class", "\t\t     info 0x00000002 CLS_META",
                             "\tCategory Definitions", "\t\t       method_imp 0x00000000 -[Foo bar:]",
                             "Contents of (__OBJC,__image_info) section", "    flags 0x40 RR"})
        EXPECT_TRUE(hasLine(ours, want)) << want;
}

// Reviewed differences on o64.dylib: each rewrites a line of one side into
// what the other prints, and each must be needed.
struct Difference {
    const char* why;
    bool llvmSide; // rewrites llvm's line, else ours
    std::regex pattern;
    std::function<std::string(const std::smatch&)> rewrite;
    int used = 0;
};

TEST(ObjcAgainstLlvmObjdump, Objc2DylibEqualOnceReviewedDifferencesApplied)
{
    std::vector<Difference> diffs;
    diffs.push_back({"the implementation's address is printed before its name", false,
                     std::regex(R"(^(\t+ +imp) 0x[0-9a-f]+ ([-+]\[.*)$)"),
                     [](const std::smatch& m) { return m[1].str() + " " + m[2].str(); }});
    diffs.push_back({"llvm leaves a blank after an unnamed implementation", false, std::regex(R"(^(\t+ +imp 0x0)$)"),
                     [](const std::smatch& m) { return m[1].str() + " "; }});
    diffs.push_back({"an ivar's offset is the offset variable's address in decimal; llvm prints it in hex and "
                     "its value",
                     true, std::regex(R"(^(\t\t\t   offset )0x([0-9a-f]+) [0-9]+$)"),
                     [](const std::smatch& m) {
                         return m[1].str() + std::to_string(std::stoull(m[2].str(), nullptr, 16));
                     }});
    diffs.push_back({"a property's attributes print as x%llx", false,
                     std::regex(R"(^(\t\t\tattributes )x(.*)$)"),
                     [](const std::smatch& m) { return m[1].str() + "0x" + m[2].str(); }});
    diffs.push_back({"a category's name prints through the symbol lookup, not as a string", true,
                     std::regex(R"(^(              name 0x[0-9a-f]+) .*$)"),
                     [](const std::smatch& m) { return m[1].str(); }});
    diffs.push_back({"image flags name only 0x1 and 0x2", true,
                     std::regex(R"(^(    flags 0x40) OBJC_IMAGE_HAS_CATEGORY_CLASS_PROPERTIES$)"),
                     [](const std::smatch& m) { return m[1].str(); }});

    auto apply = [&](const std::string& text, bool llvmSide) {
        std::vector<std::string> out;
        bool inMeta = false;
        int metaBlocks = 0;
        for (const std::string& l : lines(text)) {
            // llvm follows isa to the meta class; the class printer does not.
            if (llvmSide && l == "Meta Class") {
                inMeta = true;
                ++metaBlocks;
                continue;
            }
            if (inMeta) {
                if (l.rfind("           baseProperties ", 0) == 0)
                    inMeta = false;
                continue;
            }
            std::string changed = l;
            for (Difference& d : diffs) {
                std::smatch m;
                if (d.llvmSide == llvmSide && std::regex_match(l, m, d.pattern)) {
                    changed = d.rewrite(m);
                    ++d.used;
                    break;
                }
            }
            out.push_back(changed);
        }
        if (llvmSide) {
            EXPECT_EQ(2, metaBlocks);
        }
        return out;
    };
    const std::string ours = wardmacho({"-ov"}, "o64.dylib");
    EXPECT_EQ(apply(llvmObjc("o64.dylib"), true), apply(ours, false));
    for (const Difference& d : diffs)
        EXPECT_GT(d.used, 0) << "reviewed difference no line needs: " << d.why;
    for (const char* want : {"           isa 0x2040 _OBJC_METACLASS_$_Foo",
                             "          data 0x21a0 (struct class_ro_t *)",
                             "                    flags 0x2 RO_ROOT", "\t\t   entsize 24"})
        EXPECT_TRUE(hasLine(ours, want)) << want;
}

// In an MH_OBJECT the pointers are 0 and named through relocation entries:
// only the names on the pointer-list lines compare.
TEST(ObjcAgainstLlvmObjdump, Objc2ObjectNamesThePointerLists)
{
    auto names = [](const std::string& text) {
        std::vector<std::string> out;
        const std::regex pointer(R"(^[0-9a-f]{16} 0x[0-9a-f]+ (.*)$)");
        for (const std::string& l : lines(text)) {
            std::smatch m;
            if (std::regex_match(l, m, pointer))
                out.push_back(m[1].str());
        }
        return out;
    };
    const std::vector<std::string> want = names(llvmObjc("o64.o"));
    ASSERT_EQ(3u, want.size());
    EXPECT_EQ(want, names(wardmacho({"-ov"}, "o64.o")));
}

// ---- the entry points on a buffer ----

/// An image in memory as the dispatch hands it over.
struct Buffer {
    std::string bytes;
    byte_reader reader{};
    load_commands_view lc{};
    object_bytes object{};
    byte_sex sex = UNKNOWN_BYTE_SEX;
    uint32_t ncmds = 0;
    uint32_t sizeofcmds = 0;
    int32_t cputype = 0;

    explicit Buffer(const std::string& file) : bytes(machotest::readFile(printFixture(file)))
    {
        uint32_t magic;
        memcpy(&magic, bytes.data(), 4);
        const bool swapped = magic == 0xcefaedfe || magic == 0xcffaedfe;
        sex = swapped ? (get_host_byte_sex() == LITTLE_ENDIAN_BYTE_SEX ? BIG_ENDIAN_BYTE_SEX : LITTLE_ENDIAN_BYTE_SEX)
                      : get_host_byte_sex();
        auto word = [&](size_t at) {
            uint32_t w;
            memcpy(&w, bytes.data() + at, 4);
            return swapped ? SWAP_LONG(w) : w;
        };
        const bool is64 = (word(0) & 1) != 0;
        cputype = static_cast<int32_t>(word(4));
        ncmds = word(16);
        sizeofcmds = word(20);
        const uint64_t header = is64 ? 32 : 28;
        reader_open_memory(&reader, bytes.data(), bytes.size());
        lc = {&reader, header, std::min<uint64_t>(sizeofcmds, bytes.size() - header), sizeofcmds};
        object = {&reader, 0, bytes.size()};
    }
    ~Buffer() { reader_close(&reader); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    std::string md5() const
    {
        unsigned char d[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        EVP_Digest(bytes.data(), bytes.size(), d, &n, EVP_md5(), nullptr);
        std::string hex;
        char b[3];
        for (unsigned i = 0; i < n; ++i) {
            snprintf(b, sizeof b, "%02x", d[i]);
            hex += b;
        }
        return hex;
    }
};

/// What `call` prints on standard output.
std::string printed(const std::function<void()>& call)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    call();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

/// The symbol and string tables of a buffer, host order.
struct Symbols {
    nlist* symbols = nullptr;
    nlist_64* symbols64 = nullptr;
    uint32_t nsymbols = 0;
    char* strings = nullptr;
    uint64_t strings_size = 0;

    explicit Symbols(const Buffer& b)
    {
        get_symbol_table_info(b.lc, b.ncmds, b.sizeofcmds, b.cputype, b.sex, b.object, &symbols, &symbols64,
                              &nsymbols, &strings, &strings_size);
    }
    ~Symbols()
    {
        free(symbols);
        free(symbols64);
        free(strings);
    }
    Symbols(const Symbols&) = delete;
    Symbols& operator=(const Symbols&) = delete;
};

std::string objc2(const Buffer& b, const Symbols& s)
{
    return printed([&] {
        print_objc2(b.cputype, b.lc, b.ncmds, b.sizeofcmds, b.sex, b.object, s.symbols64, s.nsymbols, s.strings,
                    s.strings_size, nullptr, 0, nullptr, 0, nullptr, 0, 1);
    });
}

std::string stringObjects64(const Buffer& b, const Symbols& s)
{
    return printed([&] {
        print_objc_string_object_section_64("__string_object", b.lc, b.ncmds, b.sizeofcmds, b.sex, b.object,
                                            b.cputype, s.symbols64, s.nsymbols, s.strings, s.strings_size, nullptr,
                                            0, 1);
    });
}

// Names come only through the section relocation entries here (no sorted
// symbols): the big-endian twin names the same, the buffer is never
// written, and calling the other 64-bit entry point first changes nothing.
TEST(ObjcEntryPoints, ForeignOrderRelocationEntriesNameTheSameAndLeaveTheObjectAlone)
{
    Buffer little("objc2_le");
    Buffer big("objc2_be");
    ASSERT_EQ(0x01000012, big.cputype);
    Symbols ls(little);
    Symbols bs(big);
    const std::string md5 = big.md5();

    const std::string want = objc2(little, ls);
    EXPECT_TRUE(hasLine(want, "0000000000006000 0x0 _OBJC_CLASS_$_Foo")) << want;
    EXPECT_TRUE(hasLine(want, "           isa 0x5000 _OBJC_METACLASS_$_Foo")) << want;
    EXPECT_EQ(want, objc2(big, bs));
    EXPECT_EQ(md5, big.md5());
    stringObjects64(big, bs);
    EXPECT_EQ(want, objc2(big, bs));
    EXPECT_EQ(md5, big.md5());

    Buffer strings("objc2_string_object_be");
    Symbols ss(strings);
    const std::string first = stringObjects64(strings, ss);
    objc2(strings, ss);
    EXPECT_EQ(first, stringObjects64(strings, ss));
}

// A name at the very end of a string table without its NUL ends there.
TEST(ObjcEntryPoints, SymbolNameEndsAtTheStringTableEnd)
{
    Buffer b("objc2_le");
    Symbols s(b);
    ASSERT_GT(s.nsymbols, 0u);
    const std::string name = "_OBJC_CLASS_$_Foo";
    const uint64_t size = 1 + name.size();
    char* table = static_cast<char*>(malloc(size)); // exactly the table: ASan sees a read past it
    table[0] = '\0';
    memcpy(table + 1, name.data(), name.size());
    std::vector<nlist_64> symbols(s.symbols64, s.symbols64 + s.nsymbols);
    for (nlist_64& n : symbols)
        n.n_strx = 1;
    const std::string out = printed([&] {
        print_objc2(b.cputype, b.lc, b.ncmds, b.sizeofcmds, b.sex, b.object, symbols.data(), s.nsymbols, table,
                    size, nullptr, 0, nullptr, 0, nullptr, 0, 1);
    });
    free(table);
    EXPECT_TRUE(hasLine(out, "0000000000006000 0x0 _OBJC_CLASS_$_Foo")) << out;
}

// The walks that could go on for ever end, called directly as well.
TEST(ObjcEntryPoints, LoopsAndStuckWalksEnd)
{
    for (const ObjcCase& c : objc1Cases()) {
        const std::string name = c.name;
        if (name != "module_size_zero_ends_walk" && name != "module_size_past_section_ends_walk"
            && name != "class_is_its_own_meta_class" && name != "runtime_setup")
            continue;
        SCOPED_TRACE(name);
        Buffer b(c.file);
        const std::string md5 = b.md5();
        const std::string out = printed([&] {
            if (name == "runtime_setup")
                print_objc_runtime_setup_section(b.lc, b.ncmds, b.sizeofcmds, b.sex, b.object, 1);
            else
                print_objc_segment(b.lc, b.ncmds, b.sizeofcmds, b.sex, b.object, nullptr, 0, 1);
        });
        EXPECT_EQ(c.out, out);
        EXPECT_EQ(md5, b.md5());
    }
}

} // namespace
