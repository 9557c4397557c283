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

    .text
    .balign 4
    .global CallOnStack
    .type CallOnStack, @function
CallOnStack:
    addiu $sp, $sp, -8
    sw $ra, 4($sp)
    sw $s0, 0($sp)
    move $s0, $sp
    li $t0, -8
    and $sp, $a2, $t0           # CE's MIPS stack is 8-byte aligned
    addiu $sp, $sp, -16         # the entry's home area, which its caller reserves
    move $t9, $a0
    lw $a0, 0($a1)
    lw $a2, 8($a1)
    lw $a3, 12($a1)
    jalr $t9
    lw $a1, 4($a1)
    move $sp, $s0
    lw $s0, 0($sp)
    lw $ra, 4($sp)
    jr $ra
    addiu $sp, $sp, 8

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
