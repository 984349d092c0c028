# The command-line tests drive the built program itself.
if(TARGET zyk-pdfa)
  target_compile_definitions(${ZYK_TEST_TARGET} PRIVATE ZYK_CLI="$<TARGET_FILE:zyk-pdfa>")
  add_dependencies(${ZYK_TEST_TARGET} zyk-pdfa)
else()
  target_compile_definitions(${ZYK_TEST_TARGET} PRIVATE ZYK_CLI="")
endif()
# The install test installs this build tree into a temporary prefix.
target_compile_definitions(${ZYK_TEST_TARGET} PRIVATE ZYK_BUILD_DIR="${PROJECT_BINARY_DIR}")
