#include "form_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QScrollBar>
#include <QSettings>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>
#include <filesystem>

#include "app/game_list.h"
#include "core/operation.h"
#include "ops/commands.h"
#include "pictures.h"
#include "port/ioport.h"
#include "window_font.h"

namespace rombolt::qt {

namespace {

const char* const kFilterA =
    "GBA Files (*.gba;*.bin;*.dat;*.sav)|*.gba;*.bin;*.dat;*.sav|All Files (*.*)|*.*";
const char* const kFilterB = "IPS File(*.ips)|*.ips|all files(*.*)|*.*";
const char* const kBrowserFilter =
    "All files (*.*)|*.*|GBX files(*.gba;*.bin;*.gbc;*.gb)|*.gba;*.bin;*.gbc;*.gb;gb*|GBA "
    "files(*.gba;*.bin)|*.gba;*.bin|GB files(*.gbc;*.gb;gb*)|*.gbc;*.gb;gb*";

constexpr int kDesignColumnWidths[5] = {135, 140, 60, 95, 50};

// Stored window sizes outside this range (a damaged config.sav) fall back to the design size.
constexpr int kMinStoredSize = 150;
constexpr int kMaxStoredSize = 16384;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Image1: a waste bin, drawn here rather than stored.
QPixmap DrawBin() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(6, 0, 26, 0);
    g.setColorAt(0, QColor(150, 160, 170));
    g.setColorAt(0.5, QColor(225, 230, 235));
    g.setColorAt(1, QColor(120, 130, 140));
    p.setPen(QPen(QColor(60, 64, 70), 1));
    p.setBrush(g);
    QPolygonF body({QPointF(7, 9), QPointF(25, 9), QPointF(23, 30), QPointF(9, 30)});
    p.drawPolygon(body);
    p.drawRoundedRect(QRectF(5, 5, 22, 4), 1.5, 1.5);
    p.drawRect(QRectF(13, 2, 6, 3));
    p.setPen(QPen(QColor(90, 96, 104), 1.2));
    for (double x : {12.0, 16.0, 20.0}) p.drawLine(QPointF(x, 12), QPointF(x + (x - 16) * 0.1, 27));
    return pm;
}

constexpr const char* kSkipUnchangedKey = "Options/SkipUnchangedBlocks";
constexpr const char* kOtherPortKey = "Options/Port";

// The line of a port that cannot be opened, with the way to try the
// program without hardware; any other line as it is.
std::string WithSimHint(const std::string& line, const std::string& portMessage) {
    if (line.empty() || line != portMessage) return line;
    return line + "; to try the program without hardware, start it with --sim DIR (a simulated cart)";
}

// Start of the line that names a path refused by config.sav as too long.
const std::string kPathTooLongText = "Path too long for config.sav: ";

// Each name once, in their first order.
RefusedFields Distinct(const RefusedFields& names) {
    RefusedFields out;
    for (const std::string& n : names)
        if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
    return out;
}

void PresetDialog(QFileDialog* d, const std::string& file) {
    if (file.empty()) return;
    QFileInfo info(QString::fromStdString(file));
    d->setDirectory(info.absolutePath());
    d->selectFile(info.fileName());
}

}  // namespace

// --- game list view ---

TListView::TListView(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setSortingEnabled(false);
}

std::vector<int> TListView::SelectedRows() const {
    std::vector<int> rows;
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (topLevelItem(i)->isSelected()) rows.push_back(i);
    return rows;
}

void TListView::startDrag(Qt::DropActions) {
    if (SelectedRows().empty()) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(MakeDragData(objectName()));
    drag->exec(Qt::CopyAction);
}

// An enter event is a move event: the same sources are accepted.
void TListView::dragEnterEvent(QDragEnterEvent* e) { dragMoveEvent(e); }

void TListView::dragMoveEvent(QDragMoveEvent* e) {
    QString src = DragSourceName(e->mimeData());
    if (src == "FileListBox1" || src == objectName()) {
        e->setDropAction(Qt::CopyAction);
        e->accept();
    } else {
        e->ignore();
    }
}

void TListView::dropEvent(QDropEvent* e) {
    QString src = DragSourceName(e->mimeData());
    e->setDropAction(Qt::CopyAction);
    e->accept();
    // A drop of the list onto itself changes nothing.
    if (src == "FileListBox1" && OnFilesDropped) OnFilesDropped();
}

