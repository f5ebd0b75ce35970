#include "processor.h"

#include "libstuff/errors.h"
#include "libstuff/timetext.h"
#include "options.h"
#include "print/printers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace macho {

namespace {

constexpr uint32_t kMaxName = 1023;
constexpr int32_t kArrayStep = 100;

bool is_mach_magic(uint32_t magic)
{
    return magic == MH_MAGIC || magic == MH_CIGAM || magic == MH_MAGIC_64 || magic == MH_CIGAM_64;
}

// A name at `off` of the area: up to its NUL, the area's end or kMaxName
// characters, whichever comes first.
char* read_name(const load_commands_view& lc, uint64_t off)
{
    // In chunks: a byte at a time costs a read call per character.
    constexpr uint32_t kChunk = 64;
    static_assert(kChunk <= kMaxName, "chunk");
    // Mostly the name and its NUL are in the reader's window already.
    if (off < lc.sizeofcmds) {
        const uint64_t want = lc.sizeofcmds - off < kChunk ? lc.sizeofcmds - off : kChunk;
        if (const char* held = lc.held(off, want)) {
            if (const void* nul = memchr(held, '\0', want)) {
                const size_t n = static_cast<size_t>(static_cast<const char*>(nul) - held);
                char* name = static_cast<char*>(allocate(n + 1));
                memcpy(name, held, n);
                name[n] = '\0';
                return name;
            }
        }
    }
    char buf[kMaxName + 1];
    uint32_t n = 0;
    while (n < kMaxName && off + n < lc.sizeofcmds) {
        uint64_t want = kChunk;
        if (want > kMaxName - n)
            want = kMaxName - n;
        if (want > lc.sizeofcmds - (off + n))
            want = lc.sizeofcmds - (off + n);
        lc.read(off + n, buf + n, want);
        const void* nul = memchr(buf + n, '\0', want);
        if (nul != nullptr) {
            n = static_cast<uint32_t>(static_cast<const char*>(nul) - buf);
            break;
        }
        n += static_cast<uint32_t>(want);
    }
    char* name = static_cast<char*>(allocate(n + 1));
    memcpy(name, buf, n);
    name[n] = '\0';
    return name;
}

// Releases the names collected so far; the empty array stays for the caller.
void drop_names(dependant_libraries* out, int32_t collected)
{
    for (int32_t i = 0; i < collected; ++i) {
        free(out->names[i]);
        out->names[i] = nullptr;
    }
    out->count = 0;
}

// What processor() shows when the record holds no complete Mach header.
void note_truncated_object(ofile* ofile)
{
    uint64_t offset = 0;
    uint64_t size = 0;
    if (ofile->file_type == OFILE_FAT) {
        if (ofile->arch_type != OFILE_ARCHIVE && ofile->fat_header != nullptr && ofile->narch >= 0
            && static_cast<uint64_t>(ofile->narch) < ofile->fat_header->nfat_arch) {
            const fat_arch& fa = ofile->fat_archs[ofile->narch];
            if (fa.offset <= ofile->file_size) {
                offset = fa.offset;
                size = fa.size;
                if (size > ofile->file_size - fa.offset)
                    size = ofile->file_size - fa.offset;
            }
        }
    } else if (ofile->file_type != OFILE_ARCHIVE) {
        size = ofile->file_size;
    }
    if (size <= 4)
        return;
    mach_header_64 partial;
    read_bytes(&ofile->reader, offset, offset + size, &partial, sizeof partial);
    const uint32_t magic = partial.magic;
    if (!is_mach_magic(magic))
        return;
    printf(" is a truncated object file\n");
    if (hflag) {
        if (mach_magic_byte_sex(magic) != get_host_byte_sex())
            swap_mach_header_64(&partial, get_host_byte_sex());
        print_mach_header(partial.magic, partial.cputype, partial.cpusubtype, partial.filetype, partial.ncmds,
                          partial.sizeofcmds, partial.flags, vflag);
    }
}

} // namespace

