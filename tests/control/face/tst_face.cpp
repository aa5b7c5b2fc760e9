// The control's face, About box and property page: rendered pixels at a few
// characteristic places of each status picture, click handling, texts.

#include "CRK40CommAboutBox.h"
#include "RecordingPrompter.h"
#include "CRK40CommFace.h"
#include "CRK40CommPropPageWidget.h"
#include "FaceTexts.h"
#include "FaceWiring.h"
#include "StatusPictures.h"
#include "FacePixels.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPointer>
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

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
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

    void pictureIsStretchedOverTheBounds()
    {
        // The picture fills the bounds on each axis on its own: the places
        // sampled are scaled by width and height separately, which a picture
        // that kept its proportions (centred, with white bands) would fail.
        CRK40CommFace face;
        face.setStatus(3);
        const QImage wide = render(face, QSize(192, 96));
        CHECK_PICTURE(wide, 3);
        const QImage tall = render(face, QSize(60, 180));
        CHECK_PICTURE(tall, 3);
    }

    void statusSequenceOfAConnection()
    {
        // A fresh control shows nothing open; a successful InitTerminal opens
        // both; DestroyTerminal closes the port (the register file goes too, but
        // the status keeps its bit and the picture shows the file open).
        QWidget host;
        QPointer<CRK40CommFace> face = createFace(&host, 0, {}, {});
        QVERIFY(face);
        QCOMPARE(face->parentWidget(), &host);
        QCOMPARE(face->sizeHint(), QSize(48, 48));
        CHECK_PICTURE(render(*face, QSize(96, 96)), 0);
        showStatus(face, 1);
        CHECK_PICTURE(render(*face, QSize(96, 96)), 1);
        // Harmless on anything that is not a face.
        showStatus(&host, 3);
        showStatus(nullptr, 3);
    }

    void statusChangeRepaints()
    {
        CRK40CommFace face;
        face.resize(96, 96);
        face.show();
        QVERIFY(QTest::qWaitForWindowExposed(&face));
        PaintCounter counter;
        face.installEventFilter(&counter);
        QCoreApplication::processEvents();
        const int before = counter.paints;
        face.setStatus(3);
        QTRY_VERIFY(counter.paints > before);
        const int afterOpen = counter.paints;
        face.setStatus(7);
        QTRY_VERIFY(counter.paints > afterOpen);
        face.close();
    }

    void clicks()
    {
        int clicks = 0;
        int doubleClicks = 0;
        QWidget host;
        CRK40CommFace* face = createFace(&host, 3, [&] { ++clicks; }, [&] { ++doubleClicks; });
        face->resize(96, 96);

        // A double-click as the window system delivers it: one click, then the
        // double-click, and no click for the second release.
        QTest::mousePress(face, Qt::LeftButton);
        QTest::mouseRelease(face, Qt::LeftButton);
        QTest::mousePress(face, Qt::LeftButton);
        QTest::mouseDClick(face, Qt::LeftButton);
        QTest::mouseRelease(face, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QCOMPARE(doubleClicks, 1);

        // Released away from the face: no click. Other buttons: nothing.
        QTest::mousePress(face, Qt::LeftButton);
        QTest::mouseRelease(face, Qt::LeftButton, {}, QPoint(200, 200));
        QTest::mouseClick(face, Qt::RightButton);
        QTest::mouseDClick(face, Qt::RightButton);
        QCOMPARE(clicks, 1);
        QCOMPARE(doubleClicks, 1);

        // Without handlers nothing happens.
        CRK40CommFace bare;
        bare.resize(20, 20);
        QTest::mouseClick(&bare, Qt::LeftButton);
        QTest::mouseDClick(&bare, Qt::LeftButton);
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

    void aboutBox()
    {
        CRK40CommAboutBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("About RK40Comm Control"));
        auto* title = box.findChild<QLabel*>(QLatin1String(CRK40CommAboutBox::kTitleName));
        QVERIFY(title);
        QCOMPARE(title->text(), QStringLiteral("RK40Comm Control, Version 1.0"));
        auto* icon = box.findChild<QLabel*>(QLatin1String(CRK40CommAboutBox::kIconName));
        QVERIFY(icon && !icon->pixmap().isNull());
        QVERIFY(box.findChild<QPushButton*>(QLatin1String(CRK40CommAboutBox::kOkName)));
        QVERIFY(box.isModal());
    }

    void aboutBoxRunsThroughThePrompter()
    {
        // Through a test prompter the box is answered without blocking.
        QStringList seen;
        {
            testsupport::RecordingPrompter prompter;
            for (int i = 0; i < 2; ++i)
                prompter.dialogHandlers.push_back([&](QDialog& d) {
                    seen << d.objectName() << d.windowTitle();
                    return int(QDialog::Accepted);
                });
            QWidget host;
            showAboutBox(&host);
            showAboutBox(nullptr);
        }
        QCOMPARE(seen, (QStringList{"1", "About RK40Comm Control", "1", "About RK40Comm Control"}));

        // The interactive prompter runs it modally until the user presses OK.
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

    void propertyPage()
    {
        QWidget host;
        QWidget* page = createPropertyPage(&host);
        QVERIFY(qobject_cast<CRK40CommPropPage*>(page));
        QCOMPARE(page->parentWidget(), &host);
        QCOMPARE(page->windowTitle(), QStringLiteral("General"));
        // No fields: nothing but the one text.
        QCOMPARE(page->findChildren<QWidget*>().size(), 1);
        QVERIFY(!page->findChild<QLabel*>()->text().isEmpty());
    }

    void texts()
    {
        QCOMPARE(faceString(str::ControlName), QStringLiteral("RK40Comm Control"));
        QCOMPARE(faceString(str::PropPageName), QStringLiteral("RK40Comm Property Page"));
        QCOMPARE(faceString(str::General), QStringLiteral("General"));
        QVERIFY(faceString(3).isEmpty());
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
            CRK40CommPropPage page;
            page.resize(250, 110);
            QVERIFY(page.grab().save(out.filePath("proppage.png")));
        }
    }
};

QTEST_MAIN(TestFace)
#include "tst_face.moc"
