# The zip format: reader, writer, entry encryption, extraction.
