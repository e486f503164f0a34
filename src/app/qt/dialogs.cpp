#include "dialogs.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QSignalBlocker>

#include "app/config.h"
#include "app/game_list.h"
#include "ops/commands.h"
#include "ops/saver.h"
#include "port/direct_io.h"
#include "port/ioport.h"
#include "port/port_list.h"
#include "window_font.h"

namespace rombolt::qt {

// --- radio group ---

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(6, 2, 4, 2);
    grid->setVerticalSpacing(0);
    int rows = (static_cast<int>(items.size()) + columns - 1) / columns;
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_->addButton(b, i);
        grid->addWidget(b, i % rows, i / rows);
    }
    connect(group_, &QButtonGroup::idClicked, this, &TRadioGroup::Clicked);
}

int TRadioGroup::ItemIndex() const { return group_->checkedId(); }

void TRadioGroup::SetItemIndex(int index) {
    if (index >= 0 && index < Count()) {
        group_->button(index)->setChecked(true);
        return;
    }
    // No item: an exclusive group cannot uncheck its last button directly.
    group_->setExclusive(false);
    for (auto* b : group_->buttons()) b->setChecked(false);
    group_->setExclusive(true);
}

QRadioButton* TRadioGroup::Item(int index) const {
    return qobject_cast<QRadioButton*>(group_->button(index));
}

int TRadioGroup::Count() const { return static_cast<int>(group_->buttons().size()); }

// --- cart size ---

TFormCartSize::TFormCartSize(QWidget* parent) : QDialog(parent) {
    setObjectName("FormCartSize");
    setWindowTitle("Select Cart size");
    setFont(WindowFont());
    // Wide enough for window managers to show the whole title beside their
    // buttons (at 186 pixels it was cut to "Selec... size").
    setFixedSize(226, 146);
    QStringList items;
    for (const auto& c : kCartSizes) items << c.item;
    SelectCartSize = new TRadioGroup("SelectCartSize", items, 2, this);
    SelectCartSize->setObjectName("SelectCartSize");
    SelectCartSize->setGeometry(8, 8, 210, 97);
    SelectCartSize->SetItemIndex(-1);
    OK = new QPushButton("Ok", this);
    OK->setObjectName("OK");
    OK->setGeometry(36, 113, 70, 25);
    OK->setDefault(true);
    CANCEL = new QPushButton("Cancel", this);
    CANCEL->setObjectName("CANCEL");
    CANCEL->setGeometry(120, 113, 70, 25);
    connect(OK, &QPushButton::clicked, this, &TFormCartSize::OKClick);
    connect(CANCEL, &QPushButton::clicked, this, &TFormCartSize::CANCELClick);
}

int TFormCartSize::Choose(int preselected) {
    SelectCartSize->SetItemIndex(preselected);
    result_ = preselected;
    exec();
    return result_;
}

void TFormCartSize::OKClick() {
    int i = SelectCartSize->ItemIndex();
    result_ =
        (i >= 0 && i < static_cast<int>(kCartSizes.size())) ? kCartSizes[static_cast<size_t>(i)].chunks : 0;
    accept();
}

void TFormCartSize::CANCELClick() {
    result_ = 0;
    reject();
}

// --- saver size ---

