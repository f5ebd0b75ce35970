// The PA-RISC 1.1 instruction set as match/mask rows. Bit 0 is the least
// significant bit of the word; the major opcode is bits 26-31. Flags: 0 an
// instruction, 1 a preferred form placed before the row it narrows, 2 the
// row chosen only through a relocation entry.
#include "disasm/hppa_opcodes.h"

namespace macho {

const pa_opcode pa_opcodes[] = {
    // Branches. "b" is bl with target register 0.
    {"b", 0xe8000000, 0xffe0e000, "nW", 1},
    {"bl", 0xe8000000, 0xfc00e000, "nW,b", 0},
    {"gate", 0xe8002000, 0xfc00e000, "nW,b", 0},
    {"blr", 0xe8004000, 0xfc00fffd, "nx,b", 0},
    {"bv", 0xe800c000, 0xfc00fffd, "nx(b)", 0},
    {"be", 0xe0000000, 0xfc000000, "nz(S,b)", 0},
    {"ble", 0xe4000000, 0xfc000000, "nz(S,b)", 0},
    {"movb", 0xc8000000, 0xfc000000, ">nx,b,w", 0},
    {"movib", 0xcc000000, 0xfc000000, ">n5,b,w", 0},
    {"comb", 0x80000000, 0xfc000000, "?nx,b,w", 1},
    {"combt", 0x80000000, 0xfc000000, "<nx,b,w", 0},
    {"combf", 0x88000000, 0xfc000000, "<nx,b,w", 0},
    {"comib", 0x84000000, 0xfc000000, "?n5,b,w", 1},
    {"comibt", 0x84000000, 0xfc000000, "<n5,b,w", 0},
    {"comibf", 0x8c000000, 0xfc000000, "<n5,b,w", 0},
    {"addb", 0xa0000000, 0xfc000000, "!nx,b,w", 1},
    {"addbt", 0xa0000000, 0xfc000000, "!nx,b,w", 0},
    {"addbf", 0xa8000000, 0xfc000000, "!nx,b,w", 0},
    {"addib", 0xa4000000, 0xfc000000, "!n5,b,w", 1},
    {"addibt", 0xa4000000, 0xfc000000, "!n5,b,w", 0},
    {"addibf", 0xac000000, 0xfc000000, "!n5,b,w", 0},
    {"bvb", 0xc0004000, 0xffe06000, ">nx,w", 0},
    {"bb", 0xc4004000, 0xfc006000, ">nx,Q,w", 0},

    // Loads and stores with a 14-bit displacement.
    {"ldw", 0x48000000, 0xfc000000, "j(B),x", 0},
    {"ldh", 0x44000000, 0xfc000000, "j(B),x", 0},
    {"ldb", 0x40000000, 0xfc000000, "j(B),x", 0},
    {"stw", 0x68000000, 0xfc000000, "x,j(B)", 0},
    {"sth", 0x64000000, 0xfc000000, "x,j(B)", 0},
    {"stb", 0x60000000, 0xfc000000, "x,j(B)", 0},
    {"ldwm", 0x4c000000, 0xfc000000, "j(B),x", 0},
    {"stwm", 0x6c000000, 0xfc000000, "x,j(B)", 0},

    // Indexed loads.
    {"ldwx", 0x0c000080, 0xfc001fc0, "cx(B),t", 0},
    {"ldhx", 0x0c000040, 0xfc001fc0, "cx(B),t", 0},
    {"ldbx", 0x0c000000, 0xfc001fc0, "cx(B),t", 0},
    {"ldwax", 0x0c000180, 0xfc00dfc0, "cx(b),t", 0},
    {"ldcwx", 0x0c0001c0, 0xfc001fc0, "cx(B),t", 0},

    // Short-displacement loads and stores.
    {"ldws", 0x0c001080, 0xfc001fc0, "C5(B),t", 0},
    {"ldhs", 0x0c001040, 0xfc001fc0, "C5(B),t", 0},
    {"ldbs", 0x0c001000, 0xfc001fc0, "C5(B),t", 0},
    {"ldwas", 0x0c001180, 0xfc00dfc0, "C5(b),t", 0},
    {"ldcws", 0x0c0011c0, 0xfc001fc0, "C5(B),t", 0},
    {"stws", 0x0c001280, 0xfc0013c0, "lx,V(B)", 0},
    {"sths", 0x0c001240, 0xfc0013c0, "lx,V(B)", 0},
    {"stbs", 0x0c001200, 0xfc0013c0, "lx,V(B)", 0},
    {"stwas", 0x0c001380, 0xfc00d3c0, "lx,V(b)", 0},
    {"stbys", 0x0c001300, 0xfc0013c0, "Yx,V(B)", 0},

    // Long immediates and address offsets. "ldi" is ldo from register 0.
    {"ldi", 0x34000000, 0xffe00000, "j,x", 1},
    {"ldo", 0x34000000, 0xfc000000, "j(b),x", 0},
    {"ldil", 0x20000000, 0xfc000000, "k,b", 0},
    {"addil", 0x28000000, 0xfc000000, "k,b", 0},

    // Arithmetic and logical on registers. "nop" and "copy" narrow "or".
    {"nop", 0x08000240, 0xffffffff, "", 1},
    {"copy", 0x08000240, 0xffe0ffe0, "x,t", 1},
    {"add", 0x08000600, 0xfc000fe0, "+x,b,t", 0},
    {"addl", 0x08000a00, 0xfc000fe0, "+x,b,t", 0},
    {"addo", 0x08000e00, 0xfc000fe0, "+x,b,t", 0},
    {"addc", 0x08000700, 0xfc000fe0, "+x,b,t", 0},
    {"addco", 0x08000f00, 0xfc000fe0, "+x,b,t", 0},
    {"sh1add", 0x08000640, 0xfc000fe0, "+x,b,t", 0},
    {"sh1addl", 0x08000a40, 0xfc000fe0, "+x,b,t", 0},
    {"sh1addo", 0x08000e40, 0xfc000fe0, "+x,b,t", 0},
    {"sh2add", 0x08000680, 0xfc000fe0, "+x,b,t", 0},
    {"sh2addl", 0x08000a80, 0xfc000fe0, "+x,b,t", 0},
    {"sh2addo", 0x08000e80, 0xfc000fe0, "+x,b,t", 0},
    {"sh3add", 0x080006c0, 0xfc000fe0, "+x,b,t", 0},
    {"sh3addl", 0x08000ac0, 0xfc000fe0, "+x,b,t", 0},
    {"sh3addo", 0x08000ec0, 0xfc000fe0, "+x,b,t", 0},
    {"sub", 0x08000400, 0xfc000fe0, "-x,b,t", 0},
    {"subo", 0x08000c00, 0xfc000fe0, "-x,b,t", 0},
    {"subb", 0x08000500, 0xfc000fe0, "-x,b,t", 0},
    {"subbo", 0x08000d00, 0xfc000fe0, "-x,b,t", 0},
    {"subt", 0x080004c0, 0xfc000fe0, "-x,b,t", 0},
    {"subto", 0x08000cc0, 0xfc000fe0, "-x,b,t", 0},
    {"ds", 0x08000440, 0xfc000fe0, "-x,b,t", 0},
    {"comclr", 0x08000880, 0xfc000fe0, "-x,b,t", 0},
    {"or", 0x08000240, 0xfc000fe0, "&x,b,t", 0},
    {"xor", 0x08000280, 0xfc000fe0, "&x,b,t", 0},
    {"and", 0x08000200, 0xfc000fe0, "&x,b,t", 0},
    {"andcm", 0x08000000, 0xfc000fe0, "&x,b,t", 0},
    {"uxor", 0x08000380, 0xfc000fe0, "Ux,b,t", 0},
    {"uaddcm", 0x08000980, 0xfc000fe0, "Ux,b,t", 0},
    {"uaddcmt", 0x080009c0, 0xfc000fe0, "Ux,b,t", 0},
    {"dcor", 0x08000b80, 0xfc1f0fe0, "Ub,t", 0},
    {"idcor", 0x08000bc0, 0xfc1f0fe0, "Ub,t", 0},

    // Arithmetic with an 11-bit immediate.
    {"addi", 0xb4000000, 0xfc000800, "+i,b,x", 0},
    {"addio", 0xb4000800, 0xfc000800, "+i,b,x", 0},
    {"addit", 0xb0000000, 0xfc000800, "+i,b,x", 0},
    {"addito", 0xb0000800, 0xfc000800, "+i,b,x", 0},
    {"subi", 0x94000000, 0xfc000800, "-i,b,x", 0},
    {"subio", 0x94000800, 0xfc000800, "-i,b,x", 0},
    {"comiclr", 0x90000000, 0xfc000800, "-i,b,x", 0},

    // Shift, extract and deposit.
    {"vshd", 0xd0000000, 0xfc001fe0, ">x,b,t", 0},
    {"shd", 0xd0000800, 0xfc001c00, ">x,b,p,t", 0},
    {"vextru", 0xd0001000, 0xfc001fe0, ">b,T,x", 0},
    {"vextrs", 0xd0001400, 0xfc001fe0, ">b,T,x", 0},
    {"extru", 0xd0001800, 0xfc001c00, ">b,P,T,x", 0},
    {"extrs", 0xd0001c00, 0xfc001c00, ">b,P,T,x", 0},
    {"zvdep", 0xd4000000, 0xfc001fe0, ">x,T,b", 0},
    {"vdep", 0xd4000400, 0xfc001fe0, ">x,T,b", 0},
    {"zdep", 0xd4000800, 0xfc001c00, ">x,p,T,b", 0},
    {"dep", 0xd4000c00, 0xfc001c00, ">x,p,T,b", 0},
    {"zvdepi", 0xd4001000, 0xfc001fe0, ">5,T,b", 0},
    {"vdepi", 0xd4001400, 0xfc001fe0, ">5,T,b", 0},
    {"zdepi", 0xd4001800, 0xfc001c00, ">5,p,T,b", 0},
    {"depi", 0xd4001c00, 0xfc001c00, ">5,p,T,b", 0},

    // System control.
    {"break", 0x00000000, 0xfc001fe0, "r,A", 0},
    {"rfi", 0x00000c00, 0xffffffff, "", 0},
    {"rfir", 0x00000ca0, 0xffffffff, "", 0},
    {"ssm", 0x00000d60, 0xffe0ffe0, "R,t", 0},
    {"rsm", 0x00000e60, 0xffe0ffe0, "R,t", 0},
    {"mtsm", 0x00001860, 0xffe0ffff, "x", 0},
    {"ldsid", 0x000010a0, 0xfc1f3fe0, "(B),t", 0},
    {"mtsp", 0x00001820, 0xffe01fff, "x,S", 0},
    {"mtsar", 0x01601840, 0xffe0ffff, "x", 1},
    {"mtctl", 0x00001840, 0xfc00ffff, "x,b", 0},
    {"mfsp", 0x000004a0, 0xffff1fe0, "S,t", 0},
    {"mfctl", 0x000008a0, 0xfc1fffe0, "b,t", 0},
    {"sync", 0x00000400, 0xffffffff, "", 0},
    {"syncdma", 0x00100400, 0xffffffff, "", 0},
    {"diag", 0x14000000, 0xfc000000, "D", 0},

    // Memory management: probes, translation and cache operations. The
    // data side has a two-bit space field (bit 13 clear); the instruction
    // side a three-bit one.
    {"prober", 0x04001180, 0xfc003fe0, "(S,b),x,t", 0},
    {"probew", 0x040011c0, 0xfc003fe0, "(S,b),x,t", 0},
    {"proberi", 0x04003180, 0xfc003fe0, "(B),R,t", 0},
    {"probewi", 0x040031c0, 0xfc003fe0, "(B),R,t", 0},
    {"lpa", 0x04001340, 0xfc003fc0, "Zx(S,b),t", 0},
    {"lci", 0x04001300, 0xfc003fe0, "x(S,b),t", 0},
    {"pdtlb", 0x04001200, 0xfc003fdf, "Zx(S,b)", 0},
    {"pdtlbe", 0x04001240, 0xfc003fdf, "Zx(S,b)", 0},
    {"fdc", 0x04001280, 0xfc003fdf, "Zx(S,b)", 0},
    {"fdce", 0x040012c0, 0xfc003fdf, "Zx(S,b)", 0},
    {"pdc", 0x04001380, 0xfc003fdf, "Zx(S,b)", 0},
    {"idtlba", 0x04001040, 0xfc003fff, "x,(S,b)", 0},
    {"idtlbp", 0x04001000, 0xfc003fff, "x,(S,b)", 0},
    {"pitlb", 0x04000200, 0xfc001fdf, "Zx(S,b)", 0},
    {"pitlbe", 0x04000240, 0xfc001fdf, "Zx(S,b)", 0},
    {"fic", 0x04000280, 0xfc001fdf, "Zx(S,b)", 0},
    {"fice", 0x040002c0, 0xfc001fdf, "Zx(S,b)", 0},
    {"iitlba", 0x04000040, 0xfc001fff, "x,(S,b)", 0},
    {"iitlbp", 0x04000000, 0xfc001fff, "x,(S,b)", 0},

    // Coprocessor operations of units other than the floating-point one
    // (unit number, bits 6-8, not 0).
    {"copr", 0x30000080, 0xfc000080, ",u,2", 0},
    {"copr", 0x30000100, 0xfc000180, ",u,2", 0},
    {"copr", 0x30000040, 0xfc0001c0, ",u,2", 0},

    // Floating point; opcode 0x0c, and 0x0e with the halves of the
    // registers named.
    {"fcpy", 0x30004000, 0xf41fe720, "FE,v", 0},
    {"fabs", 0x30006000, 0xf41fe720, "FE,v", 0},
    {"fsqrt", 0x30008000, 0xf41fe720, "FE,v", 0},
    {"frnd", 0x3000a000, 0xf41fe720, "FE,v", 0},
    {"fcnvff", 0x30000200, 0xf41f8720, "FGE,v", 0},
    {"fcnvxf", 0x30008200, 0xf41f8720, "FGE,v", 0},
    {"fcnvfx", 0x30010200, 0xf41f8720, "FGE,v", 0},
    {"fcnvfxt", 0x30018200, 0xf41f8720, "FGE,v", 0},
    {"ftest", 0x30002420, 0xffffffff, "", 0},
    {"fcmp", 0x30000400, 0xf400e720, "FME,X", 0},
    {"xmpyu", 0x38004700, 0xfc00ef20, "E,X,v", 0},
    {"fadd", 0x30000600, 0xf400e720, "FE,X,v", 0},
    {"fsub", 0x30002600, 0xf400e720, "FE,X,v", 0},
    {"fmpy", 0x30004600, 0xf400e720, "FE,X,v", 0},
    {"fdiv", 0x30006600, 0xf400e720, "FE,X,v", 0},
    {"frem", 0x30008600, 0xf400e720, "FE,X,v", 0},
    {"fmpyadd", 0x18000000, 0xfc000000, "H4,6,7,9,8", 0},
    {"fmpysub", 0x98000000, 0xfc000000, "H4,6,7,9,8", 0},

    // Floating-point loads and stores: words (the half in bit 6) and
    // doublewords.
    {"fldwx", 0x24000000, 0xfc001f80, "cx(B),v", 0},
    {"fstwx", 0x24000200, 0xfc001380, "3v,x(B)", 0},
    {"fldws", 0x24001000, 0xfc001f80, "C5(B),v", 0},
    {"fstws", 0x24001200, 0xfc001380, "lv,5(B)", 0},
    {"flddx", 0x2c000000, 0xfc001fc0, "cx(B),v", 0},
    {"fstdx", 0x2c000200, 0xfc0013c0, "3v,x(B)", 0},
    {"fldds", 0x2c001000, 0xfc001fc0, "C5(B),v", 0},
    {"fstds", 0x2c001200, 0xfc0013c0, "lv,5(B)", 0},

    // Coprocessor loads and stores of the other units.
    {"cldwx", 0x24000000, 0xfc001e00, "c,u,x(B),t", 0},
    {"cstwx", 0x24000200, 0xfc001200, "3,u,t,x(B)", 0},
    {"cldws", 0x24001000, 0xfc001e00, "C,u,5(B),t", 0},
    {"cstws", 0x24001200, 0xfc001200, "l,u,t,5(B)", 0},
    {"clddx", 0x2c000000, 0xfc001e00, "c,u,x(B),t", 0},
    {"cstdx", 0x2c000200, 0xfc001200, "3,u,t,x(B)", 0},
    {"cldds", 0x2c001000, 0xfc001e00, "C,u,5(B),t", 0},
    {"cstds", 0x2c001200, 0xfc001200, "l,u,t,5(B)", 0},

    // Special function units, and the remaining coprocessor operations.
    {"spop0", 0x10000000, 0xfc000600, ",f,Oy", 0},
    {"spop1", 0x10000200, 0xfc000600, ",f,o,t", 0},
    {"spop2", 0x10000400, 0xfc000600, ",f,1,b", 0},
    {"spop3", 0x10000600, 0xfc000600, ",f,0,x,b", 0},
    {"copr", 0x30000000, 0xfc000000, ",u,2", 0},

    // Reached only through a long-branch stub relocation on a bl.
    {"jbsr", 0xe8000000, 0xfc00e000, "n@,b,W", 2},
};

const size_t pa_num_opcodes = sizeof pa_opcodes / sizeof pa_opcodes[0];

} // namespace macho
