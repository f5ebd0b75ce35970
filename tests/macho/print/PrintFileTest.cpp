// wardmacho over whole files: one process per case, each standard stream
// compared exactly. The fixtures are byte-built by the fixture generator
// (print/*) or made by clang, llvm-mc, ld64.lld, llvm-lipo and llvm-ar.
#include "DriverRun.h"
#include "Files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

using machotest::fixture;

namespace {

struct FileCase {
    const char* name;
    std::string file; // under print/, or "../NAME" for the scanner's fixtures
    std::vector<std::string> options;
    std::string out;
    std::string err = ""; // "@FILE" stands for the path
    int status = 0;
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.name;
}

// `text` with "@FILE" replaced by `path` (not "PATH": LC_RPATH holds it).
std::string atFile(std::string text, const std::string& path)
{
    for (size_t at = text.find("@FILE"); at != std::string::npos; at = text.find("@FILE", at + path.size()))
        text.replace(at, 5, path);
    return text;
}

std::string printFixture(const std::string& name)
{
    return fixture("print/" + name);
}

machotest::DriverResult wardmacho(const std::vector<std::string>& options, const std::string& path)
{
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C", 1);
    std::vector<std::string> argv{WARDMACHO};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(path);
    return machotest::runProgramStreams(argv);
}

const std::string kRelocHeading = "address  pcrel length extern type    scattered symbolnum/value\n";

std::vector<FileCase> fileCases()
{
    return {
        // ---- no option: the scanner's own notes and reports only ----
        {"none_object", "lit_i386.o", {}, ""},
        {"none_fat", "fat.o", {}, ""},
        {"none_archive", "libx.a", {}, ""},
        {"none_threads", "thr_x64_llvm", {}, ""},
        {"none_size_zero", "size_zero_command", {}, ""},
        {"none_truncated", "../magic_27", {}, " is a truncated object file\n"},
        {"none_unreadable", "no_such_file", {}, "", "wardmacho: can't read: @FILE\n", 1},
        {"none_folder", "../a_directory", {}, "", "wardmacho: can't read: @FILE\n", 1},
        {"none_fat_table_cut", "../fat_truncated_table", {}, "",
         "wardmacho: fat file: @FILE truncated or malformed (fat_arch structs would extend past the end of the "
         "file)\n",
         1},

        // ---- header printers ----
        {"fat_zero_slices", "../fat_zero_slices", {"-fv"},
         "Fat headers\nfat_magic FAT_MAGIC\nnfat_arch 0 (malformed, contains zero architecture types)\n"},
        {"fat_duplicate", "fat_duplicate", {"-fv"},
         "Fat headers\nfat_magic FAT_MAGIC\nnfat_arch 2\n"
         "architecture i386\n    cputype CPU_TYPE_I386\n    cpusubtype CPU_SUBTYPE_I386_ALL\n"
         "    capabilities 0x0\n    offset 4096\n    size 80\n    align 2^12 (4096)\n"
         "architecture (illegal duplicate architecture) i386\n    cputype CPU_TYPE_I386\n"
         "    cpusubtype CPU_SUBTYPE_I386_ALL\n    capabilities 0x0\n    offset 8192\n    size 80\n"
         "    align 2^12 (4096)\n"},
        {"toc_extended_name_20", "ar_toc_ext20", {"-Sv"},
         "Table of contents from: @FILE(__.SYMDEF)\nsize of ranlib structures: 8 (number 1)\nsize of strings: 8\n"
         "object           symbol name\nabcdefg          _sym\n"},
        {"toc_numbers", "ar_toc_ext20", {"-S"},
         "Table of contents from: @FILE(__.SYMDEF)\nsize of ranlib structures: 8 (number 1)\n"
         "object offset  string index\n92             0\n"},
        {"toc_ranlibs_past_member", "ar_toc_cut", {"-S"}, "",
         "wardmacho: truncated table of contents in: @FILE(__.SYMDEF) (ranlib structures extends past the end of "
         "the table of contents member)\n"},
        {"archive_modes", "ar_modes", {"-av"},
         "-rw-r--r--  0/0      28 Thu Jan  1 00:00:00 1970 reg.o\n"
         "-rwsr-xr-x  0/0      28 Thu Jan  1 00:00:00 1970 suid.o\n"
         "?---------  0/0      28 Thu Jan  1 00:00:00 1970 zero.o\n"},
        {"archive_modes_numbers", "ar_modes", {"-a"},
         "0100644   0/0      28 0 reg.o\n0104755   0/0      28 0 suid.o\n00   0/0      28 0 zero.o\n"},
        {"mach_header_flags_zero", "thr_i386_llvm", {"-hv"},
         "Mach header\n      magic cputype cpusubtype  caps    filetype ncmds sizeofcmds      flags\n"
         "   MH_MAGIC    I386        ALL  0x00     EXECUTE     1         80 0x00000000\n"},

        // ---- load command printers ----
        {"segment_cmdsize_192", "seg_192", {"-l"},
         "Load command 0\n      cmd LC_SEGMENT\n  cmdsize 192\n  segname \n   vmaddr 0x00000000\n"
         "   vmsize 0x00000008\n  fileoff 0\n filesize 0\n  maxprot 0x00000007\n initprot 0x00000007\n"
         "   nsects 2\n    flags 0x0\nSection\n  sectname __text\n   segname __TEXT\n      addr 0x00000000\n"
         "      size 0x00000004\n    offset 0\n     align 2^2 (4)\n    reloff 0\n    nreloc 0\n"
         "     flags 0x00000000\n reserved1 0\n reserved2 0\nSection\n  sectname __data\n   segname __DATA\n"
         "      addr 0x00000004\n      size 0x00000004\n    offset 0\n     align 2^2 (4)\n"
         "    reloff 0\n    nreloc 0\n     flags 0x00000000\n reserved1 0\n reserved2 0\n"},
        {"segment_cmdsize_196", "seg_196", {"-l", "-X"},
         "Load command 0\n      cmd LC_SEGMENT\n  cmdsize 196 Inconsistent size\n  segname \n"
         "   vmaddr 0x00000000\n   vmsize 0x00000008\n  fileoff 0\n filesize 0\n  maxprot 0x00000007\n"
         " initprot 0x00000007\n   nsects 2\n    flags 0x0\nSection\n  sectname __text\n   segname __TEXT\n"
         "      addr 0x00000000\n      size 0x00000004\n    offset 0\n     align 2^2 (4)\n    reloff 0\n"
         "    nreloc 0\n     flags 0x00000000\n reserved1 0\n reserved2 0\nSection\n  sectname __data\n"
         "   segname __DATA\n      addr 0x00000004\n      size 0x00000004\n    offset 0\n     align 2^2 (4)\n"
         "    reloff 0\n    nreloc 0\n     flags 0x00000000\n reserved1 0\n reserved2 0\n"},
        {"prebound_modules", "prebound", {"-l"},
         "Load command 0\n            cmd LC_PREBOUND_DYLIB\n        cmdsize 44\n"
         "           name /usr/lib/libp.dylib (offset 20)\n       nmodules 3\n linked_modules 101... (offset 40)\n"},
        {"prebound_modules_verbose", "prebound", {"-lv"},
         "Load command 0\n            cmd LC_PREBOUND_DYLIB\n        cmdsize 44\n"
         "           name /usr/lib/libp.dylib (offset 20)\n       nmodules 3\n linked_modules (offset 40)\n0\n2\n"},
        {"unknown_command", "unknown_55", {"-l"},
         "Load command 0\n      cmd ?(0x00000055) Unknown load command\n  cmdsize 16\n00001234 00005678 \n"},
        {"old_commands", "old_commands", {"-l"},
         "Load command 0\n     cmd LC_SYMSEG (obsolete)\n cmdsize 16\n  offset 100\n    size 20\n"
         "Load command 1\n          cmd LC_IDENT\n      cmdsize 24\n ident string first\n ident string second\n"
         "Load command 2\n           cmd LC_FVMFILE\n       cmdsize 28\n          name /fvm/file (offset 16)\n"
         "   header addr 0x00005000\n"
         "Load command 3\n           cmd LC_LOADFVMLIB\n       cmdsize 36\n"
         "          name /usr/lib/libfvm (offset 20)\n minor version 2\n   header addr 0x00007000\n"
         "Load command 4\n          cmd LC_LOAD_DYLINKER\n      cmdsize 28\n         name /usr/lib/dyld (offset 12)\n"
         "Load command 5\n          cmd LC_ROUTINES\n      cmdsize 40\n init_address 0x00001f00\n  init_module 1\n"
         "    reserved1 0\n    reserved2 0\n    reserved3 0\n    reserved4 0\n    reserved5 0\n    reserved6 0\n"
         "Load command 6\n          cmd LC_SUB_FRAMEWORK\n      cmdsize 24\n         umbrella Umbrella (offset 12)\n"
         "Load command 7\n          cmd LC_SUB_UMBRELLA\n      cmdsize 24\n"
         "         sub_umbrella SubUmbrella (offset 12)\n"
         "Load command 8\n          cmd LC_SUB_CLIENT\n      cmdsize 20\n         client Client (offset 12)\n"
         "Load command 9\n          cmd LC_SUB_LIBRARY\n      cmdsize 20\n         sub_library libsub (offset 12)\n"
         "Load command 10\n     cmd LC_TWOLEVEL_HINTS\n cmdsize 16\n  offset 4000 (past end of file)\n"
         "  nhints 2 (past end of file)\n"
         "Load command 11\n     cmd LC_PREBIND_CKSUM\n cmdsize 12\n   cksum 0x00abcdef\n"
         "Load command 12\n     cmd LC_UUID\n cmdsize 24\n   uuid 0x00 0x01 0x02 0x03 0x04 0x05 0x06 0x07\n"
         "        0x08 0x09 0x0a 0x0b 0x0c 0x0d 0x0e 0x0f\n"
         "Load command 13\n          cmd LC_RPATH\n      cmdsize 32\n         path @loader_path/../lib (offset 12)\n"
         "Load command 14\n      cmd LC_CODE_SIGNATURE\n  cmdsize 16\n dataoff  0\n datasize 0\n"
         "Load command 15\n          cmd LC_LOAD_DYLIB\n      cmdsize 44\n         name /usr/lib/libv.dylib (offset 24)\n"
         "   time stamp 100000000 Sat Mar  3 09:46:40 1973\n      current version 1.2.3\n"
         "compatibility version 1.0.0\n"
         // The name has no NUL before its command's end: it ends there.
         "Load command 16\n          cmd LC_LOAD_DYLIB\n      cmdsize 32\n         name /usr/lib (offset 24)\n"
         "   time stamp 1 Thu Jan  1 00:00:01 1970\n      current version 1.0.0\ncompatibility version 1.0.0\n"
         "Load command 17\n          cmd LC_LOAD_DYLINKER\n      cmdsize 12\n         name ?(bad offset 40)\n"},

        // ---- thread states ----
        {"i386_count_17", "thr_i386_count17", {"-l"},
         "Load command 0\n        cmd LC_UNIXTHREAD\n    cmdsize 88\n     flavor i386_THREAD_STATE\n"
         "      count 17 (not i386_THREAD_STATE_COUNT)\n"
         "\t    eax 0x00000001 ebx    0x00000002 ecx 0x00000003 edx 0x00000004\n"
         "\t    edi 0x00000005 esi    0x00000006 ebp 0x00000007 esp 0x00000008\n"
         "\t    ss  0x00000009 eflags 0x0000000a eip 0x0000000b cs  0x0000000c\n"
         "\t    ds  0x0000000d es     0x0000000e fs  0x0000000f gs  0x00000010\n"
         // The seventeenth word is read as the next flavor.
         "     flavor 17 (unknown)\n      count 0\n      state:\n"},
        {"unknown_flavor", "thr_i386_flavor99", {"-l"},
         "Load command 0\n        cmd LC_UNIXTHREAD\n    cmdsize 28\n     flavor 99 (unknown)\n      count 3\n"
         "      state:\n00000001 00000002 00000003 \n"},
        {"count_past_states", "thr_i386_huge_count", {"-l"},
         "Load command 0\n        cmd LC_UNIXTHREAD\n    cmdsize 24\n     flavor 99 (unknown)\n"
         "      count 4294967295\n      state:\n00000005 00000006 \n"},
        {"state_cut_short", "thr_i386_cut", {"-l"},
         "Load command 0\n        cmd LC_UNIXTHREAD\n    cmdsize 24\n     flavor i386_THREAD_STATE\n"
         "      count i386_THREAD_STATE_COUNT\n"
         "\t    eax 0x11111111 ebx    0x22222222 ecx 0x00000000 edx 0x00000000\n"
         "\t    edi 0x00000000 esi    0x00000000 ebp 0x00000000 esp 0x00000000\n"
         "\t    ss  0x00000000 eflags 0x00000000 eip 0x00000000 cs  0x00000000\n"
         "\t    ds  0x00000000 es     0x00000000 fs  0x00000000 gs  0x00000000\n"},
        {"unlisted_cputype", "thr_unknown_cpu", {"-l"},
         "Load command 0\n        cmd LC_UNIXTHREAD\n    cmdsize 24\n     flavor 1\n      count 2\n"
         "      state (Unknown cputype/cpusubtype):\n00000007 00000008 \n"},
        {"ppc_words", "thr_ppc_words", {"-l"},
         "Load command 0\n        cmd LC_UNIXTHREAD\n    cmdsize 176\n     flavor PPC_THREAD_STATE\n"
         "      count PPC_THREAD_STATE_COUNT\n"
         "    r0  0x00000102 r1  0x00000103 r2  0x00000104 r3  0x00000105 r4  0x00000106\n"
         "    r5  0x00000107 r6  0x00000108 r7  0x00000109 r8  0x0000010a r9  0x0000010b\n"
         "    r10 0x0000010c r11 0x0000010d r12 0x0000010e r13 0x0000010f r14 0x00000110\n"
         "    r15 0x00000111 r16 0x00000112 r17 0x00000113 r18 0x00000114 r19 0x00000115\n"
         "    r20 0x00000116 r21 0x00000117 r22 0x00000118 r23 0x00000119 r24 0x0000011a\n"
         "    r25 0x0000011b r26 0x0000011c r27 0x0000011d r28 0x0000011e r29 0x0000011f\n"
         "    r30 0x00000120 r31 0x00000121 cr  0x00000122 xer 0x00000123 lr  0x00000124\n"
         "    ctr 0x00000125 mq  0x00000126 vrsave 0x00000127 srr0 0x00000100 srr1 0x00000101\n"},

        // ---- relocation entries and tables ----
        {"relocations_past_object", "reloc_past_end", {"-r"},
         "Relocation information (__TEXT,__text) 1 entries (offset to relocation entries extends past the end of "
         " the file)\n"},
        // PowerPC names (kept where llvm prints numbers); section 0 is R_ABS.
        {"ppc_relocations_verbose", "ppc_yaml.o", {"-rv"},
         "Relocation information (__TEXT,__text) 4 entries\n" + kRelocHeading +
             "00000000 True  long   True   BR24    False     _foo\n"
             "00000006 False word   False  HI16    False     1 (__TEXT,__text)\n"
             "         False word   False  PAIR    False     half = 0x0000\n"
             "0000000a False long   False  BR14    False     0 R_ABS\n"},
        {"stub_size_zero", "stub_size_zero", {"-Iv"},
         "Can't print indirect symbols for (__TEXT,__symbol_stub) (size of stubs in reserved2 field is zero)\n"
         "Indirect symbols for (__DATA,__la_symbol_ptr) 3 entries\naddress    index name\n0x0000000a LOCAL\n"
         "0x0000000e     1 _f2\n0x00000012     2 _f3\n"},
        {"strings_without_last_nul", "strings_unterminated", {"-rv"},
         "Relocation information (__TEXT,__text) 1 entries\n" + kRelocHeading +
             "00000001 True  long   True   VANILLA False     _unterminated\n"},
        {"table_of_contents", "dylib_tables", {"-Tv"},
         "Table of contents (2 entries)\nmodule name      symbol name\nmod.o            _a\n"
         "5                (past the end of the module table) _b [private]\n"},
        {"table_of_contents_numbers", "dylib_tables", {"-T"},
         "Table of contents (2 entries)\nmodule index symbol index\n0            0\n5            1\n"},
        {"module_table", "dylib_tables", {"-M"},
         "Module table (1 entries)\nmodule 0\n    module_name = 13\n     iextdefsym = 0\n     nextdefsym = 2\n"
         "        irefsym = 0\n        nrefsym = 3\n      ilocalsym = 0\n      nlocalsym = 0\n        iextrel = 0\n"
         "        nextrel = 0\n    iinit_iterm = 1 2\n    ninit_nterm = 3 4\n      objc_addr = 0x1000\n"
         "      objc_size = 8\n"},
        {"reference_table", "dylib_tables", {"-Rv"},
         "Reference table (3 entries)\n    module mod.o 3 entries, at index 0\n\t_u undefined [lazy]\n\t_v 7\n"
         "\t9 (past the end of the symbol table) defined\n"},
        {"reference_table_numbers", "dylib_tables", {"-R"},
         "Reference table (3 entries)\n    module 13 3 entries, at index 0\n\tisym 2 flags 1\n\tisym 3 flags 7\n"
         "\t9 (past the end of the symbol table) flags 2\n"},
        {"hints", "dylib_tables", {"-Hv"},
         "Two-level namespace hints table (2 hints)\nindex  isub  itoc\n    0     1     5 _u (from Foo)\n"
         "    1     2     6 _v (from libbar)\n"},
        {"hints_second_dysymtab", "dylib_two_dysymtab", {"-Hv"},
         "more than one LC_DYSYMTAB command (using command 1)\nTwo-level namespace hints table (2 hints)\n"
         "index  isub  itoc\n    0     1     5 _u (from Foo)\n    1     2     6 _v (from libbar)\n"},
        {"hints_numbers", "dylib_tables", {"-H"},
         "Two-level namespace hints table (2 hints)\nindex  isub  itoc\n    0     1     5\n    1     2     6\n"},

        // ---- section contents and dispatch ----
        {"text_hex_20_bytes", "t20.o", {"-t"},
         "(__TEXT,__text) section\n00000000 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n"
         "00000010 10 11 12 13 \n"},
        {"text_hex_64_bit", "a_x64.o", {"-t", "-X"},
         "0000000000000000 55 48 89 e5 48 8b 05 00 00 00 00 c7 00 03 00 00 \n"
         "0000000000000010 00 5d c3 66 2e 0f 1f 84 00 00 00 00 00 0f 1f 00 \n"
         "0000000000000020 55 48 89 e5 48 83 ec 10 c7 45 fc 00 00 00 00 48 \n"
         "0000000000000030 8b 05 00 00 00 00 8b 38 e8 00 00 00 00 f3 0f 2c \n"
         "0000000000000040 0d 00 00 00 00 01 c8 f2 0f 2c 0d 00 00 00 00 01 \n"
         "0000000000000050 c8 48 83 c4 10 5d c3 \n"},
        {"literal8_by_sign_word", "lit_i386.o", {"-v", "-s", "__TEXT", "__literal8"},
         "Contents of (__TEXT,__literal8) section\n00000010  0x00000000 0x3ff00000 (1.0000000000000000e+00)\n"
         "00000018  0x00000000 0x7ff00000 (+Infinity)\n"
         "00000020  0x7ff00000 0x3ff00000 (1.0000004766043276e+00)\n"},
        {"literal8_big_endian", "ppc_literal8", {"-v", "-s", "__TEXT", "__literal8"},
         "Contents of (__TEXT,__literal8) section\n00000000  0x7ff00000 0x00000000 (+Infinity)\n"
         "00000008  0x3ff00000 0x00000000 (1.0000000000000000e+00)\n"},
        {"literal_pointer_into_cut_section", "litptr_cut_literal8", {"-v", "-s", "__DATA", "__litptr"},
         "Contents of (__DATA,__litptr) section\n"
         "part of section contents of: (__TEXT,__literal8) is past end of file\n"
         "00000080  __TEXT:__literal8:0x00000000 0x3ff00000 (1.0000000000000000e+00)\n"
         "00000084  __TEXT:__literal8:0x7ff00000 0x00000000 (1.0604798301039825e-314)\n"},
        {"init_pointers_without_symbol", "lit_i386.o", {"-vV", "-s", "__DATA", "__mod_init_func"},
         "Contents of (__DATA,__mod_init_func) section\n0x00000064 0x00000000 _start\n0x00000068 0x00001234\n"},
        {"shlib_init_sectdiff_last", "shlib_sectdiff_last", {"-iv"},
         "Shared library initialization (__TEXT,__fvmlib_init0) section\n\tvalue   0x00000010 \n"
         "\taddress 0x00000020 \n",
         "No GENERIC_RELOC_PAIR relocation entry after entry 0\nNo GENERIC_RELOC_PAIR relocation entry after "
         "entry 0\n"},
        {"p_symbol_missing", "a_x64.exe", {"-tv", "-p", "_nosuch"},
         "(__TEXT,__text) section\nCan't find -p symbol: _nosuch\n"},
        {"p_symbol_other_section", "lit_i386.o", {"-tv", "-p", "_buf"},
         "(__TEXT,__text) section\n-p symbol: _buf not in text section\n"},
        {"unknown_cputype", "unknown_cputype", {"-tv"},
         "(__TEXT,__text) section\nsymbol with bad string index:\n00000000\tCan't disassemble unknown cputype 99\n"},
        {"bad_string_index_label", "bad_string_index", {"-tv"},
         "(__TEXT,__text) section\nsymbol with bad string index:\n00000000\tnop\n00000001\tnop\n"
         "00000002\tnop\n00000003\tnop\n"},
        {"no_text_section", "unknown_55", {"-t"}, "(__TEXT,__text) section\n"},
        // Zero-fill sections have no bytes to dump, whatever size they claim.
        {"zerofill_code", "zerofill_sections", {"-t"}, "(__TEXT,__text) section\n"},
        {"zerofill_code_verbose", "zerofill_sections", {"-tv"}, "(__TEXT,__text) section\n"},
        {"zerofill_data", "zerofill_sections", {"-d"}, "(__DATA,__data) section\n"},
        {"zerofill_named", "zerofill_sections", {"-v", "-s", "__DATA", "__data"},
         "Contents of (__DATA,__data) section\nzerofill section and has no contents in the file\n"},
        // A 64-bit size past any file is cut to the object, not summed.
        {"section_size_past_2_64", "huge_section_64", {"-s", "__TEXT", "__text"},
         "section (__TEXT,__text) extends past end of file\nsection (__TEXT,__text) extends past end of file\n"
         "Contents of (__TEXT,__text) section\n0000000000000000\t00 01 02 03 04 05 06 07 \n"},
        {"core_arguments", "core_i386", {"-c"},
         "Argument strings on the stack at: c0000000\n\tprog\n\t-x\n\tHOME=/\n"},
        {"core_arguments_no_zero_run", "core_i386_no_zero_run", {"-c"},
         "Argument strings on the stack at: c0000000\n\tprog\n\targ\n"},

        // ---- lookups ----
        {"two_symtab", "two_symtab", {"-rv"}, "more than one LC_SYMTAB command (using command 0)\n"},
        {"size_zero_command", "size_zero_command", {"-rv"},
         "load command 1 size zero (can't advance to other load commands)\nInconsistent sizeofcmds\n"
         "load command 1 size zero (can't advance to other load commands)\nInconsistent sizeofcmds\n"},

        // ---- wardmacho ----
        {"usage_no_file", "", {"-h"}, "", "usage: wardmacho [-aShlrTMRIHtidocvVXfWZL] [-s SEG SECT] [-p NAME] FILE...\n",
         2},
        {"usage_bad_letter", "lit_i386.o", {"-q"}, "",
         "usage: wardmacho [-aShlrTMRIHtidocvVXfWZL] [-s SEG SECT] [-p NAME] FILE...\n", 2},
        {"list_member_heading", "ar_toc_ext20", {"-L"}, "@FILE(abcdefg):\n"},
    };
}

class WardmachoFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(WardmachoFile, PrintsExactly)
{
    const FileCase& c = GetParam();
    std::string path;
    if (!c.file.empty())
        path = c.file.rfind("../", 0) == 0 ? fixture(c.file.substr(3)) : printFixture(c.file);
    std::vector<std::string> argv{WARDMACHO};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    if (!path.empty())
        argv.push_back(path);
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C", 1);
    const machotest::DriverResult r = machotest::runProgramStreams(argv);
    EXPECT_EQ(atFile(c.out, path), r.out);
    EXPECT_EQ(atFile(c.err, path), r.err);
    EXPECT_EQ(c.status, r.status);
}

INSTANTIATE_TEST_SUITE_P(Cases, WardmachoFile, ::testing::ValuesIn(fileCases()),
                         [](const ::testing::TestParamInfo<FileCase>& i) { return std::string(i.param.name); });

// Every regular file among the fixtures, by path.
std::vector<std::string> allFixtures()
{
    std::vector<std::string> paths;
    for (const std::string& dir : {fixture(""), fixture("print/")}) {
        DIR* d = opendir(dir.c_str());
        if (d == nullptr)
            continue;
        while (dirent* e = readdir(d))
            if (e->d_type == DT_REG)
                paths.push_back(dir + e->d_name);
        closedir(d);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// With no option every fixture prints the scanner's own notes and reports
// only: nothing of the printers.
TEST(NoOption, ScannerNotesOnly)
{
    int files = 0;
    for (const std::string& path : allFixtures()) {
        SCOPED_TRACE(path);
        const auto r = wardmacho({}, path);
        ++files;
        std::string out = r.out;
        for (const char* note : {" is a truncated object file\n",
                                 "(object file offset is not a multiple of sizeof(unsigned long))"})
            for (size_t at = out.find(note); at != std::string::npos; at = out.find(note))
                out.erase(at, strlen(note));
        EXPECT_EQ("", out);
        if (!r.err.empty()) {
            EXPECT_EQ(0u, r.err.rfind("wardmacho: ", 0));
        }
    }
    EXPECT_GT(files, 150);
}

// A run over a thousand files or more opens them ahead of their turn on
// other threads; it prints what runs over fewer print, which open each file
// in its turn: a folder, a FIFO and a missing file among them, files whose
// load commands go on past the first read, and -W's modification times.
TEST(ManyFiles, PrintAsFileByFile)
{
    wardtest::TempDir tmp("wardmacho");
    ASSERT_EQ(0, mkfifo((tmp / "fifo").c_str(), 0644));
    std::vector<std::string> some = allFixtures();
    ASSERT_GT(some.size(), 150u);
    for (const std::string& odd : {fixture("a_directory"), tmp / "fifo", tmp / "missing"})
        some.insert(some.begin() + static_cast<std::ptrdiff_t>(some.size() / 2), odd);
    ASSERT_LT(some.size(), 500u);
    const size_t times = 2000 / some.size() + 1;
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C", 1);
    for (const std::vector<std::string>& options : {std::vector<std::string>{"-L"}, {"-hlvW"}}) {
        SCOPED_TRACE(options[0]);
        std::vector<std::string> argv{WARDMACHO};
        argv.insert(argv.end(), options.begin(), options.end());
        std::vector<std::string> few = argv, many = argv;
        few.insert(few.end(), some.begin(), some.end());
        for (size_t t = 0; t < times; ++t)
            many.insert(many.end(), some.begin(), some.end());
        const machotest::DriverResult once = machotest::runProgramStreams(few);
        const machotest::DriverResult ahead = machotest::runProgramStreams(many);
        std::string out, err;
        for (size_t t = 0; t < times; ++t) {
            out += once.out;
            err += once.err;
        }
        EXPECT_EQ(out, ahead.out);
        EXPECT_EQ(err, ahead.err);
        EXPECT_EQ(1, once.status);
        EXPECT_EQ(1, ahead.status);
    }
}

// Each thread state of every processor, written once in each byte order
// (each field's bytes reversed), prints the same text in both.
TEST(ThreadStates, TwinsPrintTheSame)
{
    DIR* d = opendir(fixture("print").c_str());
    ASSERT_NE(nullptr, d);
    std::vector<std::string> twins;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n.rfind("thr_", 0) == 0 && n.size() > 3 && n.compare(n.size() - 3, 3, "_le") == 0)
            twins.push_back(n.substr(0, n.size() - 3));
    }
    closedir(d);
    ASSERT_EQ(33u, twins.size());
    for (const std::string& t : twins) {
        SCOPED_TRACE(t);
        const auto le = wardmacho({"-l"}, printFixture(t + "_le"));
        const auto be = wardmacho({"-l"}, printFixture(t + "_be"));
        EXPECT_EQ(le.out, be.out);
        EXPECT_EQ("", le.err);
        // Known flavors only: every twin names its flavor.
        EXPECT_EQ(std::string::npos, le.out.find("(unknown)"));
        EXPECT_EQ(std::string::npos, le.out.find("(not "));
    }
}

// A count from the file never sizes anything: four billion claimed words
// print the two that are there, at once.
TEST(ThreadStates, HugeCountIsCheap)
{
    const auto start = std::chrono::steady_clock::now();
    const auto r = wardmacho({"-l"}, printFixture("thr_i386_huge_count"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_NE(std::string::npos, r.out.find("00000005 00000006 \n"));
}

} // namespace
