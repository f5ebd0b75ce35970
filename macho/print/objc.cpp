// Objective-C 1 metadata: the __OBJC segment of a 32-bit image. Every pointer
// is a 32-bit address in the image, translated through the image's own
// __OBJC sections (and (__TEXT,__cstring) for strings).
#include "print/objc.h"
#include "print/objc_read.h"
#include "libstuff/errors.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace macho {
namespace objc1 {

// The runtime's records as the image holds them.
struct objc_module {
    uint32_t version;
    uint32_t size;
    uint32_t name;
    uint32_t symtab;
};
static_assert(sizeof(objc_module) == 16, "objc_module");

// The head of objc_symtab; the defs array of 32-bit addresses follows it.
struct objc_symtab {
    uint32_t sel_ref_cnt;
    uint32_t refs;
    uint16_t cls_def_cnt;
    uint16_t cat_def_cnt;
};
static_assert(sizeof(objc_symtab) == 12, "objc_symtab");

struct objc_class {
    uint32_t isa;
    uint32_t super_class;
    uint32_t name;
    uint32_t version;
    uint32_t info;
    uint32_t instance_size;
    uint32_t ivars;
    uint32_t methods;
    uint32_t cache;
    uint32_t protocols;
};
static_assert(sizeof(objc_class) == 40, "objc_class");

struct objc_category {
    uint32_t category_name;
    uint32_t class_name;
    uint32_t instance_methods;
    uint32_t class_methods;
    uint32_t protocols;
};
static_assert(sizeof(objc_category) == 20, "objc_category");

struct objc_ivar_list {
    uint32_t ivar_count;
};
static_assert(sizeof(objc_ivar_list) == 4, "objc_ivar_list");

struct objc_ivar {
    uint32_t ivar_name;
    uint32_t ivar_type;
    uint32_t ivar_offset;
};
static_assert(sizeof(objc_ivar) == 12, "objc_ivar");

struct objc_method_list {
    uint32_t obsolete;
    uint32_t method_count;
};
static_assert(sizeof(objc_method_list) == 8, "objc_method_list");

struct objc_method {
    uint32_t method_name;
    uint32_t method_types;
    uint32_t method_imp;
};
static_assert(sizeof(objc_method) == 12, "objc_method");

struct objc_protocol_list {
    uint32_t next;
    uint32_t count;
};
static_assert(sizeof(objc_protocol_list) == 8, "objc_protocol_list");

struct objc_protocol {
    uint32_t isa;
    uint32_t protocol_name;
    uint32_t protocol_list;
    uint32_t instance_methods;
    uint32_t class_methods;
};
static_assert(sizeof(objc_protocol) == 20, "objc_protocol");

struct objc_method_description_list {
    uint32_t count;
};
static_assert(sizeof(objc_method_description_list) == 4, "objc_method_description_list");

struct objc_method_description {
    uint32_t name;
    uint32_t types;
};
static_assert(sizeof(objc_method_description) == 8, "objc_method_description");

struct objc_string_object {
    uint32_t isa;
    uint32_t characters;
    uint32_t _length;
};
static_assert(sizeof(objc_string_object) == 12, "objc_string_object");

struct _hashEntry {
    uint32_t next;
    uint32_t sel;
};
static_assert(sizeof(_hashEntry) == 8, "_hashEntry");

struct objc_image_info {
    uint32_t version;
    uint32_t flags;
};
static_assert(sizeof(objc_image_info) == 8, "objc_image_info");

constexpr uint32_t CLS_CLASS = 0x1;
constexpr uint32_t CLS_META = 0x2;

// ---- byte order ----

// Every record here is whole 32-bit words but the symtab's two counts.
template <typename T>
void swap_words(T* r)
{
    static_assert(sizeof(T) % 4 == 0, "32-bit words");
    uint32_t w[sizeof(T) / 4];
    memcpy(w, r, sizeof w);
    for (uint32_t& x : w)
        x = SWAP_LONG(x);
    memcpy(r, w, sizeof w);
}

void swap_objc_module(objc_module* p) { swap_words(p); }
void swap_objc_symtab(objc_symtab* p)
{
    p->sel_ref_cnt = SWAP_LONG(p->sel_ref_cnt);
    p->refs = SWAP_LONG(p->refs);
    p->cls_def_cnt = SWAP_SHORT(p->cls_def_cnt);
    p->cat_def_cnt = SWAP_SHORT(p->cat_def_cnt);
}
void swap_objc_class(objc_class* p) { swap_words(p); }
void swap_objc_category(objc_category* p) { swap_words(p); }
void swap_objc_ivar_list(objc_ivar_list* p) { swap_words(p); }
void swap_objc_ivar(objc_ivar* p) { swap_words(p); }
void swap_objc_method_list(objc_method_list* p) { swap_words(p); }
void swap_objc_method(objc_method* p) { swap_words(p); }
void swap_objc_protocol_list(objc_protocol_list* p) { swap_words(p); }
void swap_objc_protocol(objc_protocol* p) { swap_words(p); }
void swap_objc_method_description_list(objc_method_description_list* p) { swap_words(p); }
void swap_objc_method_description(objc_method_description* p) { swap_words(p); }
void swap_string_object(objc_string_object* p) { swap_words(p); }
void swap_hashEntry(_hashEntry* p) { swap_words(p); }

// ---- the sections ----

using section_info = objc_section_bytes;

/// Everything the printers of one call share.
struct objc1_info {
    const object_bytes* object;
    section_info* sections; // the __OBJC sections (reallocate)
    uint32_t nsections;
    section_info cstring_section; // all zero when none (or not verbose)
    bool swapped;
    const sorted_symbol* sorted_symbols;
    uint32_t nsorted_symbols;
    int verbose;
};

/// A place in a section: the section, the offset in it and the bytes from
/// there to its end.
struct place {
    const section_info* section = nullptr;
    uint64_t offset = 0;
    uint64_t left = 0;
};

bool holds(const section_info& s, uint32_t addr, place* p)
{
    uint64_t offset;
    if (!objc_section_holds(s, addr, &offset))
        return false;
    *p = {&s, offset, s.size - offset};
    return true;
}

/// The __OBJC section holding addr (records lie only there).
bool get_record_place(uint32_t addr, const objc1_info& info, place* p)
{
    for (uint32_t i = 0; i < info.nsections; ++i)
        if (holds(info.sections[i], addr, p))
            return true;
    return false;
}

/// The place of a 32-bit address: (__TEXT,__cstring) first, then __OBJC.
bool get_pointer(uint32_t addr, const objc1_info& info, place* p)
{
    return holds(info.cstring_section, addr, p) || get_record_place(addr, info, p);
}

/// `n` bytes at `at` past the place into `dst`, zeros past the section's
/// end; true when all of them were held.
bool read_at(const objc1_info& info, const place& p, uint64_t at, void* dst, uint64_t n)
{
    if (at > p.left) {
        memset(dst, 0, n);
        return false;
    }
    return objc_read(*info.object, *p.section, p.offset + at, dst, n) == n;
}

void get_objc_sections(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
                       const object_bytes& object, section_info** sections, uint32_t* nsections,
                       const char* sectname, bool* found, section_info* sect)
{
    *sections = nullptr;
    *nsections = 0;
    *found = false;
    *sect = section_info{0, false, 0, 0};
    objc_walk_sections(lc, ncmds, sizeofcmds, object_byte_sex, false, objc_any_segment,
                       [&](const segment_info&, const macho::section_info& s) {
                           if (strncmp(s.segname, "__OBJC", 16) != 0)
                               return true;
                           const section_info b = objc_section_place(object, s);
                           *sections = static_cast<section_info*>(
                               reallocate(*sections, sizeof(section_info) * (*nsections + 1)));
                           (*sections)[(*nsections)++] = b;
                           if (strncmp(s.sectname, sectname, 16) == 0) {
                               if (*found) {
                                   printf("more than one (__OBJC,%s) section\n", sectname);
                               } else {
                                   *found = true;
                                   *sect = b;
                               }
                           }
                           return true;
                       });
}

// ---- printing ----

void print_indent(uint32_t indent)
{
    for (uint32_t i = 0; i < indent / 8; ++i)
        putchar('\t');
    for (uint32_t i = 0; i < indent % 8; ++i)
        putchar(' ');
}

/// After a "0x%08x" of a named field: its string under verbose, or a newline.
void print_named(uint32_t addr, const objc1_info& info)
{
    if (!info.verbose) {
        printf("\n");
        return;
    }
    place p;
    if (get_pointer(addr, info, &p))
        objc_print_string(*info.object, *p.section, p.offset);
    else
        printf(" (not in an __OBJC section)\n");
}

bool print_method_list(uint32_t addr, const objc1_info& info)
{
    place p;
    if (!get_record_place(addr, info, &p))
        return false;
    objc_method_list head;
    const bool whole = read_at(info, p, 0, &head, sizeof head);
    if (info.swapped)
        swap_objc_method_list(&head);
    printf("\n");
    if (!whole)
        printf("\t\t objc_method_list extends past end of the section\n");
    printf("\t\t         obsolete 0x%08x\n", head.obsolete);
    printf("\t\t     method_count %d\n", static_cast<int>(head.method_count));
    const uint64_t after = whole ? p.left - sizeof head : 0;
    for (uint32_t j = 0; j < head.method_count; ++j) {
        if (after < sizeof(objc_method) * (uint64_t(j) + 1)) {
            printf("\t\t remaining method's extend past the of the section\n");
            break;
        }
        objc_method m;
        read_at(info, p, sizeof head + sizeof m * uint64_t(j), &m, sizeof m);
        if (info.swapped)
            swap_objc_method(&m);
        printf("\t\t      method_name 0x%08x", m.method_name);
        print_named(m.method_name, info);
        printf("\t\t     method_types 0x%08x", m.method_types);
        print_named(m.method_types, info);
        printf("\t\t       method_imp 0x%08x ", m.method_imp);
        if (info.verbose)
            print_label(m.method_imp, 0, info.sorted_symbols, info.nsorted_symbols);
        printf("\n");
    }
    return true;
}

bool print_method_description_list(uint32_t indent, uint32_t addr, const objc1_info& info)
{
    place p;
    if (!get_record_place(addr, info, &p))
        return false;
    objc_method_description_list head;
    const bool whole = read_at(info, p, 0, &head, sizeof head);
    if (info.swapped)
        swap_objc_method_description_list(&head);
    printf("\n");
    if (!whole) {
        print_indent(indent);
        printf(" objc_method_description_list extends past end of the section\n");
    }
    print_indent(indent);
    printf("        count %d\n", static_cast<int>(head.count));
    const uint64_t after = whole ? p.left - sizeof head : 0;
    for (uint32_t i = 0; i < head.count; ++i) {
        if (after < sizeof(objc_method_description) * (uint64_t(i) + 1)) {
            print_indent(indent);
            printf(" remaining list entries extend past the of the section\n");
            break;
        }
        print_indent(indent);
        printf("        list[%lu]\n", static_cast<unsigned long>(i));
        objc_method_description d;
        read_at(info, p, sizeof head + sizeof d * uint64_t(i), &d, sizeof d);
        if (info.swapped)
            swap_objc_method_description(&d);
        print_indent(indent);
        printf("             name 0x%08x", d.name);
        print_named(d.name, info);
        print_indent(indent);
        printf("            types 0x%08x", d.types);
        print_named(d.types, info);
    }
    return true;
}

// The protocol lists on the way down from the first one printed: a list that
// names itself again further down is not followed a second time.
using list_path = std::vector<uint32_t>;

bool print_protocol_list(uint32_t indent, uint32_t addr, const objc1_info& info, list_path* path);

void print_protocol(uint32_t indent, const objc_protocol& protocol, const objc1_info& info, list_path* path)
{
    print_indent(indent);
    printf("              isa 0x%08x\n", protocol.isa);
    print_indent(indent);
    printf("    protocol_name 0x%08x", protocol.protocol_name);
    print_named(protocol.protocol_name, info);
    print_indent(indent);
    printf("    protocol_list 0x%08x", protocol.protocol_list);
    if (!print_protocol_list(indent + 4, protocol.protocol_list, info, path))
        printf(" (not in an __OBJC section)\n");
    print_indent(indent);
    printf(" instance_methods 0x%08x", protocol.instance_methods);
    if (!print_method_description_list(indent, protocol.instance_methods, info))
        printf(" (not in an __OBJC section)\n");
    print_indent(indent);
    printf("    class_methods 0x%08x", protocol.class_methods);
    if (!print_method_description_list(indent, protocol.class_methods, info))
        printf(" (not in an __OBJC section)\n");
}

bool print_protocol_list(uint32_t indent, uint32_t addr, const objc1_info& info, list_path* path)
{
    place p;
    if (!get_record_place(addr, info, &p))
        return false;
    for (uint32_t seen : *path) {
        if (seen == addr) {
            // Already being printed further up: a loop.
            printf("\n");
            return true;
        }
    }
    path->push_back(addr);
    objc_protocol_list head;
    const bool whole = read_at(info, p, 0, &head, sizeof head);
    if (info.swapped)
        swap_objc_protocol_list(&head);
    printf("\n");
    if (!whole) {
        print_indent(indent);
        printf(" objc_protocol_list extends past end of the section\n");
    }
    print_indent(indent);
    printf("         next 0x%08x\n", head.next);
    print_indent(indent);
    printf("        count %ld\n", static_cast<long>(head.count));
    const uint64_t after = whole ? p.left - sizeof head : 0;
    for (uint32_t j = 0; j < head.count; ++j) {
        if (after < 4 * (uint64_t(j) + 1)) {
            print_indent(indent);
            printf(" remaining list entries extend past the of the section\n");
            break;
        }
        uint32_t entry;
        read_at(info, p, sizeof head + 4 * uint64_t(j), &entry, sizeof entry);
        if (info.swapped)
            entry = SWAP_LONG(entry);
        print_indent(indent);
        printf("      list[%lu] 0x%08x", static_cast<unsigned long>(j), entry);
        place pp;
        if (!get_record_place(entry, info, &pp)) {
            printf(" (not in an __OBJC section)\n");
            continue;
        }
        objc_protocol protocol;
        const bool whole_protocol = read_at(info, pp, 0, &protocol, sizeof protocol);
        if (info.swapped)
            swap_objc_protocol(&protocol);
        printf("\n");
        if (!whole_protocol) {
            print_indent(indent);
            printf("            Protocol extends past end of the section\n");
        }
        print_protocol(indent, protocol, info, path);
    }
    path->pop_back();
    return true;
}

/// 1 and the class at addr when an __OBJC section holds it, else 0.
int get_objc_class(uint32_t addr, objc_class* cls, bool* truncated, const objc1_info& info)
{
    place p;
    if (!get_record_place(addr, info, &p))
        return 0;
    *truncated = !read_at(info, p, 0, cls, sizeof *cls);
    if (info.swapped)
        swap_objc_class(cls);
    return 1;
}

void print_ivars(uint32_t addr, const objc1_info& info)
{
    place p;
    if (!get_record_place(addr, info, &p)) {
        printf("\t\t    ivars 0x%08x (not in an __OBJC section)\n", addr);
        return;
    }
    objc_ivar_list head;
    const bool whole = read_at(info, p, 0, &head, sizeof head);
    if (info.swapped)
        swap_objc_ivar_list(&head);
    printf("\t\t    ivars 0x%08x\n", addr);
    if (!whole)
        printf("\t\t objc_ivar_list extends past end of __symbol_table section\n");
    printf("\t\t       ivar_count %d\n", static_cast<int>(head.ivar_count));
    const uint64_t after = whole ? p.left - sizeof head : 0;
    for (uint32_t k = 0; k < head.ivar_count; ++k) {
        if (after < sizeof(objc_ivar) * (uint64_t(k) + 1)) {
            printf("\t\t remaining ivar's extend past  the of the section\n");
            break;
        }
        objc_ivar v;
        read_at(info, p, sizeof head + sizeof v * uint64_t(k), &v, sizeof v);
        if (info.swapped)
            swap_objc_ivar(&v);
        printf("\t\t\tivar_name 0x%08x", v.ivar_name);
        print_named(v.ivar_name, info);
        printf("\t\t\tivar_type 0x%08x", v.ivar_type);
        print_named(v.ivar_type, info);
        printf("\t\t      ivar_offset 0x%08x\n", v.ivar_offset);
    }
}

void print_class_fields(const objc_class& c, const objc1_info& info)
{
    printf("\t\t      isa 0x%08x", c.isa);
    if (info.verbose && (c.info & CLS_META) != 0)
        print_named(c.isa, info);
    else
        printf("\n");
    printf("\t      super_class 0x%08x", c.super_class);
    print_named(c.super_class, info);
    printf("\t\t     name 0x%08x", c.name);
    print_named(c.name, info);
    printf("\t\t  version 0x%08x\n", c.version);
    printf("\t\t     info 0x%08x", c.info);
    if (info.verbose) {
        if ((c.info & CLS_CLASS) != 0)
            printf(" CLS_CLASS");
        else if ((c.info & CLS_META) != 0)
            printf(" CLS_META");
    }
    printf("\n");
    printf("\t    instance_size 0x%08x\n", c.instance_size);
    print_ivars(c.ivars, info);
    printf("\t\t  methods 0x%08x", c.methods);
    if (!print_method_list(c.methods, info))
        printf(" (not in an __OBJC section)\n");
    printf("\t\t    cache 0x%08x\n", c.cache);
    printf("\t\tprotocols 0x%08x", c.protocols);
    list_path path;
    if (!print_protocol_list(16, c.protocols, info, &path))
        printf(" (not in an __OBJC section)\n");
}

/// A class and, while it is a class (not a meta class), the meta class at
/// its isa. A meta class already printed in this chain is not printed again,
/// so a class whose isa leads back round ends.
void print_objc_class(objc_class c, const objc1_info& info)
{
    std::vector<uint32_t> metas;
    for (;;) {
        print_class_fields(c, info);
        if ((c.info & CLS_CLASS) == 0)
            return;
        for (uint32_t seen : metas)
            if (seen == c.isa)
                return;
        metas.push_back(c.isa);
        printf("\tMeta Class");
        objc_class meta;
        bool truncated = false;
        if (!get_objc_class(c.isa, &meta, &truncated, info)) {
            printf(" (not in __symbol_table section)\n");
            return;
        }
        printf(truncated ? " (entends past the end of the section)\n" : "\n");
        c = meta;
    }
}

void print_category(uint32_t index, uint32_t addr, const objc1_info& info)
{
    place p;
    if (!get_record_place(addr, info, &p)) {
        printf("\tdefs[%lu] 0x%08x (not in an __OBJC section)\n", static_cast<unsigned long>(index), addr);
        return;
    }
    objc_category cat;
    const bool whole = read_at(info, p, 0, &cat, sizeof cat);
    if (info.swapped)
        swap_objc_category(&cat);
    printf("\tdefs[%lu] 0x%08x", static_cast<unsigned long>(index), addr);
    printf(whole ? "\n" : " (entends past the end of the section)\n");
    printf("\t       category name 0x%08x", cat.category_name);
    print_named(cat.category_name, info);
    printf("\t\t  class name 0x%08x", cat.class_name);
    print_named(cat.class_name, info);
    printf("\t    instance methods 0x%08x", cat.instance_methods);
    if (!print_method_list(cat.instance_methods, info))
        printf(" (not in an __OBJC section)\n");
    printf("\t       class methods 0x%08x", cat.class_methods);
    if (!print_method_list(cat.class_methods, info))
        printf(" (not in an __OBJC section)\n");
}

void print_symtab(uint32_t addr, const objc1_info& info)
{
    place p;
    if (!get_record_place(addr, info, &p)) {
        printf("     symtab 0x%08x (not in an __OBJC section)\n", addr);
        return;
    }
    objc_symtab st;
    const bool whole = read_at(info, p, 0, &st, sizeof st);
    if (info.swapped)
        swap_objc_symtab(&st);
    printf("     symtab 0x%08x\n", addr);
    if (!whole)
        printf("\tsymtab extends past end of an __OBJC section\n");
    printf("\tsel_ref_cnt %lu\n", static_cast<unsigned long>(st.sel_ref_cnt));
    printf("\trefs 0x%08x", st.refs);
    place refs;
    printf(get_pointer(st.refs, info, &refs) ? "\n" : " (not in an __OBJC section)\n");
    printf("\tcls_def_cnt %d\n", st.cls_def_cnt);
    printf("\tcat_def_cnt %d\n", st.cat_def_cnt);

    // The defs array: what the section holds after the head.
    const uint64_t defs = whole ? p.left - sizeof st : 0;
    auto def_at = [&](uint32_t j) {
        uint32_t d;
        read_at(info, p, sizeof st + 4 * uint64_t(j), &d, sizeof d);
        return info.swapped ? SWAP_LONG(d) : d;
    };
    if (st.cls_def_cnt != 0) {
        printf("\tClass Definitions\n");
        for (uint32_t j = 0; j < st.cls_def_cnt; ++j) {
            if (defs < 4 * (uint64_t(j) + 1)) {
                printf("\t(remaining class defs entries entends past the end of the section)\n");
                break;
            }
            const uint32_t def = def_at(j);
            objc_class c;
            bool truncated = false;
            if (get_objc_class(def, &c, &truncated, info)) {
                printf("\tdefs[%lu] 0x%08x", static_cast<unsigned long>(j), def);
                printf(truncated ? " (entends past the end of the section)\n" : "\n");
                print_objc_class(c, info);
            } else {
                printf("\tdefs[%lu] 0x%08x (not in an __OBJC section)\n", static_cast<unsigned long>(j), def);
            }
        }
    }
    if (st.cat_def_cnt != 0) {
        printf("\tCategory Definitions\n");
        for (uint32_t m = 0; m < st.cat_def_cnt; ++m) {
            const uint32_t index = uint32_t(st.cls_def_cnt) + m;
            if (defs < 4 * (uint64_t(index) + 1)) {
                printf("\t(remaining category defs entries entends past the end of the section)\n");
                break;
            }
            print_category(index, def_at(index), info);
        }
    }
}

/// `print_PHASH`: the hash chain at addr, each entry at 4 more columns than
/// the one before. An entry already printed in the chain is not followed.
bool print_PHASH(uint32_t indent, uint32_t addr, const objc1_info& info)
{
    place p;
    if (!get_record_place(addr, info, &p))
        return false;
    std::vector<uint32_t> seen{addr};
    for (;;) {
        _hashEntry e;
        const bool whole = read_at(info, p, 0, &e, sizeof e);
        if (info.swapped)
            swap_hashEntry(&e);
        printf("\n");
        if (!whole) {
            print_indent(indent);
            printf("_hashEntry extends past end of the section\n");
        }
        print_indent(indent);
        printf(" sel 0x%08x", e.sel);
        print_named(e.sel, info);
        print_indent(indent);
        printf("next 0x%08x", e.next);
        if (e.next == 0) {
            printf("\n");
            return true;
        }
        for (uint32_t s : seen) {
            if (s == e.next) {
                printf("\n");
                return true;
            }
        }
        if (!get_record_place(e.next, info, &p)) {
            printf(" (not in an __OBJC section)\n");
            return true;
        }
        seen.push_back(e.next);
        indent += 4;
    }
}

/// The section list one entry point builds, with the section it asked for.
struct objc1_call {
    objc1_info info;
    bool found = false;
    section_info sect{0, false, 0, 0};

