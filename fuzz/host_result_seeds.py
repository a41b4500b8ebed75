#!/usr/bin/env python3
# gearloft fuzz seeds: writes fuzz/corpus/host_result/seed_*.bin, host result layouts in the input format
# of host_result_fuzz.cpp, one for each case the bridge's result-copy tests lay out. Run it again only to
# change the seeds; the files it writes are committed.
import os
import struct

POINTER = 0xA1 << 56
GUARD = 0xA2 << 56
PAGE = 4096


class Image:
    """The arena's first bytes; the result object always starts at offset 0."""

    def __init__(self):
        self.data = bytearray(7 * 8)  # the result object: 8 bytes, two vectors of three addresses

    def put(self, blob, align=8):
        while len(self.data) % align:
            self.data.append(0)
        at = len(self.data)
        self.data += blob
        return at

    def set_word(self, at, value):
        self.data[at:at + 8] = struct.pack("<Q", value)

    def string(self, text, claimed=None, inline=None):
        text = text.encode()
        length = len(text) if claimed is None else claimed
        if inline if inline is not None else len(text) <= 15:
            head = text.ljust(16, b"\0")[:16]
            return struct.pack("<16sQQ", head, length, 15)
        where = self.put(text)
        return struct.pack("<QQQQ", POINTER | where, 0, length, max(length, 16))

    def result(self, columns, rows):
        names = b"".join(self.string(name) + b"\0" * 8 for name in columns)
        cells_of_rows = []
        for row in rows:
            cells = b""
            for cell in row:
                kind, value = cell
                if kind == "int":
                    cells += struct.pack("<B7xq", 2, value)
                elif kind == "real":
                    cells += struct.pack("<B7xd", 3, value)
                elif kind == "text":
                    where = self.put(self.string(value))
                    cells += struct.pack("<B7xQ", 4, POINTER | where)
                elif kind == "huge":
                    where = self.put(self.string("x", claimed=2 * 1024 * 1024))
                    cells += struct.pack("<B7xQ", 4, POINTER | where)
                else:
                    cells += struct.pack("<B7xQ", 0, 0)
            cells_of_rows.append(self.put(cells) if cells else 0)
        columns_begin = self.put(names)
        row_words = b"".join(struct.pack("<Q", POINTER | at) for at in cells_of_rows)
        rows_begin = self.put(row_words)
        self.set_word(8, POINTER | columns_begin)
        self.set_word(16, POINTER | (columns_begin + len(names)))
        self.set_word(32, POINTER | rows_begin)
        self.set_word(40, POINTER | (rows_begin + len(row_words)))
        return self


def seed(holes, image, offset=0, name="seed"):
    return name, struct.pack("<HH", holes, offset) + bytes(image.data)


def main():
    seeds = {}
    seeds["count_row"] = seed(0, Image().result(["COUNT(*)"], [[("int", 3)]]))
    seeds["no_rows"] = seed(0, Image().result(["Id"], []))
    seeds["no_columns"] = seed(0, Image().result([], [[], []]))
    seeds["every_cell_kind"] = seed(0, Image().result(
        ["Id", "MediaName", "DefRideHeight", "WetTireModelName"],
        [[("int", 7), ("text", "Kestrel_GT"), ("real", 0.15), ("null", 0)],
         [("int", -12), ("text", ""), ("real", -0.0), ("int", 1 << 62)]]))
    seeds["long_text"] = seed(0, Image().result(
        ["TireModelName"], [[("text", "Vintage_WhiteWall_and_a_long_model_name_0123456789")]]))
    seeds["two_mib_text"] = seed(0, Image().result(["Name"], [[("huge", 0)], [("text", "Street_B")]]))
    seeds["null_result"] = seed(0, Image().result(["Id"], [[("int", 1)]]), offset=0xFFFF)

    # The row's cells on page 1, made unreadable, its entry on page 0: the row reads as NULL cells.
    image = Image().result(["Id", "Price"], [])
    rows_at = image.put(bytes(8))
    image.data += bytes(PAGE - len(image.data))
    cells_at = image.put(struct.pack("<B7xqB7xq", 2, 7001, 2, 2000))
    image.set_word(rows_at, POINTER | cells_at)
    image.set_word(32, POINTER | rows_at)
    image.set_word(40, POINTER | (rows_at + 8))
    seeds["unreadable_row"] = seed(1 << 1, image)

    # The column entries on page 2, made unreadable: the names read as empty, the row as written.
    image = Image().result(["Id", "Level"], [[("int", 1), ("int", 2)]])
    image.data += bytes(2 * PAGE - len(image.data))
    names_at = image.put(image.string("Id") + bytes(8) + image.string("Level") + bytes(8))
    image.set_word(8, POINTER | names_at)
    image.set_word(16, POINTER | (names_at + 80))
    seeds["unreadable_names"] = seed(1 << 2, image)

    # Column end before column begin.
    image = Image().result(["Id"], [[("int", 1)]])
    begin = struct.unpack("<Q", image.data[8:16])[0]
    image.set_word(16, begin - 40)
    seeds["columns_backwards"] = seed(0, image)

    # 4096 columns and 1,000,000 rows claimed by numbers that point nowhere: refused before any copy.
    image = Image()
    image.set_word(8, 16)
    image.set_word(16, 16 + 4096 * 40)
    seeds["too_many_columns"] = seed(0, image)
    image = Image()
    image.set_word(32, 16)
    image.set_word(40, 16 + 1000000 * 8)
    seeds["too_many_rows"] = seed(0, image)

    # Rows whose cells lie in the unreadable page after the arena.
    image = Image().result(["Id"], [[("int", 1)]])
    rows_at = image.put(struct.pack("<QQ", GUARD | 0xFF8, GUARD | 0))
    image.set_word(32, POINTER | rows_at)
    image.set_word(40, POINTER | (rows_at + 16))
    seeds["cells_in_guard_page"] = seed(0, image)

    # Findings: claims inside the column and row bounds that used to be copied without end.
    image = Image()
    image.set_word(8, 16)
    image.set_word(16, 16 + 1000 * 40)
    image.set_word(32, 16)
    image.set_word(40, 16 + 1000 * 8)
    seeds["finding_million_cells"] = seed(0, image, name="finding")
    image = Image()
    cells = b"".join(struct.pack("<B7xQ", 4, POINTER | 0x800) for _ in range(17))
    image.data += bytes(0x800 - len(image.data))
    image.put(struct.pack("<QQQQ", POINTER | 0x1000, 0, 1024 * 1024, 1024 * 1024))
    cells_at = image.put(cells)
    rows_at = image.put(struct.pack("<Q", POINTER | cells_at))
    image.set_word(8, 16)
    image.set_word(16, 16 + 17 * 40)
    image.set_word(32, POINTER | rows_at)
    image.set_word(40, POINTER | (rows_at + 8))
    seeds["finding_text_claims"] = seed(0, image, name="finding")

    folder = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "host_result")
    os.makedirs(folder, exist_ok=True)
    for name, (kind, data) in seeds.items():
        file_name = name if kind == "finding" else "seed_" + name
        with open(os.path.join(folder, file_name + ".bin"), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