void TListView::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Delete) {
        if (!SelectedRows().empty() && OnDeleteKey) OnDeleteKey();
        e->accept();
        return;
    }
    QTreeWidget::keyPressEvent(e);
}

void TListView::updateGeometries() {
    // Setting the margins below resizes the viewport, which asks for this
    // again: the outer call finishes the job.
    if (fitting_) return;
    fitting_ = true;
    QTreeWidget::updateGeometries();
    const int gap = FrameEdgeGap(this);
    const QMargins m = viewportMargins();
    if (gap != 0 && (m.right() != gap || m.bottom() != gap)) {
        setViewportMargins(m.left(), m.top(), gap, gap);
        const QRect v = viewport()->geometry();
        header()->setGeometry(v.left(), v.top() - m.top(), v.width(), m.top());
    }
    fitting_ = false;
}

bool TListView::event(QEvent* e) {
    // Moved to a screen of another scale.
    if (e->type() == QEvent::ScreenChangeInternal) updateGeometries();
    return QTreeWidget::event(e);
}

// --- Image1 ---

TDropImage::TDropImage(QWidget* parent) : QLabel(parent) { setAcceptDrops(true); }

void TDropImage::dragEnterEvent(QDragEnterEvent* e) { dragMoveEvent(e); }

void TDropImage::dragMoveEvent(QDragMoveEvent* e) {
    if (DragSourceName(e->mimeData()) == "ListView1") {
        e->setDropAction(Qt::CopyAction);
        e->accept();
    } else {
        e->ignore();
    }
}

void TDropImage::dropEvent(QDropEvent* e) {
    if (DragSourceName(e->mimeData()) != "ListView1") {
        e->ignore();
        return;
    }
    e->setDropAction(Qt::CopyAction);
    e->accept();
    if (OnRowsDropped) OnRowsDropped();
}

// --- file list drag ---

void TDragFileListBox::startDrag(Qt::DropActions) {
    if (SelectedNames().isEmpty()) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(MakeDragData(objectName()));
    drag->exec(Qt::CopyAction);
}

void TDragFileListBox::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        if (!SelectedNames().isEmpty() && OnEnterKey) OnEnterKey();
        e->accept();
        return;
    }
    TFileListBox::keyPressEvent(e);
}

// --- the window ---

TForm1::TForm1(AppState& s, const std::string& workingDirectory, QWidget* parent) : QWidget(parent), s_(s) {
    s_.UI = this;
    CreateControls();
    Startup(workingDirectory);
}

TForm1::~TForm1() {
    if (s_.UI == this) s_.UI = nullptr;
}

