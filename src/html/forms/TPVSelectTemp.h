#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;

// "Select Template": every file of the text-template folder, listed by its
// name without extension. OK is enabled once an entry is selected.
class TPVSelectTemp : public QDialog {
    Q_OBJECT
public:
    explicit TPVSelectTemp(QWidget* owner);

    // Full path (file-system bytes) of the chosen template.
    std::string SelectedPath() const;

    void ListBox1Click();

private:
    QListWidget* ListBox1;
    QPushButton* btnOK;
    std::vector<std::string> paths_;
};
