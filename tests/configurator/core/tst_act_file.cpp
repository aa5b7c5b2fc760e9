// Configuration files: the line format, loading rules and safe saving.

#include "core/ActFile.h"
#include "core/MemoryImage.h"
#include "TestBytes.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using image::MemoryImage;

namespace {

// The .act file of a cleared image: every word 10..39 "0000", with CR LF.
QByteArray clearedActFile()
{
    QByteArray out;
    for (int a = 10; a <= 39; ++a)
        out += QByteArray::number(a) + " 0000\r\n";
    return out;
}

act::LoadResult load(const QByteArray& data, image::IRegisterImage& image)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    return act::loadImage(buffer, image);
}

} // namespace

class TestActFile : public QObject {
    Q_OBJECT
private slots:
    // A cleared image saves as thirty lines of 0000; so do words without a number.
    void wordsWithoutNumberSaveAsZero()
    {
        MemoryImage img;
        img.fill("0000");
        QCOMPARE(act::formatImage(img), clearedActFile());
        img.fill("1234");
        img.setWord(36, "f");
        img.setWord(38, "");
        img.setWord(39, {});
        const QByteArray out = act::formatImage(img);
        QVERIFY(out.endsWith("36 000F\r\n37 1234\r\n38 0000\r\n39 0000\r\n"));
    }

    void scanWord_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");  // -1: no number
        QTest::newRow("four digits, A to F and 0 to 9") << "AF09" << 0xAF09;
        QTest::newRow("lower case") << "abcd" << 0xABCD;
        QTest::newRow("short") << "1F" << 0x1F;
        QTest::newRow("first four of five") << "12345" << 0x1234;
        QTest::newRow("leading blanks") << "  0042" << 0x42;
        QTest::newRow("stops at non-digit") << "12G4" << 0x12;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("letters") << "xyz" << -1;
        QTest::newRow("sign") << "-1" << -1;
        QTest::newRow("a blank beyond ASCII is no blank") << QString(QChar(0x3000)) + "12" << -1;
    }
    void scanWord()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        const auto v = image::scanWord(text);
        QCOMPARE(v ? int(*v) : -1, value);
    }

    void invalidLineStopsAfterEarlierLines_data()
    {
        QTest::addColumn<QByteArray>("badLine");
        QTest::newRow("word 40") << QByteArray("40 1234");
        QTest::newRow("word 9") << QByteArray("9 1234");
        QTest::newRow("word 0") << QByteArray("00 1234");
        QTest::newRow("negative value") << QByteArray("15 -1");
        QTest::newRow("negative address") << QByteArray("-5 1234");
        QTest::newRow("value missing") << QByteArray("15");
        QTest::newRow("value not hex") << QByteArray("15 zz");
        QTest::newRow("five digits") << QByteArray("15 12345");
        QTest::newRow("hex prefix") << QByteArray("15 0x12");
        QTest::newRow("plus sign") << QByteArray("15 +12");
        QTest::newRow("three-digit address") << QByteArray("100 1234");
        QTest::newRow("address glued to value") << QByteArray("15abcd");
        QTest::newRow("nul in value") << QByteArray("15 12\0" "3", 8);
        QTest::newRow("very long line") << QByteArray("15 1234") + QByteArray(5000, ' ');
    }
    void invalidLineStopsAfterEarlierLines()
    {
        QFETCH(QByteArray, badLine);
        MemoryImage img;
        img.fill("0000");
        const QByteArray file = "10 1111\r\n12 2222\r\n" + badLine + "\r\n13 3333\r\n";
        const act::LoadResult r = load(file, img);
        QVERIFY(!r.ok);
        QCOMPARE(r.invalidLine, 3);
        QVERIFY(!r.reason.isEmpty());  // shown to the user
        QCOMPARE(img.word(10), QString("1111"));
        QCOMPARE(img.word(12), QString("2222"));
        QCOMPARE(img.word(13), QString("0000"));  // after the bad line: ignored
        QCOMPARE(img.word(15), QString("0000"));
    }

    void acceptedLines_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("stored");
        QTest::newRow("LF only") << QByteArray("20 1234\n") << 20 << "1234";
        QTest::newRow("no final line end") << QByteArray("20 1234") << 20 << "1234";
        QTest::newRow("blanks and tabs") << QByteArray("  20 \t 1234  \r\n") << 20 << "1234";
        QTest::newRow("trailing text ignored") << QByteArray("20 1234 remark\n") << 20 << "1234";
        // Values of one to four digits in either case load as the four-digit upper-case word.
        QTest::newRow("short value as its word") << QByteArray("20 7\n") << 20 << "0007";
        QTest::newRow("two digits") << QByteArray("20 12\n") << 20 << "0012";
        QTest::newRow("lower case") << QByteArray("20 abcd\n") << 20 << "ABCD";
        QTest::newRow("lower-case digit") << QByteArray("20 f\n") << 20 << "000F";
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF" "20 1234\n") << 20 << "1234";
        QTest::newRow("blank line skipped") << QByteArray("11 0001\n\n20 1234\n") << 20 << "1234";
        QTest::newRow("text line skipped") << QByteArray("11 0001\nremark\n20 1234\n") << 20 << "1234";
        QTest::newRow("sign without digit skipped") << QByteArray("11 0001\n-x\n20 1234\n") << 20 << "1234";
        QTest::newRow("later value wins") << QByteArray("20 1111\n20 2222\n") << 20 << "2222";
        QTest::newRow("descending addresses") << QByteArray("39 0001\n20 1234\n10 0002\n") << 20 << "1234";
    }
    void acceptedLines()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, address);
        QFETCH(QString, stored);
        MemoryImage img;
        img.fill("0000");
        const act::LoadResult r = load(file, img);
        QVERIFY2(r.ok, qPrintable(r.reason));
        QCOMPARE(img.word(address), stored);
    }

    void firstLineWithoutWordIsRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::newRow("empty first line") << QByteArray("\n10 1234\n");
        QTest::newRow("text") << QByteArray("hello\n10 1234\n");
        QTest::newRow("binary garbage") << QByteArray("\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR", 16);
    }
    void firstLineWithoutWordIsRefused()
    {
        QFETCH(QByteArray, file);
        MemoryImage img;
        img.fill("0000");
        const act::LoadResult r = load(file, img);
        QVERIFY(!r.ok);
        QCOMPARE(r.invalidLine, 1);
        QCOMPARE(img.stores(), 30);   // the fill's only
    }

    void saveReplacesWholeFileAndKeepsItOnFailure()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("config.act");
        testsupport::writeFile(path, QByteArray(4000, 'o'));
        MemoryImage img;
        img.fill("0000");
        QVERIFY(act::saveImageFile(path, img));
        QCOMPARE(testsupport::readAll(path), clearedActFile());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"config.act"});  // no temporary left

        // A target that cannot be replaced (a folder): refused, nothing changes.
        QVERIFY(QDir(dir.path()).mkdir("folder.act"));
        QString error;
        QVERIFY(!act::saveImageFile(dir.filePath("folder.act"), img, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(dir.filePath("folder.act")).isDir());
        QVERIFY(!act::saveImageFile(dir.filePath("missing/sub/x.act"), img));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"config.act"});
    }
};

QTEST_GUILESS_MAIN(TestActFile)
#include "tst_act_file.moc"
