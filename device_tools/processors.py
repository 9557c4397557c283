#!/usr/bin/python3
"""The device processors, one row each: every fact the device side needs about a processor, read by
the image writer, the CAB writer, the device build, the device README and scripts/run.

  processors.py cmake     the rows as CMake variables, for the device build to include
  processors.py images    the images' names, one a line: each processor's, and PROCESSOR-HiRes
  processors.py family NAME | runner NAME | cab-processor NAME
                          processor NAME's family; the command that runs its family's programs
                          here, a word a line; the processor type its CAB names
  processors.py readme-cabs PREFIX
                          the device README.txt's paragraph for each CAB, PREFIXNAME.cab
  processors.py readme-table
                          the README's table of which device takes which CAB

A processor is a row of PROCESSORS; what its family does differently (its toolchain, the ELF
sections and relocations its links hold) is a row of FAMILIES. What is code rather than a fact stays
beside the code: the stand-in's calls into an image and back, stand_ins/ce_calls_FAMILY.s, and how
the loader applies each base relocation kind, stand_ins/ce_loader.cpp.
"""
import sys
from dataclasses import dataclass


@dataclass(frozen=True)
class Family:
    """What the processors of one instruction-set family share: one GCC and one Linux stand-in."""
    toolchain: str  # the GNU target whose GCC compiles the images and the stand-in
    elf_machine: int  # e_machine of that GCC's links
    unloaded_sections: frozenset  # sections of its links that hold nothing a CE image loads
    # ELF relocation kind of a word holding an address -> the PE base relocation kind that moves it
    relocations: dict
    position_independent: frozenset  # ELF kinds that are right at any base
    runner: tuple  # runs the family's Linux programs here
    # Its Linux programs cannot use Debian's C library here, so the CE stand-in brings the little of
    # a runtime it uses, stand_ins/runtime_FAMILY.cpp.
    freestanding: bool = False


@dataclass(frozen=True)
class Processor:
    name: str  # CE's name for it: the image's folder and the CAB's suffix
    family: str
    compile: tuple  # GCC's options for its instruction set and calling convention
    machine: int  # the PE header's
    thunk_preamble: tuple  # assembler directives before the import thunks
    # An import thunk's assembly, after its label, from the import's symbol and Shape: it makes the
    # program's call through the slot __imp_SYMBOL.
    thunk: object
    cab_processor: int  # the processor type a CAB names, which the device's installer compares
    ce_versions: tuple  # the CE versions its CAB admits, (major, minor) from and to
    setup_xml: bool  # its CAB also holds _setup.xml, for Windows Mobile 5 and later
    hi_res_image: bool  # it also has an image declared high-resolution aware
    systems: str  # the devices it serves, for the README tables
    systems_ce: str  # the CE versions of those devices
    readme: str  # its CAB's paragraph in the device README.txt


@dataclass(frozen=True)
class Shape:
    """An imported function's call as CE passes it: the 32-bit words of its arguments (a variadic
    function's: the most the program passes it), and whether it returns a record through a hidden
    pointer."""
    words: int
    returns_record: bool = False


def fixed_thunk(*lines):
    """A thunk that is the same for every import: lines in which {symbol} is the import's."""
    return lambda symbol, shape: [line.format(symbol=symbol) for line in lines]


# ELF relocation kinds (each architecture's ELF supplement) and PE base relocation kinds (Microsoft's
# PE format, .reloc).
HIGHLOW, LOW, HIGHADJ, MIPS_JMPADDR = 3, 2, 4, 5
R_ARM_ABS32, R_ARM_CALL, R_ARM_JUMP24, R_ARM_V4BX = 2, 28, 29, 40
R_MIPS_32, R_MIPS_26, R_MIPS_HI16, R_MIPS_LO16 = 2, 4, 5, 6
R_SH_DIR32 = 1

FAMILIES = {
    # R_ARM_CALL and R_ARM_JUMP24 are relative to the code itself; R_ARM_V4BX marks a bx for linkers
    # of ARMv4 code.
    "arm": Family("arm-linux-gnueabi", 40, frozenset({".ARM.attributes"}), {R_ARM_ABS32: HIGHLOW}, frozenset({R_ARM_CALL, R_ARM_JUMP24, R_ARM_V4BX}),
                  ("qemu-arm", "-L", "/usr/arm-linux-gnueabi")),
    # A lui's HI16 becomes a HIGHADJ, which carries the low half of its address from the LO16 that
    # completes it; j and jal keep the top 4 bits of their own address, so an image must lie within
    # one 256 MiB region wherever it is placed. .pdr describes each function's frame for a debugger;
    # .mdebug.abi32 and .gnu.attributes, the ABI.
    "mips": Family("mipsel-linux-gnu", 8, frozenset({".pdr", ".mdebug.abi32", ".gnu.attributes"}),
                   {R_MIPS_32: HIGHLOW, R_MIPS_26: MIPS_JMPADDR, R_MIPS_HI16: HIGHADJ, R_MIPS_LO16: LOW},
                   frozenset(), ("qemu-mipsel", "-L", "/usr/mipsel-linux-gnu")),
    # A literal pool's word holds each address. GNU ld writes RELA relocations whose addend is 0 and
    # the address itself into the word, as its SH relocations always kept their addend in place.
    # Debian's C library for SH does not start under qemu-sh4.
    "sh": Family("sh4-linux-gnu", 42, frozenset(), {R_SH_DIR32: HIGHLOW}, frozenset(), ("qemu-sh4",), True),
}

