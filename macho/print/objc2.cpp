// Objective-C 2 metadata of a 64-bit image: the class, reference, category
// and protocol lists, message references and image information, and the
// 64-bit constant string objects of an __OBJC section. Pointer fields are
// named through relocation entries and the symbol table.
#include "print/objc.h"
#include "print/objc_read.h"
#include "libstuff/errors.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace macho {
namespace objc2 {

struct class_t {
    uint64_t isa;
    uint64_t superclass;
    uint64_t cache;
    uint64_t vtable;
    uint64_t data;
};
static_assert(sizeof(class_t) == 40, "class_t");

struct class_ro_t {
    uint32_t flags;
    uint32_t instanceStart;
    uint32_t instanceSize;
    uint32_t reserved;
    uint64_t ivarLayout;
    uint64_t name;
    uint64_t baseMethods;
    uint64_t baseProtocols;
    uint64_t ivars;
    uint64_t weakIvarLayout;
    uint64_t baseProperties;
};
static_assert(sizeof(class_ro_t) == 72, "class_ro_t");

// The head of method_list_t, ivar_list_t and objc_property_list.
struct list_head {
    uint32_t entsize;
    uint32_t count;
};
static_assert(sizeof(list_head) == 8, "list_head");

struct method_t {
    uint64_t name;
    uint64_t types;
    uint64_t imp;
};
static_assert(sizeof(method_t) == 24, "method_t");

struct ivar_t {
    uint64_t offset;
    uint64_t name;
    uint64_t type;
    uint32_t alignment;
    uint32_t size;
};
static_assert(sizeof(ivar_t) == 32, "ivar_t");

struct objc_property {
    uint64_t name;
    uint64_t attributes;
};
static_assert(sizeof(objc_property) == 16, "objc_property");

struct protocol_t {
    uint64_t isa;
    uint64_t name;
    uint64_t protocols;
    uint64_t instanceMethods;
    uint64_t classMethods;
    uint64_t optionalInstanceMethods;
    uint64_t optionalClassMethods;
    uint64_t instanceProperties;
};
static_assert(sizeof(protocol_t) == 64, "protocol_t");

struct category_t {
    uint64_t name;
    uint64_t cls;
    uint64_t instanceMethods;
    uint64_t classMethods;
    uint64_t protocols;
    uint64_t instanceProperties;
};
static_assert(sizeof(category_t) == 48, "category_t");

struct message_ref {
    uint64_t imp;
    uint64_t sel;
};
static_assert(sizeof(message_ref) == 16, "message_ref");

struct objc_image_info {
    uint32_t version;
    uint32_t flags;
};
static_assert(sizeof(objc_image_info) == 8, "objc_image_info");

struct objc_string_object_64 {
    uint64_t isa;
    uint64_t characters;
    uint32_t _length;
    uint32_t _pad;
};
static_assert(sizeof(objc_string_object_64) == 24, "objc_string_object_64");

constexpr uint32_t RO_META = 0x1;
constexpr uint32_t RO_ROOT = 0x2;
constexpr uint32_t RO_HAS_CXX_STRUCTORS = 0x4;

// ---- byte order: 64-bit fields as 64-bit values, 32-bit ones as 32 ----

void swap64(uint64_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        p[i] = SWAP_LONG_LONG(p[i]);
}
void swap32(uint32_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        p[i] = SWAP_LONG(p[i]);
}

void swap_record(class_t* r) { swap64(&r->isa, 5); }
void swap_record(class_ro_t* r)
{
    swap32(&r->flags, 4);
    swap64(&r->ivarLayout, 7);
}
void swap_record(list_head* r) { swap32(&r->entsize, 2); }
void swap_record(method_t* r) { swap64(&r->name, 3); }
void swap_record(ivar_t* r)
{
    swap64(&r->offset, 3);
    swap32(&r->alignment, 2);
}
void swap_record(objc_property* r) { swap64(&r->name, 2); }
void swap_record(protocol_t* r) { swap64(&r->isa, 8); }
void swap_record(category_t* r) { swap64(&r->name, 6); }
void swap_record(message_ref* r) { swap64(&r->imp, 2); }
void swap_record(objc_image_info* r) { swap32(&r->version, 2); }
void swap_record(objc_string_object_64* r)
{
    swap64(&r->isa, 2);
    swap32(&r->_length, 2);
}
void swap_record(uint64_t* r) { swap64(r, 1); }

// ---- sections and the context ----

struct section_info_64 {
    char segname[16];
    char sectname[16];
    objc_section_bytes bytes;
    relocation_info* relocs; // a copy of the section's entries, host order
    uint32_t nrelocs;
};

struct objc2_info {
    bool swapped;
    byte_sex host_byte_sex;
    const object_bytes* object;
    section_info_64* sections;
    uint32_t nsections;
    int32_t cputype;
    const nlist_64* symbols64;
    uint32_t nsymbols;
    const char* strings;
    uint64_t strings_size;
    const sorted_symbol* sorted_symbols;
    uint32_t nsorted_symbols;
    uint64_t database; // the relocation base
    const relocation_info* ext_relocs;
    uint32_t next_relocs;
    const relocation_info* loc_relocs;
    uint32_t nloc_relocs;
    int verbose;
};

/// Every section of the LC_SEGMENT_64 commands, each with its own converted
/// copy of its relocation entries (the object is never written), and the
/// relocation base.
void get_sections_64(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
                     const object_bytes& object, section_info_64** sections, uint32_t* nsections,
                     uint64_t* reloc_base)
{
    *sections = nullptr;
    *nsections = 0;
    *reloc_base = 0;
    bool base_set = false;
    bool zero_readable = false;
    objc_walk_sections(lc, ncmds, sizeofcmds, object_byte_sex, true,
                       [&](const segment_info& sg) {
                           if (!base_set && (sg.initprot & 0x2) != 0) {
                               *reloc_base = sg.vmaddr;
                               base_set = true;
                           }
                           if ((sg.initprot & 0x1) != 0 && sg.vmaddr == 0)
                               zero_readable = true;
                       },
                       [&](const segment_info&, const section_info& s) {
                           section_info_64 e;
                           memcpy(e.segname, s.segname, 16);
                           memcpy(e.sectname, s.sectname, 16);
                           e.bytes = objc_section_place(object, s);
                           e.relocs = nullptr;
                           e.nrelocs = 0;
                           if (s.reloff < object.size) {
                               uint32_t n = s.nreloc;
                               if (uint64_t(s.reloff) + uint64_t(n) * sizeof(relocation_info) > object.size)
                                   printf("relocation entries for section (%.16s,%.16s) extends past end of file\n",
                                          s.segname, s.sectname);
                               e.relocs = read_relocs(object, s.reloff, &n, object_byte_sex);
                               e.nrelocs = n;
                           } else {
                               printf("relocation entries offset for (%.16s,%.16s): is past end of file\n",
                                      s.segname, s.sectname);
                           }
                           *sections = static_cast<section_info_64*>(
                               reallocate(*sections, sizeof(section_info_64) * (*nsections + 1)));
                           (*sections)[(*nsections)++] = e;
                           return true;
                       });
    if (zero_readable)
        *reloc_base = 0;
}

const section_info_64* get_section_64(const section_info_64* sections, uint32_t nsections, const char* segname,
                                      const char* sectname)
{
    for (uint32_t i = 0; i < nsections; ++i)
        if (strncmp(sections[i].segname, segname, 16) == 0 && strncmp(sections[i].sectname, sectname, 16) == 0)
            return &sections[i];
    return nullptr;
}

/// The section holding addr, the offset in it and the bytes from there to
/// its end; none when no section holds it.
const section_info_64* get_pointer_64(uint64_t addr, uint64_t* offset, uint64_t* left, const objc2_info& info)
{
    for (uint32_t i = 0; i < info.nsections; ++i) {
        uint64_t off;
        if (objc_section_holds(info.sections[i].bytes, addr, &off)) {
            if (offset != nullptr)
                *offset = off;
            if (left != nullptr)
                *left = info.sections[i].bytes.size - off;
            return &info.sections[i];
        }
    }
    if (offset != nullptr)
        *offset = 0;
    if (left != nullptr)
        *left = 0;
    return nullptr;
}

/// A name: its bytes and length.
struct name_ref {
    const char* name = nullptr;
    size_t length = 0;
};

// The name of a symbol-table entry: it ends at the string table's end even
// without a NUL.
bool symbol_name(uint32_t symbolnum, const objc2_info& info, name_ref* out)
{
    if (symbolnum >= info.nsymbols || info.symbols64 == nullptr || info.strings == nullptr)
        return false;
    const uint32_t strx = info.symbols64[symbolnum].n_strx;
    if (strx == 0 || strx >= info.strings_size)
        return false;
    out->name = info.strings + strx;
    out->length = strnlen(out->name, info.strings_size - strx);
    return true;
}

// One scan of relocation entries for `address`: 1 named, 0 decided without a
// name, -1 not there.
int scan_relocs(uint64_t address, const relocation_info* relocs, uint32_t nrelocs, const objc2_info& info,
                name_ref* out)
{
    for (uint32_t i = 0; i < nrelocs;) {
        const relocation_info& r = relocs[i];
        if (uint64_t(uint32_t(r.r_address)) == address) {
            if (reloc_extern(r) && symbol_name(reloc_symbolnum(r), info, out))
                return 1;
            return 0;
        }
        i += reloc_has_pair(info.cputype, reloc_type(r)) ? 2 : 1;
    }
    return -1;
}

name_ref get_symbol_64(uint64_t sect_offset, uint64_t section_address_minus_reloc_base, uint64_t value,
                       const relocation_info* relocs, uint32_t nrelocs, const objc2_info& info)
{
    name_ref n;
    if (!info.verbose)
        return n;
    if (scan_relocs(sect_offset, relocs, nrelocs, info, &n) == 1)
        return n;
    if (scan_relocs(sect_offset + section_address_minus_reloc_base, info.ext_relocs, info.next_relocs, info, &n)
        == 1)
        return n;
    const char* guess = guess_symbol(value, info.sorted_symbols, info.nsorted_symbols, info.verbose);
    if (guess != nullptr) {
        n.name = guess;
        n.length = strlen(guess);
    }
    return n;
}

/// " NAME\n" for the pointer field at `offset` of `section`, or a newline.
void print_symbol_of(uint64_t offset, const section_info_64* section, uint64_t value, const objc2_info& info)
{
    name_ref n;
    if (section != nullptr)
        n = get_symbol_64(offset, section->bytes.addr - info.database, value, section->relocs, section->nrelocs,
                          info);
    else
        n = get_symbol_64(offset, 0, value, nullptr, 0, info);
    if (n.name != nullptr)
        printf(" %.*s\n", static_cast<int>(n.length), n.name);
    else
        printf("\n");
}

/// " %.*s\n" for the string at addr, or a newline when no section holds it.
void print_string_at(uint64_t addr, const objc2_info& info)
{
    uint64_t offset;
    const section_info_64* s = get_pointer_64(addr, &offset, nullptr, info);
    if (s != nullptr)
        objc_print_string(*info.object, s->bytes, offset);
    else
        printf("\n");
}

/// A record at addr: where it is, copied zero-filled, converted. False when
/// no section holds it. A record the section cuts short is announced as
/// "LEAD(NAME entends past the end of the section)".
template <typename T>
bool read_record(uint64_t addr, const objc2_info& info, T* out, const std::string& lead, const char* name,
                 const section_info_64** section = nullptr, uint64_t* offset = nullptr)
{
    uint64_t off;
    const section_info_64* s = get_pointer_64(addr, &off, nullptr, info);
    if (s == nullptr)
        return false;
    if (objc_read(*info.object, s->bytes, off, out, sizeof *out) != sizeof *out)
        printf("%s(%s entends past the end of the section)\n", lead.c_str(), name);
    if (info.swapped)
        swap_record(out);
    if (section != nullptr)
        *section = s;
    if (offset != nullptr)
        *offset = off;
    return true;
}

// ---- the printers ----

void print_layout_map(uint64_t addr, const objc2_info& info)
{
    uint64_t offset, left;
    const section_info_64* s = addr != 0 ? get_pointer_64(addr, &offset, &left, info) : nullptr;
    if (s == nullptr)
        return;
    printf("                layout map: ");
    uint8_t b;
    objc_read(*info.object, s->bytes, offset, &b, 1);
    printf("0x%02x ", b);
    for (uint64_t i = 1; i < left; ++i) {
        objc_read(*info.object, s->bytes, offset + i, &b, 1);
        if (b == 0)
            break;
        printf("0x%02x ", b);
    }
    printf("\n");
}

void print_method_list_t(uint64_t addr, const objc2_info& info, const char* indent)
{
    list_head head;
    if (!read_record(addr, info, &head, std::string(indent) + "   ", "method_list_t"))
        return;
    printf("%s\t\t   entsize %u\n", indent, head.entsize);
    printf("%s\t\t     count %u\n", indent, head.count);
    for (uint32_t i = 0; i < head.count; ++i) {
        method_t m;
        const section_info_64* s;
        uint64_t off;
        if (!read_record(addr + sizeof head + sizeof m * uint64_t(i), info, &m, std::string(indent) + "   ",
                         "method_t", &s, &off))
            break;
        printf("%s\t\t      name 0x%llx", indent, static_cast<unsigned long long>(m.name));
        print_string_at(m.name, info);
        printf("%s\t\t     types 0x%llx", indent, static_cast<unsigned long long>(m.types));
        print_string_at(m.types, info);
        printf("%s\t\t       imp 0x%llx", indent, static_cast<unsigned long long>(m.imp));
        print_symbol_of(off + 16, s, m.imp, info);
    }
}

void print_protocol_list_t(uint64_t addr, const objc2_info& info)
{
    uint64_t count;
    if (!read_record(addr, info, &count, "   ", "protocol_list_t"))
        return;
    printf("                      count %llu\n", static_cast<unsigned long long>(count));
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t entry;
        if (!read_record(addr + 8 + 8 * i, info, &entry, "   ", "protocol_t *"))
            return;
        printf("\t\t      list[%lu] 0x%llx (struct protocol_t *)\n", static_cast<unsigned long>(i),
               static_cast<unsigned long long>(entry));
        protocol_t p;
        if (!read_record(entry, info, &p, "   ", "protocol_t"))
            return;
        printf("\t\t\t      isa 0x%llx\n", static_cast<unsigned long long>(p.isa));
        printf("\t\t\t     name 0x%llx", static_cast<unsigned long long>(p.name));
        print_string_at(p.name, info);
        printf("\t\t\tprotocols 0x%llx\n", static_cast<unsigned long long>(p.protocols));
        printf("\t\t  instanceMethods 0x%llx (struct method_list_t *)\n",
               static_cast<unsigned long long>(p.instanceMethods));
        if (p.instanceMethods != 0)
            print_method_list_t(p.instanceMethods, info, "\t");
        printf("\t\t     classMethods 0x%llx (struct method_list_t *)\n",
               static_cast<unsigned long long>(p.classMethods));
        if (p.classMethods != 0)
            print_method_list_t(p.classMethods, info, "\t");
        printf("\t  optionalInstanceMethods 0x%llx\n", static_cast<unsigned long long>(p.optionalInstanceMethods));
        printf("\t     optionalClassMethods 0x%llx\n", static_cast<unsigned long long>(p.optionalClassMethods));
        printf("\t       instanceProperties 0x%llx\n", static_cast<unsigned long long>(p.instanceProperties));
    }
}

