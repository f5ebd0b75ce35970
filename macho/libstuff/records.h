// Mach-O, universal-file, archive and thread-state records as they lie in a
// file. Our own declarations: fixed-width fields only, no pointers, names as
// 32-bit offsets (an lc_str union with a pointer would be 8 bytes here).
// Bit-field words are kept as plain words; bitfields.h gives their layout.
#pragma once

#include <cstdint>

namespace macho {

constexpr uint32_t FAT_MAGIC = 0xcafebabe;
constexpr uint32_t FAT_CIGAM = 0xbebafeca;
constexpr uint32_t MH_MAGIC = 0xfeedface;
constexpr uint32_t MH_CIGAM = 0xcefaedfe;
constexpr uint32_t MH_MAGIC_64 = 0xfeedfacf;
constexpr uint32_t MH_CIGAM_64 = 0xcffaedfe;

constexpr uint32_t MH_OBJECT = 1;
constexpr uint32_t MH_EXECUTE = 2;
constexpr uint32_t MH_DYLIB_STUB = 9;

/// The 64-bit ABI bit of a cputype.
constexpr int32_t CPU_ARCH_ABI64 = 0x01000000;

constexpr uint32_t LC_REQ_DYLD = 0x80000000;
constexpr uint32_t LC_SEGMENT = 1;
constexpr uint32_t LC_SYMTAB = 2;
constexpr uint32_t LC_SYMSEG = 3;
constexpr uint32_t LC_THREAD = 4;
constexpr uint32_t LC_UNIXTHREAD = 5;
constexpr uint32_t LC_LOADFVMLIB = 6;
constexpr uint32_t LC_IDFVMLIB = 7;
constexpr uint32_t LC_IDENT = 8;
constexpr uint32_t LC_FVMFILE = 9;
constexpr uint32_t LC_DYSYMTAB = 11;
constexpr uint32_t LC_LOAD_DYLIB = 12;
constexpr uint32_t LC_ID_DYLIB = 13;
constexpr uint32_t LC_LOAD_DYLINKER = 14;
constexpr uint32_t LC_ID_DYLINKER = 15;
constexpr uint32_t LC_PREBOUND_DYLIB = 16;
constexpr uint32_t LC_ROUTINES = 17;
constexpr uint32_t LC_SUB_FRAMEWORK = 18;
constexpr uint32_t LC_SUB_UMBRELLA = 19;
constexpr uint32_t LC_SUB_CLIENT = 20;
constexpr uint32_t LC_SUB_LIBRARY = 21;
constexpr uint32_t LC_TWOLEVEL_HINTS = 22;
constexpr uint32_t LC_PREBIND_CKSUM = 23;
constexpr uint32_t LC_LOAD_WEAK_DYLIB = 0x80000018;
constexpr uint32_t LC_SEGMENT_64 = 0x19;
constexpr uint32_t LC_ROUTINES_64 = 0x1a;
constexpr uint32_t LC_UUID = 0x1b;
constexpr uint32_t LC_RPATH = 0x8000001c;
constexpr uint32_t LC_CODE_SIGNATURE = 0x1d;
constexpr uint32_t LC_SEGMENT_SPLIT_INFO = 0x1e;
constexpr uint32_t LC_REEXPORT_DYLIB = 0x8000001f;

// Section types (the low byte of a section's flags) and attributes.
constexpr uint32_t SECTION_TYPE = 0x000000ff;
constexpr uint32_t SECTION_ATTRIBUTES = 0xffffff00;
constexpr uint32_t S_REGULAR = 0x0;
constexpr uint32_t S_ZEROFILL = 0x1;
constexpr uint32_t S_CSTRING_LITERALS = 0x2;
constexpr uint32_t S_4BYTE_LITERALS = 0x3;
constexpr uint32_t S_8BYTE_LITERALS = 0x4;
constexpr uint32_t S_LITERAL_POINTERS = 0x5;
constexpr uint32_t S_NON_LAZY_SYMBOL_POINTERS = 0x6;
constexpr uint32_t S_LAZY_SYMBOL_POINTERS = 0x7;
constexpr uint32_t S_SYMBOL_STUBS = 0x8;
constexpr uint32_t S_MOD_INIT_FUNC_POINTERS = 0x9;
constexpr uint32_t S_MOD_TERM_FUNC_POINTERS = 0xa;
constexpr uint32_t S_COALESCED = 0xb;
constexpr uint32_t S_INTERPOSING = 0xd;
constexpr uint32_t S_16BYTE_LITERALS = 0xe;
constexpr uint32_t S_ATTR_PURE_INSTRUCTIONS = 0x80000000;
constexpr uint32_t S_ATTR_NO_TOC = 0x40000000;
constexpr uint32_t S_ATTR_STRIP_STATIC_SYMS = 0x20000000;
constexpr uint32_t S_ATTR_NO_DEAD_STRIP = 0x10000000;
constexpr uint32_t S_ATTR_LIVE_SUPPORT = 0x08000000;
constexpr uint32_t S_ATTR_SELF_MODIFYING_CODE = 0x04000000;
constexpr uint32_t S_ATTR_DEBUG = 0x02000000;
constexpr uint32_t S_ATTR_SOME_INSTRUCTIONS = 0x00000400;
constexpr uint32_t S_ATTR_EXT_RELOC = 0x00000200;
constexpr uint32_t S_ATTR_LOC_RELOC = 0x00000100;

// Symbol types: n_type's bits and its type field's values.
constexpr uint8_t N_STAB = 0xe0;
constexpr uint8_t N_PEXT = 0x10;
constexpr uint8_t N_TYPE = 0x0e;
constexpr uint8_t N_EXT = 0x01;
constexpr uint8_t N_UNDF = 0x0;
constexpr uint8_t N_ABS = 0x2;
constexpr uint8_t N_SECT = 0xe;
constexpr uint8_t N_PBUD = 0xc;
constexpr uint8_t N_INDR = 0xa;

// Indirect symbol table markers.
constexpr uint32_t INDIRECT_SYMBOL_LOCAL = 0x80000000;
constexpr uint32_t INDIRECT_SYMBOL_ABS = 0x40000000;

constexpr const char ARMAG[] = "!<arch>\n";
constexpr unsigned SARMAG = 8;
constexpr const char AR_EFMT1[] = "#1/";
constexpr const char SYMDEF[] = "__.SYMDEF";

struct fat_header {
    uint32_t magic;
    uint32_t nfat_arch;
};

struct fat_arch {
    int32_t cputype;
    int32_t cpusubtype;
    uint32_t offset;
    uint32_t size;
    uint32_t align;
};

struct mach_header {
    uint32_t magic;
    int32_t cputype;
    int32_t cpusubtype;
    uint32_t filetype;
    uint32_t ncmds;
    uint32_t sizeofcmds;
    uint32_t flags;
};

struct mach_header_64 {
    uint32_t magic;
    int32_t cputype;
    int32_t cpusubtype;
    uint32_t filetype;
    uint32_t ncmds;
    uint32_t sizeofcmds;
    uint32_t flags;
    uint32_t reserved;
};

struct load_command {
    uint32_t cmd;
    uint32_t cmdsize;
};

/// Offset of a name from the start of its command.
struct lc_str {
    uint32_t offset;
};

struct segment_command {
    uint32_t cmd;
    uint32_t cmdsize;
    char segname[16];
    uint32_t vmaddr;
    uint32_t vmsize;
    uint32_t fileoff;
    uint32_t filesize;
    int32_t maxprot;
    int32_t initprot;
    uint32_t nsects;
    uint32_t flags;
};

struct segment_command_64 {
    uint32_t cmd;
    uint32_t cmdsize;
    char segname[16];
    uint64_t vmaddr;
    uint64_t vmsize;
    uint64_t fileoff;
    uint64_t filesize;
    int32_t maxprot;
    int32_t initprot;
    uint32_t nsects;
    uint32_t flags;
};

struct section {
    char sectname[16];
    char segname[16];
    uint32_t addr;
    uint32_t size;
    uint32_t offset;
    uint32_t align;
    uint32_t reloff;
    uint32_t nreloc;
    uint32_t flags;
    uint32_t reserved1;
    uint32_t reserved2;
};

struct section_64 {
    char sectname[16];
    char segname[16];
    uint64_t addr;
    uint64_t size;
    uint32_t offset;
    uint32_t align;
    uint32_t reloff;
    uint32_t nreloc;
    uint32_t flags;
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t reserved3;
};

struct symtab_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t symoff;
    uint32_t nsyms;
    uint32_t stroff;
    uint32_t strsize;
};

