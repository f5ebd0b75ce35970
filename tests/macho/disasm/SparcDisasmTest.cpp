// The SPARC disassembler: exact texts of big-endian words (the byte-swapped
// path on this host), symbolic operands and their relocation pairs, the
// sethi pair comment, the one-time sort and the table's own consistency,
// a Mach-O wrapper through wardmacho, and the Debian cross objdump, llvm-mc
// and cstool as oracles on assembled, compiled and swept words.
#include "BigEndianWords.h"
#include "disasm/sparc_opcodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <unistd.h>

using namespace disasm_test;

namespace {

const macho::load_commands_view no_commands{nullptr, 0, 0, 0};

// sparc_disassemble with no indirect symbols and no load commands.
uint32_t sparc_plain(const char* sect, uint64_t left, uint64_t addr, uint64_t sect_addr, macho::byte_sex order,
                     const macho::relocation_info* relocs, uint32_t nrelocs, const macho::nlist* symbols,
                     uint32_t nsymbols, const macho::sorted_symbol* sorted, uint32_t nsorted, const char* strings,
                     uint64_t strings_size, int verbose)
{
    return macho::sparc_disassemble(sect, left, addr, sect_addr, order, relocs, nrelocs, symbols, nsymbols, sorted,
                                    nsorted, strings, strings_size, nullptr, 0, no_commands, 0, 0, verbose);
}

// Disassembles the word at `offset` of `section` (the section starts at
// `k.sect_addr`, the word's address is sect_addr + offset).
Printed sparc_at(const std::vector<char>& section, size_t offset, const Call& k = Call(), uint64_t left = UINT64_MAX)
{
    return section_call(sparc_plain, section, offset, k, left);
}

// One word at `addr`, alone in its section.
Printed sparc(const std::string& hex, uint64_t addr = 0, int verbose = 0)
{
    Call k;
    k.sect_addr = addr;
    k.verbose = verbose;
    return sparc_at(hex_bytes(hex), 0, k);
}

std::string hex_word(uint32_t w)
{
    char hex[9];
    snprintf(hex, sizeof hex, "%08x", w);
    return hex;
}

struct Case {
    const char* word;
    uint64_t addr;
    const char* want;
};

void check_cases(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        const Printed p = sparc(c.word, c.addr);
        EXPECT_EQ(c.want, p.out);
        EXPECT_EQ("", p.err);
        EXPECT_EQ(4u, p.length);
    }
}

// ---- the one-time sort ----

// Rows of the exported table by name and template.
std::vector<int> rows_named(const char* name, const char* args)
{
    std::vector<int> out;
    for (int i = 0; i < bfd_sparc_num_opcodes; ++i)
        if (strcmp(bfd_sparc_opcodes[i].name, name) == 0 && strcmp(bfd_sparc_opcodes[i].args, args) == 0)
            out.push_back(i);
    return out;
}

// The first call sorts the table quietly; the rows are the same rows, and
// rows that compare equal keep their table order.
TEST(SparcSort, FirstCallSortsOnceQuietly)
{
    const bool first = macho::opcodes_sorted == 0;
    const std::vector<sparc_opcode> before(bfd_sparc_opcodes, bfd_sparc_opcodes + bfd_sparc_num_opcodes);
    const Printed p = sparc("01000000");
    EXPECT_EQ("nop\t\n", p.out);
    EXPECT_EQ("", p.err);
    EXPECT_EQ(1, macho::opcodes_sorted);
    const std::vector<sparc_opcode> after(bfd_sparc_opcodes, bfd_sparc_opcodes + bfd_sparc_num_opcodes);
    const auto key = [](const sparc_opcode& o) {
        return std::make_tuple(std::string(o.name), o.match, o.lose, std::string(o.args), o.flags, o.architecture);
    };
    std::multiset<decltype(key(before[0]))> a, b;
    for (const sparc_opcode& o : before)
        a.insert(key(o));
    for (const sparc_opcode& o : after)
        b.insert(key(o));
    EXPECT_EQ(a, b);
    if (first) {
        const auto same = [&](const sparc_opcode& x, const sparc_opcode& y) { return key(x) == key(y); };
        EXPECT_FALSE(std::equal(before.begin(), before.end(), after.begin(), same)) << "not sorted";
    }

    // A second call prints the same and leaves the order as it was.
    const Printed again = sparc("01000000");
    EXPECT_EQ(p.out, again.out);
    EXPECT_EQ("", again.err);
    for (int i = 0; i < bfd_sparc_num_opcodes; ++i)
        EXPECT_EQ(key(after[i]), key(bfd_sparc_opcodes[i])) << i;
    EXPECT_EQ(1, macho::opcodes_sorted);
}

// A row whose masks share bits, and two primary rows of different names
// that compare equal, are reported as the sort meets them; the first is
// repaired in the table and the sort completes. Each runs in a new process,
// whose table is not sorted yet.
TEST(SparcSortDeathTest, InconsistentRowsReported)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto sort_with = [](const char* name, const char* args, auto change) {
        for (int i = 0; i < bfd_sparc_num_opcodes; ++i)
            if (strcmp(bfd_sparc_opcodes[i].name, name) == 0 && strcmp(bfd_sparc_opcodes[i].args, args) == 0)
                change(bfd_sparc_opcodes[i]);
        const std::vector<char> b = hex_bytes("03048d15");
        testing::internal::CaptureStdout();
        macho::sparc_disassemble(b.data(), 4, 0, 0, macho::BIG_ENDIAN_BYTE_SEX, nullptr, 0, nullptr, 0, nullptr, 0,
                                 nullptr, 0, nullptr, 0, no_commands, 0, 0, 0);
        const std::string out = testing::internal::GetCapturedStdout();
        fflush(stderr);
        for (int i = 0; i < bfd_sparc_num_opcodes; ++i)
            if ((bfd_sparc_opcodes[i].match & bfd_sparc_opcodes[i].lose) != 0)
                _exit(2);
        _exit(out == "sethi\t0x12345400,%g1\n" && macho::opcodes_sorted == 1 ? 0 : 3);
    };
    EXPECT_EXIT(sort_with("sethi", "h,d", [](sparc_opcode& o) { o.lose |= 0x01000000; }),
                testing::ExitedWithCode(0),
                "Internal error:  ?bad sparc-opcode: \"sethi\", 0x01000000, 0xc1c00000\n");
    EXPECT_EXIT(sort_with("or", "i,1,d", [](sparc_opcode& o) { o.name = "orx"; }), testing::ExitedWithCode(0),
                "Internal error: bad sparc-opcode: \"orx?\" == \"orx?\"\n");
}