/// An objc_property_list or ivar_list_t at addr: its head, then each entry
/// until the count or until one is not held by a section.
template <typename T, typename Print>
void print_entry_list(uint64_t addr, const objc2_info& info, const char* list_name, const char* entry_name,
                      Print print_entry)
{
    list_head head;
    if (!read_record(addr, info, &head, "   ", list_name))
        return;
    printf("                    entsize %u\n", head.entsize);
    printf("                      count %u\n", head.count);
    for (uint32_t i = 0; i < head.count; ++i) {
        T entry;
        if (!read_record(addr + sizeof head + sizeof entry * uint64_t(i), info, &entry, "   ", entry_name))
            break;
        print_entry(entry);
    }
}

void print_objc_property_list(uint64_t addr, const objc2_info& info)
{
    print_entry_list<objc_property>(addr, info, "objc_property_list", "objc_property", [&](const objc_property& p) {
        printf("\t\t\t     name 0x%llx", static_cast<unsigned long long>(p.name));
        print_string_at(p.name, info);
        printf("\t\t\tattributes x%llx", static_cast<unsigned long long>(p.attributes));
        print_string_at(p.attributes, info);
    });
}

void print_ivar_list(uint64_t addr, const objc2_info& info)
{
    print_entry_list<ivar_t>(addr, info, "ivar_list_t", "ivar_t", [&](const ivar_t& v) {
        printf("\t\t\t   offset %llu\n", static_cast<unsigned long long>(v.offset));
        printf("\t\t\t     name 0x%llx", static_cast<unsigned long long>(v.name));
        print_string_at(v.name, info);
        printf("\t\t\t     type 0x%llx", static_cast<unsigned long long>(v.type));
        print_string_at(v.type, info);
        printf("\t\t\talignment %u\n", v.alignment);
        printf("\t\t\t     size %u\n", v.size);
    });
}

