#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz harnesses (corpus/<harness>/): the
golden exchanges of the tests, each with a spoilt twin. Run it again after
changing a seed; libFuzzer adds its own finds only to a copy (see
scripts/run-fuzz)."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SOH, STX, ETX, EOT, ACK, CR, NAK = 1, 2, 3, 4, 6, 13, 0x15


def cs(data):
    x = 0
    for b in data:
        x ^= b
    return x | 0x20


def write(harness, name, data):
    folder = os.path.join(HERE, "corpus", harness)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes(data))


# Register read: address, then lead byte, four digits, checksum.
def answer(digits, good=True):
    d = digits.encode()
    return bytes([ACK]) + d + bytes([cs(d) if good else cs(d) ^ 1])


write("register_answer", "word-8C41", bytes([10]) + answer("8C41"))
write("register_answer", "lower-case", bytes([10]) + answer("8c41"))
write("register_answer", "bad-checksum", bytes([39]) + answer("FFFF", False))
write("register_answer", "silence-after-3", bytes([12]) + answer("1234")[:3])
# One byte too many in front: the frame shifts, and for 4222 the checksum
# still matches.
write("register_answer", "shifted", bytes([26, ord("#")]) + answer("4222"))


# Status block.
def status(fw="RK40 V6.29", clock="08.01.03307:09", inbuf="0000"):
    b = ("FW:" + fw + "\r" + "CL:" + clock + "\r" + "IB:" + inbuf + "\r").encode()
    return (b + b" " * 46)[:46]


write("status_block", "golden", status())
write("status_block", "letter-weekday", status(clock="08.01.03X07:09"))
write("status_block", "lone-nak", bytes([NAK]))
write("status_block", "twenty-bytes", status()[:20])
write("status_block", "no-cr", b"ABC" + b"x" * 60)


# Record uploads: kind (0 plain, 1 identification), previous sequence (2
# bytes, big-endian), then the terminal's bytes.
def upload(kind, previous, record, good=True, end=True):
    r = record.encode()
    tail = bytes([ETX, cs(r) if good else cs(r) ^ 1]) if end else b""
    return bytes([kind]) + struct.pack(">h", previous) + r + tail


write("record_upload", "day-type", upload(0, -1, "1Mo-Fr 08:00-16:00"))
write("record_upload", "eight-bytes", upload(0, -1, "12345678"))
write("record_upload", "nine-bytes", upload(0, -1, "123456789"))
write("record_upload", "repeated", upload(0, 5, "3WeekType"))
write("record_upload", "eot", bytes([0, 0xFF, 0xFF, EOT]))
write("record_upload", "bad-checksum", upload(0, -1, "1Mo-Fr 08:00", good=False))
write("record_upload", "silence", upload(0, -1, "1Mo-Fr", end=False))
write("record_upload", "element", upload(1, 11, "12/CDAB89674523011F"))
write("record_upload", "element-blanks", bytes([1, 0, 11]) + b"12 /CDAB\x8089674523011F" + bytes([ETX, cs(b"12/CDAB89674523011F")]))
write("record_upload", "element-no-slash", upload(1, -1, "12CDAB89674523011F"))
write("record_upload", "too-long", upload(0, -1, "1" + "x" * 1000))

# Text line.
write("text_line", "number", b"0001\r")
write("text_line", "skipped-bytes", b"00\x01\x80\x0501\r")
write("text_line", "silence", b"0001")
write("text_line", "long", b"7" * 1500 + b"\r")


# On-line blocks: year byte (PC year - 1990), then the bytes after SOH.
def block(records, header="S", good=True, noise=b""):
    data = b""
    x = 0
    for r in records:
        rb = r.encode()
        data += rb[:5] + noise + rb[5:] + b"\r"
        for b in rb:
            x ^= b
    return header.encode() + bytes([STX]) + data + bytes([ETX, (x | 0x20) if good else (x | 0x20) ^ 1])


