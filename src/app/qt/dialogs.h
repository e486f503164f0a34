// The three modal dialogs of the window program. Each is created once at
// start-up and reused.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <tuple>

#include "app/app_state.h"

namespace rombolt::qt {

// A titled group of radio buttons with item indexes, like a radio group
// control: ItemIndex() is -1 when nothing is selected.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);
    int ItemIndex() const;
    void SetItemIndex(int index);  // out of range: no item selected
    QRadioButton* Item(int index) const;
    int Count() const;
signals:
    void Clicked(int index);

private:
    QButtonGroup* group_;
};

// "Select Cart size": the backup size in megabits.
class TFormCartSize : public QDialog {
    Q_OBJECT
public:
    explicit TFormCartSize(QWidget* parent = nullptr);
    // Shows the dialog with item `preselected` (0..5) selected. Returns the
    // chunk count of the item confirmed with Ok (0 without a selection), 0
    // for Cancel, and `preselected` unchanged when closed any other way.
    int Choose(int preselected);

    TRadioGroup* SelectCartSize;
    QPushButton* OK;
    QPushButton* CANCEL;

private:
    void OKClick();
    void CANCELClick();
    int result_ = 0;
};

// "Bank and Size Select": the save memory range.
class TFormSaverSize : public QDialog {
    Q_OBJECT
public:
    explicit TFormSaverSize(QWidget* parent = nullptr);
    // Shows the dialog; the selections persist between uses. Returns the
    // start unit and size index as they stand when it closes (-1/-1 after
    // Cancel), and whether it was closed neither by Ok nor by Cancel. A
    // foundSizeIndex of 0..4 (the save memory's size as found) preselects
    // that size.
    std::tuple<int, int, bool> Choose(int foundSizeIndex = -1);
    std::pair<int, int> Selection() const { return {startUnit_, sizeIndex_}; }

    TRadioGroup* RadioBankSel64K;
    TRadioGroup* RadioBankSel32K;
    TRadioGroup* RadioBankSel8K;
    TRadioGroup* RadioSizeSel;
    QLineEdit* Edit1;
    QPushButton* OK;
    QPushButton* CANCEL;

private:
    void UpdateBankSelection();
    void OKClick();
    void CANCELClick();
    int startUnit_ = 0;
    int sizeIndex_ = 1;
    bool answered_ = false;
};

// "Configuration": port, speed, write options and the two loader files.
class TFormConfig : public QDialog {
    Q_OBJECT
public:
    TFormConfig(AppState& s, QWidget* parent = nullptr);
    // Fills the controls from the settings, shows the dialog and copies the
    // choices back however it was closed.
    void Run();
    // The port chosen under "Other" ("0xD010", "/dev/parport1"), or "" when
    // one of LPT1-3 is chosen (config.sav's PortIndex). Kept by the window in
    // its own settings file: config.sav has room only for the three.
    void SetOtherPort(const std::string& port) { otherPort_ = port; }
    const std::string& OtherPort() const { return otherPort_; }

    TRadioGroup* Port_sel;  // LPT1-3, then "Other"
    // The other port: offers the ports the kernel lists, takes any typed.
    QComboBox* PortOther;
    TRadioGroup* RadioSpeed;
    QCheckBox* CheckBoxIps;
    QCheckBox* CheckBoxVerify;
    QCheckBox* CheckBoxFixRom;
    QCheckBox* CheckBoxCut32K;
    // Writes leave blocks that already hold the data alone
    // (AppState::SkipUnchanged). Never in config.sav: the window keeps it
    // in its own settings file.
    QCheckBox* CheckSkipUnchanged;
    QPushButton* SetGbaPreBoot;
    QPushButton* SetGbPreBoot;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QPushButton* OK;
    QFileDialog* GbaOpenDialog;
    QFileDialog* GbOpenDialog;

private:
    void Fill();
    void CopyBack();
    void SetGbaPreBootClick();
    void SetGbPreBootClick();
    AppState& s_;
    std::string otherPort_;
};

}  // namespace rombolt::qt
