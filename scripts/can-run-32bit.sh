# Sourced by the scripts beside it.
#
# Can this machine execute a 32-bit x86 program? Assembles and runs the
# smallest one that exits with status 0 (binutils comes with g++).
can_run_32bit() {
  local dir status=1
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/p.s"
  if as --32 -o "$dir/p.o" "$dir/p.s" 2>/dev/null && ld -m elf_i386 -o "$dir/p" "$dir/p.o" 2>/dev/null; then
    "$dir/p" 2>/dev/null && status=0
  fi
  rm -rf "$dir"
  return $status
}