void TForm1::CreateControls() {
    setObjectName("Form1");
    setWindowTitle("Rombolt Writer 3.2");
    setFont(WindowFont());
    resize(kDesignClientWidth, kDesignClientHeight);

    auto button = [this](const char* name, const QString& caption, const QString& hint, bool actionFont) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        if (!hint.isEmpty()) b->setToolTip(hint);
        if (actionFont) b->setFont(ButtonFont());
        b->setFocusPolicy(Qt::TabFocus);
        return b;
    };
    Write = button("Write", "Write Flash", "Write To Cart", true);
    Verify = button("Verify", "Verify Game", "Verify Cart with File", true);
    Read = button("Read", "Backup Game", "Read Cart to File", true);
    SWrite = button("SWrite", "Write Saver", "Write Saver Data to Cart", true);
    SRead = button("SRead", "Backup Saver", "Read Saver Data to File", true);
    Config = button("Config", "Config.", {}, true);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName("Bevel1");
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Image3 = new QLabel(this);
    Image3->setObjectName("Image3");
    Image3->setAlignment(Qt::AlignCenter);

    MemoClear = button("MemoClear", "Clear", {}, false);
    Stop = button("Stop", "Stop", {}, false);

    Memo1 = new TFramed<QPlainTextEdit>(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setUndoRedoEnabled(false);
    Memo1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    Image2 = new QLabel(Memo1);
    Image2->setObjectName("Image2");
    Image2->setScaledContents(true);
    Image2->hide();
    Memo1->installEventFilter(this);

    DriveComboBox1 = new TDriveComboBox(this);
    DriveComboBox1->setObjectName("DriveComboBox1");
    FilterComboBox1 = new TFilterComboBox(this);
    FilterComboBox1->setObjectName("FilterComboBox1");
    FilterComboBox1->SetFilter(kBrowserFilter);
    DirectoryListBox1 = new TDirectoryListBox(this);
    DirectoryListBox1->setObjectName("DirectoryListBox1");
    FileListBox1 = new TDragFileListBox(this);
    FileListBox1->setObjectName("FileListBox1");
    FileListBox1->setToolTip("Drag or Double Click");
    FileListBox1->SetMask(FilterComboBox1->Mask());

    Image1 = new TDropImage(this);
    Image1->setObjectName("Image1");
    Image1->setPixmap(DrawBin());
    ClearAll = button("ClearAll", "Clear All", {}, false);
    EraseFlash = button("EraseFlash", "EraseFlash", {}, false);

    ListView1 = new TListView(this);
    ListView1->setObjectName("ListView1");
    ListView1->setColumnCount(5);
    ListView1->setHeaderLabels({"Name", "Directory Path", "Size", "Game Name", "GType"});
    ListView1->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setSectionsMovable(false);
    ListView1->header()->setMinimumSectionSize(0);
    for (int c = 0; c < 5; ++c) ListView1->setColumnWidth(c, kDesignColumnWidths[c]);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    QAction* save = PopupMenu1->addAction("Save List");
    save->setObjectName("SaveFromList");
    PopupMenu1->addSeparator();
    QAction* load = PopupMenu1->addAction("Load List");
    load->setObjectName("LoadToList");
    QAction* add = PopupMenu1->addAction("Add List");
    add->setObjectName("AddToList");

    LabelCartSize = new QLabel(this);
    LabelCartSize->setObjectName("LabelCartSize");

    StatusBar1 = new TStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->AddPanel(25);
    StatusBar1->AddPanel(80);
    StatusBar1->AddPanel(120, true);
    StatusBar1->AddPanel(50);
    StatusBar1->AddPanel(50);
    ProgressBar1 = new QProgressBar(StatusBar1);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    StatusBar1->OnDrawPanel = [this](int panel, const QRect& r) { StatusBar1DrawPanel(panel, r); };
    StatusBar1->OnResized = [this] {
        if (ProgressBar1->isVisible()) StatusBar1DrawPanel(2, StatusBar1->PanelRect(2));
    };

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);

    auto fileDialog = [this](const char* name, QFileDialog::AcceptMode mode, const char* filter) {
        auto* d = new QFileDialog(this);
        d->setObjectName(name);
        d->setOption(QFileDialog::DontUseNativeDialog);
        d->setAcceptMode(mode);
        d->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        d->setNameFilters(QtNameFilters(filter));
        return d;
    };
    OpenDialog1 = fileDialog("OpenDialog1", QFileDialog::AcceptOpen, kFilterA);
    SaveDialog1 = fileDialog("SaveDialog1", QFileDialog::AcceptSave, kFilterA);
    OpenDialog3 = fileDialog("OpenDialog3", QFileDialog::AcceptOpen, kFilterB);
    OpenDialog3->setWindowTitle("Open IPS Patch File");

    // Narrower, the type filter would shrink to nothing and the cart size
    // note (at most all five models) would run out of the window. The design
    // size is always allowed, whatever the font.
    const int noteWidth =
        LabelCartSize->fontMetrics().horizontalAdvance("Only for:64M/128M/Vela64M/Vela128M/Vela256M");
    setMinimumSize(std::min(kDesignClientWidth, std::max(470, 256 + noteWidth + 8)), kMinClientHeight);
    PlaceControls();

    // Wiring.
    connect(Write, &QPushButton::clicked, this,
            [this] { RunCartCommand([this] { rombolt::WriteClick(s_); }); });
    connect(Verify, &QPushButton::clicked, this,
            [this] { RunCartCommand([this] { rombolt::VerifyClick(s_); }); });
    connect(Read, &QPushButton::clicked, this,
            [this] { RunCartCommand([this] { rombolt::ReadClick(s_); }); });
    connect(SWrite, &QPushButton::clicked, this,
            [this] { RunCartCommand([this] { rombolt::SWriteClick(s_); }); });
    connect(SRead, &QPushButton::clicked, this,
            [this] { RunCartCommand([this] { rombolt::SReadClick(s_); }); });
    connect(EraseFlash, &QPushButton::clicked, this,
            [this] { RunCartCommand([this] { rombolt::EraseFlashClick(s_); }); });
    connect(Config, &QPushButton::clicked, this, [this] { RunCommand([this] { ConfigClick(); }); });
    connect(Stop, &QPushButton::clicked, this, [this] { StopClick(s_); });
    connect(MemoClear, &QPushButton::clicked, this, [this] { MemoClearClick(); });
    connect(ClearAll, &QPushButton::clicked, this, [this] { RunCommand([this] { ClearAllClick(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { TimerTick(s_); });

    connect(DriveComboBox1, &TDriveComboBox::DriveChosen, this,
            [this](const QString& root) { DirectoryListBox1->SetDirectory(root); });
    connect(DirectoryListBox1, &TDirectoryListBox::DirectoryChanged, this, [this](const QString& dir) {
        FileListBox1->SetDirectory(dir);
        DriveComboBox1->SelectDriveOf(dir);
    });
    connect(FilterComboBox1, &TFilterComboBox::MaskChanged, this,
            [this](const QString& mask) { FileListBox1->SetMask(mask); });
    connect(FileListBox1, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem*) { RunCommand([this] { AddSelectedFiles(); }); });

    FileListBox1->OnEnterKey = [this] { RunCommand([this] { AddSelectedFiles(); }); };
    ListView1->OnFilesDropped = [this] { RunCommand([this] { AddSelectedFiles(); }); };
    ListView1->OnDeleteKey = [this] { RunCommand([this] { DeleteSelectedRows(); }); };
    Image1->OnRowsDropped = [this] { RunCommand([this] { DeleteSelectedRows(); }); };
    connect(ListView1->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { RunCommand([this, column] { SortClick(column); }); });
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopupMenu1->popup(ListView1->viewport()->mapToGlobal(pos)); });
    connect(save, &QAction::triggered, this, [this] { RunCommand([this] { SaveFromListClick(s_); }); });
    connect(load, &QAction::triggered, this, [this] {
        RunCommand([this] {
            LoadToListClick(s_);
            RefreshGameList();
        });
    });
    connect(add, &QAction::triggered, this, [this] {
        RunCommand([this] {
            AddToListClick(s_);
            RefreshGameList();
        });
    });
}

