# The compression codec: CRC-32, inflate, deflate.
orv_library(zip_codec crc32.cpp inflate.cpp deflate.cpp)
target_link_libraries(zip_codec PUBLIC support)
