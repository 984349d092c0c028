# zlib compresses the FlateDecode metadata fixtures (test-only).
find_package(ZLIB REQUIRED)
target_link_libraries(${ZYK_TEST_TARGET} PRIVATE ZLIB::ZLIB)
