# Sourced by the scripts that build or test: the two target architectures and their folders.
#   ARCHS          the architectures to work on, in order (default: "x64 x86")
#   BUILD_DIR      the x64 build folder (default: build in the repository)
#   arch_build_dir ARCH   that architecture's build folder: BUILD_DIR for x64, BUILD_DIR-x86 beside it
#   arch_toolchain ARCH   the CMake toolchain file of that architecture
# Needs root set to the repository.

ARCHS=${ARCHS:-"x64 x86"}
export BUILD_DIR=${BUILD_DIR:-$root/build}

arch_build_dir() {
  case $1 in
    x64) echo "$BUILD_DIR" ;;
    x86) echo "$BUILD_DIR-x86" ;;
    *) echo "unknown architecture '$1' (x64 or x86)" >&2; return 1 ;;
  esac
}

arch_toolchain() {
  case $1 in
    x64) echo "$root/cmake/toolchain-mingw64.cmake" ;;
    x86) echo "$root/cmake/toolchain-mingw32.cmake" ;;
    *) echo "unknown architecture '$1' (x64 or x86)" >&2; return 1 ;;
  esac
}

# Succeeds when this machine runs 32-bit x86 Linux programs, which Wine's 32-bit half (wine32)
# needs. Some kernels are built or booted without IA-32 emulation; there wine32 cannot start,
# and installing it would break the wine command for 64-bit programs too. The probe is a minimal
# 32-bit program that only exits with 0.
can_run_32bit() {
  local probe
  probe=$(mktemp "${TMPDIR:-/tmp}/probe32.XXXXXX")
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'`
        `'\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00'`
        `'\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'`
        `'\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'`
        `'\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod +x "$probe"
  local rc=0
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  return $rc
}