void print_class_t(uint64_t addr, const objc2_info& info)
{
    class_t c;
    const section_info_64* s;
    uint64_t off;
    if (!read_record(addr, info, &c, "   ", "class_t", &s, &off))
        return;
    printf("           isa 0x%llx", static_cast<unsigned long long>(c.isa));
    print_symbol_of(off + 0, s, c.isa, info);
    printf("    superclass 0x%llx", static_cast<unsigned long long>(c.superclass));
    print_symbol_of(off + 8, s, c.superclass, info);
    printf("         cache 0x%llx", static_cast<unsigned long long>(c.cache));
    print_symbol_of(off + 16, s, c.cache, info);
    printf("        vtable 0x%llx", static_cast<unsigned long long>(c.vtable));
    print_symbol_of(off + 24, s, c.vtable, info);
    printf("          data 0x%llx (struct class_ro_t *)\n", static_cast<unsigned long long>(c.data));

    class_ro_t ro;
    if (!read_record(c.data, info, &ro, "   ", "class_ro_t"))
        return;
    printf("                    flags 0x%x", ro.flags);
    if ((ro.flags & RO_META) != 0)
        printf(" RO_META");
    if ((ro.flags & RO_ROOT) != 0)
        printf(" RO_ROOT");
    if ((ro.flags & RO_HAS_CXX_STRUCTORS) != 0)
        printf(" RO_HAS_CXX_STRUCTORS");
    printf("\n");
    printf("            instanceStart %u\n", ro.instanceStart);
    printf("             instanceSize %u\n", ro.instanceSize);
    printf("                 reserved 0x%x\n", ro.reserved);
    printf("               ivarLayout 0x%llx\n", static_cast<unsigned long long>(ro.ivarLayout));
    print_layout_map(ro.ivarLayout, info);
    printf("                     name 0x%llx", static_cast<unsigned long long>(ro.name));
    print_string_at(ro.name, info);
    printf("              baseMethods 0x%llx (struct method_list_t *)\n",
           static_cast<unsigned long long>(ro.baseMethods));
    if (ro.baseMethods != 0)
        print_method_list_t(ro.baseMethods, info, "");
    printf("            baseProtocols 0x%llx\n", static_cast<unsigned long long>(ro.baseProtocols));
    if (ro.baseProtocols != 0)
        print_protocol_list_t(ro.baseProtocols, info);
    printf("                    ivars 0x%llx\n", static_cast<unsigned long long>(ro.ivars));
    if (ro.ivars != 0)
        print_ivar_list(ro.ivars, info);
    printf("           weakIvarLayout 0x%llx\n", static_cast<unsigned long long>(ro.weakIvarLayout));
    print_layout_map(ro.weakIvarLayout, info);
    printf("           baseProperties 0x%llx\n", static_cast<unsigned long long>(ro.baseProperties));
    if (ro.baseProperties != 0)
        print_objc_property_list(ro.baseProperties, info);
}