void processor(ofile* ofile, const char* arch_name, dependant_libraries* out, int mode)
{
    const bool member = ofile->member_ar_hdr != nullptr;
    if (aflag && member)
        print_ar_hdr(ofile->member_ar_hdr, ofile->member_name, ofile->member_name_size, vflag);
    // The name copy ends at its first NUL, so no more than it holds is read.
    if (member && ofile->member_name_size >= 9 && strncmp(ofile->member_name, SYMDEF, 9) == 0) {
        if (Sflag) {
            uint64_t lib = 0;
            uint64_t lib_size = ofile->file_size;
            if (ofile->file_type == OFILE_FAT && ofile->narch >= 0) {
                const fat_arch& fa = ofile->fat_archs[ofile->narch];
                lib = fa.offset;
                lib_size = fa.size;
                if (lib_size > ofile->file_size - fa.offset)
                    lib_size = ofile->file_size - fa.offset;
            }
            print_library_toc(ofile, ofile->member_ar_hdr, ofile->member_name, ofile->member_name_size,
                              ofile->member_file_offset, ofile->member_size,
                              get_toc_byte_sex(&ofile->reader, lib, lib_size), ofile->file_name, lib, lib_size,
                              arch_name, vflag);
        }
        return;
    }
    if (!object_processing)
        return;

    // The header copy in the record becomes host order. Its file offset
    // decides the alignment note.
    const bool misaligned = ofile->object_offset % sizeof(uint32_t) != 0;
    uint32_t ncmds;
    uint32_t sizeofcmds;
    uint64_t header_size;
    int32_t cputype;
    uint32_t filetype;
    if (ofile->mh != nullptr) {
        if (misaligned && !Xflag)
            printf("(object file offset is not a multiple of sizeof(unsigned long))");
        if (ofile->mh->magic == MH_CIGAM)
            swap_mach_header(ofile->mh, get_host_byte_sex());
        const mach_header& h = *ofile->mh;
        ncmds = h.ncmds;
        sizeofcmds = h.sizeofcmds;
        header_size = sizeof(mach_header);
        cputype = h.cputype;
        filetype = h.filetype;
    } else if (ofile->mh64 != nullptr) {
        if (misaligned && !Xflag)
            printf("(object file offset is not a multiple of sizeof(unsigned long))");
        if (ofile->mh64->magic == MH_CIGAM_64)
            swap_mach_header_64(ofile->mh64, get_host_byte_sex());
        const mach_header_64& h = *ofile->mh64;
        ncmds = h.ncmds;
        sizeofcmds = h.sizeofcmds;
        header_size = sizeof(mach_header_64);
        cputype = h.cputype;
        filetype = h.filetype;
    } else {
        note_truncated_object(ofile);
        return;
    }

    uint64_t object_size = ofile->object_size;
    const uint64_t to_end = ofile->file_size - ofile->object_offset;
    if (object_size > to_end)
        object_size = to_end;
    if (hflag) {
        if (ofile->mh != nullptr)
            print_mach_header(ofile->mh->magic, cputype, ofile->mh->cpusubtype, filetype, ncmds, sizeofcmds,
                              ofile->mh->flags, vflag);
        else
            print_mach_header(ofile->mh64->magic, cputype, ofile->mh64->cpusubtype, filetype, ncmds, sizeofcmds,
                              ofile->mh64->flags, vflag);
    }

    // A view read as it is walked, not a copy of sizeofcmds bytes:
    // sizeofcmds comes from the file and may claim up to 4 GiB.
    load_commands_view lc;
    lc.reader = &ofile->reader;
    lc.offset = ofile->object_offset + header_size;
    lc.sizeofcmds = sizeofcmds;
    lc.present = object_size > header_size ? object_size - header_size : 0;
    if (lc.present > sizeofcmds)
        lc.present = sizeofcmds;

    if (lflag)
        print_loadcmds(lc, ncmds, sizeofcmds, cputype, filetype, ofile->object_byte_sex, object_size, vflag, Vflag);
    if (mode != PROCESSOR_HEADER_ONLY)
        print_libraries(lc, ncmds, sizeofcmds, ofile->object_byte_sex, Dflag && !Lflag, vflag, out);
    display_object(ofile, arch_name, lc);
}

