// inflate (being written)