void print_category_t(uint64_t addr, const objc2_info& info)
{
    category_t c;
    const section_info_64* s;
    uint64_t off;
    if (!read_record(addr, info, &c, "   ", "category_t", &s, &off))
        return;
    printf("              name 0x%llx", static_cast<unsigned long long>(c.name));
    print_symbol_of(off, s, c.name, info);
    printf("               cls 0x%llx\n", static_cast<unsigned long long>(c.cls));
    if (c.cls != 0)
        print_class_t(c.cls, info);
    printf("   instanceMethods 0x%llx\n", static_cast<unsigned long long>(c.instanceMethods));
    if (c.instanceMethods != 0)
        print_method_list_t(c.instanceMethods, info, "");
    printf("      classMethods 0x%llx\n", static_cast<unsigned long long>(c.classMethods));
    if (c.classMethods != 0)
        print_method_list_t(c.classMethods, info, "");
    printf("         protocols 0x%llx\n", static_cast<unsigned long long>(c.protocols));
    if (c.protocols != 0)
        print_protocol_list_t(c.protocols, info);
    printf("instanceProperties 0x%llx\n", static_cast<unsigned long long>(c.instanceProperties));
    if (c.instanceProperties != 0)
        print_objc_property_list(c.instanceProperties, info);
}

using pointer_printer = void (*)(uint64_t, const objc2_info&);

