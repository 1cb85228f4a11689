// The compose window: placeholders kept whole under real key presses in
// every kind of compose control, field insertion from the popup, the
// recipient list, the status bar and the attachments.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "shell/Codec.h"
#include "shell/IniFile.h"
#include "shell/StringTable.h"
#include "shell/forms/TPVKoumokuForm.h"
#include "shell/forms/TPVKoumokuSetupForm2.h"
#include "shell/forms/TPVMainForm.h"
#include "support/UiTestEnv.h"
#include "ui/UiTest.h"

namespace {

std::unique_ptr<TPVMainForm> QuietForm(UiTestEnv& env) {
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "StartShortcut", "0");
    auto form = std::make_unique<TPVMainForm>(QStringList{});
    form->show();
    QTest::qWaitForWindowExposed(form.get());
    QCoreApplication::processEvents();
    return form;
}

// Text and caret of a compose control, in characters.
void SetText(QWidget* w, const QString& text, int caret, int selectTo = -1) {
    if (auto* l = qobject_cast<QLineEdit*>(w)) {
        l->setText(text);
        if (selectTo >= 0) l->setSelection(caret, selectTo - caret);
        else l->setCursorPosition(caret);
    } else if (auto* b = qobject_cast<QPlainTextEdit*>(w)) {
        b->setPlainText(text);
        QTextCursor c = b->textCursor();
        c.setPosition(caret);
        if (selectTo >= 0) c.setPosition(selectTo, QTextCursor::KeepAnchor);
        b->setTextCursor(c);
    }
    w->setFocus();
}

QString Text(QWidget* w) {
    if (auto* l = qobject_cast<QLineEdit*>(w)) return l->text();
    return qobject_cast<QPlainTextEdit*>(w)->toPlainText();
}

const char* const kControls[] = {"edtFrom", "edtName", "edtSubject", "memoBody"};

}  // namespace

class ComposeTest : public QObject {
    Q_OBJECT
private slots:
    void placeholdersStayWhole_data();
    void placeholdersStayWhole();
    void selectionAcrossPlaceholdersIsReplacedByAField_data();
    void selectionAcrossPlaceholdersIsReplacedByAField();
    void popupAppendsAtTheCaretAndUndoTakesItBack();
    void everyKeyMarksTheDocumentModified();
    void recipientListFollowsTheFieldNames();
    void statusBarParts();
    void droppedFilesAndDeletion();
    void fieldNameLimit();
    void popupCannotBeClosed();
};

void ComposeTest::placeholdersStayWhole_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("prefix");
    for (const char* c : kControls) {
        QTest::newRow(QByteArray(c) + " ascii") << QString(c) << QString("To: ");
        // Two-byte characters before the placeholder: byte and character positions differ.
        QTest::newRow(QByteArray(c) + " japanese") << QString(c) << QString::fromUtf8("表ソ宛て：");
    }
}

void ComposeTest::placeholdersStayWhole() {
    QFETCH(QString, control);
    QFETCH(QString, prefix);
    UiTestEnv env;
    auto form = QuietForm(env);
    QWidget* w = form->findChild<QWidget*>(control);
    QVERIFY(w);
    const QString ph = "[[Name]]";
    const int p = prefix.size();

    // A letter typed between the two left brackets lands after the placeholder.
    SetText(w, prefix + ph + " san", p + 1);
    QTest::keyClick(w, Qt::Key_X);
    QCOMPARE(Text(w), prefix + ph + "x san");

    // Backspace just after the placeholder removes it whole.
    SetText(w, prefix + ph + " san", p + ph.size());
    QTest::keyClick(w, Qt::Key_Backspace);
    QCOMPARE(Text(w), prefix + " san");

    // Delete just before it, too.
    SetText(w, prefix + ph + " san", p);
    QTest::keyClick(w, Qt::Key_Delete);
    QCOMPARE(Text(w), prefix + " san");

    // Backspace after a plain character removes only that character.
    SetText(w, prefix + ph + " san", p + ph.size() + 2);
    QTest::keyClick(w, Qt::Key_Backspace);
    QCOMPARE(Text(w), prefix + ph + " an");

    // Typing inside a placeholder of a field that is not one of the ten is ordinary typing.
    SetText(w, prefix + "[[field15]]", p + 1);
    QTest::keyClick(w, Qt::Key_X);
    QCOMPARE(Text(w), prefix + "[x[field15]]");
}

void ComposeTest::selectionAcrossPlaceholdersIsReplacedByAField_data() { placeholdersStayWhole_data(); }

