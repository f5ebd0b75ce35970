#include "CaseRunner.h"

#include <cstdio>
#include <stdexcept>
#include <sys/mman.h>
#include <unistd.h>

namespace disasm_test {

namespace {

std::string read_all(int fd)
{
    std::string s;
    if (lseek(fd, 0, SEEK_SET) < 0)
        throw std::runtime_error("lseek");
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<size_t>(n));
    return s;
}

} // namespace

std::pair<std::string, std::string> capture(const std::function<void()>& f)
{
    fflush(stdout);
    fflush(stderr);
    const int out = memfd_create("disasm-out", 0);
    const int err = memfd_create("disasm-err", 0);
    const int saved_out = dup(1);
    const int saved_err = dup(2);
    if (out < 0 || err < 0 || saved_out < 0 || saved_err < 0)
        throw std::runtime_error("memfd_create/dup");
    dup2(out, 1);
    dup2(err, 2);
    f();
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    std::pair<std::string, std::string> r{read_all(out), read_all(err)};
    close(out);
    close(err);
    return r;
}

disassembler i386()
{
    return [](const call_input& in, const char* sect, uint64_t left, const macho::load_commands_view& lc) {
        return macho::i386_disassemble(sect, left, in.addr, in.sect_addr, in.byte_order, in.relocs, in.nrelocs,
                                       in.symbols, in.symbols64, in.nsymbols, in.sorted, in.nsorted, in.strings,
                                       in.strings_size, in.indirect, in.nindirect, in.cputype, lc, in.ncmds,
                                       in.sizeofcmds, in.verbose);
    };
}

call_output run_case(const disassembler& d, const call_input& in)
{
    const macho::load_commands_view empty{nullptr, 0, 0, 0};
    const macho::load_commands_view& lc = in.load_commands != nullptr ? *in.load_commands : empty;
    const uint64_t left = in.left == UINT64_MAX ? in.bytes.size() : in.left;
    // The bytes sit at the end of their block, so a read past `left` is
    // caught by AddressSanitizer.
    std::vector<uint8_t> block(in.bytes.begin(), in.bytes.begin() + static_cast<long>(std::min<uint64_t>(left, in.bytes.size())));
    const char* sect = block.empty() ? "" : reinterpret_cast<const char*>(block.data());
    call_output r;
    auto streams = capture([&] { r.length = d(in, sect, left, lc); });
    r.out = std::move(streams.first);
    r.err = std::move(streams.second);
    return r;
}

std::vector<uint8_t> hex_bytes(const std::string& text)
{
    std::vector<uint8_t> v;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        v.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return v;
}

} // namespace disasm_test
