#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QTableWidget;

// The Edit Field Names dialog: the first ten of twenty field names, each at
// most 26 bytes. `names` holds the result: changed after OK, as given after
// Cancel.
class TPVKoumokuSetupForm2 : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxNameBytes = 26;

    TPVKoumokuSetupForm2(QWidget* owner, const std::vector<std::string>& names);

    std::vector<std::string> names;

    void btnOKClick();
    void btnCancelClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;

private:
    QTableWidget* StringGrid1;
};