TEST(SparcSort, SearchOrder)
{
    sparc("01000000");
    const auto first_of = [](const char* name, const char* args) {
        const std::vector<int> r = rows_named(name, args);
        return r.empty() ? -1 : r.front();
    };
    struct Before {
        const char* name_a;
        const char* args_a;
        const char* name_b;
        const char* args_b;
        const char* why;
    } const cases[] = {
        {"nop", "", "sethi", "h,d", "an exact row before the general one"},
        {"b", "l", "ba", "l", "a primary before its alias"},
        {"or", "1,i,d", "or", "i,1,d", "equal rows keep their table order"},
        {"ld", "[1+i],d", "ld", "[i+1],d", "the immediate after the +"},
        {"mov", "i,d", "or", "1,i,d", "more bits that must be clear first"},
        {"restore", "", "restore", "1,2,d", "more bits that must be clear first"},
        {"ret", "", "jmp", "1+i", "more bits that must be set first"},
    };
    for (const Before& c : cases) {
        const int a = first_of(c.name_a, c.args_a);
        const int b = first_of(c.name_b, c.args_b);
        ASSERT_GE(a, 0) << c.name_a;
        ASSERT_GE(b, 0) << c.name_b;
        EXPECT_LT(a, b) << c.name_a << " " << c.args_a << " / " << c.name_b << " " << c.args_b << ": " << c.why;
    }
}

// The table's three symbols are exported from librulebook with C names,
// and the row count is the table's length.
TEST(SparcSort, ExportedTable)
{
    if (!have_program("nm"))
        GTEST_SKIP() << "nm missing";
    const std::string listing = run_program({"nm", "-D", "-S", "--defined-only", RULEBOOK_LIBRARY});
    std::map<std::string, unsigned long> sizes;
    std::istringstream in(listing);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string value, size, type, name;
        if (f >> value >> size >> type >> name)
            sizes[name] = std::stoul(size, nullptr, 16);
    }
    ASSERT_EQ(1u, sizes.count("bfd_sparc_opcodes"));
    ASSERT_EQ(1u, sizes.count("bfd_sparc_num_opcodes"));
    ASSERT_EQ(1u, sizes.count("bfd_sparc_architecture_pname"));
    EXPECT_EQ(sizes["bfd_sparc_opcodes"] / sizeof(sparc_opcode), static_cast<unsigned long>(bfd_sparc_num_opcodes));
    EXPECT_STREQ("v6", bfd_sparc_architecture_pname[0]);
    EXPECT_STREQ("sparclite", bfd_sparc_architecture_pname[3]);
}

// ---- decoding ----

TEST(SparcDecode, ExactTexts)
{
    check_cases({
        {"01000000", 0, "nop\t\n"},
        {"30800004", 0x28, "b,a\t 0x38\n"},
        {"10800004", 0x28, "b\t0x38\n"},
        {"03048d15", 0, "sethi\t0x12345400,%g1\n"},
        {"82106010", 0, "or\t%g1,0x10,%g1\n"},
        {"9de3bfa0", 0, "save\t%sp,0xffffffa0,%sp\n"},
        {"00000000", 0, "unimp\t0\n"},
        {"003fffff", 0, "unimp\t0xffffffff\n"},
        {"40000003", 0x100, "call\t0x10c\n"},
        {"7fffffff", 0x100, "call\t0xfc\n"},
        {"81c7e008", 0, "ret\t\n"},
        {"81c3e008", 0, "retl\t\n"},
        {"81e80000", 0, "restore\t\n"},
        {"c2006010", 0, "ld\t[%g1+0x10],%g1\n"},
        {"c2004002", 0, "ld\t[%g1+%g2],%g1\n"},
        {"c2004000", 0, "ld\t[%g1],%g1\n"},
        {"c2002010", 0, "ld\t[0x10],%g1\n"},
        {"c207bff8", 0, "ld\t[%fp+0xfffffff8],%g1\n"},
        {"c2804fe2", 0, "lda\t[%g1+%g2](127),%g1\n"},
        {"c0204002", 0, "clr\t[%g1+%g2]\n"},
        {"d4386008", 0, "std\t%o2,[%g1+0x8]\n"},
        {"82102010", 0, "mov\t0x10,%g1\n"},
        {"82100002", 0, "mov\t%g2,%g1\n"},
        {"82100000", 0, "clr\t%g1\n"},
        {"80a04002", 0, "cmp\t%g1,%g2\n"},
        {"80a06004", 0, "cmp\t%g1,0x4\n"},
        {"80904000", 0, "tst\t%g1\n"},
        {"82006001", 0, "inc\t%g1\n"},
        {"82002001", 0, "add\t%g0,0x1,%g1\n"},
        {"82200001", 0, "neg\t%g1\n"},
        {"82200002", 0, "neg\t%g2,%g1\n"},
        {"82384000", 0, "not\t%g1\n"},
        {"84384000", 0, "not\t%g1,%g2\n"},
        {"a1286004", 0, "sll\t%g1,0x4,%l0\n"},
        {"a1286fe4", 0, ".long 0xa1286fe4\n"},
        {"82004101", 0, ".long 0x82004101\n"},
        {"91d02003", 0, "ta\t0x3\n"},
        {"8143c000", 0, "stbar\t\n"},
        {"83400000", 0, "rd\t%y,%g1\n"},
        {"9f414000", 0, "rd\t%asr5,%o7\n"},
        {"83480000", 0, "rd\t%psr,%g1\n"},
        {"81884000", 0, "wr\t%g1,%psr\n"},
        {"81884002", 0, "wr\t%g1,%g2,%psr\n"},
        {"9fc04000", 0, "call\t%g1\n"},
        {"81c06010", 0, "jmp\t%g1+0x10\n"},
        {"8fa00020", 0, "fmovs\t%f0,%f7\n"},
        {"8fa04020", 0, ".long 0x8fa04020\n"},
        {"81a80a22", 0, "fcmps\t%f0,%f2\n"},
        {"95a08943", 0, "fmuld\t%f2,%f34,%f10\n"},
        {"97a0c963", 0, "fmulq\t%f34,%f34,%f42\n"},
        {"87a01922", 0, "fstod\t%f2,%f34\n"},
        {"12800003", 0x10, "bne\t0x1c\n"},
        {"32800003", 0x10, "bne,a\t 0x1c\n"},
        {"13800003", 0x10, "fbe\t0x1c\n"},
        {"1fc00003", 0x10, "cb012\t0x1c\n"},
        {"10bfffff", 0x10, "b\t0xc\n"},
        {"83c84000", 0, ".long 0x83c84000\n"},
    });
}