struct dysymtab_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t ilocalsym;
    uint32_t nlocalsym;
    uint32_t iextdefsym;
    uint32_t nextdefsym;
    uint32_t iundefsym;
    uint32_t nundefsym;
    uint32_t tocoff;
    uint32_t ntoc;
    uint32_t modtaboff;
    uint32_t nmodtab;
    uint32_t extrefsymoff;
    uint32_t nextrefsyms;
    uint32_t indirectsymoff;
    uint32_t nindirectsyms;
    uint32_t extreloff;
    uint32_t nextrel;
    uint32_t locreloff;
    uint32_t nlocrel;
};

struct symseg_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t offset;
    uint32_t size;
};

struct fvmlib_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str name;
    uint32_t minor_version;
    uint32_t header_addr;
};

struct dylib_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str name;
    uint32_t timestamp;
    uint32_t current_version;
    uint32_t compatibility_version;
};

struct sub_framework_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str umbrella;
};

struct sub_umbrella_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str sub_umbrella;
};

struct sub_library_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str sub_library;
};

struct sub_client_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str client;
};

struct prebound_dylib_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str name;
    uint32_t nmodules;
    lc_str linked_modules;
};

struct dylinker_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str name;
};

struct fvmfile_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str name;
    uint32_t header_addr;
};

