#include "ofile.h"

#include "arutil.h"
#include "errors.h"

#include <cstdlib>
#include <cstring>

namespace macho {

namespace {

constexpr int kNameField = 16;
// The most of a member's name a walk by offset keeps.
constexpr uint64_t kMemberNameCap = 65536;

void clear_selection(ofile* ofile)
{
    ofile_clear_member(ofile);
    ofile_clear_object(ofile);
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// The length of a "#1/" name after the checks that make it usable; false
// (after a report) when the plain name field has to stand instead.
bool checked_extended_name(ofile* ofile, const ar_hdr& hdr, uint64_t name_start, uint64_t archive_size,
                           uint32_t* len)
{
    const char* field = hdr.ar_name;
    if (!is_digit(field[3])) {
        archive_error(ofile, "malformed (ar_name: %.*s for archive extend format #1 starts with non-digit)",
                      kNameField, field);
        return false;
    }
    uint64_t n = 0;
    int i = 3;
    for (; i < kNameField && is_digit(field[i]); ++i) {
        n = n * 10 + static_cast<uint64_t>(field[i] - '0');
        if (n > UINT32_MAX) {
            archive_error(ofile,
                          "malformed (size in ar_name: %.*s for archive extend format #1 overflows unsigned long)",
                          kNameField, field);
            return false;
        }
    }
    for (; i < kNameField; ++i) {
        if (field[i] != ' ') {
            archive_error(ofile,
                          "malformed (size in ar_name: %.*s for archive extend format #1 contains non-digit and "
                          "non-space characters)",
                          kNameField, field);
            return false;
        }
    }
    if (name_start + n > archive_size) {
        archive_error(ofile, "truncated or malformed (archive name of member extends past the end of the file)");
        return false;
    }
    *len = static_cast<uint32_t>(n);
    return true;
}

// Whether strncmp(object_name, name, name_size) is 0 for the name at `name`
// in the file: no byte past the end of `object_name` is read.
bool name_matches(ofile* ofile, uint64_t name, uint64_t end, uint32_t name_size, const char* object_name)
{
    char chunk[64];
    uint64_t i = 0;
    while (i < name_size) {
        const uint64_t n = name_size - i < sizeof chunk ? name_size - i : sizeof chunk;
        read_bytes(&ofile->reader, name + i, end, chunk, n);
        for (uint64_t j = 0; j < n; ++j, ++i) {
            if (object_name[i] != chunk[j])
                return false;
            if (object_name[i] == '\0')
                return true;
        }
    }
    return true;
}

// The matched name up to its first NUL, as a terminated heap copy. It has no
// more bytes before its NUL than `object_name` has: however long the header
// says it is, nothing more is read or kept.
char* copy_member_name(ofile* ofile, uint64_t name, uint64_t end, uint32_t name_size, const char* object_name)
{
    const uint64_t len = strlen(object_name);
    const uint64_t n = name_size < len ? name_size : len;
    char* copy = static_cast<char*>(allocate(n + 1));
    read_bytes(&ofile->reader, name, end, copy, n);
    copy[n] = '\0';
    return copy;
}

// Looks at the selected member's contents (step 4 of the selection);
// `archive_left` counts the bytes from them to the archive's end.
int classify_member(ofile* ofile, uint64_t archive_left)
{
    const uint64_t start = ofile->member_file_offset;
    const uint64_t size = ofile->member_size;
    if (size <= 4)
        return 1;
    unsigned char magic_bytes[4];
    read_bytes(&ofile->reader, start, start + size, magic_bytes, sizeof magic_bytes);
    static const unsigned char kFat[4] = {0xca, 0xfe, 0xba, 0xbe};
    if (memcmp(magic_bytes, kFat, 4) == 0) {
        ofile->member_type = OFILE_FAT;
        fat_header fh;
        read_bytes(&ofile->reader, start, start + size, &fh, sizeof fh);
        if (get_host_byte_sex() != BIG_ENDIAN_BYTE_SEX)
            swap_fat_header(&fh, get_host_byte_sex());
        const uint64_t table_end = sizeof(fat_header) + uint64_t(fh.nfat_arch) * sizeof(fat_arch);
        if (table_end > size) {
            archive_member_error(ofile, "fat file truncated or malformed (fat_arch structs would extend past the "
                                        "end of the archive member)");
            clear_selection(ofile);
            return 0;
        }
        char* block = read_fat_table(ofile, start, start + size, fh.nfat_arch);
        if (block == nullptr) {
            // A table too large for memory: a failed read, silent.
            clear_selection(ofile);
            return 0;
        }
        ofile->member_fat_store = block;
        ofile->fat_header = reinterpret_cast<fat_header*>(block);
        ofile->fat_archs = reinterpret_cast<fat_arch*>(block + sizeof(fat_header));
        if (!check_fat_object_in_archive(ofile)) {
            clear_selection(ofile);
            return 0;
        }
        return 1;
    }
    uint32_t magic;
    memcpy(&magic, magic_bytes, sizeof magic);
    if (((magic == MH_MAGIC || magic == MH_CIGAM) && archive_left >= sizeof(mach_header))
        || ((magic == MH_MAGIC_64 || magic == MH_CIGAM_64) && archive_left >= sizeof(mach_header_64))) {
        ofile->member_type = OFILE_Mach_O;
        // The header may run past a short member, never past the archive.
        ofile_set_object(ofile, start, size, start + archive_left);
        check_Mach_O(ofile);
    }
    return 1;
}

} // namespace

int size_ar_name(const ar_hdr* hdr)
{
    int n = kNameField;
    while (n > 1 && hdr->ar_name[n - 1] == ' ')
        --n;
    return n;
}

namespace {

// The archive the record's file or selected slice holds: its offset and
// size in the file (the size clipped to the file). 0 after a report when
// there is none.
int archive_range(ofile* ofile, const char* caller, uint64_t* base, uint64_t* size)
{
    if (ofile->file_type == OFILE_FAT) {
        if (ofile->arch_type != OFILE_ARCHIVE || ofile->narch < 0) {
            error("%s() called on fat file: %s with a non-archive architecture or no architecture selected\n",
                  caller, ofile->file_name);
            return 0;
        }
        const fat_arch& fa = ofile->fat_archs[ofile->narch];
        *base = fa.offset;
        *size = fa.size;
        if (*base > ofile->file_size)
            return 0;
        if (*size > ofile->file_size - *base)
            *size = ofile->file_size - *base;
    } else if (ofile->file_type == OFILE_ARCHIVE) {
        *base = 0;
        *size = ofile->file_size;
    } else {
        error("%s() called and file type of %s is OFILE_UNKNOWN\n", caller, ofile->file_name);
        return 0;
    }
    char magic[SARMAG];
    read_bytes(&ofile->reader, *base, *base + *size, magic, sizeof magic);
    if (*size < SARMAG || memcmp(magic, ARMAG, SARMAG) != 0) {
        archive_error(ofile, "internal error. %s() called but file does not have an archive magic string", caller);
        return 0;
    }
    if (*size != SARMAG && *size < SARMAG + sizeof(ar_hdr)) {
        archive_error(ofile, "truncated or malformed (archive header of first member extends past the end of the "
                             "file)");
        return 0;
    }
    return 1;
}

// One member header of the archive at `base` (`size` bytes), read at `off`
// from the archive's start: where its name is, how long, where its contents
// start and how large they are (clipped to the archive), and where the next
// header is.
struct member_at {
    ar_hdr hdr;
    uint64_t name;      // the name's offset in the file
    uint32_t name_size; // its length
    uint32_t ext;       // bytes of a "#1/" name before the contents
    uint64_t after_hdr; // from the archive's start
    uint64_t size;      // the contents with the name, clipped
    uint64_t next;      // the next header, from the archive's start
};

member_at read_member(ofile* ofile, uint64_t base, uint64_t size, uint64_t off)
{
    member_at m;
    read_bytes(&ofile->reader, base + off, base + size, &m.hdr, sizeof m.hdr);
    m.after_hdr = off + sizeof(ar_hdr);
    m.size = ar_member_size(m.hdr);
    if (m.size > size - m.after_hdr)
        m.size = size - m.after_hdr; // clipped to the archive
    m.name = base + off;
    m.name_size = static_cast<uint32_t>(size_ar_name(&m.hdr));
    m.ext = 0;
    if (memcmp(m.hdr.ar_name, AR_EFMT1, 3) == 0) {
        uint32_t len = 0;
        if (checked_extended_name(ofile, m.hdr, m.after_hdr, size, &len)) {
            m.name = base + m.after_hdr;
            m.name_size = len;
            m.ext = len;
        }
    }
    m.next = m.after_hdr + m.size + (m.size & 1);
    return m;
}

// Makes `m` the selected member, its name the copy `name`, and looks at its
// contents.
int select_member(ofile* ofile, uint64_t base, uint64_t size, const member_at& m, char* name)
{
    const uint64_t end = base + size;
    ofile->member_offset = m.after_hdr + m.ext;
    // An extended name longer than the member leaves no contents.
    ofile->member_file_offset = base + m.after_hdr + (m.ext <= m.size ? m.ext : m.size);
    ofile->member_size = m.ext <= m.size ? m.size - m.ext : 0;
    ofile->member_ar_hdr_store = m.hdr;
    ofile->member_ar_hdr = &ofile->member_ar_hdr_store;
    ofile->member_name = name;
    ofile->member_name_size = m.name_size;
    ofile->member_type = OFILE_UNKNOWN;
    return classify_member(ofile, end - ofile->member_file_offset);
}

} // namespace

int ofile_specific_member(const char* object_name, ofile* ofile)
{
    clear_selection(ofile);
    uint64_t base;
    uint64_t size;
    if (!archive_range(ofile, "ofile_specific_member", &base, &size))
        return 0;
    const uint64_t end = base + size;
    uint64_t off = SARMAG;
    // A header that does not fit before the archive's end ends the walk.
    while (off + sizeof(ar_hdr) <= size) {
        const member_at m = read_member(ofile, base, size, off);
        if (m.name_size > 0 && name_matches(ofile, m.name, end, m.name_size, object_name))
            return select_member(ofile, base, size, m,
                                 copy_member_name(ofile, m.name, end, m.name_size, object_name));
        off = m.next;
    }
    archive_error(ofile, "does not contain a member named: %s", object_name);
    clear_selection(ofile);
    return 0;
}

int ofile_member_at(ofile* ofile, uint64_t offset, uint64_t* next)
{
    clear_selection(ofile);
    *next = 0;
    uint64_t base;
    uint64_t size;
    if (!archive_range(ofile, "ofile_member_at", &base, &size))
        return 0;
    if (offset < SARMAG || offset + sizeof(ar_hdr) > size)
        return 0;
    const member_at m = read_member(ofile, base, size, offset);
    *next = m.next;
    // The name up to its first NUL, no further than the archive, and no
    // longer than kMemberNameCap: a "#1/" length may claim gigabytes.
    const uint64_t end = base + size;
    uint64_t n = m.name_size;
    if (m.name + n > end)
        n = end - m.name;
    if (n > kMemberNameCap)
        n = kMemberNameCap;
    char* name = static_cast<char*>(allocate(n + 1));
    read_bytes(&ofile->reader, m.name, end, name, n);
    name[n] = '\0';
    return select_member(ofile, base, size, m, name);
}

int check_fat_object_in_archive(ofile* ofile)
{
    if (ofile->file_type != OFILE_ARCHIVE) {
        error("internal error. check_fat_object_in_archive() called and file type of: %s is not OFILE_ARCHIVE\n",
              ofile->file_name);
        return 0;
    }
    const uint32_t n = ofile->fat_header->nfat_arch;
    const fat_arch* archs = ofile->fat_archs;
    if (n == 0) {
        archive_member_error(ofile, "fat file malformed (contains zero architecture types)");
        return 0;
    }
    for (uint32_t i = 0; i < n; ++i) {
        const fat_arch& a = archs[i];
        const int32_t sub = subtype_model(a.cpusubtype);
        if (uint64_t(a.offset) + a.size > ofile->member_size) {
            archive_member_error(ofile, "fat file truncated or malformed (offset plus size of cputype (%d) "
                                        "cpusubtype (%d) extends past the end of the file)",
                                 a.cputype, sub);
            return 0;
        }
        if (a.align > 15) {
            archive_member_error(ofile, "fat file's align (2^%u) too large for cputype (%d) cpusubtype (%d) "
                                        "(maximum 2^%d)",
                                 a.align, a.cputype, sub, 15);
            return 0;
        }
        if (a.offset % (1u << a.align) != 0) {
            archive_member_error(ofile, "fat file's offset: %u for cputype (%d) cpusubtype (%d) not aligned on "
                                        "it's alignment (2^%u)",
                                 a.offset, a.cputype, sub, a.align);
            return 0;
        }
        if (a.size < sizeof(mach_header)) {
            archive_member_error(ofile, "fat file for cputype (%d) cpusubtype (%d) is not an object file (size "
                                        "too small to be an object file)",
                                 a.cputype, sub);
            return 0;
        }
        uint32_t magic;
        read_bytes(&ofile->reader, ofile->member_file_offset + a.offset,
                   ofile->member_file_offset + ofile->member_size, &magic, sizeof magic);
        if (magic != MH_MAGIC && magic != MH_CIGAM && magic != MH_MAGIC_64 && magic != MH_CIGAM_64) {
            archive_member_error(ofile, "fat file for cputype (%d) cpusubtype (%d) is not an object file (bad "
                                        "magic number)",
                                 a.cputype, sub);
            return 0;
        }
    }
    for (uint32_t i = 0; i < n; ++i)
        for (uint32_t j = i + 1; j < n; ++j)
            if (archs[i].cputype == archs[j].cputype
                && subtype_model(archs[i].cpusubtype) == subtype_model(archs[j].cpusubtype)) {
                archive_member_error(ofile, "fat file contains two of the same architecture (cputype (%d) "
                                            "cpusubtype (%d))",
                                     archs[i].cputype, subtype_model(archs[i].cpusubtype));
                return 0;
            }
    return 1;
}

} // namespace macho
