@ The CE stand-in's calls on ARM (ce_calls.h). CE keeps the stack aligned to 4 bytes, not the 8 of
@ ARM Linux: the entry runs on the stack top it is given. GCC's calls are CE's for what the stand-in
@ exports, so an image calls its functions directly.
    .arm
    .syntax unified
    .section .note.GNU-stack, "", %progbits

    .bss
    .balign 4
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
    .type CallOnStack, %function
CallOnStack:
    push {r4-r11, lr}
    ldr ip, =caller_sp
    str sp, [ip]
    ldr ip, =entry_sp
    str r2, [ip]
    mov sp, r2
    mov ip, r0
    ldm r1, {r0-r3}
    @ What the entry must preserve, marked so that a change shows.
    .irp reg, r4, r5, r6, r7, r8, r9, r10, r11
    ldr \reg, =0x5EED0000
    .endr
    blx ip
    ldr ip, =entry_sp
    ldr ip, [ip]
    subs ip, sp, ip
    ldr lr, =0x5EED0000
    .irp reg, r4, r5, r6, r7, r8, r9, r10, r11
    cmpeq \reg, lr
    .endr
    movne ip, #1
    ldr lr, =EntryBrokeConvention
    str ip, [lr]
    ldr ip, =caller_sp
    ldr sp, [ip]
    pop {r4-r11, pc}

    .balign 4
    .global CeCallee
    .type CeCallee, %function
CeCallee:
    bx lr
    .ltorg