void ComposeTest::selectionAcrossPlaceholdersIsReplacedByAField() {
    QFETCH(QString, control);
    QFETCH(QString, prefix);
    UiTestEnv env;
    auto form = QuietForm(env);
    QWidget* w = form->findChild<QWidget*>(control);
    const QString text = prefix + "[[Mail Address]] and [[Name]]!";
    const int p = prefix.size();
    // From inside the first placeholder to inside the second.
    SetText(w, text, p + 5, p + 16 + 5 + 3);
    QTest::mouseClick(form->Popup()->findChild<QPushButton*>("btnField3"), Qt::LeftButton);
    QCOMPARE(Text(w), prefix + "[[field3]]!");
    QVERIFY(form->Document().modified);
}

void ComposeTest::popupAppendsAtTheCaretAndUndoTakesItBack() {
    UiTestEnv env;
    auto form = QuietForm(env);
    auto* subject = form->findChild<QLineEdit*>("edtSubject");
    SetText(subject, QString::fromUtf8("ご案内 "), 4);
    QTest::mouseClick(form->Popup()->findChild<QPushButton*>("btnField2"), Qt::LeftButton);
    QCOMPARE(subject->text(), QString::fromUtf8("ご案内 [[Name]]"));
    // The caret strictly inside a placeholder: the new one goes after it.
    SetText(subject, "[[Name]]", 3);
    QTest::mouseClick(form->Popup()->findChild<QPushButton*>("btnField1"), Qt::LeftButton);
    QCOMPARE(subject->text(), QString("[[Name]][[Mail Address]]"));
    subject->undo();
    QCOMPARE(subject->text(), QString("[[Name]]"));
    // No compose control focused: nothing happens.
    form->findChild<QComboBox*>("cmbRecipient")->setFocus();
    QTest::mouseClick(form->Popup()->findChild<QPushButton*>("btnField1"), Qt::LeftButton);
    QCOMPARE(subject->text(), QString("[[Name]]"));
}

void ComposeTest::everyKeyMarksTheDocumentModified() {
    UiTestEnv env;
    auto form = QuietForm(env);
    QVERIFY(!form->Document().modified);
    auto* body = form->findChild<QPlainTextEdit*>("memoBody");
    body->setFocus();
    QTest::keyClick(body, Qt::Key_Left);
    QVERIFY(form->Document().modified);
}

void ComposeTest::recipientListFollowsTheFieldNames() {
    UiTestEnv env;
    auto form = QuietForm(env);
    auto* combo = form->findChild<QComboBox*>("cmbRecipient");
    form->Document().recipient = "[[Name]]";
    form->ShowDocumentHeader();
    QCOMPARE(combo->count(), 10);
    QCOMPARE(combo->itemText(9), QString("[[field10]]"));
    QCOMPARE(combo->currentText(), QString("[[Name]]"));
    // A recipient that is no longer one of the ten becomes the first field.
    form->Document().recipient = "[[field15]]";
    form->ShowDocumentHeader();
    QCOMPARE(combo->currentIndex(), 0);
    form->GatherDocument();
    QCOMPARE(form->Document().recipient, std::string("[[Mail Address]]"));
    // Two fields of one name: the last one is chosen.
    form->AddressBook().FieldNames[4] = "Name";
    form->Document().recipient = "[[Name]]";
    form->ShowDocumentHeader();
    QCOMPARE(combo->currentIndex(), 4);
}

void ComposeTest::statusBarParts() {
    UiTestEnv env;
    auto form = QuietForm(env);
    auto* status = form->findChild<QLabel*>("lblStatus");
    form->UpdateStatus();
    QCOMPARE(status->text(), QString());
    form->AddressBook().Count = 3;
    form->Document().htmlFiles = {"index.html", "a.jpg"};
    form->UpdateStatus();
    QCOMPARE(status->text(), QString("3 items in Address Book.There are 2 HTML files."));
    QVERIFY(!form->findChild<QPushButton*>("btnDeleteAttachment")->isEnabled());
}

