# The zip format: reader, writer, entry encryption, extraction.
orv_library(zip zip_reader.cpp zip_writer.cpp zip_crypto.cpp zip_extract.cpp)
target_link_libraries(zip PUBLIC zip_codec crypto)