// ---- against the Debian cross objdump ----

// A line without its trailing comment and newline, blanks for tabs.
std::string canon_ours(std::string s)
{
    while (!s.empty() && s.back() == '\n')
        s.pop_back();
    s = rx(s, "\t! .*$", "");
    return rx(s, "\t", " ");
}

// objdump's text in our spelling: no blanks inside operands, "%hi(v)" of a
// sethi as the bare value, no comment.
std::string canon_objdump(std::string s)
{
    s = rx(s, "\t! .*$", "");
    s = rx(s, "[\t ]+", " ");
    s = rx(s, ", ", ",");
    s = rx(s, "\\[ ", "[");
    s = rx(s, " \\]", "]");
    s = rx(s, " \\+ ", "+");
    s = rx(s, "\\] \\(", "](");
    s = rx(s, "^sethi %hi\\(([^)]*)\\)", "sethi $1");
    return rx(s, " $", "");
}

std::string mnemonic(const std::string& text)
{
    return text.substr(0, text.find_first_of(" \t\n"));
}

// Reviewed differences: "word HEX reason" for one word, "pair OURS THEIRS
// reason" for a mnemonic of ours that objdump prints as THEIRS. For llvm-mc
// and cstool: "synonym OURS THEIRS reason" for a mnemonic both print as
// THEIRS, and "oracle NAME OURS OPERAND reason" for our mnemonic, with an
// operand containing OPERAND (or any, for "*"), that the oracle refuses or
// reads as another instruction.
struct SparcExceptions {
    std::set<std::string> words;
    std::set<std::pair<std::string, std::string>> pairs;
    std::set<std::pair<std::string, std::string>> synonyms;
    std::vector<std::array<std::string, 3>> oracles;

    SparcExceptions()
    {
        std::ifstream f(std::string(DISASM_CORPUS_DIR) + "/sparc_exceptions.txt");
        std::string line;
        while (std::getline(f, line)) {
            std::istringstream in(line.substr(0, line.find('#')));
            std::string kind, a, b;
            in >> kind >> a;
            std::string c;
            if (kind == "word")
                words.insert(a);
            else if (kind == "pair" && (in >> b))
                pairs.insert({a, b});
            else if (kind == "synonym" && (in >> b))
                synonyms.insert({a, b});
            else if (kind == "oracle" && (in >> b >> c))
                oracles.push_back({a, b, c});
        }
    }

    /// True when llvm-mc or cstool (`oracle`) reading `theirs` (a mnemonic,
    /// "" when refused) for our line is explained.
    bool explains_other(const std::string& oracle, uint32_t word, const std::string& ours,
                        const std::string& theirs) const
    {
        const auto base = [](const std::string& m) { return m.substr(0, m.find(',')); };
        const std::string a = base(mnemonic(ours));
        const std::string b = base(theirs);
        if (a == b || words.count(hex_word(word)) != 0 || synonyms.count({a, b}) != 0)
            return true;
        const std::string operands = ours.substr(std::min(ours.size(), mnemonic(ours).size()));
        for (const auto& o : oracles)
            if (o[0] == oracle && o[1] == a && (o[2] == "*" || operands.find(o[2]) != std::string::npos))
                return true;
        return false;
    }

    bool explains(uint32_t word, const std::string& ours, const std::string& theirs) const
    {
        return words.count(hex_word(word)) != 0 || pairs.count({mnemonic(ours), mnemonic(theirs)}) != 0;
    }
};

bool have_sparc_tools()
{
    return have_program("objdump") && have_program("sparc64-linux-gnu-as")
           && have_program("sparc64-linux-gnu-objcopy");
}

// Every word through sparc_disassemble at address 4 × index, one line each.
std::vector<std::string> disassemble_all(const std::vector<char>& bin)
{
    return disassemble_words(sparc_plain, bin);
}

// objdump's readings of each word of a file, by address: as SPARC V8
// and as SPARClite.
struct SparcOracles : ObjdumpReadings {
    explicit SparcOracles(const std::string& path)
    {
        for (const char* machine : {"sparc", "sparc:sparclite"})
            add({"objdump", "-D", "-b", "binary", "-m", machine, "-EB", path});
    }

    /// True when one reading is `ours`; `first` is the V8 reading.
    bool agrees(uint64_t addr, const std::string& ours, std::string* first) const
    {
        return ObjdumpReadings::agrees(addr, ours, first, canon_ours, canon_objdump);
    }
};