void TForm1::PlaceControls() {
    const int dx = width() - kDesignClientWidth;
    const int dy = height() - kDesignClientHeight;
    auto w = [](int v) { return std::max(0, v); };
    Write->setGeometry(6, 8, 68, 25);
    Verify->setGeometry(6, 41, 68, 25);
    Read->setGeometry(6, 73, 68, 25);
    SWrite->setGeometry(77, 8, 68, 25);
    SRead->setGeometry(77, 41, 68, 25);
    Config->setGeometry(77, 73, 68, 25);
    Bevel1->setGeometry(148, 8, 150, 106);
    MemoClear->setGeometry(12, 112, 60, 16);
    Stop->setGeometry(254, 121, 46, 25);
    Memo1->setGeometry(8, 128, 240, 180);
    DriveComboBox1->setGeometry(304, 8, 89, 19);
    // Anchored left, top and right: these grow with the window's width.
    FilterComboBox1->setGeometry(400, 8, w(138 + dx), 21);
    DirectoryListBox1->setGeometry(304, 40, w(234 + dx), 97);
    FileListBox1->setGeometry(264, 152, w(274 + dx), 156);
    Image1->setGeometry(8, 317, 32, 32);
    ClearAll->setGeometry(56, 328, 57, 17);
    EraseFlash->setGeometry(152, 321, 59, 26);
    // Anchored on all four sides.
    ListView1->setGeometry(8, 352, w(530 + dx), w(185 + dy));
    // Anchored left and bottom; the label sizes itself to its text.
    LabelCartSize->adjustSize();
    LabelCartSize->move(256, 543 + dy);
    StatusBar1->setGeometry(0, height() - 19, width(), 19);
}

void TForm1::resizeEvent(QResizeEvent*) { PlaceControls(); }

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    // Image2 fills the log's client area.
    if (watched == Memo1 && event->type() == QEvent::Resize) Image2->setGeometry(LogPictureRect());
    return QWidget::eventFilter(watched, event);
}

