# The real-time sanitizer build: clang's rtsan runtime linked into every
# executable. The compiler of this toolchain cannot instrument by itself, so
# host/ marks the audio calls real-time by hand (see host/realtime_section.h);
# inside them the runtime reports any allocation, free, lock or blocking call
# and stops the program.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.rtsan-x86_64.a
                OUTPUT_VARIABLE QUORVEL_RTSAN_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT IS_ABSOLUTE "${QUORVEL_RTSAN_RUNTIME}" OR NOT EXISTS "${QUORVEL_RTSAN_RUNTIME}")
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no rtsan runtime: install libclang-rt-19-dev")
endif()
add_compile_definitions(QUORVEL_RTSAN=1)
string(APPEND CMAKE_EXE_LINKER_FLAGS
       " -Wl,--whole-archive ${QUORVEL_RTSAN_RUNTIME} -Wl,--no-whole-archive -lpthread -ldl -lrt")