// Words over the op, op2 and op3 spaces (and every opf of the
// floating-point operates) with several field patterns.
std::vector<uint32_t> sweep_words()
{
    std::vector<uint32_t> words;
    const uint32_t fields[] = {
        0,                                            // every field 0
        (1u << 25) | (2u << 14) | 3u,                 // rd 1, rs1 2, rs2 3
        (17u << 25) | (30u << 14) | 14u,              // high registers
        (5u << 25) | (5u << 14) | 5u,                 // rd = rs1 = rs2
        (3u << 25) | (4u << 14) | (1u << 13) | 0x10,  // small immediate
        (9u << 25) | (9u << 14) | (1u << 13) | 1,     // immediate 1, rd = rs1
        (8u << 25) | (14u << 14) | (1u << 13) | 0x1ff8, // negative immediate
        (2u << 25) | (1u << 13),                      // rs1 0, immediate 0
        (6u << 25) | (7u << 14) | (0x0au << 5) | 2,   // asi bits set
    };
    for (uint32_t op3 = 0; op3 < 64; ++op3)
        for (uint32_t o : {2u, 3u})
            for (uint32_t f : fields)
                words.push_back((o << 30) | (op3 << 19) | f);
    for (uint32_t opf = 0; opf < 512; ++opf)
        for (uint32_t op3 : {0x34u, 0x35u})
            for (uint32_t f : {0u, (4u << 25) | (2u << 14) | 6u, (3u << 25) | (5u << 14) | 7u})
                words.push_back((2u << 30) | (op3 << 19) | (opf << 5) | f);
    for (uint32_t op2 = 0; op2 < 8; ++op2)
        for (uint32_t rd = 0; rd < 32; ++rd)
            for (uint32_t imm : {0u, 0x10u, 0x3ffffcu, 0x12345u})
                words.push_back((rd << 25) | (op2 << 22) | imm);
    for (uint32_t disp : {0u, 4u, 0x3ffffffu, 0x1000000u})
        words.push_back((1u << 30) | disp);
    return words;
}

TEST(SparcObjdump, SweepAgrees)
{
    if (!have_sparc_tools())
        GTEST_SKIP() << "SPARC cross tools missing (scripts/packages/disasm.txt)";
    const std::vector<uint32_t> words = sweep_words();
    std::vector<char> bin;
    for (uint32_t w : words)
        for (int shift : {24, 16, 8, 0})
            bin.push_back(static_cast<char>(w >> shift));
    const std::string path = write_temp("sparc_sweep.bin", bin);
    const SparcOracles oracles(path);
    unlink(path.c_str());
    const SparcExceptions exceptions;
    const std::vector<std::string> ours = disassemble_all(bin);
    ASSERT_EQ(words.size(), ours.size());
    std::map<std::string, std::pair<size_t, std::string>> unexplained; // by mnemonic pair
    size_t decoded = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i].compare(0, 6, ".long ") == 0)
            continue;
        ++decoded;
        std::string t;
        if (oracles.agrees(4 * i, ours[i], &t) || exceptions.explains(words[i], ours[i], t))
            continue;
        auto& entry = unexplained[mnemonic(ours[i]) + " / " + mnemonic(t)];
        if (entry.first++ == 0)
            entry.second = hex_word(words[i]) + ": " + ours[i] + " | objdump: " + t;
    }
    EXPECT_GT(decoded, 1000u);
    for (const auto& u : unexplained)
        ADD_FAILURE() << u.first << " (" << u.second.first << " words), e.g. " << u.second.second;
}

// The mnemonics of an assembly source, one instruction a line.
std::vector<std::string> source_mnemonics(const std::string& path)
{
    std::vector<std::string> out;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line)) {
        std::istringstream in(line);
        std::string op;
        if ((in >> op) && op[0] != '.' && op[0] != '!' && op.back() != ':')
            out.push_back(op);
    }
    return out;
}

// Source mnemonics we print as another instruction of the same word: the
// primary name of a synonym, or the synthetic instruction the fields make.
const std::map<std::string, std::set<std::string>> printed_as = {
    {"ba", {"b"}},             // "b" is the primary row, "ba" its alias
    {"fba", {"fb"}},
    {"cba", {"cb"}},
    {"jmpl", {"jmpl", "call"}}, // rd %o7: the synthetic call
    {"mov", {"mov", "rd", "wr"}}, // mov %y and mov to %y are rd and wr
    {"bset", {"or"}},           // same masks as the primary or
    {"bclr", {"andn"}},
    {"btog", {"xor"}},
    {"inc", {"inc", "add"}},    // "inc imm,rd" has the masks of add
    {"stub", {"stb"}},
    {"stsb", {"stb"}},
    {"stuh", {"sth"}},
    {"stsh", {"sth"}},
};

struct SparcCorpus {
    const char* name;
    std::vector<std::string> build; // "SRC" and "OBJ" replaced
    bool names;                     // each line's mnemonic must come back
};

class SparcCorpora : public testing::TestWithParam<SparcCorpus> {};

// The words of a corpus's text section, built as the row says.
std::vector<char> build_corpus(const SparcCorpus& corpus)
{
    const std::string source = std::string(DISASM_CORPUS_DIR) + "/" + corpus.name;
    const std::string object = write_temp(std::string(corpus.name) + ".o", {});
    std::vector<std::string> build;
    for (const std::string& a : corpus.build)
        build.push_back(a == "SRC" ? source : a == "OBJ" ? object : a);
    return build_section(build, object, "sparc64-linux-gnu-objcopy");
}

