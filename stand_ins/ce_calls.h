// The calls between the CE stand-in and an image, as the processor's CE makes them: one assembly file
// a processor family, ce_calls_FAMILY.s.
#pragma once

#include <cstdint>

extern "C"
{

// Calls entry with the four arguments on the stack that starts at or below stackTop, aligned as CE
// aligns a program's stack on this processor, and returns what the entry returns. It sets
// EntryBrokeConvention to 1 if the entry returned with another stack pointer or changed a register
// the calling convention preserves, else to 0.
int CallOnStack(std::uintptr_t entry, const std::uintptr_t *arguments, void *stackTop);
extern int EntryBrokeConvention; // NOLINT(readability-identifier-naming): the assembly's name

// What an image calls in place of the stand-in's function: the function itself where GCC's calling
// convention is CE's, or a stub that does first what a CE-built callee may do to its caller's frame
// (0 when the stubs are used up).
std::uintptr_t CeCallee(std::uintptr_t function);
}