def sh3_thunk(symbol, shape):
    """GCC's SH call made CE's SH-3 call. GCC passes arguments in R4-R7 and then at the stack pointer,
    and a record's address in R2. CE passes them in R4-R7 and then after a 16-byte home area that the
    caller always reserves and the callee may write, and a record's address first, in R4, shifting the
    others by one. The thunk saves PR, reserves the home area and the arguments past R4-R7, copies
    those from GCC's place (past the saved PR) to CE's, and calls through the slot. Both conventions
    preserve R8-R14 and give an int back in R0; neither expects MACH or MACL kept."""
    words = int(shape.returns_record) + shape.words  # CE's arguments
    frame = 16 + 4 * max(words - 4, 0)
    lines = ["sts.l pr, @-r15", f"add #-{frame}, r15"]
    for ce_word in range(4, words):
        gcc_word = ce_word - int(shape.returns_record)
        if gcc_word < 4:  # R7, pushed out of the registers by the record's address
            lines.append(f"mov.l r{4 + gcc_word}, @({4 * ce_word}, r15)")
        else:
            lines += [f"mov.l @({frame + 4 + 4 * (gcc_word - 4)}, r15), r1", f"mov.l r1, @({4 * ce_word}, r15)"]
    if shape.returns_record:
        lines += [f"mov r{4 + word}, r{5 + word}" for word in reversed(range(min(shape.words, 3)))]
        lines.append("mov r2, r4")
    return lines + [f"mov.l .Lslot_{symbol}, r0", "mov.l @r0, r0", "jsr @r0", "nop", f"add #{frame}, r15",
                    "lds.l @r15+, pr", "rts", "nop", ".balign 4", f".Lslot_{symbol}: .long __imp_{symbol}"]


# For what this program passes, GCC's ARM EABI calls are CE's ARM calls: arguments in r0-r3 then on
# the stack, r4-r11 preserved, ints and pointers in one register, the 24-byte GXDisplayProperties
# returned in memory the caller provides with its address in r0, wchar_t 16 bits wide (-fshort-wchar).
# Where the two differ, nothing here is affected: EABI aligns 64-bit arguments to an even register
# pair and the stack to 8 bytes at calls, and this program passes no 64-bit value and keeps nothing
# 8-byte aligned on the stack (ARMv4 has no doubleword load).
ARM_STATE = (".arm", ".syntax unified")
ARM_THUNK_SLOT = ("ldr ip, .Lslot_{symbol}",)
ARM_SLOT = (".Lslot_{symbol}: .word __imp_{symbol}",)
PROCESSORS = [
    # ARMv4 code, machine ARM: StrongARM has neither Thumb nor bx, so the thunk loads pc.
    Processor("ARMV4", "arm", ("-march=armv4",), 0x01C0, (".arch armv4", *ARM_STATE), fixed_thunk(*ARM_THUNK_SLOT, "ldr pc, [ip]", *ARM_SLOT),
              2577, ((3, 0), (4, 19)), False, False,
              "Pocket PC 2000, Pocket PC 2002 (StrongARM, XScale)", "3.0",
              "For Windows CE 3.0 devices: Pocket PC 2000 and Pocket PC 2002, on StrongARM or XScale."),
    # ARMv4T code that interworks with Thumb, machine THUMB: from CE 4.20 (Windows Mobile 2003) the
    # system's entry points may be Thumb code, entered with bx.
    Processor("ARMV4I", "arm", ("-march=armv4t",), 0x01C2, (".arch armv4t", *ARM_STATE), fixed_thunk(*ARM_THUNK_SLOT, "ldr ip, [ip]", "bx ip", *ARM_SLOT),
              2577, ((4, 20), (6, 99)), True, True,
              "Windows Mobile 2003 and Second Edition, 5.0, 6 to 6.5 (XScale, ARM9, ARM11)", "4.20 to 5.2",
              "For Windows CE 4.20 and later: Windows Mobile 2003, 2003 Second Edition, 5.0 and 6, on\n"
              "    XScale, ARM9 or ARM11. It installs two programs: Display Diagnostics, and Display\n"
              "    Diagnostics (high resolution), the same program declared high-resolution aware, which\n"
              "    makes a difference only on a high-resolution (VGA) device: see below."),
    # MIPS II, 32-bit, little-endian, no FPU: the NEC VR41xx of the MIPS Pocket PCs (Microsoft's MIPSII
    # target). For what this program passes, CE's MIPS calling convention is o32's: a0-a3 then the stack
    # after a 16-byte home area the caller reserves, variadic arguments in integer registers, a struct
    # returned through a hidden pointer in a0 that comes back in v0, s0-s7 preserved. They could differ
    # in what GCC's o32 assumes of $gp and of floating-point registers, and this code, built without
    # small data (-G0) and with soft float, uses neither. The thunk jumps through $t9, as CE code
    # expects. The CAB names PROCESSOR_MIPS_R4000, which also matches the MIPS-3000-class CE 2.x
    # palm-size devices that cannot run MIPS II code: hence CE 3.0 at least, always. No upper limit
    # worth keeping: every later CE on MIPS runs MIPS II code.
    Processor("MIPS", "mips", ("-march=mips2", "-mabi=32", "-msoft-float", "-mno-abicalls", "-G0"), 0x0166,
              (".set mips2", ".set noreorder"),
              fixed_thunk("lui $t9, %hi(__imp_{symbol})", "lw $t9, %lo(__imp_{symbol})($t9)", "jr $t9", "nop"),
              4000, ((3, 0), (6, 99)), False, False,
              "Pocket PC 2000 on MIPS (Casio Cassiopeia E-105, E-115, E-125, EM-500; NEC VR41xx)", "3.0",
              "For Windows CE 3.0 devices on MIPS: Pocket PC 2000 on the Casio Cassiopeia E-105, E-115,\n"
              "    E-125 and EM-500, and other handhelds on an NEC VR4111, VR4121 or VR4122."),
    # SH-3, little-endian, without the FPU that SH-4 added: the Hitachi SH7709A of the HP Jornada 540
    # series (Microsoft's SH3 target). Debian's GCC for SH starts at SH-4; -m4-nofpu without the FPU
    # emits what SH-3 runs, which the image check holds it to. GCC's calls are not CE's (see
    # sh3_thunk). The CAB names PROCESSOR_HITACHI_SH3, as the Pocket PC 2000 SH3 CABs do; CE 5.0
    # dropped SH-3, so no such device runs a CE later than 4.x.
    Processor("SH3", "sh", ("-ml", "-m4-nofpu"), 0x01A2, (".little",), sh3_thunk,
              10003, ((3, 0), (4, 99)), False, False,
              "Pocket PC 2000 on SH-3 (HP Jornada 540 series: 545, 547, 548, 549)", "3.0",
              "For Windows CE 3.0 devices on SH-3: Pocket PC 2000 on the HP Jornada 540 series (545, 547,\n"
              "    548 and 549), whose processor is a Hitachi SH7709A."),
]
BY_NAME = {processor.name: processor for processor in PROCESSORS}


