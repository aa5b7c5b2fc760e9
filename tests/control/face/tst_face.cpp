// The control's face and About box: rendered pixels at a few
// characteristic places of each status picture, and the face as the control
// shows it (the picture follows the connection's status bits, clicks fire
// Click and DblClick, AboutBox shows the About box).

#include "control/face/CRK40CommAboutBox.h"
#include "control/face/CRK40CommFace.h"
#include "control/face/CRK40CommPropPageWidget.h"
#include "control/face/FaceWiring.h"
#include "control/face/StatusPictures.h"
#include "control/ctrl/CRK40CommCtrl.h"
#include "ControlTestSupport.h"
#include "FacePixels.h"
#include "PtyPeer.h"
#include "RecordingPrompter.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QtTest>

using namespace rk40;
using namespace rk40::face;
using namespace facetest;
using namespace testsupport;

class TestFace : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        m_env = std::make_unique<TestEnvironment>();
    }
    void cleanup()
    {
        QCOMPARE(CRK40CommCtrl::liveObjects(), 0);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

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
            QImage white(96, 96, QImage::Format_RGB32);
            white.fill(Qt::white);
            QCOMPARE(render(face, white.size()), white);
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
        bool red = false, yellow = false;
        for (int i = 0; i < t.width() * t.height(); ++i) {
            red = red || isRed(t.pixelColor(i % t.width(), i / t.width()));
            yellow = yellow || isYellow(t.pixelColor(i % t.width(), i / t.width()));
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

    void pictureFollowsTheConnection()
    {
        PtyPeer peer;
        qputenv("RK40_COM1", peer.slavePath().toLocal8Bit());
        QWidget host;
        CRK40CommCtrl c;
        QPointer<QWidget> face = faceOf(c, host);
        QVERIFY(face);
        QCOMPARE(face->parentWidget(), &host);
        CHECK_PICTURE(face->grab().toImage(), 0);

        put(c, dispid::AsciiFileName, m_env->path("reg.txt"));
        put(c, dispid::WorkOnLine, false);
        QCOMPARE(call(c, dispid::InitTerminal, {i2(0)}), QVariant(true));
        CHECK_PICTURE(face->grab().toImage(), 3);

        // The register file is closed too, but the picture shows it open.
        call(c, dispid::DestroyTerminal);
        QCOMPARE(c.statusBits(), 1);
        CHECK_PICTURE(face->grab().toImage(), 1);
    }

    void clicksFireEvents()
    {
        QWidget host;
        CRK40CommCtrl c;
        AdvisedSink sink(c);
        QWidget* face = faceOf(c, host);
        QVERIFY(face);
        QTest::mouseClick(face, Qt::LeftButton);
        QCOMPARE(sink.count(eventid::Click), 1);
        QCOMPARE(sink.count(eventid::DblClick), 0);
        QTest::mousePress(face, Qt::LeftButton);
        QTest::mouseDClick(face, Qt::LeftButton);
        QTest::mouseRelease(face, Qt::LeftButton);
        QCOMPARE(sink.count(eventid::Click), 1);
        QCOMPARE(sink.count(eventid::DblClick), 1);
    }

    void aboutBox()
    {
        testsupport::RecordingPrompter prompter;
        QStringList shown;
        for (int i = 0; i < 2; ++i)
            prompter.dialogHandlers.push_back([&](QDialog& d) {
                shown << d.windowTitle();
                return int(QDialog::Accepted);
            });
        CRK40CommCtrl c;
        // With and without a face.
        QVERIFY(c.invoke(dispid::AboutBox, component::InvokeKind::Method).ok());
        QWidget host;
        QVERIFY(faceOf(c, host));
        QVERIFY(c.invoke(dispid::AboutBox, component::InvokeKind::Method).ok());
        QCOMPARE(shown, (QStringList{"About RK40Comm Control", "About RK40Comm Control"}));
    }

private:
    static QWidget* faceOf(CRK40CommCtrl& c, QWidget& host)
    {
        QWidget* face = c.createFace(&host);
        if (face)
            face->resize(96, 96);
        return face;
    }

    std::unique_ptr<TestEnvironment> m_env;
};

QTEST_MAIN(TestFace)
#include "tst_face.moc"
