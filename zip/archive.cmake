# The zip format: reader, writer, entry encryption, extraction.
orv_library(zip zip_reader.cpp zip_writer.cpp zip_crypto.cpp zip_extract.cpp)
target_link_libraries(zip PUBLIC zip_codec crypto)

orv_unit_test(zip_format_test SOURCES zip_format_test.cpp zip_crypto_test.cpp LIBS zip support_testing)
orv_unit_test(zip_extract_test SOURCES zip_extract_test.cpp LIBS zip support_testing)
orv_unit_test(zip_source_test SOURCES zip_source_test.cpp LIBS zip support_testing)
