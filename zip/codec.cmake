# The compression codec: CRC-32, inflate, deflate.
orv_library(zip_codec crc32.cpp inflate.cpp deflate.cpp)
target_link_libraries(zip_codec PUBLIC support)

orv_unit_test(zip_codec_test SOURCES crc32_test.cpp inflate_test.cpp deflate_test.cpp LIBS zip_codec support_testing)

# zlib as an outside oracle: native test trees only, never linked into
# zip_codec.
if(ORVANTA_HUB)
  find_package(ZLIB)
  if(ZLIB_FOUND)
    orv_program(zip_codec_zlib_test deflate_zlib_test.cpp)
    target_link_libraries(zip_codec_zlib_test PRIVATE zip_codec ZLIB::ZLIB gtest_main)
    add_test(NAME unit.zip_codec_zlib_test COMMAND zip_codec_zlib_test)
    set_tests_properties(unit.zip_codec_zlib_test PROPERTIES LABELS "unit;interop" TIMEOUT 600)
  endif()
endif()