struct routines_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t init_address;
    uint32_t init_module;
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t reserved3;
    uint32_t reserved4;
    uint32_t reserved5;
    uint32_t reserved6;
};

struct routines_command_64 {
    uint32_t cmd;
    uint32_t cmdsize;
    uint64_t init_address;
    uint64_t init_module;
    uint64_t reserved1;
    uint64_t reserved2;
    uint64_t reserved3;
    uint64_t reserved4;
    uint64_t reserved5;
    uint64_t reserved6;
};

struct twolevel_hints_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t offset;
    uint32_t nhints;
};

/// Bit-field word: isub_image 8, itoc 24.
struct twolevel_hint {
    uint32_t word;
};

struct prebind_cksum_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t cksum;
};

struct uuid_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint8_t uuid[16];
};

struct linkedit_data_command {
    uint32_t cmd;
    uint32_t cmdsize;
    uint32_t dataoff;
    uint32_t datasize;
};

struct rpath_command {
    uint32_t cmd;
    uint32_t cmdsize;
    lc_str path;
};

struct nlist {
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    int16_t n_desc;
    uint32_t n_value;
};

struct nlist_64 {
    uint32_t n_strx;
    uint8_t n_type;
    uint8_t n_sect;
    uint16_t n_desc;
    uint64_t n_value;
};

struct ranlib {
    uint32_t ran_strx;
    uint32_t ran_off;
};

/// A plain entry: r_address, then a bit-field word (symbolnum 24, pcrel 1,
/// length 2, extern 1, type 4). A scattered entry (top bit of the first word)
/// keeps its fields in the first word.
struct relocation_info {
    int32_t r_address;
    uint32_t r_info;
};

constexpr uint32_t R_SCATTERED = 0x80000000;
/// The section number of an absolute plain entry.
constexpr uint32_t R_ABS = 0;

// Relocation types: the generic ones (m68k and i386 too), then those of
// other processors that the printers test by number.
constexpr uint32_t GENERIC_RELOC_VANILLA = 0;
constexpr uint32_t GENERIC_RELOC_PAIR = 1;
constexpr uint32_t GENERIC_RELOC_SECTDIFF = 2;
constexpr uint32_t GENERIC_RELOC_PB_LA_PTR = 3;
constexpr uint32_t GENERIC_RELOC_LOCAL_SECTDIFF = 4;
constexpr uint32_t PPC_RELOC_BR14 = 2;
constexpr uint32_t PPC_RELOC_JBSR = 13;

/// Bit-field word: isym 24, flags 8.
struct dylib_reference {
    uint32_t word;
};

struct dylib_module {
    uint32_t module_name;
    uint32_t iextdefsym;
    uint32_t nextdefsym;
    uint32_t irefsym;
    uint32_t nrefsym;
    uint32_t ilocalsym;
    uint32_t nlocalsym;
    uint32_t iextrel;
    uint32_t nextrel;
    uint32_t iinit_iterm;
    uint32_t ninit_nterm;
    uint32_t objc_module_info_addr;
    uint32_t objc_module_info_size;
};