void walk_pointer_list(const char* list_name, const section_info_64& section, const objc2_info& info,
                       pointer_printer printer)
{
    printf("Contents of (%.16s,%.16s) section\n", section.segname, section.sectname);
    for (uint64_t off = 0; off < section.bytes.size; off += 8) {
        uint64_t p;
        objc_read(*info.object, section.bytes, off, &p, sizeof p);
        if (section.bytes.size - off < 8)
            printf("%s list pointer extends past end of (%.16s,%.16s) section\n", list_name, section.segname,
                   section.sectname);
        printf("%016llx ", static_cast<unsigned long long>(section.bytes.addr + off));
        if (info.swapped)
            p = SWAP_LONG_LONG(p);
        printf("0x%llx", static_cast<unsigned long long>(p));
        print_symbol_of(off, &section, p, info);
        if (printer != nullptr)
            printer(p, info);
    }
}

/// The context and section list one entry point builds.
struct objc2_call {
    objc2_info info;

    objc2_call(int32_t cputype, const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, byte_sex sex,
               const object_bytes& object, const nlist_64* symbols64, uint32_t nsymbols, const char* strings,
               uint64_t strings_size, const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols,
               const relocation_info* ext_relocs, uint32_t next_relocs, const relocation_info* loc_relocs,
               uint32_t nloc_relocs, int verbose)
    {
        info = objc2_info{sex != get_host_byte_sex(), get_host_byte_sex(), &object, nullptr, 0, cputype, symbols64,
                          nsymbols, strings, strings_size, sorted_symbols, nsorted_symbols, 0, ext_relocs,
                          next_relocs, loc_relocs, nloc_relocs, verbose};
        get_sections_64(lc, ncmds, sizeofcmds, sex, object, &info.sections, &info.nsections, &info.database);
    }
    ~objc2_call()
    {
        for (uint32_t i = 0; i < info.nsections; ++i)
            free(info.sections[i].relocs);
        free(info.sections);
    }
    objc2_call(const objc2_call&) = delete;
    objc2_call& operator=(const objc2_call&) = delete;

