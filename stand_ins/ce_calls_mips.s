# The CE stand-in's calls on MIPS (ce_calls.h), o32 as CE's MIPS calling convention is for what
# passes here. A caller always reserves 16 bytes at the bottom of its frame for the callee's a0-a3,
# and a CE-built callee may store them there; GCC's callees here do not, so an image that forgot the
# area would pass. Each function the stand-in exports is therefore entered through a stub that
# stores a0-a3 there first, as such a callee may: an image without the area then has its own frame
# overwritten, and fails here as it would on a device.
    .set noreorder
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
CallOnStack:
    addiu $sp, $sp, -48
    sw $ra, 44($sp)
    sw $fp, 40($sp)
    sw $s7, 36($sp)
    sw $s6, 32($sp)
    sw $s5, 28($sp)
    sw $s4, 24($sp)
    sw $s3, 20($sp)
    sw $s2, 16($sp)
    sw $s1, 12($sp)
    sw $s0, 8($sp)
    lui $t0, %hi(caller_sp)
    sw $sp, %lo(caller_sp)($t0)
    li $t1, -8
    and $t1, $a2, $t1           # CE's MIPS stack is 8-byte aligned
    addiu $t1, $t1, -16         # the entry's home area, which its caller reserves
    lui $t0, %hi(entry_sp)
    sw $t1, %lo(entry_sp)($t0)
    move $t9, $a0
    lw $a0, 0($a1)
    lw $a2, 8($a1)
    lw $a3, 12($a1)
    lw $a1, 4($a1)
    move $sp, $t1
    # What the entry must preserve, marked so that a change shows.
    .irp reg, s0, s1, s2, s3, s4, s5, s6, s7, fp
    li $\reg, 0x5EED0000
    .endr
    jalr $t9
    nop
    lui $t0, %hi(entry_sp)
    lw $t1, %lo(entry_sp)($t0)
    xor $t2, $sp, $t1
    li $t3, 0x5EED0000
    .irp reg, s0, s1, s2, s3, s4, s5, s6, s7, fp
    xor $t4, $\reg, $t3
    or $t2, $t2, $t4
    .endr
    sltu $t2, $zero, $t2
    lui $t0, %hi(EntryBrokeConvention)
    sw $t2, %lo(EntryBrokeConvention)($t0)
    lui $t0, %hi(caller_sp)
    lw $sp, %lo(caller_sp)($t0)
    lw $s0, 8($sp)
    lw $s1, 12($sp)
    lw $s2, 16($sp)
    lw $s3, 20($sp)
    lw $s4, 24($sp)
    lw $s5, 28($sp)
    lw $s6, 32($sp)
    lw $s7, 36($sp)
    lw $fp, 40($sp)
    lw $ra, 44($sp)
    jr $ra
    addiu $sp, $sp, 48

    .balign 4
    .global CeCallee
    .type CeCallee, @function
CeCallee:
    lui $t0, %hi(callee_count)
    lw $t1, %lo(callee_count)($t0)
    sltiu $t2, $t1, 8
    beqz $t2, 1f
    move $v0, $zero
    addiu $t2, $t1, 1
    sw $t2, %lo(callee_count)($t0)
    lui $t3, %hi(callee_functions)
    addiu $t3, $t3, %lo(callee_functions)
    sll $t2, $t1, 2
    addu $t3, $t3, $t2
    sw $a0, 0($t3)
    lui $v0, %hi(callee_stubs)
    addiu $v0, $v0, %lo(callee_stubs)
    sll $t2, $t1, 5             # 8 instructions a stub
    addu $v0, $v0, $t2
1:  jr $ra
    nop

    .balign 32
callee_stubs:
    .irp slot, 0, 1, 2, 3, 4, 5, 6, 7
    sw $a0, 0($sp)
    sw $a1, 4($sp)
    sw $a2, 8($sp)
    sw $a3, 12($sp)
    lui $t9, %hi(callee_functions + 4 * \slot)
    lw $t9, %lo(callee_functions + 4 * \slot)($t9)
    jr $t9
    nop
    .endr
