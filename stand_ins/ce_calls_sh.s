! The CE stand-in's calls on SH (ce_calls.h), as CE's SH-3 calling convention makes them. A caller
! passes R4-R7, then the stack after a 16-byte home area it always reserves; a CE-built callee may
! store R4-R7 there, and may change MACH and MACL. The stand-in's functions are built by GCC, whose
! callees find their fifth argument at the stack pointer and never touch the caller's frame. So each
! one is entered through a stub that first does what a CE-built callee may: an image whose calls
! reserve no home area then has its own frame overwritten, and fails here as it would on a device.
! The stub then gives the GCC function the caller's stack arguments where GCC expects them. A record
! comes back through an address the caller passes first, in R4, in both conventions alike when the
! function takes that address as its first argument, as the stand-in's GXGetDisplayProperties does.
    .little
    .section .note.GNU-stack, "", %progbits

    .bss
    .balign 4
callee_functions:
    .space 4 * 8
callee_count:
    .space 4
caller_sp:
    .space 4
entry_sp:
    .space 4
    .global EntryBrokeConvention
EntryBrokeConvention:
    .space 4

    .text
    .balign 4
    .global CallOnStack
    .type CallOnStack, @function
CallOnStack:                    ! R4 the entry, R5 its four arguments, R6 the stack top
    mov.l r8, @-r15
    mov.l r9, @-r15
    mov.l r10, @-r15
    mov.l r11, @-r15
    mov.l r12, @-r15
    mov.l r13, @-r15
    mov.l r14, @-r15
    sts.l pr, @-r15
    mov.l .Lcaller_sp, r1
    mov.l r15, @r1
    mov #-4, r1                 ! CE's SH stack is 4-byte aligned
    and r6, r1
    add #-16, r1                ! the entry's home area, which its caller reserves
    mov.l .Lentry_sp, r2
    mov.l r1, @r2
    mov r4, r3
    mov.l @(12, r5), r7
    mov.l @(8, r5), r6
    mov.l @r5, r4
    mov.l @(4, r5), r5
    mov r1, r15
    ! What the entry must preserve, marked so that a change shows.
    mov.l .Lmark, r8
    mov r8, r9
    mov r8, r10
    mov r8, r11
    mov r8, r12
    mov r8, r13
    mov r8, r14
    jsr @r3
    nop
    mov.l .Lentry_sp, r1
    mov.l @r1, r1
    mov r15, r2
    xor r1, r2
    mov.l .Lmark, r1
    .irp reg, r8, r9, r10, r11, r12, r13, r14
    mov \reg, r3
    xor r1, r3
    or r3, r2
    .endr
    tst r2, r2
    movt r2                     ! 1: all as they were
    mov #1, r3
    xor r3, r2
    mov.l .LEntryBrokeConvention, r1
    mov.l r2, @r1
    mov.l .Lcaller_sp, r1
    mov.l @r1, r15
    lds.l @r15+, pr
    mov.l @r15+, r14
    mov.l @r15+, r13
    mov.l @r15+, r12
    mov.l @r15+, r11
    mov.l @r15+, r10
    mov.l @r15+, r9
    rts
    mov.l @r15+, r8

    .balign 4
.Lcaller_sp: .long caller_sp
.Lentry_sp: .long entry_sp
.Lmark: .long 0x5EED0000
.LEntryBrokeConvention: .long EntryBrokeConvention

    .balign 4
    .global CeCallee
    .type CeCallee, @function
CeCallee:                       ! R4 the function; R0 its stub, or 0 when they are used up
    mov.l .Lcallee_count, r1
    mov.l @r1, r2
    mov #8, r3
    cmp/hs r3, r2
    bt.s 1f
    mov #0, r0
    mov r2, r3
    add #1, r3
    mov.l r3, @r1
    mov r2, r3
    shll2 r3
    mov.l .Lcallee_functions, r1
    add r3, r1
    mov.l r4, @r1
    shll2 r2
    shll2 r2
    shll r2                     ! 32 bytes a stub
    mov.l .Lcallee_stubs, r0
    add r2, r0
1:  rts
    nop

    .balign 4
.Lcallee_count: .long callee_count
.Lcallee_functions: .long callee_functions
.Lcallee_stubs: .long callee_stubs

! Entered with the caller's R4-R7 and its stack arguments at R15 + 16; R0 the function.
callee_common:
    clrmac                      ! MACH and MACL are not kept across a CE call
    sts.l pr, @-r15
    mov.l r8, @-r15
    mov r15, r8                 ! the caller's stack arguments are at R8 + 8 + 16
    add #-32, r15               ! as many words as any of the stand-in's functions takes there
    .irp word, 0, 4, 8, 12, 16, 20, 24, 28
    mov.l @(24 + \word, r8), r1
    mov.l r1, @(\word, r15)
    .endr
    jsr @r0
    nop
    mov r8, r15
    mov.l @r15+, r8
    lds.l @r15+, pr
    rts
    nop

    .balign 32
callee_stubs:
    .irp slot, 0, 1, 2, 3, 4, 5, 6, 7
    .balign 32
    mov.l r4, @r15
    mov.l r5, @(4, r15)
    mov.l r6, @(8, r15)
    mov.l r7, @(12, r15)
    mov.l 2f, r0
    bra callee_common
    mov.l @r0, r0
    .balign 4
2:  .long callee_functions + 4 * \slot
    .endr
