#include "BigEndianCases.h"

#include <algorithm>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace disasm_test {

std::string run_program(const std::vector<std::string>& argv)
{
    char path[] = "/tmp/disasm_outXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return "";
    unlink(path);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    std::string out;
    if (rc == 0) {
        int status;
        waitpid(pid, &status, 0);
        lseek(fd, 0, SEEK_SET);
        char buf[65536];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return out;
}

std::string write_temp(const std::string& name, const std::vector<char>& bytes)
{
    const char* dir = getenv("TMPDIR");
    const std::string path = std::string(dir != nullptr ? dir : "/tmp") + "/" + name + "."
                             + std::to_string(getpid());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

bool have_program(const std::string& name)
{
    const char* path = getenv("PATH");
    std::string p = path != nullptr ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= p.size()) {
        size_t end = p.find(':', start);
        if (end == std::string::npos)
            end = p.size();
        const std::string full = p.substr(start, end - start) + "/" + name;
        if (access(full.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace disasm_test

namespace disasm_test {

std::vector<OracleLine> objdump_listing(const std::vector<std::string>& argv)
{
    std::vector<OracleLine> lines;
    std::istringstream in(run_program(argv));
    std::string line;
    while (std::getline(in, line)) {
        // "   1c:\t4e75           \trts"
        const size_t colon = line.find(":\t");
        if (colon == std::string::npos)
            continue;
        const std::string addr = line.substr(0, colon);
        const size_t first = addr.find_first_not_of(' ');
        if (first == std::string::npos || addr.find_first_not_of("0123456789abcdef", first) != std::string::npos)
            continue;
        const size_t text = line.find('\t', colon + 2);
        if (text == std::string::npos)
            continue; // continuation of a long instruction
        std::string t = line.substr(text + 1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
            t.pop_back();
        lines.push_back({std::stoull(addr.substr(first), nullptr, 16), t});
    }
    return lines;
}

std::vector<char> build_section(const std::vector<std::string>& build, const std::string& object,
                                const std::string& objcopy, const std::string& section)
{
    run_program(build);
    const std::string bin = object + ".bin";
    run_program({objcopy, "-O", "binary", "-j", section, object, bin});
    std::ifstream f(bin, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    unlink(object.c_str());
    unlink(bin.c_str());
    return bytes;
}

std::vector<std::pair<std::string, std::string>> load_exceptions(const std::string& path)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::ifstream f(path);
    std::string line;
    while (std::getline(f, line)) {
        const size_t hash = line.find('#');
        std::string body = line.substr(0, hash);
        const size_t sep = body.find_first_of(" \t");
        if (sep == std::string::npos)
            continue;
        std::string reason = body.substr(sep);
        const size_t r = reason.find_first_not_of(" \t");
        out.emplace_back(body.substr(0, sep), r == std::string::npos ? "" : reason.substr(r));
    }
    return out;
}

std::string to_hex(const char* p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

namespace {

bool all_of(const std::string& s, const char* set)
{
    return !s.empty() && s.find_first_not_of(set) == std::string::npos;
}

} // namespace

std::vector<Token> tokenize(const std::string& s, bool bare_hex)
{
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == '\t') {
            if (!out.empty() && out.back().text != " ")
                out.push_back({" ", false, {}});
            ++i;
            continue;
        }
        if (!(isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.')) {
            out.push_back({std::string(1, c), false, {}});
            ++i;
            continue;
        }
        size_t j = i;
        while (j < s.size() && (isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_' || s[j] == '.'))
            ++j;
        const std::string w = s.substr(i, j - i);
        i = j;
        Token t{w, false, {}};
        // Bare hex is read only as a displacement, right after "(".
        const bool hex_here = bare_hex && !out.empty() && out.back().text == "(";
        if (w.size() > 2 && w[0] == '0' && w[1] == 'x' && all_of(w.substr(2), "0123456789abcdef")) {
            t.values.push_back(std::stoull(w.substr(2), nullptr, 16));
        } else if (all_of(w, "0123456789")) {
            t.values.push_back(std::stoull(w, nullptr, 10));
            if (hex_here)
                t.values.push_back(std::stoull(w, nullptr, 16));
        } else if (hex_here && w.size() >= 4 && all_of(w, "0123456789abcdef")) {
            t.values.push_back(std::stoull(w, nullptr, 16));
        }
        if (!t.values.empty()) {
            t.number = true;
            t.text = "N";
            // A minus sign before a number (not an @- predecrement) negates it.
            if (!out.empty() && out.back().text == "-"
                && (out.size() < 2 || (out[out.size() - 2].text != "@" && out[out.size() - 2].text != "N"))) {
                out.pop_back();
                for (uint64_t& v : t.values)
                    v = 0 - v;
            }
        }
        out.push_back(t);
    }
    while (!out.empty() && out.back().text == " ")
        out.pop_back();
    return out;
}

bool same_tokens(const std::vector<Token>& ours, const std::vector<Token>& theirs)
{
    if (ours.size() != theirs.size())
        return false;
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i].text != theirs[i].text)
            return false;
        if (!ours[i].number)
            continue;
        // Our numbers are at most 32 bits: zero-extended fields of 8, 16 or
        // 32 bits, or sign-extended into 32.
        const uint64_t v = ours[i].values[0];
        std::vector<uint64_t> masks{0xffffffffull};
        if (v <= 0xffff || (v >= 0xffff8000ull && v <= 0xffffffffull))
            masks.push_back(0xffff);
        if (v <= 0xff || (v >= 0xffffff80ull && v <= 0xffffffffull))
            masks.push_back(0xff);
        bool match = false;
        for (uint64_t w : theirs[i].values)
            for (uint64_t mask : masks)
                match = match || (v & mask) == (w & mask);
        if (!match)
            return false;
    }
    return true;
}

} // namespace disasm_test

namespace disasm_test {

namespace {

void put32(std::vector<char>& out, uint32_t v)
{
    for (int shift : {24, 16, 8, 0})
        out.push_back(static_cast<char>(v >> shift));
}

void put16(std::vector<char>& out, uint32_t v)
{
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

void put_name(std::vector<char>& out, const char* name)
{
    // A 16-byte name field: NUL-padded, not terminated when full.
    char field[16] = {};
    memcpy(field, name, std::min(strlen(name), sizeof field));
    out.insert(out.end(), field, field + sizeof field);
}

} // namespace

std::vector<char> build_wrapper(const Wrapper& w)
{
    const uint32_t nsects = w.stub_size != 0 ? 2 : 1;
    const uint32_t segment_size = 56 + 68 * nsects;
    const uint32_t sizeofcmds = segment_size + 24 + 80;
    const uint32_t text_off = 28 + sizeofcmds;
    const uint32_t text_size = static_cast<uint32_t>(w.text.size());
    const uint32_t stubs_off = text_off + text_size;
    const uint32_t stubs_size = static_cast<uint32_t>(w.stubs.size());
    const uint32_t reloff = (stubs_off + stubs_size + 3) & ~3u;
    const uint32_t nreloc = static_cast<uint32_t>(w.relocs.size());
    const uint32_t symoff = reloff + 8 * nreloc;
    const uint32_t nsyms = static_cast<uint32_t>(w.symbols.size());
    const uint32_t indirectoff = symoff + 12 * nsyms;
    const uint32_t nindirect = static_cast<uint32_t>(w.indirect.size());
    const uint32_t stroff = indirectoff + 4 * nindirect;
    std::string strings(1, '\0');
    std::vector<uint32_t> strx;
    for (const Wrapper::Symbol& s : w.symbols) {
        strx.push_back(static_cast<uint32_t>(strings.size()));
        strings += s.name;
        strings += '\0';
    }
    while (strings.size() % 4 != 0)
        strings += '\0';

    std::vector<char> out;
    put32(out, macho::MH_MAGIC);
    put32(out, static_cast<uint32_t>(w.cputype));
    put32(out, 0);
    put32(out, macho::MH_OBJECT);
    put32(out, 3);
    put32(out, sizeofcmds);
    put32(out, 0);
    // LC_SEGMENT
    put32(out, macho::LC_SEGMENT);
    put32(out, segment_size);
    put_name(out, "");
    put32(out, 0);                     // vmaddr
    put32(out, text_size + stubs_size); // vmsize
    put32(out, text_off);
    put32(out, text_size + stubs_size);
    put32(out, 7);
    put32(out, 7);
    put32(out, nsects);
    put32(out, 0);
    const auto section = [&](const char* name, uint32_t addr, uint32_t size, uint32_t offset, uint32_t rel,
                             uint32_t nrel, uint32_t flags, uint32_t reserved1, uint32_t reserved2) {
        put_name(out, name);
        put_name(out, "__TEXT");
        put32(out, addr);
        put32(out, size);
        put32(out, offset);
        put32(out, 1);
        put32(out, rel);
        put32(out, nrel);
        put32(out, flags);
        put32(out, reserved1);
        put32(out, reserved2);
    };
    section("__text", 0, text_size, text_off, nreloc != 0 ? reloff : 0, nreloc, 0x80000400, 0, 0);
    if (w.stub_size != 0)
        section("__symbol_stub", text_size, stubs_size, stubs_off, 0, 0, 0x80000408, 0, w.stub_size);
    // LC_SYMTAB
    put32(out, macho::LC_SYMTAB);
    put32(out, 24);
    put32(out, symoff);
    put32(out, nsyms);
    put32(out, stroff);
    put32(out, static_cast<uint32_t>(strings.size()));
    // LC_DYSYMTAB: every symbol local but the indirect table.
    put32(out, macho::LC_DYSYMTAB);
    put32(out, 80);
    for (int i = 0; i < 12; ++i)
        put32(out, 0);
    put32(out, indirectoff);
    put32(out, nindirect);
    for (int i = 0; i < 4; ++i)
        put32(out, 0);
    // Contents.
    out.insert(out.end(), w.text.begin(), w.text.end());
    out.insert(out.end(), w.stubs.begin(), w.stubs.end());
    out.resize(reloff, 0);
    std::vector<macho::relocation_info> relocs = w.relocs;
    if (!relocs.empty())
        macho::swap_relocation_info(relocs.data(), nreloc, macho::BIG_ENDIAN_BYTE_SEX);
    for (const macho::relocation_info& r : relocs) {
        const char* p = reinterpret_cast<const char*>(&r);
        out.insert(out.end(), p, p + sizeof r);
    }
    for (size_t i = 0; i < w.symbols.size(); ++i) {
        put32(out, strx[i]);
        out.push_back(static_cast<char>(w.symbols[i].type));
        out.push_back(static_cast<char>(w.symbols[i].sect));
        put16(out, 0);
        put32(out, w.symbols[i].value);
    }
    for (uint32_t index : w.indirect)
        put32(out, index);
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
}

} // namespace disasm_test