    objc1_call(const load_commands_view& lc, uint32_t ncmds, uint32_t sizeofcmds, byte_sex sex,
               const object_bytes& object, const char* sectname, const sorted_symbol* sorted, uint32_t nsorted,
               int verbose)
    {
        info = objc1_info{&object, nullptr, 0, section_info{0, false, 0, 0}, sex != get_host_byte_sex(),
                          sorted, nsorted, verbose};
        get_objc_sections(lc, ncmds, sizeofcmds, sex, object, &info.sections, &info.nsections, sectname, &found,
                          &sect);
    }
    ~objc1_call() { free(info.sections); }
    objc1_call(const objc1_call&) = delete;
    objc1_call& operator=(const objc1_call&) = delete;
};

} // namespace objc1

using namespace objc1;

void print_objc_segment(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                        byte_sex object_byte_sex, const object_bytes& object, const sorted_symbol* sorted_symbols,
                        uint32_t nsorted_symbols, int verbose)
{
    printf("Objective-C segment\n");
    {
        objc1_call call(load_commands, ncmds, sizeofcmds, object_byte_sex, object, "__module_info",
                        sorted_symbols, nsorted_symbols, verbose);
        if (!call.found) {
            printf("can't print objective-C information no (__OBJC,__module_info) section\n");
            return;
        }
        if (verbose)
            call.info.cstring_section = get_cstring_section(load_commands, ncmds, sizeofcmds, object_byte_sex, object);
        const objc1_info& info = call.info;
        const objc_section_bytes& sect = call.sect;
        place here{&sect, 0, sect.size};
        // The walk only moves forward: a size of 0, or one reaching past the
        // section, ends it after its module.
        uint64_t p = 0;
        while (p < sect.size) {
            objc_module m;
            read_at(info, here, p, &m, sizeof m);
            if (info.swapped)
                swap_objc_module(&m);
            if (p + m.size > sect.size)
                printf("module extends past end of __module_info section\n");
            printf("Module 0x%x\n", static_cast<uint32_t>(sect.addr + p));
            printf("    version %lu\n", static_cast<unsigned long>(m.version));
            printf("       size %lu\n", static_cast<unsigned long>(m.size));
            place name;
            if (!verbose)
                printf("       name 0x%08x\n", m.name);
            else if (get_pointer(m.name, info, &name)) {
                printf("       name");
                objc_print_string(object, *name.section, name.offset);
            } else
                printf("       name 0x%08x (not in an __OBJC section)\n", m.name);
            print_symtab(m.symtab, info);
            if (m.size == 0)
                break;
            p += m.size;
        }
    }

    printf("Contents of (%s,%s) section\n", "__OBJC", "__image_info");
    objc1_call call(load_commands, ncmds, sizeofcmds, object_byte_sex, object, "__image_info",
                    sorted_symbols, nsorted_symbols, verbose);
    objc_image_info ii;
    const uint64_t held = objc_read(object, call.sect, 0, &ii, sizeof ii);
    if (held < sizeof ii)
        printf(" (imageInfo entends past the end of the section)\n");
    if (call.info.swapped)
        swap_words(&ii);
    printf("  version %u\n", ii.version);
    printf("    flags 0x%x", ii.flags);
    if ((ii.flags & 0x1) != 0)
        printf("  F&C");
    if ((ii.flags & 0x2) != 0)
        printf(" GC");
    if ((ii.flags & 0x4) != 0)
        printf(" GC-only");
    else
        printf(" RR");
    printf("\n");
}