struct dylib_module_64 {
    uint32_t module_name;
    uint32_t iextdefsym;
    uint32_t nextdefsym;
    uint32_t irefsym;
    uint32_t nrefsym;
    uint32_t ilocalsym;
    uint32_t nlocalsym;
    uint32_t iextrel;
    uint32_t nextrel;
    uint32_t iinit_iterm;
    uint32_t ninit_nterm;
    uint32_t objc_module_info_size;
    uint64_t objc_module_info_addr;
};

struct dylib_table_of_contents {
    uint32_t symbol_index;
    uint32_t module_index;
};

/// Archive member header: every field is text.
struct ar_hdr {
    char ar_name[16];
    char ar_date[12];
    char ar_uid[6];
    char ar_gid[6];
    char ar_mode[8];
    char ar_size[10];
    char ar_fmag[2];
};

// ---- thread states ----

struct m68k_thread_state_regs {
    int32_t dreg[8];
    int32_t areg[8];
    int16_t pad0;
    uint16_t sr;
    uint32_t pc;
};

/// One 96-bit floating-point register, byte-reversed as a whole.
struct m68k_fp_reg {
    uint8_t bytes[12];
};

struct m68k_thread_state_68882 {
    m68k_fp_reg regs[8];
    uint32_t cr;
    uint32_t sr;
    uint32_t iar;
    uint32_t state;
};

struct m68k_thread_state_user_reg {
    int32_t user_reg;
};

struct ppc_thread_state_t {
    uint32_t srr0;
    uint32_t srr1;
    uint32_t r[32];
    uint32_t cr;
    uint32_t xer;
    uint32_t lr;
    uint32_t ctr;
    uint32_t mq;
    uint32_t vrsave;
};

#pragma pack(push, 4)
struct ppc_thread_state64_t {
    uint64_t srr0;
    uint64_t srr1;
    uint64_t r[32];
    uint32_t cr;
    uint64_t xer;
    uint64_t lr;
    uint64_t ctr;
    uint32_t vrsave;
};
#pragma pack(pop)

struct ppc_float_state_t {
    double fpregs[32];
    uint32_t fpscr_pad;
    uint32_t fpscr;
};

struct ppc_exception_state_t {
    uint32_t dar;
    uint32_t dsisr;
    uint32_t exception;
    uint32_t pad0;
    uint32_t pad1[4];
};

struct m88k_thread_state_grf_t {
    uint32_t r[31]; // r1 to r31
    uint32_t xip;
    uint32_t xip_in_bd;
    uint32_t nip;
};

struct m88k_xrf_t {
    uint32_t x[4];
};

struct m88k_thread_state_xrf_t {
    m88k_xrf_t x[31]; // x1 to x31
    uint32_t fpsr;    // bit-field word
    uint32_t fpcr;    // bit-field word
    uint32_t pad[2];  // the registers' 16-byte alignment
};

struct m88k_thread_state_user_t {
    int32_t user;
};

struct m88110_data_bp_t {
    uint32_t addr;
    uint32_t ctrl; // bit-field word
};

struct m88110_thread_state_impl_t {
    m88110_data_bp_t data_bp[2];
    uint32_t psr; // bit-field word
    uint32_t fp_trap_status;
    uint32_t pad[2];
    m88k_xrf_t intermediate_result;
    uint32_t spare[4];
};

#pragma pack(push, 4)
struct i860_thread_state_regs {
    int32_t ireg[31];
    int32_t freg[30];
    int32_t psr;
    int32_t epsr;
    int32_t db;
    int32_t pc;
    int32_t pad;
    double Mres3;
    double Ares3;
    double Mres2;
    double Ares2;
    double Mres1;
    double Ares1;
    double Ires1;
    double Lres3m;
    double Lres2m;
    double Lres1m;
    double KR;
    double KI;
    double T;
    int32_t Fsr3;
    int32_t Fsr2;
    int32_t Fsr1;
    int32_t Mergelo32;
    int32_t Mergehi32;
};
#pragma pack(pop)

struct i386_thread_state {
    uint32_t eax, ebx, ecx, edx, edi, esi, ebp, esp;
    uint32_t ss, eflags, eip, cs, ds, es, fs, gs;
};

