// Decoding and encoding of the register words.

#include "core/FieldCodes.h"

#include <QTest>

using namespace fields;

class TestFieldCodes : public QObject {
    Q_OBJECT
private slots:
    void decode_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("selector");
        QTest::addColumn<QString>("text");

        // The cleared word.
        for (int s = 0; s <= 3; ++s)
            QTest::addRow("0000 action %d", s) << 0x0000 << s << "No effect";
        QTest::newRow("0000 registration") << 0x0000 << 4 << "FALSE";
        QTest::newRow("0000 condition 1") << 0x0000 << 5 << "Always";
        QTest::newRow("0000 condition 2") << 0x0000 << 6 << "Always";
        for (int s = 7; s <= 14; ++s)
            QTest::addRow("0000 LED selector %d", s) << 0x0000 << s << "---___------";
        for (int s = 15; s <= 19; ++s)
            QTest::addRow("0000 random selector %d", s) << 0x0000 << s << "0";

        // Bits 0..13 set.
        for (int s = 0; s <= 3; ++s)
            QTest::addRow("3FFF action %d", s) << 0x3FFF << s << "On - MAX";
        QTest::newRow("3FFF registration") << 0x3FFF << 4 << "TRUE";
        QTest::newRow("3FFF condition 1") << 0x3FFF << 5 << "S1 = E1";
        QTest::newRow("3FFF condition 2") << 0x3FFF << 6 << "S2 = E2";

        // Read back from a terminal: bit 15 changes nothing.
        for (int s = 0; s <= 3; ++s)
            QTest::addRow("8155 action %d", s) << 0x8155 << s << "Off";
        QTest::newRow("8155 registration") << 0x8155 << 4 << "TRUE";
        QTest::newRow("8155 condition 1") << 0x8155 << 5 << "Always";
        QTest::newRow("8155 condition 2") << 0x8155 << 6 << "Always";
        QTest::newRow("C000 condition 2 ignores bits 14-15") << 0xC000 << 6 << "Always";

        // Same code, different relay.
        QTest::newRow("code 2 relay 1") << 0x2400 << 5 << "S1 = 1";
        QTest::newRow("code 2 relay 2") << 0x2400 << 6 << "S2 = 1";
        QTest::newRow("relay 1 condition skips bit 11") << 0x0800 << 5 << "Always";

        // LED word.
        QTest::newRow("C000 LED 1 green") << 0xC000 << 7 << "__--____";
        QTest::newRow("C000 LED 1 red") << 0xC000 << 8 << "---___------";
        QTest::newRow("C000 LED 4 red") << 0xC000 << 14 << "---___------";
        QTest::newRow("0001 LED 4 red") << 0x0001 << 14 << "---_---------";
        QTest::newRow("0001 LED 4 green") << 0x0001 << 13 << "---___------";
        QTest::newRow("0800 LED 2 green") << 0x0800 << 9 << "__------__";
        QTest::newRow("0030 LED 3 red") << 0x0030 << 12 << "__--____";

        // Random word.
        QTest::newRow("FF0F frequency") << 0xFF0F << 15 << "255";
        for (int s = 16; s <= 19; ++s)
            QTest::addRow("FF0F touch contact %d", s - 15) << 0xFF0F << s << "1";
        QTest::newRow("0100 frequency") << 0x0100 << 15 << "1";
        for (int s = 16; s <= 19; ++s)
            QTest::addRow("0100 touch contact %d", s - 15) << 0x0100 << s << "0";
        QTest::newRow("1E05 TK3") << 0x1E05 << 18 << "1";
        QTest::newRow("1E05 TK2") << 0x1E05 << 17 << "0";

        // Beyond the table: the whole word.
        QTest::newRow("selector 20") << 0xFFFF << 20 << "65535";
        QTest::newRow("selector 1000") << 0x1234 << 1000 << "4660";
        QTest::newRow("negative selector") << 0x0010 << -1 << "16";
    }
    void decode()
    {
        QFETCH(int, word);
        QFETCH(int, selector);
        QFETCH(QString, text);
        QCOMPARE(DecodeField(static_cast<std::uint16_t>(word), selector), text);
    }

    void reencodeRow_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<int>("expected");
        QTest::newRow("bits 0-13: bit 11 drops") << 0x3FFF << 0x37FF;
        QTest::newRow("bit 15 drops") << 0x8155 << 0x0155;
        QTest::newRow("bit 14 drops") << 0x4001 << 0x0001;
        QTest::newRow("mixed") << 0x2A5B << 0x225B;
    }
    void reencodeRow()
    {
        QFETCH(int, word);
        QFETCH(int, expected);
        const auto w = static_cast<std::uint16_t>(word);
        RowFields f;
        for (int k = 0; k < 4; ++k)
            f.actions[static_cast<std::size_t>(k)] = FieldTextToCode(DecodeField(w, k));
        f.registration = DecodeField(w, kRegistration) == kTrue;
        f.conditions[0] = FieldTextToCode(DecodeField(w, kRelay1Condition));
        f.conditions[1] = FieldTextToCode(DecodeField(w, kRelay2Condition));
        QCOMPARE(EncodeRow(f), static_cast<std::uint16_t>(expected));
    }

    void textToCode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("code");
        const char* texts[4][4] = {
            {"No effect", "Always", "Always", "---___------"},
            {"Off", "S1 = 0", "S2 = 0", "---_---------"},
            {"On - 5 sec", "S1 = 1", "S2 = 1", "__------__"},
            {"On - MAX", "S1 = E1", "S2 = E2", "__--____"},
        };
        for (int code = 0; code < 4; ++code)
            for (const char* t : texts[code])
                QTest::addRow("%s", t) << QString::fromLatin1(t) << code;
        QTest::newRow("menu item text") << "On - &5 sec." << 0;
        QTest::newRow("other case") << "on - max" << 0;
        QTest::newRow("trailing blank") << "Off " << 0;
        QTest::newRow("empty") << "" << 0;
    }
    void textToCode()
    {
        QFETCH(QString, text);
        QFETCH(int, code);
        QCOMPARE(FieldTextToCode(text), code);
    }

    void encode()
    {
        QCOMPARE(EncodeRow({{1, 2, 3, 0}, true, {3, 1}}), std::uint16_t(1 + 4 * 2 + 16 * 3 + 256 + 512 * 3 + 4096));
        QCOMPARE(EncodeRow({{7, 0, 0, 0}, false, {}}), std::uint16_t(3));   // a stray code cannot spill over
        QCOMPARE(EncodeLed({{}, {3, 0, 0, 0}}), std::uint16_t(0xC000));
        QCOMPARE(EncodeLed({{0, 0, 0, 1}, {}}), std::uint16_t(0x0001));
        // R4 + 4·G4 + 16·R3 + 64·G3 + 256·R2 + 1024·G2 + 4096·R1 + 16384·G1
        QCOMPARE(EncodeLed({{1, 2, 3, 0}, {0, 3, 1, 2}}),
                 std::uint16_t(0 + 4 * 2 + 16 * 3 + 64 * 1 + 256 * 2 + 1024 * 3 + 4096 * 1));
        QCOMPARE(EncodeRandom({{true, true, true, true}, 255}), std::uint16_t(0xFF0F));
        QCOMPARE(EncodeRandom({{false, false, true, false}, 0}), std::uint16_t(0x0004));
        QCOMPARE(EncodeRandom({{}, 300}), std::uint16_t(0x2C00));   // only the low 8 bits are kept
    }
};

QTEST_GUILESS_MAIN(TestFieldCodes)
#include "tst_fieldcodes.moc"