golden = ["050130930C0001234A3", "06012101520000ABCD1"]
write("online_block", "golden", bytes([13]) + block(golden))
write("online_block", "golden-v", bytes([13]) + block(golden, "V"))
write("online_block", "bad-checksum", bytes([13]) + block(golden, good=False))
write("online_block", "noise", bytes([13]) + block(golden, noise=b"\x80\xa5\xff\x01\x02\x04\x06\x0a\x0c"))
write("online_block", "bad-header", bytes([13]) + b"X" + block(golden)[1:])
write("online_block", "no-stx", bytes([13]) + b"S" + block(golden)[2:])
write("online_block", "thirty-two", bytes([13]) + block(["%02d0130930C%08d%d" % (i % 28 + 1, i, i % 10) for i in range(32)]))
write("online_block", "fifty", bytes([13]) + block(["010140000B%08d1" % i for i in range(50)]))
write("online_block", "year-digits", bytes([13]) + block(["010140000B000000011", "01013000000000000F2"]))

# Configuration files.
cleared = "".join("%02d 0000\r\n" % a for a in range(10, 40))
write("act_file", "cleared", cleared)
write("act_file", "lower-case", "10 abcd\r\n")
write("act_file", "word-40", "10 1111\r\n40 0000\r\n11 2222\r\n")
write("act_file", "minus-one", "15 -1\n")
write("act_file", "single", "20 1234\n")
write("act_file", "bom-unordered", "\ufeff39 FFFF\n10 8000\n25 00ff\n".encode("utf-8"))
write("act_file", "blank-first", "\n10 0001\n")

# Gateway replies.
def reply(code, command, data, port="1"):
    return ("VeTr 1 %07d plok %s %04d %s %s" % (len(data), port, code, command, data)).encode()


items = "".join("%04d,%05d;" % (a, (a * 2731) % 65536) for a in range(10, 40)) + "."
write("gateway_reply", "read-30", reply(0, "gEPT", items))
write("gateway_reply", "read-skipped", reply(0, "gEPT", "0012,65535;0013;00001;0300,00001;."))
write("gateway_reply", "error-7", reply(7, "gEPT", ""))
write("gateway_reply", "short", b"VeTr 1 0000000 plo")
write("gateway_reply", "status", reply(0, "STAT", "12:34 05.01.03 6 0012 06.29 00003 00000 00255."))
write("gateway_reply", "ports", reply(0, "TEST", "2,1,3."))
write("gateway_reply", "zero-byte", reply(0, "gEPT", items[:22]) + b"\0" + items[22:].encode())

write("port_list", "two", "2,1,3.")
write("port_list", "repeated", "3,2,1,2.")
write("port_list", "none", "0.")
write("port_list", "wrap", "2,256,-1.")
write("port_list", "fewer", "5,1,2")

write("password", "digits", "123456789")
write("password", "empty", "")
write("password", "case", "PassWord")
write("password", "utf8", "jelszó".encode("utf-8"))

write("language_table", "strings",
      "# comment\nstring\t159\tVrijeme:\\t%s\\nDatum:\\t%s\\nDan:\\t%s\\nBuf:\\t%d\\nVer:\\t%s\\nDIP:\\t%X\\n\n"
      "string\t149\tPon\\nUto\\nSri\\nCet\\nPet\\nSub\\nNed\ndialog\t150\t0\tLozinka\nmenu\t128\t130\t&Otvori\n")
write("language_table", "bad-format", "string\t159\t%s%s%s%s%s%s%s%99999d%-1000s%\nstring\t149\t\n")
write("language_table", "bad-line", "string\t12x\ttext\n")


def keys(*triples):
    return b"".join(struct.pack(">iii", *t) for t in triples)


write("language_library", "known", keys((0, 131, 0), (1, 150, 0), (2, 128, 130)))
write("language_library", "odd", keys((3, 101, 0), (-1, 0, 0), (0, -2147483648, 0), (0, 2147483647, 2147483647)))
