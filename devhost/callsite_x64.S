// gearloft simulated game: the game's own call of CDatabase::ExecuteQuery, in machine code, with the
// global that holds the database. Each call site sits alone in its own page so the game can make that
// page non-executable or scramble it (packed code) without touching any other code.
//
// void* gearloft_devhost_call_site(void* frame)   (Windows x64 convention on every platform)
//   frame + 0: the 8-byte result slot; frame + 8: the NUL-terminated statement text.
//   Returns the result the call left in the slot.
// gearloft_devhost_second_call_site is the same code loading gearloft_devhost_second_database.
//
// The bytes from the first movq to the testq are what the bridge's signature matches:
// 48 8B 0D ? ? ? ? 48 8B 01 4C 8D 45 ? 48 8D 55 ? FF 50 48 90 48 8B 4D ? 48 85 C9.

#if defined(__ELF__)
#define FUNCTION_BEGIN(name) .type name, @function; name: .cfi_startproc
#define PUSH_RBP push %rbp; .cfi_adjust_cfa_offset 8; .cfi_rel_offset %rbp, 0
#define ALLOC_SHADOW sub $32, %rsp; .cfi_adjust_cfa_offset 32
#define END_PROLOGUE
#define FUNCTION_END(name) .cfi_endproc; .size name, .-name
#else
#define FUNCTION_BEGIN(name) .def name; .scl 2; .type 32; .endef; name: .seh_proc name
#define PUSH_RBP push %rbp; .seh_pushreg %rbp
#define ALLOC_SHADOW sub $32, %rsp; .seh_stackalloc 32
#define END_PROLOGUE .seh_endprologue
#define FUNCTION_END(name) .seh_endproc
#endif

#if defined(__ELF__)
  .section .text.gearloft_call_site, "ax", @progbits
#else
  .section .text$gearloft_call_site, "xr"
#endif
  .p2align 12
  .globl gearloft_devhost_call_site
FUNCTION_BEGIN(gearloft_devhost_call_site)
  PUSH_RBP
  ALLOC_SHADOW
  END_PROLOGUE
  mov %rcx, %rbp                /* the caller's frame */
  movq gearloft_devhost_database(%rip), %rcx  /* 48 8B 0D disp32  mov rcx, [rip+disp32]: the CDatabase object */
  movq (%rcx), %rax             /* 48 8B 01          mov rax, [rcx]: its virtual table */
  leaq 8(%rbp), %r8             /* 4C 8D 45 08       lea r8, [rbp+8]: the statement text */
  leaq 0(%rbp), %rdx            /* 48 8D 55 00       lea rdx, [rbp+0]: the result slot */
  call *0x48(%rax)              /* FF 50 48          call [rax+0x48]: ExecuteQuery */
  nop                           /* 90 */
  movq 0(%rbp), %rcx            /* 48 8B 4D 00       mov rcx, [rbp+0]: the result */
  testq %rcx, %rcx              /* 48 85 C9          test rcx, rcx */
  mov %rcx, %rax
  add $32, %rsp
  pop %rbp
  ret
FUNCTION_END(gearloft_devhost_call_site)
  .p2align 12, 0xCC             /* the rest of the page holds nothing else */

#if defined(__ELF__)
  .section .text.gearloft_second_call_site, "ax", @progbits
#else
  .section .text$gearloft_second_call_site, "xr"
#endif
  .p2align 12
  .globl gearloft_devhost_second_call_site
FUNCTION_BEGIN(gearloft_devhost_second_call_site)
  PUSH_RBP
  ALLOC_SHADOW
  END_PROLOGUE
  mov %rcx, %rbp                /* the caller's frame */
  movq gearloft_devhost_second_database(%rip), %rcx  /* 48 8B 0D disp32  mov rcx, [rip+disp32]: the CDatabase object */
  movq (%rcx), %rax             /* 48 8B 01          mov rax, [rcx]: its virtual table */
  leaq 8(%rbp), %r8             /* 4C 8D 45 08       lea r8, [rbp+8]: the statement text */
  leaq 0(%rbp), %rdx            /* 48 8D 55 00       lea rdx, [rbp+0]: the result slot */
  call *0x48(%rax)              /* FF 50 48          call [rax+0x48]: ExecuteQuery */
  nop                           /* 90 */
  movq 0(%rbp), %rcx            /* 48 8B 4D 00       mov rcx, [rbp+0]: the result */
  testq %rcx, %rcx              /* 48 85 C9          test rcx, rcx */
  mov %rcx, %rax
  add $32, %rsp
  pop %rbp
  ret
FUNCTION_END(gearloft_devhost_second_call_site)
  .p2align 12, 0xCC             /* the rest of the page holds nothing else */

// The globals, in the game's writable data. The second one is never filled.
  .data
  .p2align 3
  .globl gearloft_devhost_database
gearloft_devhost_database:
  .quad 0
  .globl gearloft_devhost_second_database
gearloft_devhost_second_database:
  .quad 0

#if defined(__ELF__)
  .section .note.GNU-stack, "", @progbits
#endif
