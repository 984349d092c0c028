# zlib is the oracle of the compression tests (test-only; the library itself
# uses nothing but the C++ standard library).
find_package(ZLIB REQUIRED)
target_link_libraries(${ZYK_TEST_TARGET} PRIVATE ZLIB::ZLIB)
