// The control's face and About box: rendered pixels at a few
// characteristic places of each status picture.

#include "control/face/CRK40CommAboutBox.h"
#include "control/face/CRK40CommFace.h"
#include "control/face/CRK40CommPropPageWidget.h"
#include "control/face/FaceWiring.h"
#include "control/face/StatusPictures.h"
#include "FacePixels.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

using namespace rk40::face;
using namespace facetest;

namespace {

bool allWhite(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (!isWhite(image.pixelColor(x, y)))
                return false;
        }
    }
    return true;
}
} // namespace

class TestFace : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup() { QVERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void pictureForStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("picture");
        QTest::newRow("both open") << 3 << 202;
        QTest::newRow("file only") << 1 << 203;
        QTest::newRow("port only") << 2 << 204;
        QTest::newRow("nothing open") << 0 << 205;
        QTest::newRow("4") << 4 << 0;
        QTest::newRow("-1") << -1 << 0;
    }

    void pictureForStatus()
    {
        QFETCH(int, status);
        QFETCH(int, picture);
        QCOMPARE(rk40::face::pictureForStatus(status), picture);
        if (picture == 0) {
            // Other values paint white and have no picture.
            CRK40CommFace face;
            face.setStatus(status);
            QVERIFY(allWhite(render(face, QSize(96, 96))));
            QVERIFY(statusPicture(picture).isNull());
        }
    }

    void statusPictures_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QSize>("size");
        for (int status : {3, 1, 2, 0}) {
            for (QSize size : {QSize(96, 96), QSize(48, 48), QSize(200, 200)}) {
                const QByteArray name = QByteArray::number(status) + " at " + QByteArray::number(size.width());
                QTest::newRow(name.constData()) << status << size;
            }
        }
    }

    void statusPictures()
    {
        QFETCH(int, status);
        QFETCH(QSize, size);
        CRK40CommFace face;
        face.setStatus(status);
        CHECK_PICTURE(render(face, size), status);
        // The image the module hands out is the same picture.
        CHECK_PICTURE(statusPicture(rk40::face::pictureForStatus(status), size), status);
    }

    void smallPictures()
    {
        const QImage t = toolboxBitmap().toImage();
        QCOMPARE(t.size(), QSize(16, 15));
        bool red = false;
        bool yellow = false;
        for (int y = 0; y < t.height(); ++y) {
            for (int x = 0; x < t.width(); ++x) {
                red = red || isRed(t.pixelColor(x, y));
                yellow = yellow || isYellow(t.pixelColor(x, y));
            }
        }
        QVERIFY(red && yellow);
        QCOMPARE(controlIcon().pixmap(32, 32).size(), QSize(32, 32));
    }

    // The interactive prompter runs the About box modally until the user
    // presses OK (through a test prompter it is answered at once: see the
    // control's AboutBox test).
    void aboutBoxWaitsForOk()
    {
        bool pressed = false;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<CRK40CommAboutBox*>(w)) {
                    QVERIFY(box->isVisible());
                    QTest::mouseClick(box->findChild<QPushButton*>(QLatin1String(CRK40CommAboutBox::kOkName)),
                                      Qt::LeftButton);
                    pressed = true;
                }
            }
        });
        showAboutBox(nullptr);
        QVERIFY(pressed);
    }

    void saveScreens()
    {
        // Pictures for a person to look at (make screenshots).
        const QString dir = qEnvironmentVariable("TERMSET_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("TERMSET_SCREENSHOT_DIR is not set");
        QVERIFY(QDir().mkpath(dir));
        const QDir out(dir);
        for (int status : {3, 1, 2, 0}) {
            const int id = rk40::face::pictureForStatus(status);
            for (int side : {48, 96, 192}) {
                const QString name = QStringLiteral("status%1-bitmap%2-%3.png").arg(status).arg(id).arg(side);
                QVERIFY(statusPicture(id, QSize(side, side)).save(out.filePath(name)));
            }
        }
        QVERIFY(toolboxBitmap().scaled(64, 60).save(out.filePath("toolbox-x4.png")));
        QVERIFY(toolboxBitmap().save(out.filePath("toolbox.png")));
        QVERIFY(controlIcon().pixmap(32, 32).save(out.filePath("icon32.png")));
        {
            CRK40CommAboutBox box;
            box.adjustSize();
            QVERIFY(box.grab().save(out.filePath("aboutbox.png")));
        }
        {
            CRK40CommPropPageWidget page;
            page.resize(250, 110);
            QVERIFY(page.grab().save(out.filePath("proppage.png")));
        }
    }
};

QTEST_MAIN(TestFace)
#include "tst_face.moc"
