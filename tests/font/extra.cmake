# LittleCMS serves the colour tests as an independent ICC reader. It is a
# test-only dependency: without it the tests that need it skip.
find_path(ZYK_LCMS2_INCLUDE lcms2.h)
find_library(ZYK_LCMS2_LIBRARY lcms2)
if(ZYK_LCMS2_INCLUDE AND ZYK_LCMS2_LIBRARY)
  target_include_directories(${ZYK_TEST_TARGET} PRIVATE "${ZYK_LCMS2_INCLUDE}")
  target_link_libraries(${ZYK_TEST_TARGET} PRIVATE "${ZYK_LCMS2_LIBRARY}")
  target_compile_definitions(${ZYK_TEST_TARGET} PRIVATE ZYK_HAVE_LCMS2=1)
endif()
# FreeType loads the font subsets as an independent TrueType reader (outline
# point counts, composite components). Test-only; without it those tests skip.
find_package(Freetype QUIET)
if(FREETYPE_FOUND)
  target_link_libraries(${ZYK_TEST_TARGET} PRIVATE Freetype::Freetype)
  target_compile_definitions(${ZYK_TEST_TARGET} PRIVATE ZYK_HAVE_FREETYPE=1)
endif()
