// The document commands of the main window with scripted answers: New, Open,
// Save, Save As, the save questions, the older documents' ".dat" address
// book, and the text templates.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "document/Datafile.h"
#include "html/forms/TPVSelectTemp.h"
#include "html/forms/TPVTempSave.h"
#include "shell/IniFile.h"
#include "shell/StringTable.h"
#include "shell/forms/TPVMainForm.h"
#include "support/UiTestEnv.h"
#include "ui/UiTest.h"

namespace {

std::unique_ptr<TPVMainForm> QuietForm(UiTestEnv& env) {
    IniWriteString(env.paths.settingsFile, "SETUP", "FirstRun", "0");
    IniWriteString(env.paths.settingsFile, "SETUP", "StartShortcut", "0");
    auto form = std::make_unique<TPVMainForm>(QStringList{});
    form->show();
    QCoreApplication::processEvents();
    return form;
}

void Trigger(TPVMainForm& form, const char* action) { form.findChild<QAction*>(action)->trigger(); }

QLineEdit* Subject(TPVMainForm& form) { return form.findChild<QLineEdit*>("edtSubject"); }

// Types into the subject as a user would, which marks the mail modified.
void TypeSubject(TPVMainForm& form, const QString& text) {
    Subject(form)->setFocus();
    QTest::keyClicks(Subject(form), text);
}

}  // namespace

class DocumentCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void newOnAModifiedDocument();
    void saveAsTakesThePvdExtensionAndAsksBeforeOverwriting();
    void saveOfAnUntitledDocumentRunsSaveAs();
    void savedDocumentOpensAgain();
    void olderDocumentTakesItsDatAddressBook();
    void unreadableDocument();
    void closeAsksAndCancelKeepsTheWindow();
    void handedOverDocumentOpensAfterTheSaveQuestion();
    void templatesSaveAndSelect();
    void templateDialogs();
};

void DocumentCommandsTest::newOnAModifiedDocument() {
    UiTestEnv env;
    auto form = QuietForm(env);
    TypeSubject(*form, "keep me");
    env.ui->Answer(MessageResult::Cancel);
    Trigger(*form, "actNew");
    QCOMPARE(Subject(*form)->text(), QString("keep me"));
    QVERIFY(form->Document().modified);
    QCOMPARE(env.ui->messages().back().text, LoadStr(1005));

    env.ui->Answer(MessageResult::No);
    Trigger(*form, "actNew");
    QCOMPARE(Subject(*form)->text(), QString());
    QVERIFY(!form->Document().modified);
}

void DocumentCommandsTest::saveAsTakesThePvdExtensionAndAsksBeforeOverwriting() {
    UiTestEnv env;
    auto form = QuietForm(env);
    TypeSubject(*form, "first");
    std::string taken = env.dir.write("taken.pvd", "an older file");
    // "taken.txt" becomes "taken.pvd", which exists: No shows the dialog
    // again, where the user picks another name.
    env.ui->ChooseNext(env.dir.file("taken.txt"));
    env.ui->Answer(MessageResult::No);
    env.ui->ChooseNext(env.dir.file("mail.txt"));
    Trigger(*form, "actSaveAs");
    QCOMPARE(env.ui->fileDialogs().size(), size_t(2));
    QCOMPARE(env.ui->fileDialogs()[0].title, LoadStr(2100));
    QCOMPARE(env.ui->fileDialogs()[0].filter, LoadStr(2001));
    QCOMPARE(env.ui->messages().back().text, LoadStr(2101));
    QCOMPARE(TempDir::read(taken), std::string("an older file"));
    QVERIFY(FileExists(env.dir.file("mail.pvd")));
    QVERIFY(!FileExists(env.dir.file("mail.txt")));
    QCOMPARE(form->Document().path, env.dir.file("mail.pvd"));
    QVERIFY(!form->Document().modified);

    // Cancel at the overwrite question keeps the document's name as it was.
    TypeSubject(*form, " again");
    env.ui->ChooseNext(taken);
    env.ui->Answer(MessageResult::Cancel);
    Trigger(*form, "actSaveAs");
    QCOMPARE(form->Document().path, env.dir.file("mail.pvd"));
    QVERIFY(form->Document().modified);
    env.ui->Answer(MessageResult::No);
}