void print_objc_protocol_section(const load_commands_view& load_commands, uint32_t ncmds, uint32_t sizeofcmds,
                                 byte_sex object_byte_sex, const object_bytes& object, int verbose)
{
    printf("Contents of (__OBJC,__protocol) section\n");
    objc1_call call(load_commands, ncmds, sizeofcmds, object_byte_sex, object, "__protocol", nullptr, 0,
                    verbose);
    if (verbose)
        call.info.cstring_section = get_cstring_section(load_commands, ncmds, sizeofcmds, object_byte_sex, object);
    const objc_section_bytes& sect = call.sect;
    for (uint64_t p = 0; p < sect.size; p += sizeof(objc_protocol)) {
        objc_protocol protocol;
        objc_read(object, sect, p, &protocol, sizeof protocol);
        if (p + sizeof protocol > sect.size)
            printf("Protocol extends past end of __protocol section\n");
        printf("Protocol 0x%x\n", static_cast<uint32_t>(sect.addr + p));
        if (call.info.swapped)
            swap_objc_protocol(&protocol);
        list_path path;
        print_protocol(0, protocol, call.info, &path);
    }
}

void print_objc_string_object_section(const char* sectname, const load_commands_view& load_commands,
                                      uint32_t ncmds, uint32_t sizeofcmds, byte_sex object_byte_sex,
                                      const object_bytes& object, int verbose)
{
    printf("Contents of (__OBJC,%s) section\n", sectname);
    objc1_call call(load_commands, ncmds, sizeofcmds, object_byte_sex, object, sectname, nullptr, 0, verbose);
    call.info.cstring_section = get_cstring_section(load_commands, ncmds, sizeofcmds, object_byte_sex, object);
    const objc_section_bytes& sect = call.sect;
    for (uint64_t p = 0; p < sect.size; p += sizeof(objc_string_object)) {
        objc_string_object so;
        objc_read(object, sect, p, &so, sizeof so);
        if (p + sizeof so > sect.size)
            printf("String Object extends past end of %s section\n", sectname);
        printf("String Object 0x%x\n", static_cast<uint32_t>(sect.addr + p));
        if (call.info.swapped)
            swap_string_object(&so);
        printf("           isa 0x%x\n", so.isa);
        printf("    characters 0x%x", so.characters);
        place chars;
        if (!verbose)
            printf("\n");
        else if (holds(call.info.cstring_section, so.characters, &chars))
            objc_print_string(object, *chars.section, chars.offset);
        else
            printf(" (not in the (__TEXT,__cstring) section)\n");
        printf("       _length %u\n", so._length);
    }
}

