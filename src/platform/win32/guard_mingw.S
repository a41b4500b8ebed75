// gearloft platform layer, Windows with MinGW-w64: the one structured-exception guard GCC can offer.
// GCC has no __try, so this routine registers the C runtime's scope-table handler itself, exactly as a
// compiler-generated __try/__except(filter) frame would.

// int gearloft_guarded_invoke(void (*fn)(void*), void* context, GuardFault* fault)
//   Calls fn(context); 1 when fn returned, 0 when any exception (access violation, RaiseException, a C++
//   throw) left it. The filter (gearloft_guard_filter, guard.cpp) writes the exception's code and address
//   into *fault and accepts every exception; the handler then unwinds to .Lcaught, so nothing of fn's
//   frames survives.
//
// Frame after the prologue (the establisher frame the filter is handed):
//   0..31   home space for fn
//   32      the GuardFault pointer, for the filter
//   40      MXCSR at entry
//   44      x87 control word at entry
//   48..55  padding: entry RSP is 8 off a 16-byte boundary, so 56 bytes align the call
    .text
    .p2align 4
    .globl gearloft_guarded_invoke
    .def gearloft_guarded_invoke; .scl 2; .type 32; .endef
    .seh_proc gearloft_guarded_invoke
gearloft_guarded_invoke:
    subq $56, %rsp
    .seh_stackalloc 56
    .seh_endprologue
    movq %r8, 32(%rsp)
    // The unwind restores the CPU as it was when the fault struck; the x64 convention has the caller
    // expect these three as they were, so the landing puts back what they were here.
    stmxcsr 40(%rsp)
    fnstcw 44(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
.Lguarded_begin:
    callq *%rax
    // The handler tests the return address against [begin, end): keep it inside the scope.
    nop
.Lguarded_end:
    movl $1, %eax
    addq $56, %rsp
    ret
.Lcaught:
    cld
    ldmxcsr 40(%rsp)
    fldcw 44(%rsp)
    xorl %eax, %eax
    addq $56, %rsp
    ret
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    // Scope table: one entry of begin, end, filter and target.
    .long 1
    .rva .Lguarded_begin
    .rva .Lguarded_end
    .rva gearloft_guard_filter
    .rva .Lcaught
    .text
    .seh_endproc