def family(processor):
    return FAMILIES[processor.family]


def cmake():
    """The rows as CMake lists: device_processors, and per processor NAME_family, NAME_compile,
    NAME_hi_res_image; per family FAMILY_toolchain, FAMILY_runner, FAMILY_machines,
    FAMILY_relocations (the PE base relocation kinds its images hold) and FAMILY_freestanding."""
    def quoted(words):
        return " ".join('"%s"' % word.replace("\\", "\\\\").replace('"', '\\"') for word in words)

    lines = [f"set(device_processors {quoted(p.name for p in PROCESSORS)})",
             f"set(device_families {quoted(dict.fromkeys(p.family for p in PROCESSORS))})"]
    for p in PROCESSORS:
        lines += [f"set({p.name}_family {p.family})", f"set({p.name}_compile {quoted(p.compile)})",
                  f"set({p.name}_hi_res_image {int(p.hi_res_image)})"]
    for name, f in FAMILIES.items():
        machines = ",".join(f"0x{p.machine:04X}" for p in PROCESSORS if p.family == name)
        kinds = ",".join(map(str, sorted(set(f.relocations.values()))))
        lines += [f"set({name}_toolchain {f.toolchain})", f"set({name}_runner {quoted(f.runner)})",
                  f"set({name}_machines {machines})", f"set({name}_relocations {kinds})",
                  f"set({name}_freestanding {int(f.freestanding)})"]
    return "\n".join(lines) + "\n"


def readme_cabs(prefix):
    return "\n\n".join(f"{prefix}{p.name}.cab\n    {p.readme}" for p in PROCESSORS)


def readme_table():
    rows = ["| your device | Windows CE | install | or copy and tap |", "| --- | --- | --- | --- |"]
    rows += [f"| {p.systems} | {p.systems_ce} | `…-{p.name}.cab` | `{p.name}\\DisplayDiagnostics.exe` |"
             for p in PROCESSORS]
    return "\n".join(rows)


def main(args):
    if args == ["cmake"]:
        sys.stdout.write(cmake())
    elif len(args) == 2 and args[0] == "readme-cabs":
        print(readme_cabs(args[1]))
    elif args == ["readme-table"]:
        print(readme_table())
    elif args == ["images"]:
        print("\n".join(p.name + suffix for p in PROCESSORS for suffix in ["", "-HiRes"][:1 + p.hi_res_image]))
    elif len(args) == 2 and args[1] in BY_NAME and args[0] in ("family", "runner", "cab-processor"):
        processor = BY_NAME[args[1]]
        print({"family": processor.family, "runner": "\n".join(family(processor).runner),
               "cab-processor": processor.cab_processor}[args[0]])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