void ComposeTest::droppedFilesAndDeletion() {
    UiTestEnv env;
    auto form = QuietForm(env);
    QString a = QString::fromStdString(env.dir.write("a.pdf", "%PDF"));
    QString b = QString::fromStdString(env.dir.write("見積書.xlsx", "xl"));
    QString folder = QString::fromStdString(env.dir.path() + "data");
    form->AddDroppedFiles({a, folder, b, QString::fromStdString(env.dir.file("missing.txt"))});
    QCOMPARE(form->Document().attachments.size(), size_t(2));
    QVERIFY(form->Document().modified);
    auto* list = form->findChild<QListWidget*>("lstAttachments");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(1)->text(), b);
    QCOMPARE(form->findChild<QLabel*>("lblStatus")->text(), QString("There are 2 attachments."));
    QVERIFY(form->findChild<QPushButton*>("btnDeleteAttachment")->isEnabled());

    // Deleting asks first; No keeps everything, and deleting never touches the modified flag.
    form->Document().modified = false;
    list->item(0)->setSelected(true);
    env.ui->Answer(MessageResult::No);
    QTest::mouseClick(form->findChild<QPushButton*>("btnDeleteAttachment"), Qt::LeftButton);
    QCOMPARE(form->Document().attachments.size(), size_t(2));
    list->item(0)->setSelected(true);
    env.ui->Answer(MessageResult::Yes);
    QTest::mouseClick(form->findChild<QPushButton*>("btnDeleteAttachment"), Qt::LeftButton);
    QCOMPARE(form->Document().attachments.size(), size_t(1));
    QCOMPARE(QString::fromStdString(form->Document().attachments[0]), b);
    QVERIFY(!form->Document().modified);
    auto shown = env.ui->messages();
    QCOMPARE(shown.back().caption, LoadStr(2090));
    QCOMPARE(shown.back().text, LoadStr(2091));

    env.ui->Answer(MessageResult::Yes);
    form->DeleteAllAttachments();
    QVERIFY(form->Document().attachments.empty());
    QCOMPARE(env.ui->messages().back().text, LoadStr(2092));
    QVERIFY(!form->findChild<QPushButton*>("btnDeleteAttachment")->isEnabled());
}

void ComposeTest::fieldNameLimit() {
    UiTestEnv env;
    std::vector<std::string> names(20, "f");
    names[15] = "kept";
    // 26 bytes pass, 27 do not; a Japanese name counts its bytes.
    struct Case {
        QString name;
        bool accepted;
    };
    const Case cases[] = {
        {QString(26, 'a'), true},
        {QString(27, 'a'), false},
        {QString::fromUtf8("氏名氏名氏名氏名氏名氏名氏名"), false},  // 14 characters, 28 bytes
        {QString::fromUtf8("氏名氏名氏名氏名氏名氏名氏"), true},    // 26 bytes
    };
    for (const Case& c : cases) {
        TPVKoumokuSetupForm2 dialog(nullptr, names);
        dialog.show();
        auto* grid = dialog.findChild<QTableWidget*>("StringGrid1");
        QCOMPARE(grid->item(0, 0)->text(), QString("field1"));
        grid->item(1, 1)->setText(c.name);
        size_t before = env.ui->messages().size();
        QTest::mouseClick(dialog.findChild<QPushButton*>("btnOK"), Qt::LeftButton);
        QCOMPARE(dialog.result() == QDialog::Accepted, c.accepted);
        QCOMPARE(env.ui->messages().size(), before + (c.accepted ? 0 : 1));
        if (c.accepted) {
            QCOMPARE(QString::fromStdString(Cp932ToUtf8(dialog.names[1])), c.name);
            QCOMPARE(dialog.names[15], std::string("kept"));
        } else {
            QCOMPARE(env.ui->messages().back().text, LoadStr(1301));
            QCOMPARE(dialog.names[1], std::string("f"));
        }
    }
    // Enter in the grid is OK.
    {
        TPVKoumokuSetupForm2 dialog(nullptr, names);
        dialog.show();
        auto* grid = dialog.findChild<QTableWidget*>("StringGrid1");
        grid->item(2, 1)->setText("Company");
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.names[2], std::string("Company"));
    }
    // Escape in the grid cancels.
    TPVKoumokuSetupForm2 dialog(nullptr, names);
    dialog.show();
    auto* grid = dialog.findChild<QTableWidget*>("StringGrid1");
    grid->item(0, 1)->setText("changed");
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Escape);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.names[0], std::string("f"));
}

void ComposeTest::popupCannotBeClosed() {
    UiTestEnv env;
    auto form = QuietForm(env);
    QVERIFY(form->Popup()->isVisible());
    QCOMPARE(form->Popup()->x(), std::max(0, form->x() - 150));
    form->Popup()->close();
    QVERIFY(form->Popup()->isVisible());
    QCOMPARE(form->Popup()->findChild<QPushButton*>("btnField1")->text(), QString("Mail Address"));
    form->close();
    QVERIFY(!form->Popup()->isVisible());
}

PELVANE_UI_TEST(ComposeTest);
#include "ComposeTest.moc"