TEST_P(SparcCorpora, ObjdumpAgrees)
{
    const SparcCorpus& corpus = GetParam();
    if (!have_sparc_tools() || !have_program(corpus.build[0]))
        GTEST_SKIP() << "SPARC cross tools missing (scripts/packages/disasm.txt)";
    const std::vector<char> bin = build_corpus(corpus);
    ASSERT_GE(bin.size(), 16u);
    const std::string path = write_temp(std::string(corpus.name) + ".bin", bin);
    const SparcOracles oracles(path);
    unlink(path.c_str());
    const SparcExceptions exceptions;
    // The same lines through wardmacho on a Mach-O wrapper of the corpus,
    // and nothing allocated.
    const std::vector<std::string> ours = checked_words(sparc_plain, bin, 14, std::string(corpus.name) + ".macho");
    ASSERT_EQ(bin.size() / 4, ours.size());

    std::vector<std::string> mnemonics;
    if (corpus.names) {
        mnemonics = source_mnemonics(std::string(DISASM_CORPUS_DIR) + "/" + corpus.name);
        ASSERT_EQ(mnemonics.size(), ours.size());
    }
    for (size_t i = 0; i < ours.size(); ++i) {
        const uint32_t word = word_at(bin, 4 * i);
        SCOPED_TRACE(testing::Message() << hex_word(word) << ": " << ours[i]);
        std::string theirs;
        if (!oracles.agrees(4 * i, ours[i], &theirs)) {
            EXPECT_TRUE(exceptions.explains(word, ours[i], theirs)) << "objdump: " << theirs;
        }
        if (corpus.names) {
            std::string got = mnemonic(ours[i]);
            got = got.substr(0, got.find(','));
            const auto alias = printed_as.find(mnemonics[i]);
            const std::string source = mnemonics[i].substr(0, mnemonics[i].find(','));
            EXPECT_TRUE(got == source || (alias != printed_as.end() && alias->second.count(got) != 0))
                << "assembled from " << mnemonics[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Corpora, SparcCorpora,
    testing::Values(
        SparcCorpus{"sparc_names.s", {"sparc64-linux-gnu-as", "-32", "-Av8", "-o", "OBJ", "SRC"}, true},
        SparcCorpus{"sparc_lite.s", {"sparc64-linux-gnu-as", "-32", "-Asparclite", "-o", "OBJ", "SRC"}, true},
        SparcCorpus{"sparc_names.s", {"llvm-mc", "-triple=sparc", "-filetype=obj", "-o", "OBJ", "SRC"}, true},
        SparcCorpus{"compiled.c",
                    {"clang", "--target=sparc-linux-gnu", "-fintegrated-as", "-O2", "-c", "-o", "OBJ", "SRC"},
                    false}),
    [](const testing::TestParamInfo<SparcCorpus>& info) {
        std::string n = std::string(info.param.name) + "_" + info.param.build[0];
        std::replace_if(n.begin(), n.end(), [](char c) { return !isalnum(static_cast<unsigned char>(c)); }, '_');
        return n;
    });

// ---- the table's consistency ----

TEST(SparcTable, RowsAreConsistent)
{
    std::set<std::tuple<std::string, uint32_t, uint32_t, std::string>> seen;
    for (int i = 0; i < bfd_sparc_num_opcodes; ++i) {
        const sparc_opcode& o = bfd_sparc_opcodes[i];
        SCOPED_TRACE(testing::Message() << o.name << " " << o.args);
        EXPECT_EQ(0u, o.match & o.lose);
        EXPECT_TRUE(seen.insert({o.name, o.match, o.lose, o.args}).second) << "duplicate row";
        EXPECT_GE(o.architecture, 0);
        EXPECT_LE(o.architecture, 3);
        EXPECT_EQ(std::string::npos, std::string(o.args).find_first_not_of("12rudefgVvBRHJinhlLA#DbcMmCFQpqtwy+,[] a"))
            << "letter outside the template set";
    }
}

// Every row's own match word (operand fields 0) prints the row's name, or
// the name of the row that covers it: a more specific row or the primary of
// an alias.
TEST(SparcTable, EveryRowPrintsItsMatchWord)
{
    const std::map<std::string, std::set<std::string>> covered = {
        // primaries of synonyms
        {"b", {"ba"}}, {"fb", {"fba"}}, {"cb", {"cba"}}, {"be", {"bz"}}, {"bne", {"bnz"}}, {"bcs", {"blu"}},
        {"bcc", {"bgeu"}}, {"fbne", {"fbnz"}}, {"fbe", {"fbz"}}, {"te", {"tz"}}, {"tne", {"tnz"}},
        {"tcs", {"tlu"}}, {"tcc", {"tgeu"}}, {"ta", {"t"}}, {"flush", {"iflush"}}, {"rd", {"mov"}},
        // rows with the same masks as a primary
        {"add", {"inc"}}, {"addcc", {"inccc"}}, {"sub", {"dec"}}, {"andn", {"bclr"}}, {"xor", {"btog"}},
        {"btst", {"andcc"}},
        // operand fields 0 make a synthetic instruction
        {"nop", {"sethi", "set"}}, {"clr", {"or", "mov", "bset", "st"}}, {"clrb", {"stb", "stub", "stsb"}},
        {"clrh", {"sth", "stuh", "stsh"}}, {"cmp", {"subcc", "deccc"}}, {"tst", {"orcc"}}, {"neg", {"sub"}},
        {"not", {"xnor"}}, {"jmp", {"jmpl"}},
    };
    for (int i = 0; i < bfd_sparc_num_opcodes; ++i) {
        const sparc_opcode o = bfd_sparc_opcodes[i];
        const std::string word = hex_word(o.match);
        const Printed p = sparc(word);
        const std::string got = p.out.substr(0, p.out.find_first_of("\t,\n"));
        if (got == o.name)
            continue;
        const auto it = covered.find(got);
        EXPECT_TRUE(it != covered.end() && it->second.count(o.name) != 0)
            << o.name << " " << o.args << " (" << word << ") prints " << p.out;
    }
}

// ---- symbolic operands ----

struct RelocCase {
    const char* what;
    const char* word;
    uint64_t addr;
    std::vector<macho::relocation_info> relocs;
    const char* out;
    const char* err;
};

TEST(SparcSymbolic, RelocationEntries)
{
    const Symbols syms = symbols_with_bad_index("_x", "_y"); // symbol 2: string index past the table
    const std::vector<macho::sorted_symbol> sorted = {
        {"_start", 0x0}, {"_loop", 0x10}, {"_here", 0x1010}, {"_far", 0x100}, {"_data", 0x12345400}};
    const uint32_t pair = 1, hi22 = 2, lo10 = 3, disp22 = 4, disp30 = 5, hi_diff = 7, lo_diff = 8;
    const std::vector<RelocCase> cases = {
        {"external high 22 bits, pair carries the low part", "03000000", 0,
         {plain_reloc(0, 0, true, hi22), plain_reloc(0x278, 0, false, pair)}, "sethi\t%hi(_x+0x278),%g1\n", ""},
        {"external high 22 bits with a value", "03048d15", 0,
         {plain_reloc(0, 1, true, hi22), plain_reloc(0, 0, false, pair)}, "sethi\t%hi(_y+0x12345400),%g1\n", ""},
        {"external high 22 bits, value 0", "03000000", 0,
         {plain_reloc(0, 0, true, hi22), plain_reloc(0, 0, false, pair)}, "sethi\t%hi(_x),%g1\n", ""},
        {"external low 10 bits at a sethi", "03000000", 0,
         {plain_reloc(0, 0, true, lo10), plain_reloc(1, 0, false, pair)}, "sethi\t%lo(_x+0x400),%g1\n", ""},
        {"external call", "40000000", 0, {plain_reloc(0, 1, true, disp30)}, "call\t_y\n", ""},
        {"external call with a target", "40000004", 0x1000, {plain_reloc(0, 1, true, disp30)},
         "call\t_y+0x1010\n", ""},
        {"external branch", "02800000", 0, {plain_reloc(0, 0, true, disp22)}, "be\t_x\n", ""},
        {"local high 22 bits names the symbol of the value", "03048d15", 0,
         {plain_reloc(0, 1, false, hi22), plain_reloc(0, 0, false, pair)}, "sethi\t%hi(_data),%g1\n", ""},
        {"local high 22 bits, no symbol", "03048d15", 0,
         {plain_reloc(0, 1, false, hi22), plain_reloc(0x278, 0, false, pair)}, "sethi\t%hi(0x12345678),%g1\n", ""},
        {"scattered high 22 bits: the symbol of its value", "03048d16", 0,
         {scattered_reloc(0, hi22, 0x12345400), plain_reloc(0, 0, false, pair)}, "sethi\t%hi(_data),%g1\n", ""},
        {"high 22 bits of a difference", "03000000", 0,
         {scattered_reloc(0, hi_diff, 0x12345400), scattered_reloc(0, pair, 0x10)}, "sethi\t%hi(_data-_loop),%g1\n",
         ""},
        {"low 10 bits of a difference, no symbols", "03000000", 0,
         {scattered_reloc(0, lo_diff, 0x200), scattered_reloc(0, pair, 0x300)}, "sethi\t%lo(0x200-0x300),%g1\n", ""},
        {"call to a sorted symbol", "40000004", 0x1000, {}, "call\t_here\n", ""},
        {"branch to nothing named", "10800001", 0x1000, {}, "b\t0x1004\n", ""},
        {"sethi of a sorted symbol's value", "03048d15", 0, {}, "sethi\t_data,%g1\n", ""},
        {"entries of other addresses skipped with their pairs", "03000000", 0x1008,
         {plain_reloc(0, 1, true, hi22), plain_reloc(0x5, 0, false, pair), plain_reloc(8, 0, true, hi22),
          plain_reloc(0x278, 0, false, pair)},
         "sethi\t%hi(_x+0x278),%g1\n", ""},
        {"lone pair is stray", "03048d16", 0, {plain_reloc(0, 0, false, pair)}, "sethi\t0x12345800,%g1\n",
         "Stray SPARC_RELOC_PAIR entry "},
        {"other address, no pair after", "03048d16", 0,
         {plain_reloc(0x20, 0, true, hi22), plain_reloc(0x30, 0, true, disp30)}, "sethi\t0x12345800,%g1\n",
         "no SPARC_RELOC_PAIR relocation entry after 0\n"},
        {"own address, no pair after: the walk goes on", "40000000", 0,
         {plain_reloc(0, 0, true, hi22), plain_reloc(0, 1, true, disp30)}, "call\t_y\n",
         "No SPARC_RELOC_PAIR relocation entry after entry 0\n"},
        {"own address, the last entry: no pair read past the array", "03000001", 0,
         {plain_reloc(0, 0, true, hi22)}, "sethi\t0x400,%g1\n", "No SPARC_RELOC_PAIR relocation entry after entry 0\n"},
        {"other address, the last entry", "03000001", 0, {plain_reloc(8, 0, true, hi22)}, "sethi\t0x400,%g1\n",
         "no SPARC_RELOC_PAIR relocation entry after 0\n"},
        {"symbol number past the table", "40000000", 0, {plain_reloc(0, 9, true, disp30)},
         "call\tbad string offset\n", ""},
        {"string index past the table", "40000000", 0, {plain_reloc(0, 2, true, disp30)},
         "call\tbad string offset\n", ""},
    };
    for (const RelocCase& c : cases) {
        SCOPED_TRACE(c.what);
        Call k;
        k.verbose = 1;
        k.sect_addr = c.addr & ~0xfffull;
        k.relocs = c.relocs;
        k.syms = &syms;
        k.sorted = &sorted;
        std::vector<char> section(c.addr - k.sect_addr, 0);
        const std::vector<char> w = hex_bytes(c.word);
        section.insert(section.end(), w.begin(), w.end());
        const Printed p = sparc_at(section, c.addr - k.sect_addr, k);
        EXPECT_EQ(c.out, p.out);
        EXPECT_EQ(c.err, p.err);
        EXPECT_EQ(4u, p.length);
    }
}

TEST(SparcSymbolic, NoSymbolTableAndUnterminatedNames)
{
    Call k;
    k.verbose = 1;
    k.relocs = {plain_reloc(0, 0, true, 5)};
    EXPECT_EQ("call\tbad string offset\n", sparc_at(hex_bytes("40000000"), 0, k).out);

    // A name is bounded by the string table even when it has no NUL there.
    const char strings[] = {'\0', '_', 'a', 'b'};
    macho::nlist sym{};
    sym.n_strx = 1;
    const std::vector<char> b = hex_bytes("40000000");
    const Printed p = capture([&] {
        return macho::sparc_disassemble(b.data(), 4, 0, 0, macho::BIG_ENDIAN_BYTE_SEX, k.relocs.data(), 1, &sym, 1,
                                        nullptr, 0, strings, sizeof strings, nullptr, 0, no_commands, 0, 0, 1);
    });
    EXPECT_EQ("call\t_ab\n", p.out);
}

TEST(SparcSymbolic, VerboseOffPrintsValues)
{
    Symbols syms;
    syms.add("_x");
    const std::vector<macho::sorted_symbol> sorted = {{"_data", 0x12345400}};
    Call k;
    k.relocs = {plain_reloc(0, 0, true, 2), plain_reloc(0x278, 0, false, 1)};
    k.syms = &syms;
    k.sorted = &sorted;
    const Printed p = sparc_at(hex_bytes("03048d15"), 0, k);
    EXPECT_EQ("sethi\t0x12345400,%g1\n", p.out);
    EXPECT_EQ("", p.err);
}

// ---- the sethi pair comment ----

TEST(SparcPairComment, TwoWordsBack)
{
    const struct {
        const char* what;
        const char* section;
        size_t offset;
        const char* out;
    } cases[] = {
        {"or two words after the sethi", "03048d15 01000000 82106278", 8, "or\t%g1,0x278,%g1\t! 0x12345678\n"},
        {"adjacent pair: no comment", "03048d15 82106278", 4, "or\t%g1,0x278,%g1\n"},
        {"zero word between: nothing to compare", "03048d15 00000000 82106278", 8, "or\t%g1,0x278,%g1\n"},
        {"add family", "05048d15 01000000 84008001", 8, "add\t%g2,%g1,%g2\n"},
        {"add immediate", "05048d15 01000000 8400a010", 8, "add\t%g2,0x10,%g2\t! 0x12345410\n"},
        {"negative immediate", "05048d15 01000000 8400bff0", 8, "add\t%g2,0xfffffff0,%g2\t! 0xfffffff0\n"},
        {"load with the immediate after the +", "03048d15 01000000 d0006278", 8,
         "ld\t[%g1+0x278],%o0\t! 0x12345678\n"},
        {"jmpl with the immediate after the +", "03048d15 01000000 81c06278", 8, "jmp\t%g1+0x278\t! 0x12345678\n"},
        {"sethi into another register", "05048d15 01000000 82106278", 8, "or\t%g1,0x278,%g1\n"},
        {"mov of the or family: rs1 %g0 set by the sethi", "01048d15 01000000 82102010", 8,
         "mov\t0x10,%g1\t! 0x12345410\n"},
        {"mov: rs1 is %g0, not the sethi's %g1", "03048d15 01000000 82102010", 8, "mov\t0x10,%g1\n"},
        {"first word of the section", "82106278", 0, "or\t%g1,0x278,%g1\n"},
        {"second word: two back is before the section", "01000000 82106278", 4, "or\t%g1,0x278,%g1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<char> section = hex_bytes(c.section);
        const Printed p = sparc_at(section, c.offset);
        EXPECT_EQ(c.out, p.out);
        EXPECT_EQ("", p.err);
    }
}

// The words before are read in the object's byte order, as the word itself.
TEST(SparcPairComment, HostOrderObject)
{
    std::vector<char> section;
    for (uint32_t w : {0x03048d15u, 0x01000000u, 0x82106278u})
        for (int shift : {0, 8, 16, 24})
            section.push_back(static_cast<char>(w >> shift));
    Call k;
    k.order = macho::LITTLE_ENDIAN_BYTE_SEX;
    EXPECT_EQ("or\t%g1,0x278,%g1\t! 0x12345678\n", sparc_at(section, 8, k).out);
}

TEST(SparcSymbolic, LabelSymbol)
{
    const std::vector<macho::sorted_symbol> sorted = {{"_a", 0x10}, {"_b", 0x20}, {"_c", 0x100000020}};
    const struct {
        uint32_t value;
        int colon;
        const char* out;
        int found;
    } cases[] = {
        {0x10, 1, "_a:\n", 1}, {0x20, 0, "_b", 1}, {0x14, 1, "", 0}, {0x30, 0, "", 0},
    };
    for (const auto& c : cases) {
        int found = -1;
        const Printed p = capture([&] {
            found = macho::label_symbol(c.value, c.colon, sorted.data(), static_cast<uint32_t>(sorted.size()));
            return 0u;
        });
        EXPECT_EQ(c.out, p.out) << c.value;
        EXPECT_EQ(c.found, found) << c.value;
    }
    EXPECT_EQ(0, macho::label_symbol(0x10, 1, nullptr, 0));
}

// ---- reading ----

TEST(SparcRead, SectionEnd)
{
    const struct {
        const char* bytes;
        macho::byte_sex order;
        const char* out;
        uint32_t length;
    } cases[] = {
        {"12 34", macho::BIG_ENDIAN_BYTE_SEX, ".long\t0x12340000\n(end of section)\n", 2},
        {"ab cd ef", macho::BIG_ENDIAN_BYTE_SEX, ".long\t0xabcdef00\n(end of section)\n", 3},
        {"7f", macho::BIG_ENDIAN_BYTE_SEX, ".long\t0x7f000000\n(end of section)\n", 1},
        {"12 34", macho::LITTLE_ENDIAN_BYTE_SEX, ".long\t0x00003412\n(end of section)\n", 2},
    };
    for (const auto& c : cases) {
        Call k;
        k.order = c.order;
        const Printed p = sparc_at(hex_bytes(c.bytes), 0, k);
        EXPECT_EQ(c.out, p.out) << c.bytes;
        EXPECT_EQ(c.length, p.length) << c.bytes;
    }
    Call k;
    EXPECT_EQ(".long\t0x00000000\n(end of section)\n", sparc_at(hex_bytes("01000000"), 0, k, 0).out);
    EXPECT_EQ("nop\t\n", sparc_at(hex_bytes("01000000 82106278"), 0, k, 4).out);
    k.order = macho::LITTLE_ENDIAN_BYTE_SEX;
    EXPECT_EQ("nop\t\n", sparc_at(hex_bytes("00 00 00 01"), 0, k).out);
}

// ---- through wardmacho ----

TEST(SparcWardmacho, CallIntoSymbolStub)
{
    Wrapper w;
    w.cputype = 14;
    // call the stub after __text; nop; call an external symbol by its entry
    w.text = hex_bytes("40000004 01000000 7ffffffe 01000000");
    w.relocs = {plain_reloc(8, 2, true, 5)};
    w.symbols = {{"_main", 0x0f, 1, 0}, {"_puts", 0x01, 0, 0}, {"_exit", 0x01, 0, 0}};
    w.stub_size = 8;
    w.stubs = hex_bytes("01000000 01000000");
    w.indirect = {1};
    const std::string path = write_temp("sparc_wrapper.o", build_wrapper(w));
    const std::string out = run_program({WARDMACHO, "-tvV", path});
    unlink(path.c_str());
    EXPECT_EQ("(__TEXT,__text) section\n"
              "_main:\n"
              "00000000\tcall\t0x10\t; symbol stub for: _puts\n"
              "00000004\tnop\t\n"
              "00000008\tcall\t_exit\n"
              "0000000c\tnop\t\n",
              out);
}

// ---- llvm-mc and cstool ----

constexpr uint32_t llvm_marker = 0x003ffffe; // unimp 0x3ffffe, a word llvm-mc decodes

// llvm-mc's mnemonic of each word, "" for a word it finds invalid. One word
// a line (its warnings repeat the line), each followed by a marker word, so
// a word without a line of its own before the marker's was refused; the
// input starts with a marker (llvm-mc reads nothing after a first word it
// refuses).
std::vector<std::string> llvm_mnemonics(const std::vector<uint32_t>& words)
{
    std::string text;
    char bytes[32];
    const auto put = [&](uint32_t v) {
        snprintf(bytes, sizeof bytes, "0x%02x 0x%02x 0x%02x 0x%02x\n", v >> 24, (v >> 16) & 0xff, (v >> 8) & 0xff,
                 v & 0xff);
        text += bytes;
    };
    put(llvm_marker);
    for (uint32_t w : words) {
        put(w);
        put(llvm_marker);
    }
    const std::string path = write_temp("sparc_llvm.txt", std::vector<char>(text.begin(), text.end()));
    std::istringstream in(run_program({"llvm-mc", "--disassemble", "-triple=sparc", path}));
    unlink(path.c_str());
    std::vector<std::string> out;
    std::string pending;
    bool have = false;
    bool started = false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] != '\t' || line == "\t.text")
            continue;
        if (line.compare(0, 6, "\tunimp") == 0 && line.find("4194302") != std::string::npos) {
            if (started)
                out.push_back(have ? pending : "");
            started = true;
            have = false;
            continue;
        }
        pending = mnemonic(line.substr(1));
        have = true;
    }
    return out;
}

// cstool's mnemonic of each word, "" for a word it finds invalid. cstool
// stops at the first word it cannot decode: the next run starts after it.
std::vector<std::string> cstool_mnemonics(const std::vector<uint32_t>& words)
{
    std::string hex;
    for (uint32_t w : words)
        hex += hex_word(w);
    std::vector<std::string> out(words.size());
    for (size_t from = 0; from < words.size();) {
        std::istringstream in(run_program({"cstool", "sparc", hex.substr(8 * from)}));
        size_t next = from;
        std::string line;
        while (std::getline(in, line)) {
            std::smatch m;
            if (std::regex_match(line, m, re("^ *([0-9a-f]+)  (?:[0-9a-f]{2} ){4} *([^ \t]+).*$"))) {
                const size_t index = from + std::stoul(m[1], nullptr, 16) / 4;
                if (index < out.size())
                    out[index] = m[2];
                next = index + 1;
            }
        }
        from = next + 1;
    }
    return out;
}

TEST(SparcOtherOracles, ValidityAndMnemonic)
{
    if (!have_program("llvm-mc") || !have_program("cstool"))
        GTEST_SKIP() << "llvm-mc or cstool missing";
    std::vector<uint32_t> words = sweep_words();
    if (have_sparc_tools() && have_program("clang")) {
        for (const SparcCorpus& corpus :
             {SparcCorpus{"sparc_names.s", {"sparc64-linux-gnu-as", "-32", "-Av8", "-o", "OBJ", "SRC"}, true},
              SparcCorpus{"compiled.c",
                          {"clang", "--target=sparc-linux-gnu", "-fintegrated-as", "-O2", "-c", "-o", "OBJ", "SRC"},
                          false}}) {
            const std::vector<char> bin = build_corpus(corpus);
            for (size_t off = 0; off + 4 <= bin.size(); off += 4)
                words.push_back(word_at(bin, off));
        }
    }
    std::vector<char> bin;
    for (uint32_t w : words)
        for (int shift : {24, 16, 8, 0})
            bin.push_back(static_cast<char>(w >> shift));
    const std::vector<std::string> ours = disassemble_all(bin);
    const std::vector<std::string> llvm = llvm_mnemonics(words);
    ASSERT_EQ(words.size(), llvm.size());
    // cstool restarts after each word it refuses: it reads the words that
    // we or llvm-mc decode.
    std::vector<uint32_t> decoded;
    std::vector<size_t> where;
    for (size_t i = 0; i < words.size(); ++i)
        if (ours[i].compare(0, 6, ".long ") != 0 || !llvm[i].empty()) {
            decoded.push_back(words[i]);
            where.push_back(i);
        }
    const std::vector<std::string> cs_decoded = cstool_mnemonics(decoded);
    std::vector<std::string> cs(words.size());
    for (size_t j = 0; j < where.size(); ++j)
        cs[where[j]] = cs_decoded[j];
    // Every word we decode, both decode to the same instruction.
    const SparcExceptions exceptions;
    std::map<std::string, std::pair<size_t, std::string>> unexplained;
    size_t checked = 0;
    for (size_t i = 0; i < words.size(); ++i) {
        if (ours[i].compare(0, 6, ".long ") == 0)
            continue;
        ++checked;
        for (const auto& theirs : {std::make_pair("llvm", llvm[i]), std::make_pair("cstool", cs[i])}) {
            if (exceptions.explains_other(theirs.first, words[i], ours[i], theirs.second))
                continue;
            auto& entry = unexplained[std::string(theirs.first) + ": " + mnemonic(ours[i]) + " / " + theirs.second];
            if (entry.first++ == 0)
                entry.second = hex_word(words[i]) + ": " + ours[i];
        }
    }
    EXPECT_GT(checked, 1000u);
    for (const auto& u : unexplained)
        ADD_FAILURE() << u.first << " (" << u.second.first << " words), e.g. " << u.second.second;
}

} // namespace
