#include "libstuff/objects.h"

#include "libstuff/errors.h"

#include <cstring>
#include <string>

namespace macho {

namespace {

void for_each_member(ofile* of, const char* path, const char* arch_name,
                     const std::function<void(const char*, std::string_view)>& each)
{
    uint64_t next = 0;
    for (uint64_t off = SARMAG;; off = next) {
        const int ok = ofile_member_at(of, off, &next);
        if (next <= off)
            break;
        if (!ok)
            continue;
        std::string heading = std::string(path) + "(" +
                              std::string(of->member_name, strnlen(of->member_name, of->member_name_size)) + ")";
        if (arch_name != nullptr)
            heading += std::string(" (architecture ") + arch_name + ")";
        each(arch_name, heading);
    }
}

} // namespace

void for_each_object(ofile* of, const char* path,
                     const std::function<void(const char* arch_name, std::string_view heading)>& each)
{
    if (of->file_type == OFILE_FAT) {
        const uint32_t n = of->fat_header != nullptr ? of->fat_header->nfat_arch : 0;
        for (uint32_t i = 0; i < n; ++i) {
            if (!ofile_specific_arch(of, i))
                continue;
            const char* arch_name = of->arch_flag.name;
            if (of->arch_type == OFILE_ARCHIVE)
                for_each_member(of, path, arch_name, each);
            else
                each(arch_name, std::string(path) + " (architecture " + nulltext(arch_name) + ")");
        }
    } else if (of->file_type == OFILE_ARCHIVE) {
        for_each_member(of, path, nullptr, each);
    } else {
        // Also a file too short for its header: the scanner notes it.
        each(nullptr, path);
    }
}

} // namespace macho
