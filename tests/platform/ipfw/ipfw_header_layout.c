/* The kernel's rule header as a 32-bit compiler lays it out. Compiled with
   -target i386-linux-gnu it must pass; for x86_64 the 64-bit counters move
   to 8-byte boundaries (pcnt at 40) and it must fail. */
#include <stddef.h>

typedef unsigned char u_int8_t;
typedef unsigned short u_int16_t;
typedef unsigned int u_int32_t;
typedef unsigned long long u_int64_t;

struct rule_header {
    u_int32_t version;
    u_int32_t context;   /* three kernel pointers, 32-bit */
    u_int32_t next;
    u_int32_t next_rule;
    u_int16_t act_ofs;
    u_int16_t cmd_len;
    u_int16_t rulenum;
    u_int8_t set;
    u_int32_t set_masks[2];
    u_int8_t pad;
    u_int64_t pcnt;
    u_int64_t bcnt;
    u_int32_t timestamp;
    u_int32_t reserved_1;
    u_int32_t reserved_2;
    u_int32_t cmd[1];
};

_Static_assert(offsetof(struct rule_header, act_ofs) == 16, "act_ofs");
_Static_assert(offsetof(struct rule_header, cmd_len) == 18, "cmd_len");
_Static_assert(offsetof(struct rule_header, rulenum) == 20, "rulenum");
_Static_assert(offsetof(struct rule_header, set) == 22, "set");
_Static_assert(offsetof(struct rule_header, set_masks) == 24, "set masks");
_Static_assert(offsetof(struct rule_header, pad) == 32, "pad");
_Static_assert(offsetof(struct rule_header, pcnt) == 36, "pcnt");
_Static_assert(offsetof(struct rule_header, bcnt) == 44, "bcnt");
_Static_assert(offsetof(struct rule_header, timestamp) == 52, "timestamp");
_Static_assert(offsetof(struct rule_header, reserved_1) == 56, "reserved");
_Static_assert(offsetof(struct rule_header, cmd) == 64, "instructions");
