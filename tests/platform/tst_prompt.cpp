// The interactive prompter's message boxes show their text as written: a
// terminal's or gateway's answer is never taken for markup.

#include "platform/ui/Prompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

class PromptTest : public QObject {
    Q_OBJECT

    // Answers the next message box, noting the format its text is shown in.
    static void closeNextBox(Qt::TextFormat* format, QString* shown)
    {
        QTimer::singleShot(0, [=] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                closeNextBox(format, shown);   // not up yet
                return;
            }
            *format = box->textFormat();
            *shown = box->text();
            box->done(QMessageBox::No);
        });
    }

private slots:
    void boxesShowPlainText_data()
    {
        QTest::addColumn<bool>("question");
        QTest::newRow("message") << false;
        QTest::newRow("question") << true;
    }
    void boxesShowPlainText()
    {
        QFETCH(bool, question);
        const QString text = QStringLiteral("Firmware: <img src=\"x\"><a href=\"http://192.0.2.1\">update</a>");
        Qt::TextFormat format = Qt::AutoText;
        QString shown;
        closeNextBox(&format, &shown);
        if (question)
            ui::prompter().askYesNo(nullptr, text);
        else
            ui::prompter().message(nullptr, text, ui::Look::Information);
        QCOMPARE(shown, text);
        QCOMPARE(format, Qt::PlainText);
    }
};

QTEST_MAIN(PromptTest)
#include "tst_prompt.moc"