void print_objc_runtime_setup_section(const load_commands_view& load_commands, uint32_t ncmds,
                                      uint32_t sizeofcmds, byte_sex object_byte_sex, const object_bytes& object,
                                      int verbose)
{
    printf("Contents of (__OBJC,__runtime_setup) section\n");
    objc1_call call(load_commands, ncmds, sizeofcmds, object_byte_sex, object, "__runtime_setup", nullptr, 0,
                    verbose);
    if (verbose)
        call.info.cstring_section = get_cstring_section(load_commands, ncmds, sizeofcmds, object_byte_sex, object);
    const objc1_info& info = call.info;
    const objc_section_bytes& sect = call.sect;
    constexpr uint32_t kHashWords = 821;
    for (uint32_t i = 0; i < kHashWords && 4 * (uint64_t(i) + 1) < sect.size; ++i) {
        uint32_t word;
        objc_read(object, sect, 4 * uint64_t(i), &word, sizeof word);
        if (info.swapped)
            word = SWAP_LONG(word);
        if (word == 0)
            continue;
        printf("PHASH[%3lu] 0x%x", static_cast<unsigned long>(i), word);
        if (!print_PHASH(4, word, info))
            printf(" (not in an __OBJC section)\n");
    }
    for (uint64_t p = 4 * uint64_t(kHashWords); p < sect.size; p += sizeof(_hashEntry)) {
        _hashEntry e;
        objc_read(object, sect, p, &e, sizeof e);
        if (info.swapped)
            swap_hashEntry(&e);
        printf("HASH at 0x%08x\n", static_cast<uint32_t>(sect.addr + p));
        printf("     sel 0x%08x", e.sel);
        print_named(e.sel, info);
        printf("    next 0x%08x", e.next);
        uint64_t unused;
        if (e.next != 0 && !objc_section_holds(sect, e.next, &unused))
            printf(" (not in the (__OBJC,__runtime_setup section)\n");
        else
            printf("\n");
    }
}

} // namespace macho