void DocumentCommandsTest::saveOfAnUntitledDocumentRunsSaveAs() {
    UiTestEnv env;
    auto form = QuietForm(env);
    TypeSubject(*form, "untitled");
    env.ui->ChooseNext(env.dir.file("new"));
    Trigger(*form, "actSave");
    QCOMPARE(env.ui->fileDialogs().size(), size_t(1));
    QVERIFY(FileExists(env.dir.file("new.pvd")));
    // Titled now: Save writes without asking.
    TypeSubject(*form, "!");
    Trigger(*form, "actSave");
    QCOMPARE(env.ui->fileDialogs().size(), size_t(1));
    QVERIFY(!form->Document().modified);
}

void DocumentCommandsTest::savedDocumentOpensAgain() {
    UiTestEnv env;
    auto form = QuietForm(env);
    TypeSubject(*form, QString("[[Name]] sama"));
    form->findChild<QPlainTextEdit*>("memoBody")->setPlainText("line 1\nline 2");
    std::string att = env.dir.write("a.pdf", "%PDF");
    form->AddDroppedFiles({QString::fromStdString(att)});
    form->AddressBook().Count = 1;
    form->AddressBook().ResetRecord(0);
    form->AddressBook().Records[0].Values[0] = "taro@example.jp";
    form->AddressBook().Records[0].Selected = 1;
    env.ui->ChooseNext(env.dir.file("round.pvd"));
    Trigger(*form, "actSaveAs");

    env.ui->Answer(MessageResult::No);
    Trigger(*form, "actNew");
    QCOMPARE(Subject(*form)->text(), QString());
    env.ui->ChooseNext(env.dir.file("round.pvd"));
    Trigger(*form, "actOpen");
    QCOMPARE(Subject(*form)->text(), QString("[[Name]] sama"));
    QCOMPARE(form->findChild<QPlainTextEdit*>("memoBody")->toPlainText(), QString("line 1\nline 2"));
    QCOMPARE(form->Document().attachments, std::vector<std::string>{att});
    QCOMPARE(form->AddressBook().Count, 1);
    QCOMPARE(form->AddressBook().Records[0].Values[0], std::string("taro@example.jp"));
    QVERIFY(form->AddressBook().Records[0].Selected);
    QVERIFY(!form->Document().modified);
    QCOMPARE(form->findChild<QListWidget*>("lstAttachments")->count(), 1);
}

void DocumentCommandsTest::olderDocumentTakesItsDatAddressBook() {
    UiTestEnv env;
    auto form = QuietForm(env);
    std::string doc = env.dir.file("old.pvd");
    std::filesystem::copy_file(PELVANE_FIXTURES "/document/document_v2.pvd", doc);
    env.dir.write("old.dat", "\"a@example.jp\",\"A\"\r\n\"b@example.jp\",\"B\"\r\n");
    env.ui->ChooseNext(doc);
    Trigger(*form, "actOpen");
    QCOMPARE(Subject(*form)->text(), QString("Subject two"));
    QCOMPARE(form->AddressBook().Count, 2);
    QCOMPARE(form->AddressBook().Records[1].Values[1], std::string("B"));
}

void DocumentCommandsTest::unreadableDocument() {
    UiTestEnv env;
    auto form = QuietForm(env);
    std::string bad = env.dir.write("bad.pvd", "this is not a mail document");
    env.ui->ChooseNext(bad);
    Trigger(*form, "actOpen");
    auto shown = env.ui->messages();
    QCOMPARE(shown.back().caption, LoadStr(1100));
    QCOMPARE(shown.back().text, LoadStr(1102));
    QCOMPARE(TempDir::read(bad), std::string("this is not a mail document"));
    // A later Save cannot write over the file that failed to open.
    QCOMPARE(form->Document().path, std::string());
}

void DocumentCommandsTest::closeAsksAndCancelKeepsTheWindow() {
    UiTestEnv env;
    auto form = QuietForm(env);
    TypeSubject(*form, "unsaved");
    env.ui->Answer(MessageResult::Cancel);
    QVERIFY(!form->close());
    QVERIFY(form->isVisible());
    env.ui->Answer(MessageResult::No);
    QVERIFY(form->close());
}

