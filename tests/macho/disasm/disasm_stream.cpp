// disasm_stream FAMILY FILE [--64] [--addr HEX] [--slots N]
// Walks the raw bytes of FILE as the code-section loop does, one
// instruction a call, and writes one record per instruction to stdout:
//     OFFSET(hex) LENGTH TEXT
// TEXT is what the disassembler printed, without the final newline. With
// --slots N a walk starts at every multiple of N and only the first
// instruction of each slot is written (the oracle sweep's layout).
#include "disasm/disasm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

// Trace host variables that librulebook expects from its program.
FILE* logFilePtr = nullptr;
int traceInited = 0;

namespace {

struct family {
    const char* name;
    uint32_t (*one)(const char* p, uint64_t left, uint64_t addr, uint64_t sect_addr, bool is64);
};

const macho::load_commands_view no_commands{nullptr, 0, 0, 0};

uint32_t x86(const char* p, uint64_t left, uint64_t addr, uint64_t sect_addr, bool is64)
{
    return macho::i386_disassemble(p, left, addr, sect_addr, macho::LITTLE_ENDIAN_BYTE_SEX, nullptr, 0, nullptr,
                                   nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, is64 ? 0x01000007 : 7,
                                   no_commands, 0, 0, 0);
}

const family families[] = {
    {"x86", x86},
};

int usage()
{
    fprintf(stderr, "usage: disasm_stream FAMILY FILE [--64] [--addr HEX] [--slots N]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return usage();
    const family* fam = nullptr;
    for (const family& f : families)
        if (strcmp(f.name, argv[1]) == 0)
            fam = &f;
    if (fam == nullptr)
        return usage();
    bool is64 = false;
    uint64_t base = 0;
    uint64_t slots = 0;
    for (int i = 3; i < argc; ++i) {
        if (strcmp(argv[i], "--64") == 0)
            is64 = true;
        else if (strcmp(argv[i], "--addr") == 0 && i + 1 < argc)
            base = strtoull(argv[++i], nullptr, 16);
        else if (strcmp(argv[i], "--slots") == 0 && i + 1 < argc)
            slots = strtoull(argv[++i], nullptr, 10);
        else
            return usage();
    }
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
        perror(argv[2]);
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // The disassembler prints on stdout: point it at a memory file and note
    // where each instruction's text ends.
    fflush(stdout);
    const int real_out = dup(1);
    const int mem = memfd_create("disasm-stream", 0);
    if (real_out < 0 || mem < 0 || dup2(mem, 1) < 0) {
        perror("memfd");
        return 1;
    }
    struct record {
        uint64_t offset;
        uint32_t length;
        off_t end;
    };
    std::vector<record> records;
    const uint64_t size = bytes.size();
    auto one = [&](uint64_t off) {
        const uint32_t len = fam->one(bytes.data() + off, size - off, base + off, base, is64);
        fflush(stdout);
        records.push_back(record{off, len, lseek(1, 0, SEEK_CUR)});
        return len == 0 ? 1 : len;
    };
    if (slots != 0) {
        for (uint64_t off = 0; off < size; off += slots)
            one(off);
    } else {
        for (uint64_t off = 0; off < size;)
            off += one(off);
    }
    fflush(stdout);
    dup2(real_out, 1);
    close(real_out);

    FILE* text = fdopen(mem, "r");
    if (text == nullptr || fseek(text, 0, SEEK_SET) != 0) {
        perror("memfd");
        return 1;
    }
    std::string line;
    off_t at = 0;
    for (const record& r : records) {
        line.resize(static_cast<size_t>(r.end - at));
        if (!line.empty() && fread(&line[0], 1, line.size(), text) != line.size()) {
            perror("memfd read");
            return 1;
        }
        at = r.end;
        while (!line.empty() && line.back() == '\n')
            line.pop_back();
        for (char& c : line)
            if (c == '\n')
                c = ' ';
        printf("%llx %u %s\n", static_cast<unsigned long long>(r.offset), r.length, line.c_str());
    }
    return 0;
}
