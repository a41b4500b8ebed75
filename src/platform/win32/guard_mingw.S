// gearloft platform layer, Windows with MinGW-w64: the one structured-exception guard GCC can offer.
// GCC has no __try, so this routine registers the C runtime's scope-table handler itself, exactly as a
// compiler-generated __try/__except(EXCEPTION_EXECUTE_HANDLER) frame would.

// int gearloft_guarded_invoke(void (*fn)(void*), void* context)
//   Calls fn(context); 1 when fn returned, 0 when any exception (access violation, RaiseException, a C++
//   throw) left it. The handler unwinds to .Lcaught, so nothing of fn's frames survives.
    .text
    .p2align 4
    .globl gearloft_guarded_invoke
    .def gearloft_guarded_invoke; .scl 2; .type 32; .endef
    .seh_proc gearloft_guarded_invoke
gearloft_guarded_invoke:
    // 32 bytes of home space for fn plus 8 to keep the stack 16-byte aligned at the call.
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    movq %rcx, %rax
    movq %rdx, %rcx
.Lguarded_begin:
    callq *%rax
    // The handler tests the return address against [begin, end): keep it inside the scope.
    nop
.Lguarded_end:
    movl $1, %eax
    addq $40, %rsp
    ret
.Lcaught:
    xorl %eax, %eax
    addq $40, %rsp
    ret
    .seh_handler __C_specific_handler, @except
    .seh_handlerdata
    // Scope table: one entry of begin, end, filter and target. A filter of 1 is
    // EXCEPTION_EXECUTE_HANDLER itself, so no filter function runs.
    .long 1
    .rva .Lguarded_begin
    .rva .Lguarded_end
    .long 1
    .rva .Lcaught
    .text
    .seh_endproc