TFormSaverSize::TFormSaverSize(QWidget* parent) : QDialog(parent) {
    setObjectName("FormSaverSize");
    setWindowTitle("Bank and Size Select");
    setFont(WindowFont());
    setFixedSize(292, 186);
    auto* frame = new QGroupBox("Bank Select", this);
    frame->setObjectName("BankSelect");
    frame->setGeometry(8, 8, 174, 132);
    RadioBankSel64K = new TRadioGroup("64K", {"1", "2", "3", "4"}, 1, frame);
    RadioBankSel64K->setObjectName("RadioBankSel64K");
    RadioBankSel64K->setGeometry(8, 18, 50, 106);
    RadioBankSel32K = new TRadioGroup("32K", {"A", "B"}, 1, frame);
    RadioBankSel32K->setObjectName("RadioBankSel32K");
    RadioBankSel32K->setGeometry(62, 18, 50, 60);
    RadioBankSel8K = new TRadioGroup("8K", {"1", "2", "3", "4"}, 1, frame);
    RadioBankSel8K->setObjectName("RadioBankSel8K");
    RadioBankSel8K->setGeometry(116, 18, 50, 106);
    QStringList sizes;
    for (const auto& z : kSaverSizes) sizes << z.item;
    RadioSizeSel = new TRadioGroup("Size Select", sizes, 1, this);
    RadioSizeSel->setObjectName("RadioSizeSel");
    RadioSizeSel->setGeometry(190, 8, 94, 132);
    auto* saverLabel = new QLabel("Saver", this);
    saverLabel->setGeometry(10, 154, 34, 17);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName("Edit1");
    Edit1->setReadOnly(true);
    Edit1->setGeometry(46, 151, 50, 22);
    OK = new QPushButton("Ok", this);
    OK->setObjectName("OK");
    OK->setGeometry(122, 150, 74, 25);
    OK->setDefault(true);
    CANCEL = new QPushButton("Cancel", this);
    CANCEL->setObjectName("CANCEL");
    CANCEL->setGeometry(208, 150, 74, 25);

    RadioBankSel64K->SetItemIndex(0);
    RadioBankSel32K->SetItemIndex(0);
    RadioBankSel8K->SetItemIndex(0);
    RadioSizeSel->SetItemIndex(1);
    for (auto* g : {RadioBankSel64K, RadioBankSel32K, RadioBankSel8K, RadioSizeSel})
        connect(g, &TRadioGroup::Clicked, this, [this](int) { UpdateBankSelection(); });
    connect(OK, &QPushButton::clicked, this, &TFormSaverSize::OKClick);
    connect(CANCEL, &QPushButton::clicked, this, &TFormSaverSize::CANCELClick);
    UpdateBankSelection();
}

std::tuple<int, int, bool> TFormSaverSize::Choose(int foundSizeIndex) {
    if (foundSizeIndex >= 0 && foundSizeIndex < static_cast<int>(kSaverSizes.size())) {
        RadioSizeSel->SetItemIndex(foundSizeIndex);
        UpdateBankSelection();
    }
    answered_ = false;
    exec();
    return {startUnit_, sizeIndex_, !answered_};
}

void TFormSaverSize::UpdateBankSelection() {
    int size = RadioSizeSel->ItemIndex();
    BankCode b = rombolt::UpdateBankSelection(RadioBankSel64K->ItemIndex(), RadioBankSel32K->ItemIndex(),
                                              RadioBankSel8K->ItemIndex(), size);
    Edit1->setText(QString::fromStdString(b.code));
    startUnit_ = b.startUnit;
    sizeIndex_ = size;
}

void TFormSaverSize::OKClick() {
    UpdateBankSelection();
    answered_ = true;
    accept();
}

void TFormSaverSize::CANCELClick() {
    startUnit_ = -1;
    sizeIndex_ = -1;
    answered_ = true;
    reject();
}

// --- configuration ---

namespace {

void PresetFileDialog(QFileDialog* d, const std::string& path) {
    QString p = QString::fromStdString(path);
    QFileInfo info(p);
    if (p.isEmpty()) return;
    if (info.isDir()) {
        d->setDirectory(p);
        d->selectFile(QString());
    } else {
        d->setDirectory(info.absolutePath());
        d->selectFile(info.fileName());
    }
}

}  // namespace

