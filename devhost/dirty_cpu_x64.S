// gearloft simulated game: a crash that leaves the CPU in a state the x64 convention says a caller never
// sees: the direction flag set, MXCSR rounding toward zero with flush-to-zero, the x87 unit at single
// precision. The fault unwinds with that state, and whoever catches it must put the caller's back.
//
// void gearloft_devhost_dirty_fault(volatile uint8_t* page)   (Windows x64 convention on every platform)
//   Sets the three, then stores into `page`, which must not be writable. Never returns. A leaf that
//   leaves RSP alone, so the unwinder needs no unwind data for it.

#if defined(__ELF__)
  .section .rodata
#else
  .section .rdata, "dr"
#endif
  .p2align 2
.Ldirty_mxcsr:
  .long 0xFF80                  /* all exceptions masked, RC = 11 (toward zero), FTZ */
.Ldirty_x87:
  .word 0x007F                  /* all exceptions masked, PC = 00 (24-bit single precision) */

  .text
  .p2align 4
  .globl gearloft_devhost_dirty_fault
#if defined(__ELF__)
  .type gearloft_devhost_dirty_fault, @function
#else
  .def gearloft_devhost_dirty_fault; .scl 2; .type 32; .endef
#endif
gearloft_devhost_dirty_fault:
  ldmxcsr .Ldirty_mxcsr(%rip)
  fldcw .Ldirty_x87(%rip)
  std
  movb $1, (%rcx)               /* the access violation */
  cld                           /* not reached */
  ret
#if defined(__ELF__)
  .size gearloft_devhost_dirty_fault, .-gearloft_devhost_dirty_fault
#endif

// uint64_t gearloft_devhost_cpu_state(void)
//   The caller's MXCSR in bits 0-31 (its sticky exception flags cleared), the x87 control word in bits
//   32-47 and the direction flag in bit 48. A leaf that uses the 8 bytes of home space above its return
//   address (its caller's to lend) as scratch.
  .p2align 4
  .globl gearloft_devhost_cpu_state
#if defined(__ELF__)
  .type gearloft_devhost_cpu_state, @function
#else
  .def gearloft_devhost_cpu_state; .scl 2; .type 32; .endef
#endif
gearloft_devhost_cpu_state:
  pushfq
  popq %rdx
  shrq $10, %rdx
  andq $1, %rdx
  shlq $48, %rdx                /* DF */
  fnstcw 8(%rsp)
  movzwq 8(%rsp), %rax
  shlq $32, %rax
  orq %rax, %rdx
  stmxcsr 8(%rsp)
  movl 8(%rsp), %eax
  andl $0xFFFFFFC0, %eax
  orq %rdx, %rax
  ret
#if defined(__ELF__)
  .size gearloft_devhost_cpu_state, .-gearloft_devhost_cpu_state
  .section .note.GNU-stack, "", @progbits
#endif
