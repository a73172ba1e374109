# Hardening of everything built for an ELF platform: stack protector,
# _FORTIFY_SOURCE (optimised builds), control-flow protection where the
# compiler offers it, full RELRO with immediate binding, and a
# non-executable stack. Off under sanitizers, whose runtimes bring their own
# checks, and for packagers who supply these flags themselves (Debian's
# dpkg-buildflags): -DKELDO_HARDENING=OFF.
option(KELDO_HARDENING "Build with stack protector, _FORTIFY_SOURCE, CET and full RELRO" ON)

if(KELDO_HARDENING AND NOT KELDO_SANITIZE AND UNIX AND NOT APPLE
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckCXXCompilerFlag)
  add_compile_options(-fstack-protector-strong)
  # Fortification needs the optimiser; some compilers define it already
  # (Ubuntu's at level 3), so replace rather than redefine.
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  check_cxx_compiler_flag(-fcf-protection KELDO_HAVE_CF_PROTECTION)
  if(KELDO_HAVE_CF_PROTECTION)
    add_compile_options(-fcf-protection)
  endif()
  add_link_options(LINKER:-z,relro LINKER:-z,now LINKER:-z,noexecstack)
  set(KELDO_HARDENED ON)
else()
  set(KELDO_HARDENED OFF)
endif()