TFormConfig::TFormConfig(AppState& s, QWidget* parent) : QDialog(parent), s_(s) {
    setObjectName("FormConfig");
    setWindowTitle("Configuration");
    setFont(WindowFont());
    // The other port's row sits under the port and speed groups; the rows
    // below it moved down by its height.
    constexpr int kOther = 24;
    setFixedSize(340, 246 + kOther);
    Port_sel = new TRadioGroup("Port", {"LPT1(0x378)", "LPT2(0x278)", "LPT3(0x3bc)", "Other"}, 1, this);
    Port_sel->setObjectName("Port_sel");
    Port_sel->setGeometry(8, 8, 112, 84 + 16);
    PortOther = new QComboBox(this);
    PortOther->setObjectName("PortOther");
    PortOther->setEditable(true);
    PortOther->setToolTip("Another port: a base address such as 0xD010, or /dev/parportN");
    PortOther->setGeometry(128, 94, 204, 22);
    RadioSpeed = new TRadioGroup("Speed", {"4", "3", "2", "1"}, 2, this);
    RadioSpeed->setObjectName("RadioSpeed");
    RadioSpeed->setGeometry(128, 8, 88, 84);
    auto makeCheck = [this](const char* name, const char* caption, int y) {
        auto* c = new QCheckBox(caption, this);
        c->setObjectName(name);
        c->setGeometry(228, y, 104, 19);
        return c;
    };
    CheckBoxIps = makeCheck("CheckBoxIps", "IPS Apply", 12);
    CheckBoxVerify = makeCheck("CheckBoxVerify", "Verify", 32);
    CheckBoxFixRom = makeCheck("CheckBoxFixRom", "Fix Data", 52);
    CheckBoxCut32K = makeCheck("CheckBoxCut32K", "Cut 32K", 72);

    auto makeLabel = [this](const char* name, int y) {
        auto* l = new QLabel(this);
        l->setObjectName(name);
        l->setGeometry(108, y, 224, 16);
        return l;
    };
    SetGbaPreBoot = new QPushButton("GBA Pre. Boot", this);
    SetGbaPreBoot->setObjectName("SetGbaPreBoot");
    SetGbaPreBoot->setToolTip("Set GBA Multi-Boot File");
    SetGbaPreBoot->setGeometry(8, 104 + kOther, 92, 25);
    Label1 = makeLabel("Label1", 102 + kOther);
    Label2 = makeLabel("Label2", 118 + kOther);
    SetGbPreBoot = new QPushButton("GB Pre. Boot", this);
    SetGbPreBoot->setObjectName("SetGbPreBoot");
    SetGbPreBoot->setToolTip("Set GB Multi-Boot File");
    SetGbPreBoot->setGeometry(8, 144 + kOther, 92, 25);
    Label3 = makeLabel("Label3", 142 + kOther);
    Label4 = makeLabel("Label4", 158 + kOther);
    CheckSkipUnchanged = new QCheckBox("Skip unchanged blocks", this);
    CheckSkipUnchanged->setObjectName("CheckSkipUnchanged");
    CheckSkipUnchanged->setGeometry(8, 180 + kOther, 324, 19);
    OK = new QPushButton("OK", this);
    OK->setObjectName("OK");
    OK->setGeometry(130, 210 + kOther, 80, 25);
    OK->setDefault(true);

    GbaOpenDialog = new QFileDialog(this, "GBA Pre. Boot");
    GbaOpenDialog->setObjectName("GbaOpenDialog");
    GbOpenDialog = new QFileDialog(this, "GB Pre. Boot");
    GbOpenDialog->setObjectName("GbOpenDialog");
    for (auto* d : {GbaOpenDialog, GbOpenDialog}) {
        d->setOption(QFileDialog::DontUseNativeDialog);
        d->setFileMode(QFileDialog::ExistingFile);
        d->setAcceptMode(QFileDialog::AcceptOpen);
    }
    // Typing another port chooses it.
    connect(PortOther, &QComboBox::editTextChanged, this, [this](const QString& text) {
        if (!text.trimmed().isEmpty()) Port_sel->SetItemIndex(3);
    });
    connect(OK, &QPushButton::clicked, this, &QDialog::accept);
    connect(SetGbaPreBoot, &QPushButton::clicked, this, &TFormConfig::SetGbaPreBootClick);
    connect(SetGbPreBoot, &QPushButton::clicked, this, &TFormConfig::SetGbPreBootClick);
}

