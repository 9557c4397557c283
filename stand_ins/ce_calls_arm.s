@ The CE stand-in's calls on ARM (ce_calls.h). CE keeps the stack aligned to 4 bytes, not the 8 of
@ ARM Linux: the entry runs on the stack top it is given. GCC's calls are CE's for what the stand-in
@ exports, so an image calls its functions directly.
    .text
    .arm
    .syntax unified
    .section .note.GNU-stack, "", %progbits
    .text

    .balign 4
    .global CallOnStack
    .type CallOnStack, %function
CallOnStack:
    push {r4, lr}
    mov r4, sp
    mov sp, r2
    mov ip, r0
    ldm r1, {r0-r3}
    blx ip
    mov sp, r4
    pop {r4, pc}

    .balign 4
    .global CeCallee
    .type CeCallee, %function
CeCallee:
    bx lr
