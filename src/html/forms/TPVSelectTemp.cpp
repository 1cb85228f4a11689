#include "html/forms/TPVSelectTemp.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "shell/Commonfunc.h"

TPVSelectTemp::TPVSelectTemp(QWidget* owner) : QDialog(owner) {
    setObjectName("PVSelectTemp");
    setWindowTitle("Select Template");
    auto* layout = new QVBoxLayout(this);
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    layout->addWidget(ListBox1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    btnOK = new QPushButton("OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);
    btnOK->setEnabled(false);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setObjectName("btnCancel");
    buttons->addWidget(btnOK);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    resize(300, 280);

    ListFolderFilePaths(Paths().templateFolder, paths_);
    for (const std::string& path : paths_) {
        ListBox1->addItem(QFileInfo(QFile::decodeName(QByteArray::fromStdString(path))).completeBaseName());
    }
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, &TPVSelectTemp::ListBox1Click);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, [this] {
        if (btnOK->isEnabled()) accept();
    });
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TPVSelectTemp::ListBox1Click() { btnOK->setEnabled(ListBox1->currentRow() >= 0 && !ListBox1->selectedItems().isEmpty()); }

std::string TPVSelectTemp::SelectedPath() const {
    int row = ListBox1->currentRow();
    return row >= 0 && row < static_cast<int>(paths_.size()) ? paths_[row] : std::string();
}
