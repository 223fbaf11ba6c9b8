#include "app/about_box.h"
#include "app/main_window.h"
#include "gui_test_doubles.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class AboutBoxTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void showsNameAndVersion();
    void opensFromTheMainWindowMenuAndCloses_data();
    void opensFromTheMainWindowMenuAndCloses();
};

void AboutBoxTest::cleanup()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a window outlived its test");
}

void AboutBoxTest::showsNameAndVersion()
{
    app::AboutBox box;
    QCOMPARE(box.windowTitle(), QStringLiteral("Info über KestrelIon"));
    QCOMPARE(box.findChild<QLabel*>("versionLabel")->text(), QStringLiteral("Kestrel Ion Version 2.0"));
    QVERIFY(!box.findChild<QLabel*>("noteLabel")->text().isEmpty());
    QVERIFY(!box.findChild<QLabel*>("iconLabel")->pixmap().isNull());
    auto* ok = box.findChild<QPushButton*>("okButton");
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(ok->isDefault());
    for (auto* label : box.findChildren<QLabel*>()) {
        if (!label->text().isEmpty())
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->objectName()));
    }
}

void AboutBoxTest::opensFromTheMainWindowMenuAndCloses_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("OK button") << "ok";
    QTest::newRow("Enter") << "enter";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close box") << "close";
}

void AboutBoxTest::opensFromTheMainWindowMenuAndCloses()
{
    QFETCH(QString, how);

    app::MainWindow window(std::make_unique<app_test::RecordingQtUiPort>(),
                           std::make_unique<app_test::ScriptedFilePicker>());
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* about = window.findChild<QAction*>("aboutAction");
    QVERIFY(about);
    QCOMPARE(about->text(), QStringLiteral("Inf&o über KestrelIon..."));
    QVERIFY(window.actions().contains(about));
    QCOMPARE(window.contextMenuPolicy(), Qt::ActionsContextMenu);

    QString seenTitle;
    bool closed = false;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<app::AboutBox*>(QApplication::activeModalWidget());
        if (box == nullptr)
            return;
        seenTitle = box->windowTitle();
        if (how == "ok")
            QTest::mouseClick(box->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        else if (how == "enter")
            QTest::keyClick(box, Qt::Key_Return);
        else if (how == "escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else
            box->close();
        closed = !box->isVisible();
    });
    about->trigger();
    QCOMPARE(seenTitle, QStringLiteral("Info über KestrelIon"));
    QVERIFY(closed);
    QVERIFY(window.isVisible());
    QVERIFY(window.isEnabled());
    QVERIFY(window.findChild<QPushButton*>("analyzeButton")->isEnabled());
}

QTEST_MAIN(AboutBoxTest)
#include "about_box_test.moc"
