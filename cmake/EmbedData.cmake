# zyk_embed_file(<input file> <out var>)
# Generates a C++ source holding the file's bytes as an array, with no
# external tool: the conversion runs in CMake script mode at build time.
set(ZYK_EMBED_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/EmbedScript.cmake")

function(zyk_embed_file input out_var)
  get_filename_component(base "${input}" NAME)
  string(MAKE_C_IDENTIFIER "${base}" ident)
  set(out "${PROJECT_BINARY_DIR}/embedded/${ident}.cpp")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${out} -DIDENT=${ident} -P "${ZYK_EMBED_SCRIPT}"
    DEPENDS "${input}" "${ZYK_EMBED_SCRIPT}"
    COMMENT "Embedding ${base}"
    VERBATIM)
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()
