// Placeholders until the Objective-C metadata printers are built: they print
// nothing.
#include "print/objc.h"

namespace macho {

void print_objc2(int32_t, const load_commands_view&, uint32_t, uint32_t, byte_sex, const object_bytes&,
                 const nlist_64*, uint32_t, const char*, uint64_t, const sorted_symbol*, uint32_t,
                 const relocation_info*, uint32_t, const relocation_info*, uint32_t, int)
{
}

void print_objc_segment(const load_commands_view&, uint32_t, uint32_t, byte_sex, const object_bytes&,
                        const sorted_symbol*, uint32_t, int)
{
}

void print_objc_protocol_section(const load_commands_view&, uint32_t, uint32_t, byte_sex, const object_bytes&, int)
{
}

void print_objc_string_object_section_64(const char*, const load_commands_view&, uint32_t, uint32_t, byte_sex,
                                         const object_bytes&, int32_t, const nlist_64*, uint32_t, const char*,
                                         uint64_t, const sorted_symbol*, uint32_t, int)
{
}

void print_objc_string_object_section(const char*, const load_commands_view&, uint32_t, uint32_t, byte_sex,
                                      const object_bytes&, int)
{
}

void print_objc_runtime_setup_section(const load_commands_view&, uint32_t, uint32_t, byte_sex, const object_bytes&,
                                      int)
{
}

} // namespace macho
