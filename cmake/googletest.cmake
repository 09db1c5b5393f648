# GoogleTest is built from the sources Debian's googletest package installs,
# so every target (64-bit, 32-bit, Windows) gets a matching library.
set(QUORVEL_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
if(NOT EXISTS ${QUORVEL_GTEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found at ${QUORVEL_GTEST_SOURCE}; install Debian's googletest package")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${QUORVEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT MSVC)
  target_compile_options(gtest PRIVATE -msse2 -mfpmath=sse)
  target_compile_options(gtest_main PRIVATE -msse2 -mfpmath=sse)
endif()

# One test program is one CTest test (one wine process under the emulator);
# each writes its case counts where scripts/test sums them.
function(quorvel_add_test_program name)
  # A relative report path: a Windows program under wine cannot take a Unix one.
  add_test(NAME ${name} COMMAND ${name} --gtest_output=xml:results/${name}.xml
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES TIMEOUT 900)
  # The module's thread tests race an audio thread against close on two
  # cores: they run alone. The longest of the others starts first.
  if(name STREQUAL "module_tests")
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  elseif(name STREQUAL "matrix_tests")
    set_tests_properties(${name} PROPERTIES COST 1000)
  endif()
endfunction()