struct x86_thread_state64 {
    uint64_t rax, rbx, rcx, rdx, rdi, rsi, rbp, rsp;
    uint64_t r8, r9, r10, r11, r12, r13, r14, r15;
    uint64_t rip, rflags, cs, fs, gs;
};

struct mmst_reg {
    uint8_t mmst_reg[10];
    uint8_t mmst_rsrv[6];
};

struct xmm_reg {
    uint8_t xmm_reg[16];
};

struct i386_float_state {
    int32_t fpu_reserved[2];
    uint16_t fpu_fcw; // bit-field word
    uint16_t fpu_fsw; // bit-field word
    uint8_t fpu_ftw;
    uint8_t fpu_rsrv1;
    uint16_t fpu_fop;
    uint32_t fpu_ip;
    uint16_t fpu_cs;
    uint16_t fpu_rsrv2;
    uint32_t fpu_dp;
    uint16_t fpu_ds;
    uint16_t fpu_rsrv3;
    uint32_t fpu_mxcsr;
    uint32_t fpu_mxcsrmask;
    mmst_reg fpu_stmm[8];
    xmm_reg fpu_xmm[8];
    uint8_t fpu_rsrv4[14 * 16];
    int32_t fpu_reserved1;
};

struct x86_float_state64 {
    int32_t fpu_reserved[2];
    uint16_t fpu_fcw;
    uint16_t fpu_fsw;
    uint8_t fpu_ftw;
    uint8_t fpu_rsrv1;
    uint16_t fpu_fop;
    uint32_t fpu_ip;
    uint16_t fpu_cs;
    uint16_t fpu_rsrv2;
    uint32_t fpu_dp;
    uint16_t fpu_ds;
    uint16_t fpu_rsrv3;
    uint32_t fpu_mxcsr;
    uint32_t fpu_mxcsrmask;
    mmst_reg fpu_stmm[8];
    xmm_reg fpu_xmm[16];
    uint8_t fpu_rsrv4[6 * 16];
    int32_t fpu_reserved1;
};

struct i386_exception_state {
    uint32_t trapno;
    uint32_t err;
    uint32_t faultvaddr;
};

struct x86_exception_state64 {
    uint32_t trapno;
    uint32_t err;
    uint64_t faultvaddr;
};

struct x86_debug_state32 {
    uint32_t dr[8];
};

struct x86_debug_state64 {
    uint64_t dr[8];
};

struct x86_state_hdr {
    int32_t flavor;
    int32_t count;
};

struct hppa_integer_thread_state {
    uint32_t gr[31]; // r1 to r31
    uint32_t sr[4];
    uint32_t sar;
};

struct hppa_frame_thread_state {
    uint32_t pcsq_front;
    uint32_t pcsq_back;
    uint32_t pcoq_front;
    uint32_t pcoq_back;
    uint32_t psw;
    uint32_t unaligned_faults;
    uint32_t fault_address;
    uint32_t step_range_start;
    uint32_t step_range_stop;
    uint32_t spare[2];
};

struct hppa_fp_thread_state {
    double fp[32];
};

struct sparc_thread_state_regs {
    uint32_t psr; // bit-field word
    uint32_t pc;
    uint32_t npc;
    uint32_t y;
    uint32_t g[7]; // g1 to g7
    uint32_t o[8];
};

struct sparc_fq {
    uint32_t addr;
    uint32_t instr;
};

struct sparc_thread_state_fpu {
    double dregs[16];
    uint32_t fsr; // bit-field word
    uint32_t flags;
    uint32_t extra;
    uint32_t qcnt;
    sparc_fq q[16];
};