    /// (old_segment, old_name) or else (new_segment, new_name).
    const section_info_64* either(const char* old_segment, const char* old_name, const char* new_segment,
                                  const char* new_name) const
    {
        const section_info_64* s = get_section_64(info.sections, info.nsections, old_segment, old_name);
        return s != nullptr ? s : get_section_64(info.sections, info.nsections, new_segment, new_name);
    }
};

} // namespace objc2

using namespace objc2;

void print_objc2(int32_t cputype, const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                 byte_sex object_byte_sex, const object_bytes& object, const nlist_64* symbols64, uint32_t nsymbols,
                 const char* strings, uint64_t strings_size, const sorted_symbol* sorted_symbols,
                 uint32_t nsorted_symbols, const relocation_info* ext_relocs, uint32_t next_relocs,
                 const relocation_info* loc_relocs, uint32_t nloc_relocs, int verbose)
{
    const objc2_call call(cputype, load_commands, ncmds, sizeofcmds, object_byte_sex, object, symbols64, nsymbols,
                          strings, strings_size, sorted_symbols, nsorted_symbols, ext_relocs, next_relocs,
                          loc_relocs, nloc_relocs, verbose);
    const objc2_info& info = call.info;

    static const struct {
        const char* list_name;
        const char* old_name;
        const char* new_name;
        pointer_printer printer;
    } lists[] = {
        {"class", "__class_list", "__objc_classlist", print_class_t},
        {"class refs", "__class_refs", "__objc_classrefs", nullptr},
        {"super refs", "__super_refs", "__objc_superrefs", nullptr},
        {"category", "__category_list", "__objc_catlist", print_category_t},
        {"protocol", "__protocol_list", "__objc_protolist", nullptr},
    };
    for (const auto& l : lists) {
        const section_info_64* s = call.either("__OBJC2", l.old_name, "__DATA", l.new_name);
        if (s != nullptr)
            walk_pointer_list(l.list_name, *s, info, l.printer);
    }

    if (const section_info_64* s = call.either("__OBJC2", "__message_refs", "__DATA", "__objc_msgrefs")) {
        printf("Contents of (%.16s,%.16s) section\n", s->segname, s->sectname);
        for (uint64_t off = 0; off < s->bytes.size; off += sizeof(message_ref)) {
            message_ref m;
            const section_info_64* at;
            uint64_t at_off;
            if (!read_record(s->bytes.addr + off, info, &m, " ", "message_ref", &at, &at_off))
                break;
            printf("  imp 0x%llx", static_cast<unsigned long long>(m.imp));
            print_symbol_of(at_off, at, m.imp, info);
            printf("  sel 0x%llx", static_cast<unsigned long long>(m.sel));
            print_string_at(m.sel, info);
        }
    }

    if (const section_info_64* s = call.either("__OBJC", "__image_info", "__DATA", "__objc_imageinfo")) {
        printf("Contents of (%.16s,%.16s) section\n", s->segname, s->sectname);
        objc_image_info ii;
        if (read_record(s->bytes.addr, info, &ii, " ", "objc_image_info")) {
            printf("  version %u\n", ii.version);
            printf("    flags 0x%x", ii.flags);
            if ((ii.flags & 0x1) != 0)
                printf(" OBJC_IMAGE_IS_REPLACEMENT");
            if ((ii.flags & 0x2) != 0)
                printf(" OBJC_IMAGE_SUPPORTS_GC");
            printf("\n");
        }
    }
}

