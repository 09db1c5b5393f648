# Warnings for the project's own targets, and true IEEE doubles on 32-bit x86:
# SSE2 arithmetic, never the x87 extended precision.
add_library(quorvel_options INTERFACE)
target_compile_options(quorvel_options INTERFACE -Wall -Wextra)
# The engine's own mathematics relies on every product and sum rounded alone.
target_compile_options(quorvel_options INTERFACE -ffp-contract=off)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "i.86|x86|X86|AMD64|x86_64")
  target_compile_options(quorvel_options INTERFACE -msse2 -mfpmath=sse)
endif()
if(WIN32)
  # The module must need nothing but Windows system DLLs.
  target_link_options(quorvel_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