static_assert(sizeof(fat_header) == 8, "fat_header");
static_assert(sizeof(fat_arch) == 20, "fat_arch");
static_assert(sizeof(mach_header) == 28, "mach_header");
static_assert(sizeof(mach_header_64) == 32, "mach_header_64");
static_assert(sizeof(load_command) == 8, "load_command");
static_assert(sizeof(segment_command) == 56, "segment_command");
static_assert(sizeof(segment_command_64) == 72, "segment_command_64");
static_assert(sizeof(section) == 68, "section");
static_assert(sizeof(section_64) == 80, "section_64");
static_assert(sizeof(symtab_command) == 24, "symtab_command");
static_assert(sizeof(dysymtab_command) == 80, "dysymtab_command");
static_assert(sizeof(symseg_command) == 16, "symseg_command");
static_assert(sizeof(fvmlib_command) == 20, "fvmlib_command");
static_assert(sizeof(dylib_command) == 24, "dylib_command");
static_assert(sizeof(sub_framework_command) == 12, "sub_framework_command");
static_assert(sizeof(sub_umbrella_command) == 12, "sub_umbrella_command");
static_assert(sizeof(sub_library_command) == 12, "sub_library_command");
static_assert(sizeof(sub_client_command) == 12, "sub_client_command");
static_assert(sizeof(prebound_dylib_command) == 20, "prebound_dylib_command");
static_assert(sizeof(dylinker_command) == 12, "dylinker_command");
static_assert(sizeof(fvmfile_command) == 16, "fvmfile_command");
static_assert(sizeof(routines_command) == 40, "routines_command");
static_assert(sizeof(routines_command_64) == 72, "routines_command_64");
static_assert(sizeof(twolevel_hints_command) == 16, "twolevel_hints_command");
static_assert(sizeof(twolevel_hint) == 4, "twolevel_hint");
static_assert(sizeof(prebind_cksum_command) == 12, "prebind_cksum_command");
static_assert(sizeof(uuid_command) == 24, "uuid_command");
static_assert(sizeof(linkedit_data_command) == 16, "linkedit_data_command");
static_assert(sizeof(rpath_command) == 12, "rpath_command");
static_assert(sizeof(nlist) == 12, "nlist");
static_assert(sizeof(nlist_64) == 16, "nlist_64");
static_assert(sizeof(ranlib) == 8, "ranlib");
static_assert(sizeof(relocation_info) == 8, "relocation_info");
static_assert(sizeof(dylib_reference) == 4, "dylib_reference");
static_assert(sizeof(dylib_module) == 52, "dylib_module");
static_assert(sizeof(dylib_module_64) == 56, "dylib_module_64");
static_assert(sizeof(dylib_table_of_contents) == 8, "dylib_table_of_contents");
static_assert(sizeof(ar_hdr) == 60, "ar_hdr");

static_assert(sizeof(m68k_thread_state_regs) == 72, "m68k regs");
static_assert(sizeof(m68k_thread_state_68882) == 112, "m68k 68882");
static_assert(sizeof(m68k_thread_state_user_reg) == 4, "m68k user reg");
static_assert(sizeof(ppc_thread_state_t) == 160, "ppc thread");
static_assert(sizeof(ppc_thread_state64_t) == 304, "ppc thread64");
static_assert(sizeof(ppc_float_state_t) == 264, "ppc float");
static_assert(sizeof(ppc_exception_state_t) == 32, "ppc exception");
static_assert(sizeof(m88k_thread_state_grf_t) == 136, "m88k grf");
static_assert(sizeof(m88k_thread_state_xrf_t) == 512, "m88k xrf");
static_assert(sizeof(m88k_thread_state_user_t) == 4, "m88k user");
static_assert(sizeof(m88110_thread_state_impl_t) == 64, "m88110 impl");
static_assert(sizeof(i860_thread_state_regs) == 388, "i860 regs");
static_assert(sizeof(i386_thread_state) == 64, "i386 thread");
static_assert(sizeof(x86_thread_state64) == 168, "x86 thread64");
static_assert(sizeof(i386_float_state) == 524, "i386 float");
static_assert(sizeof(x86_float_state64) == 524, "x86 float64");
static_assert(sizeof(i386_exception_state) == 12, "i386 exception");
static_assert(sizeof(x86_exception_state64) == 16, "x86 exception64");
static_assert(sizeof(x86_debug_state32) == 32, "x86 debug32");
static_assert(sizeof(x86_debug_state64) == 64, "x86 debug64");
static_assert(sizeof(x86_state_hdr) == 8, "x86 state hdr");
static_assert(sizeof(hppa_integer_thread_state) == 144, "hppa integer");
static_assert(sizeof(hppa_frame_thread_state) == 44, "hppa frame");
static_assert(sizeof(hppa_fp_thread_state) == 256, "hppa fp");
static_assert(sizeof(sparc_thread_state_regs) == 76, "sparc regs");
static_assert(sizeof(sparc_thread_state_fpu) == 272, "sparc fpu");

} // namespace macho
