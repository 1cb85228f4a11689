#pragma once

#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

class QPushButton;

// The field-select popup: ten buttons, one per insertable field. A click
// inserts the field's placeholder where the target says: the main window's
// compose controls, or the HTML template editor.
class TPVKoumokuForm : public QWidget {
    Q_OBJECT
public:
    enum class TargetMode { MainWindow, HtmlEditor };
    static constexpr int kButtonCount = 10;

    // `insert` is called with the button index 0 to 9 in main-window mode;
    // `insertInEditor` in editor mode.
    TPVKoumokuForm(QWidget* owner, std::function<void(int)> insert);

    void SetFieldNames(const std::vector<std::string>& names);
    void SetTargetMode(TargetMode mode) { mode_ = mode; }
    void SetEditorInsert(std::function<void(int)> insertInEditor) { insertInEditor_ = std::move(insertInEditor); }
    TargetMode targetMode() const { return mode_; }
    const std::vector<std::string>& FieldNames() const { return names_; }

    // Lets the next close through; the owner calls it when it closes itself.
    void AllowClose() { closeAllowed_ = true; }

    void ButtonClick(int index);

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::array<QPushButton*, kButtonCount> buttons_{};
    std::vector<std::string> names_;
    std::function<void(int)> insert_;
    std::function<void(int)> insertInEditor_;
    TargetMode mode_ = TargetMode::MainWindow;
    bool closeAllowed_ = false;
};
