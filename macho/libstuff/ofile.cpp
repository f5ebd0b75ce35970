#include "ofile.h"

#include "arutil.h"
#include "errors.h"
#include "options.h"
#include "print/printers.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace macho {

namespace {

uint32_t read_u32(const char* p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

// The first bytes of a file or slice: enough to tell its kind.
struct head {
    char bytes[SARMAG];
    uint64_t size; // of the file or slice
};

head read_head(ofile* ofile, uint64_t offset, uint64_t size)
{
    head h;
    h.size = size;
    read_bytes(&ofile->reader, offset, offset + size, h.bytes, sizeof h.bytes);
    return h;
}

uint32_t head_magic(const head& h)
{
    return h.size >= 4 ? read_u32(h.bytes) : 0;
}

bool is_fat_magic(const head& h)
{
    static const unsigned char kFat[4] = {0xca, 0xfe, 0xba, 0xbe};
    return h.size >= 8 && memcmp(h.bytes, kFat, 4) == 0;
}

bool is_archive_magic(const head& h)
{
    return h.size >= SARMAG && memcmp(h.bytes, ARMAG, SARMAG) == 0;
}

bool is_mach32(uint32_t magic)
{
    return magic == MH_MAGIC || magic == MH_CIGAM;
}

bool is_mach64(uint32_t magic)
{
    return magic == MH_MAGIC_64 || magic == MH_CIGAM_64;
}

// Fills field 7 from the first member of the archive at `base` holding a
// Mach-O object.
void set_archive_cputype(ofile* ofile, uint64_t base, uint64_t size)
{
    const uint64_t end = base + size;
    uint64_t off = SARMAG;
    while (off + sizeof(ar_hdr) <= size) {
        ar_hdr hdr;
        read_bytes(&ofile->reader, base + off, end, &hdr, sizeof hdr);
        uint64_t contents = off + sizeof(ar_hdr);
        uint64_t namelen = 0;
        if (extended_name_length(hdr, &namelen))
            contents += namelen;
        if (contents + sizeof(mach_header) <= size) {
            mach_header mh;
            read_bytes(&ofile->reader, base + contents, end, &mh, sizeof mh);
            const byte_sex sex = mach_magic_byte_sex(mh.magic);
            if (sex != UNKNOWN_BYTE_SEX) {
                if (sex != get_host_byte_sex())
                    swap_mach_header(&mh, get_host_byte_sex());
                ofile->archive_cputype = mh.cputype;
                ofile->archive_cpusubtype = mh.cpusubtype;
                return;
            }
        }
        off = next_member_offset(hdr, off);
    }
}

// Classifies the slice of `size` bytes at `offset` (step 6 of selecting one).
ofile_type classify_slice(ofile* ofile, uint64_t offset, uint64_t size)
{
    const head h = read_head(ofile, offset, size);
    const uint32_t magic = head_magic(h);
    if ((size >= sizeof(mach_header) && is_mach32(magic)) || (size >= sizeof(mach_header_64) && is_mach64(magic))) {
        ofile_set_object(ofile, offset, size, offset + size);
        check_Mach_O(ofile);
        return OFILE_Mach_O;
    }
    if (is_archive_magic(h)) {
        set_archive_cputype(ofile, offset, size);
        check_archive(ofile);
        return OFILE_ARCHIVE;
    }
    return OFILE_UNKNOWN;
}

bool differs(const arch_flag* want, int32_t cputype, int32_t cpusubtype)
{
    return want->cputype != cputype && subtype_model(want->cpusubtype) != subtype_model(cpusubtype);
}

void clear_record(ofile* ofile)
{
    memset(ofile, 0, sizeof *ofile);
    ofile->narch = -1;
    ofile->reader.fd = -1;
}

// The universal-file branch of classifying a file.
int map_fat(ofile* ofile, const arch_flag* want_flag, const char* object_name)
{
    const uint64_t size = ofile->file_size;
    ofile->file_type = OFILE_FAT;
    fat_header fh;
    read_bytes(&ofile->reader, 0, size, &fh, sizeof fh);
    if (get_host_byte_sex() != BIG_ENDIAN_BYTE_SEX)
        swap_fat_header(&fh, get_host_byte_sex());
    const bool show = raded_first_ofile_map && fflag;
    if (show)
        printf("Fat headers\n");

    const uint64_t table_end = sizeof(fat_header) + uint64_t(fh.nfat_arch) * sizeof(fat_arch);
    if (table_end > size) {
        error("fat file: %s truncated or malformed (fat_arch structs would extend past the end of the file)",
              ofile->file_name);
        if (show) {
            // Every slice that starts within the file, zero-filled.
            const uint64_t after = size - sizeof(fat_header);
            const uint32_t present = static_cast<uint32_t>((after + sizeof(fat_arch) - 1) / sizeof(fat_arch));
            char* copy = read_fat_table(ofile, 0, size, present);
            if (copy != nullptr) {
                fat_header shown = fh;
                print_fat_headers(&shown, reinterpret_cast<fat_arch*>(copy + sizeof(fat_header)), present, size,
                                  vflag);
                free(copy);
            }
        }
        ofile_unmap(ofile);
        return 0;
    }
    ofile->file_fat_store = read_fat_table(ofile, 0, size, fh.nfat_arch);
    if (ofile->file_fat_store == nullptr) {
        ofile_unmap(ofile);
        return 0;
    }
    ofile->fat_header = reinterpret_cast<fat_header*>(ofile->file_fat_store);
    ofile->fat_archs = reinterpret_cast<fat_arch*>(ofile->file_fat_store + sizeof(fat_header));
    if (show)
        print_fat_headers(ofile->fat_header, ofile->fat_archs, fh.nfat_arch, size, vflag);

    if (want_flag == nullptr && object_name == nullptr)
        return 1;

    arch_flag want{nullptr, 0, 0};
    if (want_flag != nullptr) {
        want.name = savestr(nulltext(want_flag->name));
        want.cputype = want_flag->cputype;
        want.cpusubtype = want_flag->cpusubtype;
    } else if (!get_arch_from_host(&want, nullptr)) {
        error("can't determine the host architecture (specify an arch_flag or fix get_arch_from_host() )");
        ofile_unmap(ofile);
        return 0;
    }

    const uint32_t n = ofile->fat_header->nfat_arch;
    const fat_arch* archs = ofile->fat_archs;
    int64_t found = -1;
    for (uint32_t i = 0; i < n && found < 0; ++i)
        if (archs[i].cputype == want.cputype
            && subtype_model(archs[i].cpusubtype) == subtype_model(want.cpusubtype))
            found = i;
    if (found < 0) {
        const arch_flag* family = get_arch_family_from_cputype(want.cputype);
        const bool family_subtype =
            family != nullptr && subtype_model(want.cpusubtype) == subtype_model(family->cpusubtype);
        for (uint32_t i = 0; i < n && found < 0; ++i)
            if (archs[i].cputype == want.cputype && (family_subtype || archs[i].cpusubtype == want.cpusubtype))
                found = i;
        if (found >= 0)
            want.cpusubtype = archs[found].cpusubtype;
    }
    if (found < 0) {
        error("fat file: %s does not contain architecture %s", ofile->file_name, want.name);
        free(want.name);
        ofile_unmap(ofile);
        return 0;
    }
    if (!ofile_specific_arch(ofile, static_cast<uint32_t>(found))) {
        free(want.name);
        ofile_unmap(ofile);
        return 0;
    }
    free(ofile->arch_flag.name);
    ofile->arch_flag = want;
    if (ofile->arch_type == OFILE_UNKNOWN)
        ofile->file_type = OFILE_UNKNOWN;
    if (object_name == nullptr)
        return 1;
    if (ofile->arch_type == OFILE_ARCHIVE) {
        if (!ofile_specific_member(object_name, ofile)) {
            ofile_unmap(ofile);
            return 0;
        }
        return 1;
    }
    error("fat file: %s architecture %s is not an archive (object_name to ofile_map() can't be specified to "
          "be other than NULL)",
          ofile->file_name, ofile->arch_flag.name);
    ofile_unmap(ofile);
    return 0;
}

// Classifies the file the record has open (ofile_map_from_memory's steps).
int classify_file(ofile* ofile, const arch_flag* arch_flag, const char* object_name, int)
{
    const uint64_t size = ofile->file_size;
    const head h = read_head(ofile, 0, size);
    const uint32_t magic = head_magic(h);

    if (is_fat_magic(h))
        return map_fat(ofile, arch_flag, object_name);

    if ((size >= sizeof(mach_header) && is_mach32(magic)) || (size >= sizeof(mach_header_64) && is_mach64(magic))) {
        ofile->file_type = OFILE_Mach_O;
        ofile_set_object(ofile, 0, size, size);
        check_Mach_O(ofile);
        if (object_name != nullptr) {
            error("file: %s is not an archive (object_name to ofile_map() can't be specified to be other than NULL)",
                  ofile->file_name);
            ofile_unmap(ofile);
            return 0;
        }
        if (arch_flag != nullptr && differs(arch_flag, ofile->mh_cputype, ofile->mh_cpusubtype)) {
            error("object file: %s does not match specified arch_flag: %s passed to ofile_map()", ofile->file_name,
                  nulltext(arch_flag->name));
            ofile_unmap(ofile);
            return 0;
        }
        return 1;
    }

    if (is_archive_magic(h)) {
        ofile->file_type = OFILE_ARCHIVE;
        set_archive_cputype(ofile, 0, size);
        check_archive(ofile);
        if (object_name != nullptr) {
            if (!ofile_specific_member(object_name, ofile)) {
                ofile_unmap(ofile);
                return 0;
            }
            if (arch_flag != nullptr && differs(arch_flag, ofile->mh_cputype, ofile->mh_cpusubtype)) {
                error("object file: %s(%.*s) does not match specified arch_flag: %s passed to ofile_map()",
                      ofile->file_name, static_cast<int>(ofile->member_name_size), ofile->member_name,
                      nulltext(arch_flag->name));
                ofile_unmap(ofile);
                return 0;
            }
        } else if (arch_flag != nullptr && differs(arch_flag, ofile->archive_cputype, ofile->archive_cpusubtype)) {
            error("archive file: %s objects do not match specified arch_flag: %s passed to ofile_map()",
                  ofile->file_name, nulltext(arch_flag->name));
            ofile_unmap(ofile);
            return 0;
        }
        return 1;
    }

    ofile->file_type = OFILE_UNKNOWN;
    if (arch_flag != nullptr) {
        error("file: %s is unknown type (arch_flag to ofile_map() can't be specified to be other than NULL)",
              ofile->file_name);
        ofile_unmap(ofile);
        return 0;
    }
    if (object_name != nullptr) {
        error("file: %s is not an archive (object_name to ofile_map() can't be specified to be other than NULL)",
              ofile->file_name);
        ofile_unmap(ofile);
        return 0;
    }
    return 1;
}

} // namespace

byte_sex mach_magic_byte_sex(uint32_t magic)
{
    const byte_sex host = get_host_byte_sex();
    if (magic == MH_MAGIC || magic == MH_MAGIC_64)
        return host;
    if (magic == MH_CIGAM || magic == MH_CIGAM_64)
        return host == BIG_ENDIAN_BYTE_SEX ? LITTLE_ENDIAN_BYTE_SEX : BIG_ENDIAN_BYTE_SEX;
    return UNKNOWN_BYTE_SEX;
}

void ofile_clear_object(ofile* ofile)
{
    ofile->object_offset = 0;
    ofile->object_size = 0;
    ofile->object_byte_sex = UNKNOWN_BYTE_SEX;
    ofile->mh = nullptr;
    ofile->mh64 = nullptr;
    ofile->load_commands_offset = 0;
    ofile->mh_cputype = 0;
    ofile->mh_cpusubtype = 0;
}

void ofile_clear_member(ofile* ofile)
{
    ofile->member_offset = 0;
    ofile->member_file_offset = 0;
    ofile->member_size = 0;
    ofile->member_ar_hdr = nullptr;
    free(ofile->member_name);
    ofile->member_name = nullptr;
    ofile->member_name_size = 0;
    ofile->member_type = OFILE_UNKNOWN;
    if (ofile->member_fat_store != nullptr) {
        free(ofile->member_fat_store);
        ofile->member_fat_store = nullptr;
        ofile->fat_header = nullptr;
        ofile->fat_archs = nullptr;
        if (ofile->file_fat_store != nullptr) {
            ofile->fat_header = reinterpret_cast<fat_header*>(ofile->file_fat_store);
            ofile->fat_archs = reinterpret_cast<fat_arch*>(ofile->file_fat_store + sizeof(fat_header));
        }
    }
}

void ofile_set_object(ofile* ofile, uint64_t offset, uint64_t size, uint64_t end)
{
    ofile_clear_object(ofile);
    ofile->object_offset = offset;
    ofile->object_size = size;
    char header[sizeof(mach_header_64)];
    read_bytes(&ofile->reader, offset, end, header, sizeof header);
    const uint32_t magic = read_u32(header);
    ofile->object_byte_sex = mach_magic_byte_sex(magic);
    const bool swapped = ofile->object_byte_sex != get_host_byte_sex();
    if (is_mach32(magic)) {
        memcpy(&ofile->mh_store, header, sizeof(mach_header));
        ofile->mh = &ofile->mh_store;
        ofile->load_commands_offset = offset + sizeof(mach_header);
        mach_header host = ofile->mh_store;
        if (swapped)
            swap_mach_header(&host, get_host_byte_sex());
        ofile->mh_cputype = host.cputype;
        ofile->mh_cpusubtype = host.cpusubtype;
    } else {
        memcpy(&ofile->mh64_store, header, sizeof(mach_header_64));
        ofile->mh64 = &ofile->mh64_store;
        ofile->load_commands_offset = offset + sizeof(mach_header_64);
        mach_header_64 host = ofile->mh64_store;
        if (swapped)
            swap_mach_header_64(&host, get_host_byte_sex());
        ofile->mh_cputype = host.cputype;
        ofile->mh_cpusubtype = host.cpusubtype;
    }
}

char* read_fat_table(ofile* ofile, uint64_t offset, uint64_t end, uint32_t narchs)
{
    const uint64_t want = sizeof(fat_header) + uint64_t(narchs) * sizeof(fat_arch);
    // Not through allocate(): a table too large for memory is a failed read,
    // not the end of the process.
    char* block = static_cast<char*>(want <= SIZE_MAX ? malloc(want) : nullptr);
    if (block == nullptr)
        return nullptr;
    read_bytes(&ofile->reader, offset, end, block, want);
    fat_header* fh = reinterpret_cast<fat_header*>(block);
    fat_arch* fa = reinterpret_cast<fat_arch*>(block + sizeof(fat_header));
    if (get_host_byte_sex() != BIG_ENDIAN_BYTE_SEX) {
        swap_fat_header(fh, get_host_byte_sex());
        swap_fat_arch(fa, narchs, get_host_byte_sex());
    }
    fh->nfat_arch = narchs;
    return block;
}

int check_Mach_O(ofile*)
{
    return 1;
}

int check_archive(ofile*)
{
    return 1;
}

namespace {

// Opens `file_name` if it is a regular file: -1 if not.
int open_regular(const char* file_name, struct stat* st)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = open(file_name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // Only regular files are read: a FIFO or a device has no size to bound
    // the reads and may never end, a folder has no bytes.
    if (fstat(fd, st) != 0 || !S_ISREG(st->st_mode) || st->st_size < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Files up to this size are read whole by ofile_open.
constexpr uint64_t kWholeFile = 16384;

// Where the load commands end when `bytes` start with a Mach header.
uint64_t load_commands_end(const char* bytes, uint64_t n)
{
    if (n < sizeof(mach_header_64))
        return 0;
    const uint32_t magic = read_u32(bytes);
    const byte_sex sex = mach_magic_byte_sex(magic);
    if (sex == UNKNOWN_BYTE_SEX)
        return 0;
    uint32_t sizeofcmds = read_u32(bytes + offsetof(mach_header, sizeofcmds));
    if (sex != get_host_byte_sex())
        sizeofcmds = SWAP_INT(sizeofcmds);
    return (is_mach64(magic) ? sizeof(mach_header_64) : sizeof(mach_header)) + uint64_t{sizeofcmds};
}

// ofile_map once the record's reader is open on the file.
int map_open_file(ofile* ofile, const char* file_name, int64_t mtime, const arch_flag* arch_flag,
                  const char* object_name, int archives_with_fat_objects)
{
    ofile->file_name = savestr(nulltext(file_name));
    // A file whose first bytes cannot be read answers like one that cannot
    // be opened; a later failed read ends the bytes there, as a short one.
    char first[SARMAG];
    read_bytes(&ofile->reader, 0, ofile->file_size, first, sizeof first);
    if (ofile->reader.failed) {
        ofile_unmap(ofile);
        return 0;
    }
    if (raded_first_ofile_map && Wflag)
        printf("Modification time = %ld\n", static_cast<long>(mtime));
    return classify_file(ofile, arch_flag, object_name, archives_with_fat_objects);
}

} // namespace

int ofile_map(const char* file_name, const arch_flag* arch_flag, const char* object_name, ofile* ofile,
              int archives_with_fat_objects)
{
    clear_record(ofile);
    struct stat st;
    const int fd = open_regular(file_name, &st);
    if (fd < 0)
        return 0;
    ofile->file_size = static_cast<uint64_t>(st.st_size);
    reader_open_fd(&ofile->reader, fd, ofile->file_size);
    return map_open_file(ofile, file_name, st.st_mtime, arch_flag, object_name, archives_with_fat_objects);
}

opened_file ofile_open(const char* file_name, char* window)
{
    opened_file file{-1, 0, 0, window, 0};
    struct stat st;
    file.fd = open_regular(file_name, &st);
    if (file.fd < 0)
        return file;
    file.size = static_cast<uint64_t>(st.st_size);
    file.mtime = st.st_mtime;
    byte_reader reader;
    reader_lend(&reader, file.fd, file.size, window, 0);
    // A small file is read whole: one read costs less than two.
    file.held = reader_read_start(&reader, file.size <= kWholeFile ? file.size : kReadWindow);
    // A thin object's load commands are what is examined first: all of
    // them, when they go on past the first window.
    if (file.held == kReadWindow && file.size > kReadWindow) {
        const uint64_t end = load_commands_end(window, file.held);
        if (end > file.held)
            file.held = reader_read_start(&reader, end);
    }
    reader_close(&reader);
    return file;
}

int ofile_map_opened(const opened_file& file, const char* file_name, const arch_flag* arch_flag,
                     const char* object_name, ofile* ofile, int archives_with_fat_objects)
{
    clear_record(ofile);
    if (file.fd < 0)
        return 0;
    ofile->file_size = file.size;
    reader_lend(&ofile->reader, file.fd, file.size, file.window, file.held);
    return map_open_file(ofile, file_name, file.mtime, arch_flag, object_name, archives_with_fat_objects);
}

int ofile_map_from_memory(char* addr, uint64_t size, const char* file_name, const arch_flag* arch_flag,
                          const char* object_name, ofile* ofile, int archives_with_fat_objects)
{
    clear_record(ofile);
    ofile->file_name = savestr(nulltext(file_name));
    ofile->file_mem = addr;
    ofile->file_size = size;
    reader_open_memory(&ofile->reader, addr, size);
    return classify_file(ofile, arch_flag, object_name, archives_with_fat_objects);
}

int ofile_first_arch(ofile* ofile)
{
    const bool fat_member = ofile->file_type == OFILE_ARCHIVE && ofile->member_type == OFILE_FAT;
    if (ofile->file_type != OFILE_FAT && !fat_member) {
        error("ofile_first_arch() called and file type of: %s is not a fat file\n", ofile->file_name);
        return 0;
    }
    if (ofile->fat_header == nullptr || ofile->fat_header->nfat_arch == 0) {
        error("fat file: %s malformed (contains zero architecture types)", ofile->file_name);
        return 0;
    }
    return ofile_specific_arch(ofile, 0);
}

int ofile_specific_arch(ofile* ofile, uint32_t narch)
{
    // A universal file without slice `narch` has nothing to select.
    if (ofile->fat_header == nullptr || narch >= ofile->fat_header->nfat_arch)
        return 0;
    ofile->narch = narch;
    ofile->arch_type = OFILE_UNKNOWN;
    free(ofile->arch_flag.name);
    ofile->arch_flag = arch_flag{nullptr, 0, 0};
    ofile->archive_cputype = 0;
    ofile->archive_cpusubtype = 0;
    ofile_clear_object(ofile);

    const fat_arch& fa = ofile->fat_archs[narch];
    ofile->arch_flag.cputype = fa.cputype;
    ofile->arch_flag.cpusubtype = fa.cpusubtype;
    set_arch_flag_name(&ofile->arch_flag);

    uint64_t base;
    if (ofile->file_type == OFILE_FAT) {
        base = 0;
        ofile_clear_member(ofile);
    } else if (ofile->file_type == OFILE_ARCHIVE && ofile->member_type == OFILE_FAT) {
        base = ofile->member_file_offset;
    } else {
        error("internal error. ofile_specific_arch() called but file is not a fat file or an archive with a fat "
              "member ");
        return 0;
    }
    const uint64_t start = base + fa.offset;
    if (start > ofile->file_size) {
        error("fat file: %s offset to architecture %s extends past end of file", ofile->file_name,
              ofile->arch_flag.name);
        return 0;
    }
    uint64_t size = fa.size;
    if (size > ofile->file_size - start)
        size = ofile->file_size - start;
    ofile->arch_type = classify_slice(ofile, start, size);
    return 1;
}

void ofile_unmap(ofile* ofile)
{
    reader_close(&ofile->reader);
    free(ofile->file_mem);
    free(ofile->member_name);
    free(ofile->file_name);
    free(ofile->arch_flag.name);
    free(ofile->file_fat_store);
    free(ofile->member_fat_store);
    clear_record(ofile);
}

} // namespace macho