void TFormConfig::Fill() {
    PresetFileDialog(GbaOpenDialog, s_.Config.GbaLoaderFile.str());
    Label1->setText(QString::fromStdString(LoaderLabelText(s_, LoaderKind::Gba)));
    Label2->clear();
    PresetFileDialog(GbOpenDialog, s_.Config.GbLoaderFile.str());
    Label3->setText(QString::fromStdString(LoaderLabelText(s_, LoaderKind::Gb)));
    Label4->clear();
    CheckBoxIps->setChecked(s_.Config.IpsApply != 0);
    CheckBoxVerify->setChecked(s_.Config.VerifyAfterWrite != 0);
    CheckBoxFixRom->setChecked(s_.Config.FixRom != 0);
    CheckBoxCut32K->setChecked(s_.Config.Cut32K != 0);
    CheckSkipUnchanged->setChecked(s_.SkipUnchanged);
    RadioSpeed->SetItemIndex(s_.Config.SpeedIndex);
    // The ports the kernel lists: base addresses, and ppdev devices of ports
    // whose address it does not tell.
    const QSignalBlocker quiet(PortOther);
    PortOther->clear();
    for (const ParallelPortInfo& p : ListParallelPorts()) {
        const std::string item = p.base != 0 ? HexAddress(p.base) : p.device;
        if (!item.empty()) PortOther->addItem(QString::fromStdString(item));
    }
    PortOther->setEditText(QString::fromStdString(otherPort_));
    // A stored index outside LPT1-3 shows no selection, as before.
    Port_sel->SetItemIndex(!otherPort_.empty() ? 3 : s_.Config.PortIndex < 3 ? s_.Config.PortIndex : -1);
}

void TFormConfig::CopyBack() {
    s_.Config.IpsApply = CheckBoxIps->isChecked() ? 1 : 0;
    s_.Config.VerifyAfterWrite = CheckBoxVerify->isChecked() ? 1 : 0;
    s_.Config.FixRom = CheckBoxFixRom->isChecked() ? 1 : 0;
    s_.Config.Cut32K = CheckBoxCut32K->isChecked() ? 1 : 0;
    s_.SkipUnchanged = CheckSkipUnchanged->isChecked();
    // A stored index outside the items shows no selection; it is kept as it was.
    if (RadioSpeed->ItemIndex() >= 0)
        s_.Config.SpeedIndex = static_cast<std::int8_t>(RadioSpeed->ItemIndex());
    // "Other" leaves config.sav's port as it was.
    const std::string other = PortOther->currentText().trimmed().toStdString();
    if (Port_sel->ItemIndex() == 3 && !other.empty()) {
        otherPort_ = other;
    } else if (Port_sel->ItemIndex() >= 0 && Port_sel->ItemIndex() < 3) {
        otherPort_.clear();
        s_.Config.PortIndex = static_cast<std::uint8_t>(Port_sel->ItemIndex());
    }
}

void TFormConfig::Run() {
    Fill();
    exec();  // "OK" and the close box end it alike
    CopyBack();
    UpdateListSize(s_);
    ApplyPortSelection(s_);
}

namespace {

void RunLoaderButton(AppState& s, LoaderKind kind, QFileDialog* dialog, QLabel* first, QLabel* second) {
    first->setText(QString::fromStdString(LoaderLabelText(s, kind)));
    second->clear();
    std::optional<std::string> chosen;
    if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
        chosen = dialog->selectedFiles().first().toStdString();
    LoaderChoiceResult r = ChooseLoaderFile(s, kind, chosen);
    first->setText(QString::fromStdString(r.FirstLabel));
    second->setText(QString::fromStdString(r.SecondLabel));
}

}  // namespace

void TFormConfig::SetGbaPreBootClick() {
    RunLoaderButton(s_, LoaderKind::Gba, GbaOpenDialog, Label1, Label2);
}

void TFormConfig::SetGbPreBootClick() { RunLoaderButton(s_, LoaderKind::Gb, GbOpenDialog, Label3, Label4); }

}  // namespace rombolt::qt
