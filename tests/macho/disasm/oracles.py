"""Records (offset, length, text) of one instruction each, from Debian's
disassemblers run on a raw byte file, and from our disasm_stream."""

import os
import re
import subprocess
import tempfile

# (bfd machine, objcopy output format) of each x86 width
X86 = {32: ("i386", "elf32-i386"), 64: ("i386:x86-64", "elf64-x86-64")}

INVALID = None  # the text of a byte the oracle cannot decode


def run(cmd):
    return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout.decode(
        "latin-1")


def ours(stream_tool, family, path, bits=32, addr=0, slots=0):
    cmd = [stream_tool, family, path]
    if bits == 64:
        cmd.append("--64")
    if addr:
        cmd += ["--addr", "%x" % addr]
    if slots:
        cmd += ["--slots", str(slots)]
    out = []
    for line in run(cmd).splitlines():
        off, length, text = line.split(" ", 2)
        out.append((int(off, 16), int(length), text))
    return out


OBJDUMP_LINE = re.compile(r"^\s*([0-9a-f]+):\t((?:[0-9a-f]{2} ?)+)\s*\t?(.*)$")


def objdump(path, bits=32, addr=0):
    cmd = ["objdump", "-D", "-b", "binary", "-m", X86[bits][0], "-M", "suffix", "--insn-width=16"]
    if addr:
        cmd.append("--adjust-vma=0x%x" % addr)
    out = []
    for line in run(cmd + [path]).splitlines():
        m = OBJDUMP_LINE.match(line)
        if not m:
            continue
        text = m.group(3).strip()
        out.append((int(m.group(1), 16) - addr, len(m.group(2).split()),
                    INVALID if "(bad)" in text or text == "" else text))
    return out


LLVM_LINE = re.compile(r"^\s*([0-9a-f]+):\s((?:[0-9a-f]{2} )+)\s*(.*)$")


def llvm_objdump(path, bits=32, addr=0):
    with tempfile.TemporaryDirectory() as tmp:
        elf = os.path.join(tmp, "code.elf")
        run(["objcopy", "-I", "binary", "-O", X86[bits][1], "-B", X86[bits][0], "--rename-section",
             ".data=.text,alloc,load,readonly,code,contents", path, elf])
        if addr:
            run(["objcopy", "--change-section-address", ".text=0x%x" % addr, elf])
        out = []
        for line in run(["llvm-objdump", "-d", "-z", elf]).splitlines():
            m = LLVM_LINE.match(line)
            if not m:
                continue
            text = m.group(3).strip()
            out.append((int(m.group(1), 16) - addr, len(m.group(2).split()),
                        INVALID if text.startswith("<unknown>") or text == "" else text))
        return out


CSTOOL_LINE = re.compile(r"^\s*([0-9a-f]+)\s+((?:[0-9a-f]{2} )+)\s*(.*)$")


def cstool(path, bits=32, addr=0):
    """cstool stops at the first byte it cannot decode: that byte is
    recorded as invalid and the walk goes on after it. The input goes in
    chunks (argument limits); an instruction near a chunk's end is decoded
    again at the start of the next chunk."""
    data = open(path, "rb").read()
    mode = "x32att" if bits == 32 else "x64att"
    out = []
    pos = 0
    chunk = 4096
    while pos < len(data):
        piece = data[pos:pos + chunk]
        tail = pos + len(piece) >= len(data)
        got = 0
        for line in run(["cstool", mode, piece.hex(), "%x" % (addr + pos)]).splitlines():
            m = CSTOOL_LINE.match(line)
            if not m:
                continue
            n = len(m.group(2).split())
            if not tail and got + n > len(piece) - 16:
                break
            out.append((pos + got, n, m.group(3).strip()))
            got += n
        if got == 0 or (tail and got < len(piece)) or (not tail and got < len(piece) - 32):
            out.append((pos + got, 1, INVALID))
            got += 1
        pos += got
    return out


MACHO_OURS = re.compile(r"^([0-9a-f]{8,16})\t(.*)$")
MACHO_LLVM = re.compile(r"^\s*([0-9a-f]+):\t((?:[0-9a-f]{2} ?)+)\t(.*)$")


def with_lengths(addr_text, end):
    """(address, text) in order -> (address, length up to the next, text)."""
    out = []
    for i, (a, t) in enumerate(addr_text):
        nxt = addr_text[i + 1][0] if i + 1 < len(addr_text) else end
        out.append((a, nxt - a, t))
    return out


def ours_macho(tool, path):
    """wardmacho -tvV: the (__TEXT,__text) section's instructions."""
    rows = []
    for line in run([tool, "-tvV", path]).splitlines():
        m = MACHO_OURS.match(line)
        if m:
            rows.append((int(m.group(1), 16), m.group(2)))
    return rows


def llvm_macho(path):
    """llvm-objdump --macho -d: the same section, with its bytes."""
    return llvm_macho_text(run(["llvm-objdump", "--macho", "-d", path]))


def llvm_macho_text(text):
    """(address, length, text) of each instruction line of llvm-objdump --macho -d."""
    out = []
    for line in text.splitlines():
        m = MACHO_LLVM.match(line)
        if m:
            text = m.group(3).strip()
            out.append((int(m.group(1), 16), len(m.group(2).split()),
                        INVALID if text.startswith("<unknown>") else text))
    return out


ORACLES = {"objdump": objdump, "llvm": llvm_objdump, "cstool": cstool}