void DocumentCommandsTest::handedOverDocumentOpensAfterTheSaveQuestion() {
    UiTestEnv env;
    auto form = QuietForm(env);
    TypeSubject(*form, "handed");
    env.ui->ChooseNext(env.dir.file("handed.pvd"));
    Trigger(*form, "actSaveAs");
    TypeSubject(*form, " and changed");
    // Cancel at the save question: the current mail stays.
    env.ui->Answer(MessageResult::Cancel);
    form->OpenHandedOverDocument(QByteArray::fromStdString(env.dir.file("handed.pvd")));
    QCOMPARE(Subject(*form)->text(), QString("handed and changed"));
    // No: the handed-over document is opened.
    env.ui->Answer(MessageResult::No);
    form->OpenHandedOverDocument(QByteArray::fromStdString(env.dir.file("handed.pvd")));
    QCOMPARE(Subject(*form)->text(), QString("handed"));
    QCOMPARE(form->Document().path, env.dir.file("handed.pvd"));
    QCOMPARE(env.ui->messages().back().text, LoadStr(1005));
}

void DocumentCommandsTest::templatesSaveAndSelect() {
    UiTestEnv env;
    auto form = QuietForm(env);
    TypeSubject(*form, "Template subject");
    form->findChild<QPlainTextEdit*>("memoBody")->setPlainText("Dear [[Name]]");
    // The name "v1.2" loses what follows its last dot.
    env.onNextDialog([](QDialog& d) {
        UiTestEnv::type(d, "Edit1", "v1.2");
        return UiTestEnv::click(d, "btnSave");
    });
    Trigger(*form, "actSaveAsTemplate");
    std::string file = env.paths.templateFolder + "v1.pvt";
    QVERIFY(FileExists(file));
    // Saving it again asks; No shows the dialog again with the name still in it.
    QString shownAgain;
    env.onNextDialog([](QDialog& d) {
        UiTestEnv::type(d, "Edit1", "v1.2");
        return UiTestEnv::click(d, "btnSave");
    });
    env.ui->Answer(MessageResult::No);
    env.onNextDialog([&](QDialog& d) {
        shownAgain = d.findChild<QLineEdit*>("Edit1")->text();
        return UiTestEnv::click(d, "btnCancel");
    });
    Trigger(*form, "actSaveAsTemplate");
    QCOMPARE(shownAgain, QString("v1.2"));
    QCOMPARE(env.ui->messages().back().text, LoadStr(2101));

    env.ui->Answer(MessageResult::No);
    Trigger(*form, "actNew");
    env.onNextDialog([](QDialog& d) {
        auto* list = d.findChild<QListWidget*>("ListBox1");
        list->setCurrentRow(0);
        return UiTestEnv::click(d, "btnOK");
    });
    Trigger(*form, "actSelectTemplate");
    QCOMPARE(Subject(*form)->text(), QString("Template subject"));
    QCOMPARE(form->findChild<QPlainTextEdit*>("memoBody")->toPlainText(), QString("Dear [[Name]]"));
    QVERIFY(form->Document().modified);
    env.ui->Answer(MessageResult::No);
}

void DocumentCommandsTest::templateDialogs() {
    UiTestEnv env;
    PrepareFolders();
    {
        TPVSelectTemp select(nullptr);
        QCOMPARE(select.findChild<QListWidget*>("ListBox1")->count(), 0);
        QVERIFY(!select.findChild<QPushButton*>("btnOK")->isEnabled());
    }
    // Every file is listed by its name without extension, each opening its own file.
    TempDir::writeAt(env.paths.templateFolder + "offer.pvt", "x");
    TempDir::writeAt(env.paths.templateFolder + "offer.txt", "y");
    TPVSelectTemp select(nullptr);
    auto* list = select.findChild<QListWidget*>("ListBox1");
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(0)->text(), QString("offer"));
    QCOMPARE(list->item(1)->text(), QString("offer"));
    list->setCurrentRow(1);
    QVERIFY(select.findChild<QPushButton*>("btnOK")->isEnabled());
    QCOMPARE(select.SelectedPath(), env.paths.templateFolder + "offer.txt");

    // Save waits for a name; deleting the name disables it again.
    TPVTempSave save(nullptr);
    auto* button = save.findChild<QPushButton*>("btnSave");
    QVERIFY(!button->isEnabled());
    auto* edit = save.findChild<QLineEdit*>("Edit1");
    QTest::keyClicks(edit, "a");
    QVERIFY(button->isEnabled());
    QTest::keyClick(edit, Qt::Key_Backspace);
    QVERIFY(!button->isEnabled());
}

PELVANE_UI_TEST(DocumentCommandsTest);
#include "DocumentCommandsTest.moc"
