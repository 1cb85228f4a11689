#include "shell/forms/TPVKoumokuSetupForm2.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>

#include "shell/StringTable.h"
#include "shell/UiServices.h"
#include "shell/forms/QtCodec.h"
#include "shell/forms/QtWindowPlacement.h"

namespace {
constexpr int kRows = 10;
}

TPVKoumokuSetupForm2::TPVKoumokuSetupForm2(QWidget* owner, const std::vector<std::string>& fieldNames)
    : QDialog(owner), names(fieldNames) {
    setObjectName("PVKoumokuSetupForm2");
    setWindowTitle("Edit Field Names");
    resize(369, 387);
    names.resize(std::max<size_t>(names.size(), 20));

    StringGrid1 = new QTableWidget(kRows, 2, this);
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->setGeometry(8, 8, 353, 330);
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setColumnWidth(0, 150);
    StringGrid1->setColumnWidth(1, 200);
    for (int row = 0; row < kRows; ++row) {
        StringGrid1->setRowHeight(row, 18);
        auto* label = new QTableWidgetItem(Str(4999) + QString::number(row + 1));
        label->setFlags(Qt::ItemIsEnabled);
        StringGrid1->setItem(row, 0, label);
        StringGrid1->setItem(row, 1, new QTableWidgetItem(FromCp932(names[row])));
    }
    StringGrid1->setCurrentCell(0, 1);
    StringGrid1->installEventFilter(this);

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("btnOK");
    ok->setGeometry(196, 348, 75, 25);
    ok->setAutoDefault(false);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("btnCancel");
    cancel->setGeometry(284, 348, 75, 25);
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &TPVKoumokuSetupForm2::btnOKClick);
    connect(cancel, &QPushButton::clicked, this, &TPVKoumokuSetupForm2::btnCancelClick);

    RestoreWindowPlacement(this, "KoumokuSetup2Form");
}

bool TPVKoumokuSetupForm2::eventFilter(QObject* watched, QEvent* event) {
    // In the grid, Enter is OK and Escape Cancel. (While a cell is being
    // edited its editor has the keys: Enter there ends the edit.)
    if (watched == StringGrid1 && event->type() == QEvent::KeyPress) {
        int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            btnOKClick();
            return true;
        }
        if (key == Qt::Key_Escape) {
            btnCancelClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TPVKoumokuSetupForm2::btnOKClick() {
    // Moving off the current cell commits a cell still being edited.
    StringGrid1->setCurrentItem(nullptr);
    std::vector<std::string> edited(kRows);
    for (int row = 0; row < kRows; ++row) {
        QString text = StringGrid1->item(row, 1) ? StringGrid1->item(row, 1)->text() : QString();
        bool lossy = false;
        edited[row] = ToCp932(text, &lossy);
        if (lossy) {
            ShowInfoMessage(LoadStr(1300), "The name of field" + std::to_string(row + 1) +
                                               " contains characters that cannot be stored. Please remove them.");
            StringGrid1->setCurrentCell(row, 1);
            return;
        }
        if (static_cast<int>(edited[row].size()) > kMaxNameBytes) {
            ShowInfoMessage(1300, 1301);
            StringGrid1->setCurrentCell(row, 1);
            return;
        }
    }
    for (int row = 0; row < kRows; ++row) names[row] = edited[row];
    accept();
}

void TPVKoumokuSetupForm2::btnCancelClick() { reject(); }

void TPVKoumokuSetupForm2::done(int result) {
    SaveWindowPlacement(this, "KoumokuSetup2Form");
    QDialog::done(result);
}
