"""Reading a built module's resources with pefile for the interop tests:
a resource's bytes by type and id, a string of the string table, the
version block's texts and the names the module exports."""
import struct


def resource(pe, type_key, id_):
    """The bytes of the first language of resource id_ of a type given by
    number or by name; None when missing."""
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        key = str(t.name) if t.name is not None else t.id
        if key != type_key:
            continue
        for e in t.directory.entries:
            if e.id == id_:
                leaf = e.directory.entries[0].data.struct
                return pe.get_data(leaf.OffsetToData, leaf.Size)
    return None


def string_resource(pe, id_):
    """String id_ of the string table (block id_ // 16 + 1, index id_ % 16);
    None when its block is missing."""
    block = resource(pe, 6, id_ // 16 + 1)
    if block is None:
        return None
    pos = 0
    for index in range(16):
        if pos + 2 > len(block):
            return None
        n = struct.unpack_from("<H", block, pos)[0]
        if index == id_ % 16:
            return block[pos + 2:pos + 2 + 2 * n].decode("utf-16-le")
        pos += 2 + 2 * n
    return None


def version_strings(pe):
    """The texts of the version block's StringFileInfo, by key."""
    table = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if getattr(info, "Key", b"") == b"StringFileInfo":
            for st in info.StringTable:
                table.update({k.decode(): v.decode() for k, v in st.entries.items()})
    return table


def exports(pe):
    """The names the module exports, sorted."""
    return sorted(e.name.decode() for e in pe.DIRECTORY_ENTRY_EXPORT.symbols if e.name)
