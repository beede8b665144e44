#!/usr/bin/env python3
"""Reads Windows programs as files, without running them, and fails on an
import that cannot work at run time:

- a delay-load slot whose first value is not the address of code: the first
  call through it jumps there (a linker that dropped the load stub leaves 0);
- a function, imported or delay-loaded, that the system DLL of the program's
  width does not export (checked against the DLLs Wine ships for that width).

Runs on any machine, including one that cannot execute 32-bit code.
Usage: check_pe_imports.py WINE_DLLS_X86 WINE_DLLS_X64 FILE...
"""
import struct
import sys
from pathlib import Path

EXECUTABLE_SECTION = 0x20000000


class Pe:
    def __init__(self, path):
        self.path = path
        self.data = Path(path).read_bytes()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("not a PE file")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        coff = pe + 4
        (_, sections, _, self.symbols_at, self.symbol_count, optional_size,
         _) = struct.unpack_from("<HHIIIHH", d, coff)
        opt = coff + 20
        magic = struct.unpack_from("<H", d, opt)[0]
        self.wide = magic == 0x20B
        self.pointer = 8 if self.wide else 4
        self.image_base = (struct.unpack_from("<Q", d, opt + 24)[0] if self.wide
                           else struct.unpack_from("<I", d, opt + 28)[0])
        directories = opt + (112 if self.wide else 96)
        self.directories = [struct.unpack_from("<II", d, directories + 8 * i)
                            for i in range(16)]
        self.sections = []
        at = opt + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw_at = struct.unpack_from("<8sIIII", d, at + 40 * i)
            flags = struct.unpack_from("<I", d, at + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0"), va, max(vsize, raw_size), raw_at,
                                  raw_size, flags))

    def offset(self, rva):
        for _, va, size, raw_at, raw_size, _ in self.sections:
            if va <= rva < va + size:
                if rva - va >= raw_size:
                    return None  # zero-filled, not in the file
                return raw_at + rva - va
        raise ValueError(f"RVA {rva:#x} is in no section")

    def u32(self, rva):
        at = self.offset(rva)
        return 0 if at is None else struct.unpack_from("<I", self.data, at)[0]

    def slot(self, rva):
        at = self.offset(rva)
        if at is None:
            return 0
        return struct.unpack_from("<Q" if self.wide else "<I", self.data, at)[0]

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def is_code(self, va):
        rva = va - self.image_base
        return any(va_ <= rva < va_ + size and flags & EXECUTABLE_SECTION
                   for _, va_, size, _, _, flags in self.sections)

    def names(self, table_rva):
        """The names of one import name table; ordinals are given as None."""
        out = []
        flag = 1 << (self.pointer * 8 - 1)
        while True:
            entry = self.slot(table_rva + len(out) * self.pointer)
            if entry == 0:
                return out
            out.append(None if entry & flag else self.text(entry + 2))

    def imports(self):
        """(dll, [names]) of the ordinary import table."""
        rva, size = self.directories[1]
        out = []
        while size:
            lookup, _, _, name, first = struct.unpack_from(
                "<IIIII", self.data, self.offset(rva + 20 * len(out)))
            if name == 0:
                return out
            out.append((self.text(name), self.names(lookup or first)))
        return out

    def symbol_values(self, prefix):
        """RVAs of the COFF symbols whose names start with prefix."""
        if not self.symbols_at:
            return []
        d = self.data
        strings = self.symbols_at + 18 * self.symbol_count
        out = []
        i = 0
        while i < self.symbol_count:
            at = self.symbols_at + 18 * i
            raw, value, section, _, _, aux = struct.unpack_from("<8sIhHBB", d, at)
            if raw[:4] == b"\0\0\0\0":
                start = strings + struct.unpack_from("<I", raw, 4)[0]
                name = d[start:d.index(b"\0", start)]
            else:
                name = raw.rstrip(b"\0")
            if name.startswith(prefix) and section > 0:
                out.append(self.sections[section - 1][1] + value)
            i += 1 + aux
        return out

    def delay_imports(self):
        """(dll, [(name, slot value)]) of every delay-load descriptor. The
        descriptors are found through their symbols too: mingw-w64's linker
        leaves the directory entry empty."""
        found = set(self.symbol_values(b"__DELAY_IMPORT_DESCRIPTOR_")
                    + self.symbol_values(b"___DELAY_IMPORT_DESCRIPTOR_"))
        rva, size = self.directories[13]
        for at in range(rva, rva + size, 32):
            if self.u32(at + 4):
                found.add(at)
        out = []
        for at in sorted(found):
            attributes, name, _, iat, int_ = struct.unpack_from("<IIIII", self.data, self.offset(at))
            if attributes & 1 == 0:
                raise ValueError(f"delay descriptor at {at:#x} holds addresses, not RVAs")
            names = self.names(int_)
            out.append((self.text(name), [(n, self.slot(iat + i * self.pointer))
                                          for i, n in enumerate(names)]))
        return out

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return set()
        count, table = struct.unpack_from("<I4xI", self.data, self.offset(rva) + 24)
        return {self.text(self.u32(table + 4 * i)) for i in range(count)}


def check(path, system_dirs, exports_cache):
    pe = Pe(path)
    faults = []
    system = system_dirs[pe.wide]

    def exported(dll):
        key = (pe.wide, dll.lower())
        if key not in exports_cache:
            file = system / dll.lower()
            exports_cache[key] = Pe(file).exports() if file.exists() else None
        return exports_cache[key]

    def check_names(dll, names, how):
        known = exported(dll)
        if known is None:
            faults.append(f"{path}: {how} {dll}, which {system} does not hold")
            return
        for name in names:
            if name is not None and name not in known:
                faults.append(f"{path}: {how} {dll}!{name}, which that DLL does not export")

    for dll, names in pe.imports():
        check_names(dll, names, "imports")
    delayed = pe.delay_imports()
    for dll, slots in delayed:
        check_names(dll, [n for n, _ in slots], "delay-loads")
        for name, value in slots:
            if not pe.is_code(value):
                faults.append(f"{path}: the delay-load slot of {dll}!{name} holds {value:#x}, "
                              "not a load stub: the first call jumps there")
    summary = ", ".join(f"{dll} ({len(slots)})" for dll, slots in delayed) or "none"
    return faults, f"{path}: {'64' if pe.wide else '32'}-bit, delay-loads {summary}"


def main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    system_dirs = {False: Path(argv[1]), True: Path(argv[2])}
    cache = {}
    faults = []
    for path in argv[3:]:
        try:
            found, summary = check(path, system_dirs, cache)
        except (OSError, ValueError, struct.error) as error:
            found, summary = [f"{path}: cannot read: {error}"], None
        faults += found
        if summary:
            print(summary)
    for fault in faults:
        print(fault, file=sys.stderr)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