void TForm1::Startup(const std::string& workingDirectory) {
    // The log starts without scroll bars.
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    s_.FirstOperation = 1;
    for (int i : {0, 1, 3, 4}) StatusBar1->SetPanelText(i, {});
    LabelCartSize->clear();
    s_.ElapsedSeconds = 0;

    std::string cwd = workingDirectory.empty() ? std::filesystem::current_path().string() : workingDirectory;
    DirectoryListBox1->SetDirectory(QString::fromStdString(cwd));
    WindowState designed;
    designed.Height = kDesignClientHeight + kFrameHeight;
    designed.Width = kDesignClientWidth + kFrameWidth;
    for (int c = 0; c < 5; ++c) designed.ColumnWidths[static_cast<size_t>(c)] = ListView1->columnWidth(c);
    designed.CurrentDirectory = DirectoryListBox1->Directory().toStdString();
    StartupResult r = StartupConfig(s_, designed, cwd);
    // config.sav may have just been created in the folder on show.
    FileListBox1->Refresh();
    for (const std::string& field : Distinct(r.Refused)) LogLine(kPathTooLongText + field);

    const WindowState& w = r.Window;
    int h = (w.Height >= kMinStoredSize && w.Height <= kMaxStoredSize) ? w.Height : designed.Height;
    int wd = (w.Width >= kMinStoredSize && w.Width <= kMaxStoredSize) ? w.Width : designed.Width;
    resize(width(), h - kFrameHeight);
    resize(wd - kFrameWidth, height());
    // The minimum size may have raised the stored size (or an unusable one
    // was replaced): while the user leaves a side alone, it goes back to
    // config.sav as it was read.
    startupSize_ = size();
    readSize_ = QSize(s_.Config.WindowWidth, s_.Config.WindowHeight);
    for (int c = 0; c < 5; ++c)
        ListView1->setColumnWidth(c, std::clamp(w.ColumnWidths[static_cast<size_t>(c)], 0, kMaxStoredSize));
    openDialogFile_ = w.OpenDialogFile;
    ipsDialogFile_ = w.OpenDialogFile;
    PresetDialog(OpenDialog1, w.OpenDialogFile);
    PresetDialog(OpenDialog3, w.OpenDialogFile);
    PresetDialog(SaveDialog1, w.SaveDialogFile);
    if (!w.CurrentDirectory.empty())
        DirectoryListBox1->SetDirectory(QString::fromStdString(w.CurrentDirectory));

    QSettings options(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization,
                      kSettingsApplication);
    s_.SkipUnchanged = options.value(kSkipUnchangedKey, false).toBool();

    Image3->setGeometry(Bevel1->geometry());
    Image3->hide();
    LoadStartupPicture();
    EndOperation(s_);
    QCoreApplication::processEvents();
}

void TForm1::CreateDialogs() {
    if (FormCartSize) return;
    FormCartSize = new TFormCartSize(this);
    FormSaverSize = new TFormSaverSize(this);
    FormConfig = new TFormConfig(s_, this);
}

void TForm1::SetPortChain(PortChain* chain) {
    portChain_ = chain;
    if (!chain) return;
    s_.Port = chain->backend;
    for (const std::string* line : {&chain->message, &chain->warning, &chain->note})
        if (!line->empty()) LogLine(WithSimHint(*line, chain->message));
    portWarning_ = WithSimHint(chain->message, chain->message);
    if (!chain->simDir.empty()) setWindowTitle(windowTitle() + " - simulated cart");
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (portWarning_.empty()) return;
    // After the window has come up, so that the box has it behind it.
    QTimer::singleShot(0, this, [this, text = std::move(portWarning_)] { ShowWarning(text); });
    portWarning_.clear();
}

QRect TForm1::LogPictureRect() const {
    const int gap = FrameEdgeGap(Memo1);
    return Memo1->contentsRect().adjusted(0, 0, -gap, -gap);
}

void TForm1::LoadStartupPicture() {
    QImage img = StartupPicture();
    if (img.isNull()) {
        Beep();
        return;
    }
    Image2->setPixmap(QPixmap::fromImage(img));
    Image2->setGeometry(LogPictureRect());
    // Shown only while the log is empty: start-up may already have logged.
    Memo1Change();
}

// --- log, status, progress ---

void TForm1::LogLine(std::string_view text) {
    QTextCursor c(Memo1->document());
    c.movePosition(QTextCursor::End);
    if (logLines_ > 0) c.insertBlock();
    c.insertText(Q(text));
    ++logLines_;
    Memo1Change();
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
    Memo1->horizontalScrollBar()->setValue(0);
}

void TForm1::Memo1Change() {
    if (logLines_ > 0) {
        Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        Image2->hide();
        Image2->setEnabled(false);
    } else {
        Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        if (!Image2->pixmap().isNull()) Image2->show();
        Image2->setEnabled(true);
    }
}

