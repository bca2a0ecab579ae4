// deflate (being written)
