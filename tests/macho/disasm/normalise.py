"""Per-family normalisers: both our text and an oracle's are brought to one
spelling before they are compared; numbers are compared by `same_text`."""

import re

NUMBER = re.compile(r"(0x[0-9a-fA-F]+|(?<![A-Za-z0-9_%])\d+(?!\w))")


def numbers(text):
    """Text pieces and signed numbers, alternating; a "-" right after a name
    stays in the text (name-0x5), any other one signs the number."""
    parts = NUMBER.split(text)
    values = []
    for i in range(1, len(parts), 2):
        sign = 1
        before = parts[i - 1]
        if before.endswith("-") and (len(before) == 1 or not (before[-2].isalnum() or before[-2] in "_.")):
            parts[i - 1] = before[:-1]
            sign = -1
        digits = len(parts[i]) - 2 if parts[i].lower().startswith("0x") else 0
        values.append((sign * int(parts[i], 0), digits))
    return parts[0::2], values


def same_text(ours, theirs):
    """Equal but for numbers; a number of ours with d hex digits equals the
    oracle's modulo 16**d (objdump prints -0x4 where we print 0xfc)."""
    ta, va = numbers(ours)
    tb, vb = numbers(theirs)
    if ta != tb or len(va) != len(vb):
        return False
    for (x, digits), (y, _) in zip(va, vb):
        mod = 16 ** digits if digits else 2 ** 64
        if x % mod != y % mod:
            return False
    return True


# ---- x86 ----

X86_PREFIX_WORDS = {"lock", "rep", "repz", "repnz", "repe", "repne", "wait", "bnd", "xacquire", "xrelease"}
# prefixes objdump names where they change nothing; we print none
X86_SILENT_WORDS = {"data16", "addr16", "data32", "addr32"}
X86_SEGMENT_WORDS = {"es", "cs", "ss", "ds", "fs", "gs"}
X86_MNEMONIC = {
    "calll": "call", "callq": "call", "callw": "callw",
    "jmpl": "jmp", "jmpq": "jmp",
    "retl": "ret", "retq": "ret",
    "lretl": "lret", "lretq": "lret",
    "int3": "int $0x3",
    "repe": "repz", "repne": "repnz", "bnd": "repnz", "xacquire": "repnz", "xrelease": "repz",
    "lcalll": "lcall", "ljmpl": "ljmp",
    "loopl": "loop", "loopel": "loope", "loopnel": "loopne",
}


def x86(text, oracle=None):
    if text is None:
        return None
    stub = re.search(r"\s(?:;|##) symbol stub for: (\S+)", text)
    t = text[:stub.start()] if stub else text
    t = re.sub(r"<[^>]*>", "", t)
    t = re.sub(r"\s#.*$", "", t)
    t = re.sub(r"^((?:lock|rep|repz|repnz|wait)/)+", lambda m: m.group(0).replace("/", " "), t)
    t = re.sub(r",\s+", ",", t.strip())
    t = re.sub(r"\s+", " ", t)
    words = t.split(" ")
    prefixes = []
    seg = ""
    while len(words) > 1 and (words[0] in X86_PREFIX_WORDS or words[0] in X86_SEGMENT_WORDS or
                              words[0] in X86_SILENT_WORDS or re.match(r"^rex(\.[WRXB]+)?$", words[0])):
        w = words.pop(0)
        if w in X86_SILENT_WORDS or w.startswith("rex"):
            continue
        if w in X86_SEGMENT_WORDS:
            seg = "%" + w + ":"
        else:
            prefixes.append(X86_MNEMONIC.get(w, w))
    mnemonic = words[0]
    operands = "".join(words[1:])
    if mnemonic.endswith(".s"):  # objdump's mark of the other encoding
        mnemonic = mnemonic[:-2]
    mnemonic = X86_MNEMONIC.get(mnemonic, mnemonic)
    operands = operands.replace("(%dx)", "%dx")
    if mnemonic == "movabsq" and operands.startswith("$"):
        mnemonic = "movq"
    if mnemonic == "xchgw" and operands == "%ax,%ax":
        mnemonic, operands = "nop", ""
    # string forms: objdump's implied segments, and cmps's reversed operands
    operands = re.sub(r"%ds:(\((?:%esi|%rsi|%si)\))", r"\1", operands)
    operands = re.sub(r"%es:(\((?:%edi|%rdi|%di)\))", r"\1", operands)
    if mnemonic.startswith("cmps"):
        m = re.match(r"^(\([^)]*di\)),(\([^)]*si\))$", operands)
        if m:
            operands = m.group(2) + "," + m.group(1)
    operands = re.sub(r",%[er]iz(,1)?\)", ")", operands)
    operands = re.sub(r",1\)", ")", operands)  # scale 1
    operands = re.sub(r"(^|[,:*$])(?:0x)?0+\(", r"\1(", operands)  # a zero displacement
    if oracle == "cstool" and mnemonic.startswith("f"):
        # cstool leaves out %st beside %st(i)
        operands = re.sub(r"^%st,(%st\(\d\))$|^(%st\(\d\)),%st$", lambda m: m.group(1) or m.group(2), operands)
    if seg and operands:
        operands = seg + operands
    out = " ".join(prefixes + [mnemonic])
    out += " " + operands if operands else ""
    return out + (" ; stub " + stub.group(1) if stub else "")


FAMILIES = {"x86": x86}