void print_libraries(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, byte_sex lc_byte_sex,
                     int id_only, int verbose, dependant_libraries* out)
{
    int32_t capacity = kArrayStep;
    out->names = static_cast<char**>(allocate(sizeof(char*) * capacity));
    int32_t collected = 0;
    const bool swapped = lc_byte_sex != get_host_byte_sex();

    uint64_t cur = 0;
    for (uint32_t i = 0; i < ncmds; ++i) {
        const unsigned long index = i;
        // One read per command: the longest record read below.
        char head[sizeof(dylib_command)];
        static_assert(sizeof(fvmlib_command) <= sizeof head, "fvmlib_command");
        lc.read(cur, head, sizeof head);
        load_command l;
        memcpy(&l, head, sizeof l);
        if (swapped)
            swap_load_command(&l, get_host_byte_sex());
        // long is 8 bytes here; commands are laid out in 4-byte units.
        if (l.cmdsize % sizeof(uint32_t) != 0)
            printf("load command %lu size not a multiple of sizeof(long)\n", index);
        if (cur + l.cmdsize > sizeofcmds)
            printf("load command %lu extends past end of load commands\n", index);

        switch (l.cmd) {
        case LC_IDFVMLIB:
        case LC_LOADFVMLIB:
            if (!id_only) {
                fvmlib_command fl;
                memcpy(&fl, head, sizeof fl);
                if (swapped)
                    swap_fvmlib_command(&fl, get_host_byte_sex());
                if (fl.name.offset < l.cmdsize) {
                    char* name = read_name(lc, cur + fl.name.offset);
                    printf("\t%s (minor version %u)\n", name, fl.minor_version);
                    free(name);
                } else {
                    printf("\tBad offset (%u) for name of %s command %lu\n", fl.name.offset,
                           l.cmd == LC_IDFVMLIB ? "LC_IDFVMLIB" : "LC_LOADFVMLIB", index);
                }
            }
            break;
        case LC_LOAD_DYLIB:
        case LC_LOAD_WEAK_DYLIB:
        case LC_REEXPORT_DYLIB:
        case LC_ID_DYLIB:
            if (id_only && l.cmd != LC_ID_DYLIB)
                break;
            {
                dylib_command dl;
                memcpy(&dl, head, sizeof dl);
                if (swapped)
                    swap_dylib_command(&dl, get_host_byte_sex());
                if (dl.name.offset < l.cmdsize) {
                    char* name = read_name(lc, cur + dl.name.offset);
                    if (id_only) {
                        printf("%s\n", name);
                        free(name);
                    } else {
                        out->names[collected++] = name;
                        if (collected == capacity) {
                            capacity = collected + kArrayStep;
                            out->names = static_cast<char**>(reallocate(out->names, sizeof(char*) * capacity));
                        }
                    }
                    if (verbose) {
                        printf("\ttime stamp %u ", dl.timestamp);
                        const time_t t = static_cast<time_t>(dl.timestamp);
                        printf("%s", nulltext(time_text(t)));
                    }
                } else {
                    const char* kind = l.cmd == LC_ID_DYLIB     ? "LC_ID_DYLIB "
                                       : l.cmd == LC_LOAD_DYLIB ? "LC_LOAD_DYLIB "
                                                                : "LC_LOAD_WEAK_DYLIB ";
                    printf("\tBad offset (%u) for name of %scommand %lu\n", dl.name.offset, kind, index);
                }
            }
            break;
        default:
            break;
        }

        if (l.cmdsize == 0) {
            printf("load command %lu size zero (can't advance to other load commands)\n", index);
            drop_names(out, collected);
            return;
        }
        cur += l.cmdsize;
        if (cur > sizeofcmds) {
            drop_names(out, collected);
            return;
        }
    }
    if (cur != sizeofcmds) {
        printf("Inconsistent sizeofcmds\n");
        drop_names(out, collected);
        return;
    }
    out->count = collected;
}

} // namespace macho

using macho::ofile;

extern "C" int getDependantLibraries(const char* path, dependant_libraries* libs)
{
    ofile of;
    if (!macho::ofile_map(path, nullptr, nullptr, &of, 0))
        return 0;
    if (of.file_type == macho::OFILE_FAT && !macho::ofile_first_arch(&of)) {
        macho::ofile_unmap(&of);
        return 0;
    }
    macho::processor(&of, nullptr, libs, macho::PROCESSOR_COLLECT);
    macho::ofile_unmap(&of);
    return 1;
}

extern "C" int isFileMachOExecutable(const char* path)
{
    ofile of;
    int answer = 0;
    if (macho::ofile_map(path, nullptr, nullptr, &of, 0)) {
        if (of.file_type != macho::OFILE_FAT || macho::ofile_first_arch(&of)) {
            dependant_libraries scratch{0, nullptr};
            macho::processor(&of, nullptr, &scratch, macho::PROCESSOR_HEADER_ONLY);
            if (of.mh != nullptr)
                answer = of.mh->filetype == macho::MH_EXECUTE;
            else if (of.mh64 != nullptr)
                answer = of.mh64->filetype == macho::MH_EXECUTE;
        }
    }
    macho::ofile_unmap(&of);
    return answer;
}
