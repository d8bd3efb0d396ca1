// The real file-selection dialog: its filters, the one preselected, and where
// it opens the next time.
#include "file_chooser.h"

#include <QFileDialog>
#include <QLineEdit>

#include "qt_test_support.h"

namespace {

// Waits for the chooser's dialog, lets check look at it, then confirms name.
void WhenDialogOpens(std::function<void(QFileDialog&)> check, QString name) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, check, name] {
        QFileDialog* dialog = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* candidate = qobject_cast<QFileDialog*>(widget);
                candidate != nullptr && candidate->isVisible()) {
                dialog = candidate;
            }
        }
        if (dialog == nullptr) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        check(*dialog);
        // Typed into the name field and confirmed, as a user does.
        auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!name.isEmpty() && nameField != nullptr) {
            nameField->setText(name);
            QTest::keyClick(nameField, Qt::Key_Return);
        }
        // The dialog is closed whatever happened, so that a failure ends the
        // test now instead of leaving it waiting for its time limit.
        const bool stillOpen = dialog->isVisible();
        if (stillOpen) {
            dialog->reject();
        }
        QVERIFY2(name.isEmpty() || nameField != nullptr, "no name field");
        QVERIFY2(name.isEmpty() || !stillOpen, "the name was not taken");
    });
    poll->start();
}

}  // namespace

class FileChooserTest : public QObject {
    Q_OBJECT

private slots:
    void offersBothFiltersAndPreselectsMpegEveryTime();
};

void FileChooserTest::offersBothFiltersAndPreselectsMpegEveryTime() {
    Workspace workspace;
    QVERIFY(workspace.IsValid());
    QVERIFY(QDir(workspace.Folder()).mkdir("Aufnahmen"));
    const QString film = workspace.Path("Aufnahmen/Film.mpg");
    QFile file(film);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    DialogFileChooser chooser;
    QWidget owner;
    bool firstChecked = false;
    WhenDialogOpens(
        [&](QFileDialog& dialog) {
            QCOMPARE(dialog.nameFilters(), (QStringList{"All (*)", "MPEG-PS (*.mpg)"}));
            QCOMPARE(dialog.selectedNameFilter(), QStringLiteral("MPEG-PS (*.mpg)"));
            QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFile);
            QCOMPARE(dialog.windowModality(), Qt::WindowModal);
            QCOMPARE(dialog.parentWidget(), &owner);
            dialog.selectNameFilter(QStringLiteral("All (*)"));  // the user switches
            firstChecked = true;
        },
        film);
    QCOMPARE(chooser.ChooseBaseFile(&owner), film);
    QVERIFY(firstChecked);

    // The next time: MPEG-PS again, in the previous file's folder, with its name.
    bool secondChecked = false;
    WhenDialogOpens(
        [&](QFileDialog& dialog) {
            QCOMPARE(dialog.selectedNameFilter(), QStringLiteral("MPEG-PS (*.mpg)"));
            QCOMPARE(dialog.directory().absolutePath(), workspace.Path("Aufnahmen"));
            QCOMPARE(dialog.selectedFiles(), QStringList{film});
            secondChecked = true;
        },
        QString());
    QCOMPARE(chooser.ChooseBaseFile(&owner), QString());  // cancelled
    QVERIFY(secondChecked);
}

VELMORA_QTEST_MAIN(FileChooserTest)
#include "file_chooser_test.moc"