void print_objc_string_object_section_64(const char* sectname, const load_commands_view& load_commands,
                                         uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
                                         const object_bytes& object, int32_t cputype, const nlist_64* symbols64,
                                         uint32_t nsymbols, const char* strings, uint64_t strings_size,
                                         const sorted_symbol* sorted_symbols, uint32_t nsorted_symbols, int verbose)
{
    printf("Contents of (__OBJC,%s) section\n", sectname);
    const objc2_call call(cputype, load_commands, ncmds, sizeofcmds, object_byte_sex, object, symbols64, nsymbols,
                          strings, strings_size, sorted_symbols, nsorted_symbols, nullptr, 0, nullptr, 0, verbose);
    const objc2_info& info = call.info;
    const section_info_64* s = get_section_64(info.sections, info.nsections, "__OBJC", sectname);
    if (s == nullptr)
        return;
    // Walked for its notes; the strings are found through the section list.
    (void)get_cstring_section(load_commands, ncmds, sizeofcmds, object_byte_sex, object);
    for (uint64_t off = 0; off < s->bytes.size; off += sizeof(objc_string_object_64)) {
        objc_string_object_64 so;
        objc_read(object, s->bytes, off, &so, sizeof so);
        if (s->bytes.size - off < sizeof so)
            printf("String Object extends past end of %s section\n", sectname);
        printf("String Object 0x%llx\n", static_cast<unsigned long long>(s->bytes.addr + off));
        if (info.swapped)
            swap_record(&so);
        printf("           isa 0x%llx", static_cast<unsigned long long>(so.isa));
        print_symbol_of(off, s, so.isa, info);
        printf("    characters 0x%llx", static_cast<unsigned long long>(so.characters));
        if (verbose)
            print_string_at(so.characters, info);
        else
            printf("\n");
        printf("       _length %u\n", so._length);
        printf("          _pad %u\n", so._pad);
    }
}

} // namespace macho