void TForm1::MemoClearClick() {
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->clear();
    logLines_ = 0;
    Memo1Change();
}

void TForm1::SetPanelText(int index, std::string_view text) { StatusBar1->SetPanelText(index, Q(text)); }

void TForm1::ShowProgress(int percent) { ProgressBar1->setValue(std::clamp(percent, 0, 100)); }

void TForm1::StatusBar1DrawPanel(int panel, const QRect& rect) {
    if (panel != 2) return;
    QRect target(rect.left(), rect.top(), std::max(0, StatusBar1->PanelWidth(2) - 4), rect.height());
    if (ProgressBar1->geometry() != target) ProgressBar1->setGeometry(target);
    if (!ProgressBar1->isVisible()) ProgressBar1->show();
}

void TForm1::ProcessMessages() {
    // A close request stands until the command has ended: whatever clears the
    // stop flag meanwhile (identification, the start of the operation), the
    // next stop test sees it again.
    if (pendingClose_) s_.StopRequested = 1;
    // A write calls this after every buffer program: a million times for a
    // large cart, and handling events costs more than a simulated buffer
    // program. Every few milliseconds is as often as Stop, the elapsed-time
    // timer and the repaints need.
    const auto now = std::chrono::steady_clock::now();
    if (!pumpDue_ && now - lastPump_ < kPumpInterval) return;
    pumpDue_ = false;
    lastPump_ = now;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TForm1::SetBusy(bool busy) {
    // The new state is shown by the next pump, however soon it comes.
    pumpDue_ = true;
    if (busy) {
        for (QWidget* w : std::initializer_list<QWidget*>{
                 DriveComboBox1, FilterComboBox1, DirectoryListBox1, FileListBox1, ListView1, Image1,
                 ClearAll, Config, EraseFlash, MemoClear, Write, Verify, Read, SWrite, SRead})
            w->setEnabled(false);
        Stop->setEnabled(true);
        Memo1->setEnabled(false);
        timerPaused_ = false;
        Timer1->start();
        return;
    }
    for (QWidget* w :
         std::initializer_list<QWidget*>{DriveComboBox1, FilterComboBox1, DirectoryListBox1, FileListBox1,
                                         ListView1, Image1, Config, EraseFlash, MemoClear})
        w->setEnabled(true);
    UpdateListButtons();
    for (QWidget* w : {Read, SWrite, SRead}) w->setEnabled(true);
    Stop->setEnabled(false);
    Memo1->setEnabled(true);
    Timer1->stop();
    timerPaused_ = false;
}

void TForm1::PauseTimer(bool paused) {
    if (paused && Timer1->isActive()) {
        Timer1->stop();
        timerPaused_ = true;
    } else if (!paused && timerPaused_) {
        Timer1->start();
        timerPaused_ = false;
    }
}

void TForm1::UpdateListButtons() {
    bool rows = !s_.GameList.empty();
    Write->setEnabled(rows);
    Verify->setEnabled(rows);
    ClearAll->setEnabled(rows);
}

// --- questions and dialogs ---

bool TForm1::AskYesNo(std::string_view text, std::string_view caption) {
    // The window is closing: no more questions, every one is answered No.
    if (pendingClose_) return false;
    // A box without a title would show the executable's name: the product's instead.
    QMessageBox box(QMessageBox::NoIcon, caption.empty() ? QString("Rombolt Writer") : Q(caption), Q(text),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName("MessageBox");
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> TForm1::ChooseFile(FileDialog which) {
    if (pendingClose_) return std::nullopt;
    QFileDialog* d = which == FileDialog::OpenFile   ? OpenDialog1
                     : which == FileDialog::SaveFile ? SaveDialog1
                                                     : OpenDialog3;
    // Each dialog offers its file name, in that file's folder: the file last
    // chosen in it, or what start-up gave it (LastOpenFile to the open and the
    // IPS dialog, LastSaveFile to the save dialog). One without a name opens
    // in the folder the file browser shows, the working directory.
    const std::string& last = which == FileDialog::OpenFile   ? openDialogFile_
                              : which == FileDialog::SaveFile ? s_.SaveDialogFile
                                                              : ipsDialogFile_;
    if (!last.empty()) {
        PresetDialog(d, last);
    } else {
        const QString folder = DirectoryListBox1->Directory();
        if (!folder.isEmpty()) d->setDirectory(folder);
        // selectFile() leaves a name typed before a cancel; the dialog has none.
        if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) name->clear();
    }
    if (which == FileDialog::IpsFile) d->selectNameFilter(d->nameFilters().first());
    if (d->exec() != QDialog::Accepted || d->selectedFiles().isEmpty()) return std::nullopt;
    std::string chosen = d->selectedFiles().first().toStdString();
    if (which == FileDialog::OpenFile) openDialogFile_ = chosen;
    if (which == FileDialog::IpsFile) ipsDialogFile_ = chosen;
    return chosen;
}

int TForm1::ChooseCartSize(int preselectedIndex) {
    if (!FormCartSize || pendingClose_) return 0;
    return FormCartSize->Choose(preselectedIndex);
}

Frontend::SaverChoice TForm1::ChooseSaverRange() {
    if (!FormSaverSize || pendingClose_) return {};
    auto [unit, size, dismissed] = FormSaverSize->Choose(s_.FoundSaveSizeIndex);
    return {unit, size, dismissed};
}

void TForm1::ShowCartPicture(int number) {
    if (number <= 0) {
        Image3->hide();
        return;
    }
    QImage img = CartPicture(number);
    if (img.isNull()) {
        Beep();
        return;
    }
    Image3->setPixmap(QPixmap::fromImage(img));
    Image3->show();
    Image3->raise();
}

void TForm1::Beep() {
    ++beeps_;
    QApplication::beep();
}

// --- commands ---

void TForm1::RunCommand(const std::function<void()>& command) {
    if (running_) return;
    running_ = true;
    command();
    running_ = false;
    if (pendingClose_) {
        pendingClose_ = false;
        close();
    }
}

void TForm1::RunCartCommand(const std::function<void()>& command) {
    RunCommand([&] {
        std::string why;
        std::vector<std::string> opened;
        if (portChain_ && !portChain_->BeginCartUse(why, &opened)) {
            // Refused like any operation that fails before it begins: the
            // panels do not keep the last operation's verdict.
            BeginLogSection(s_);
            ResetProgress(s_);
            LogLine(why);
            Beep();
            return;
        }
        // A port that was in use when the program started is opened now.
        for (const std::string& line : opened) LogLine(line);
        command();
        if (portChain_ && !portChain_->EndCartUse(why)) LogLine(why);
    });
}

std::string TForm1::StoredOtherPort() {
    QSettings options(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization,
                      kSettingsApplication);
    return options.value(kOtherPortKey, QString()).toString().trimmed().toStdString();
}

void TForm1::ConfigClick() {
    if (!FormConfig) return;
    FormConfig->SetOtherPort(portChain_ && portChain_->followsConfig ? portChain_->configuredOption
                                                                      : StoredOtherPort());
    FormConfig->Run();
    QSettings options(QSettings::IniFormat, QSettings::UserScope, kSettingsOrganization,
                      kSettingsApplication);
    if (options.value(kSkipUnchangedKey, false).toBool() != s_.SkipUnchanged)
        options.setValue(kSkipUnchangedKey, s_.SkipUnchanged);
    const std::string other = FormConfig->OtherPort();
    if (options.value(kOtherPortKey, QString()).toString().toStdString() != other) {
        if (other.empty())
            options.remove(kOtherPortKey);
        else
            options.setValue(kOtherPortKey, QString::fromStdString(other));
    }
    // Direct I/O is granted for one port block only: another port choice
    // opens the real port again (the link already uses the new base).
    if (portChain_ && portChain_->followsConfig) {
        for (const std::string& line :
             portChain_->FollowConfigPort(other, PortBaseForIndex(s_.Config.PortIndex)))
            LogLine(WithSimHint(line, portChain_->message));
        s_.PortBaseOverride = portChain_->baseOverride;
        ApplyPortSelection(s_);
    }
    RefreshGameList();
}

void TForm1::AddSelectedFiles() {
    QStringList names = FileListBox1->SelectedNames();
    if (names.isEmpty()) return;
    std::vector<std::string> list;
    for (const QString& n : names) list.push_back(n.toStdString());
    rombolt::AddSelectedFiles(s_, FileListBox1->Directory().toStdString(), list);
    RefreshGameList();
}

void TForm1::DeleteSelectedRows() {
    std::vector<int> rows = ListView1->SelectedRows();
    if (rows.empty()) return;
    DeleteRows(s_, rows);
    RefreshGameList();
}

void TForm1::SortClick(int column) {
    // Rows have no identity besides their texts; rows with equal texts look
    // alike, so selecting as many of them as were selected keeps the selection.
    auto same = [](const GameRow& a, const GameRow& b) {
        return a.Name == b.Name && a.DirectoryPath == b.DirectoryPath && a.Size == b.Size &&
               a.GameName == b.GameName && a.GType == b.GType;
    };
    std::vector<GameRow> selected;
    for (int row : ListView1->SelectedRows())
        if (row < static_cast<int>(s_.GameList.size()))
            selected.push_back(s_.GameList[static_cast<size_t>(row)]);
    std::optional<GameRow> current;
    const int currentRow = ListView1->indexOfTopLevelItem(ListView1->currentItem());
    if (currentRow >= 0 && currentRow < static_cast<int>(s_.GameList.size()))
        current = s_.GameList[static_cast<size_t>(currentRow)];

    SortByColumn(s_, column);
    RefreshGameList();

    QTreeWidgetItem* newCurrent = nullptr;
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        const GameRow& r = s_.GameList[static_cast<size_t>(i)];
        if (!newCurrent && current && same(r, *current)) newCurrent = ListView1->topLevelItem(i);
        auto it =
            std::find_if(selected.begin(), selected.end(), [&](const GameRow& g) { return same(g, r); });
        if (it == selected.end()) continue;
        selected.erase(it);
        ListView1->topLevelItem(i)->setSelected(true);
    }
    if (newCurrent) ListView1->setCurrentItem(newCurrent, 0, QItemSelectionModel::NoUpdate);
}

void TForm1::ClearAllClick() {
    rombolt::ClearAllClick(s_);
    RefreshGameList();
}

void TForm1::RefreshGameList() {
    ListView1->clear();
    QList<QTreeWidgetItem*> items;
    for (const GameRow& r : s_.GameList) {
        auto* item = new QTreeWidgetItem(
            QStringList{Q(r.Name), Q(r.DirectoryPath), Q(r.Size), Q(r.GameName), Q(r.GType)});
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        items << item;
    }
    ListView1->addTopLevelItems(items);
    LabelCartSize->setText(Q(s_.FitNote));
    LabelCartSize->adjustSize();
    UpdateListButtons();
}

WindowState TForm1::CaptureWindowState() const {
    WindowState w;
    const QSize size = fittedSize_.isValid() && this->size() == fittedSize_ ? rememberedSize_ : this->size();
    w.Height = size.height() == startupSize_.height() ? readSize_.height() : size.height() + kFrameHeight;
    w.Width = size.width() == startupSize_.width() ? readSize_.width() : size.width() + kFrameWidth;
    for (int c = 0; c < 5; ++c) w.ColumnWidths[static_cast<size_t>(c)] = ListView1->columnWidth(c);
    w.OpenDialogFile = openDialogFile_;
    w.SaveDialogFile = s_.SaveDialogFile;
    w.CurrentDirectory = DirectoryListBox1->Directory().toStdString();
    return w;
}

void TForm1::PlaceOnScreen(const QRect& available) {
    // The window manager's frame is known once it has framed the window;
    // until then take the design's.
    QSize frame = frameGeometry().size() - size();
    if (frame.isEmpty()) frame = QSize(kFrameWidth, kFrameHeight);
    const QSize fitted = size().boundedTo(available.size() - frame).expandedTo(minimumSize());
    if (fitted != size()) {
        rememberedSize_ = size();
        resize(fitted);
        fittedSize_ = size();
    }
    QPoint at = available.center() - QPoint((width() + frame.width()) / 2, (height() + frame.height()) / 2);
    at.setX(std::max(at.x(), available.left()));
    at.setY(std::max(at.y(), available.top()));
    move(at);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (running_) {
        // Closing in the middle of an operation would pull the window from
        // under it: stop the operation and close once it has returned.
        s_.StopRequested = 1;
        pendingClose_ = true;
        event->ignore();
        return;
    }
    const RefusedFields refused = Distinct(CloseConfig(s_, CaptureWindowState()));
    if (!refused.empty()) {
        // The log goes with the window: say it where it is seen.
        std::string names;
        for (const std::string& field : refused) names += (names.empty() ? "" : ", ") + field;
        ShowWarning(kPathTooLongText + names + "\nThe previous value is kept.");
    }
    event->accept();
}

void TForm1::ShowWarning(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, windowTitle(), Q(text), QMessageBox::Ok, this);
    box.setObjectName("WarningBox");
    box.exec();
}

}  // namespace rombolt::qt
