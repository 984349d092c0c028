# zlib inflates the compressed metadata of part 2 outputs and compresses
# content fixtures (test-only; the library itself uses nothing but the C++
# standard library).
find_package(ZLIB REQUIRED)
target_link_libraries(${ZYK_TEST_TARGET} PRIVATE ZLIB::ZLIB)
# GCC 12 reports a false "maybe-uninitialized" inside libstdc++'s std::regex
# when the sanitizers are on; the tests read outputs with std::regex.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(${ZYK_TEST_TARGET} PRIVATE -Wno-maybe-uninitialized)
endif()
