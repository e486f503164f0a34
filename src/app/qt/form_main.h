// TForm1: the main window. Buttons start the cart operations, the log and the
// status bar show them, the file browser and the game list queue the games.
// The window is the program's front end: the core operations reach the user
// through its Frontend methods.
#pragma once

#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>
#include <chrono>
#include <functional>
#include <string>

#include "app/app_state.h"
#include "app/config.h"
#include "command_line.h"
#include "core/frontend.h"
#include "dialogs.h"
#include "file_browser.h"
#include "port/dlportio.h"
#include "status_bar.h"

namespace rombolt::qt {

// The game list view: drags its selected rows, takes drops from the file
// list, reports the Delete key.
class TListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TListView(QWidget* parent = nullptr);
    std::function<void()> OnFilesDropped;  // a drop from FileListBox1
    std::function<void()> OnDeleteKey;     // Delete pressed with rows selected
    std::vector<int> SelectedRows() const;

protected:
    void startDrag(Qt::DropActions supported) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    // Keeps the frame's right and bottom lines at a fractional scale (see
    // FrameEdgeGap); the header's margin on top stays as the tree sets it.
    void updateGeometries() override;
    bool event(QEvent* e) override;

private:
    bool fitting_ = false;
};

// Image1: the picture that game-list rows are dragged onto to remove them.
class TDropImage : public QLabel {
    Q_OBJECT
public:
    explicit TDropImage(QWidget* parent = nullptr);
    std::function<void()> OnRowsDropped;

protected:
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;
};

// The file list drags its selection as a copy (never a move); Enter adds the
// selected files as a double-click does.
class TDragFileListBox : public TFileListBox {
    Q_OBJECT
public:
    using TFileListBox::TFileListBox;
    std::function<void()> OnEnterKey;  // Enter or Return with files selected

protected:
    void startDrag(Qt::DropActions supported) override;
    void keyPressEvent(QKeyEvent* e) override;
};

class TForm1 : public QWidget, public Frontend {
    Q_OBJECT
public:
    // Client area of the window at its design size; the stored window size
    // adds the frame of the design (4-pixel borders, 23-pixel caption).
    static constexpr int kDesignClientWidth = 545;
    static constexpr int kDesignClientHeight = 579;
    static constexpr int kFrameWidth = 8;
    static constexpr int kFrameHeight = 27;
    // Below this client height the game list would be less than a header and
    // a row. The least width is what the fixed controls and the longest cart
    // size note need (minimumWidth() after construction).
    static constexpr int kMinClientHeight = 442;

    // Runs the start-up sequence: settings from config.sav in
    // `workingDirectory` (the process's when empty), geometry, pictures, idle state.
    TForm1(AppState& s, const std::string& workingDirectory = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // The three dialogs, created once after the window, in this order.
    void CreateDialogs();
    // The port back ends the window runs on (it must outlive the window).
    // Logs the port's message and note; the Config dialog's port choice then
    // reopens the real port when it drives the one config.sav selects. When
    // the real port could not be opened, the window says why in a warning box
    // too once it is shown (the log is too narrow for that line).
    void SetPortChain(PortChain* chain);

    // Options config.sav has no room for ("Skip unchanged blocks") live in
    // $XDG_CONFIG_HOME/rombolt/rombolt-writer.ini (QSettings, user scope).
    static constexpr const char* kSettingsOrganization = "rombolt";
    static constexpr const char* kSettingsApplication = "rombolt-writer";
    // The Config dialog's other port ("0xD010", "/dev/parport1"), stored
    // there too; "" when config.sav's LPT1-3 choice holds.
    static std::string StoredOtherPort();

    // Events are handled at most this often when ProcessMessages is called in
    // a tight loop (a switch between busy and idle is always handled at once).
    static constexpr std::chrono::milliseconds kPumpInterval{5};

    // --- Frontend ---
    void LogLine(std::string_view text) override;
    void SetPanelText(int index, std::string_view text) override;
    void ShowProgress(int percent) override;
    void ProcessMessages() override;
    void SetBusy(bool busy) override;
    void PauseTimer(bool paused) override;
    bool AskYesNo(std::string_view text, std::string_view caption) override;
    std::optional<std::string> ChooseFile(FileDialog which) override;
    int ChooseCartSize(int preselectedIndex) override;
    SaverChoice ChooseSaverRange() override;
    void ShowCartPicture(int number) override;
    void Beep() override;

    // Write, Verify and ClearAll enabled exactly when the list has rows.
    void UpdateListButtons();
    // Rebuilds ListView1 from the game list; LabelCartSize shows the fit note.
    void RefreshGameList();
    // What SaveConfig stores about the window. A size cut down to fit the
    // screen is stored as it was remembered until the user resizes the window.
    WindowState CaptureWindowState() const;
    // Fits the window into `available` (the screen's available geometry,
    // frame included): size cut down to it (never below the minimum), centred,
    // and the title bar never above or left of it.
    void PlaceOnScreen(const QRect& available);
    int BeepCount() const { return beeps_; }
    bool CommandRunning() const { return running_; }

    QPushButton* Write;
    QPushButton* Verify;
    QPushButton* Read;
    QPushButton* SWrite;
    QPushButton* SRead;
    QPushButton* Config;
    QFrame* Bevel1;
    QLabel* Image3;
    QPushButton* MemoClear;
    QPushButton* Stop;
    QPlainTextEdit* Memo1;
    QLabel* Image2;
    TDriveComboBox* DriveComboBox1;
    TFilterComboBox* FilterComboBox1;
    TDirectoryListBox* DirectoryListBox1;
    TDragFileListBox* FileListBox1;
    TDropImage* Image1;
    QPushButton* ClearAll;
    QPushButton* EraseFlash;
    TListView* ListView1;
    QMenu* PopupMenu1;
    QLabel* LabelCartSize;
    TStatusBar* StatusBar1;
    QProgressBar* ProgressBar1;
    QTimer* Timer1;
    QFileDialog* OpenDialog1;
    QFileDialog* SaveDialog1;
    QFileDialog* OpenDialog3;

    TFormCartSize* FormCartSize = nullptr;
    TFormSaverSize* FormSaverSize = nullptr;
    TFormConfig* FormConfig = nullptr;

    // The port driver component, created and destroyed with the window. The
    // adapter link has its own port back ends, so nothing opens it.
    TDLPortIO DLPortIO;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateControls();
    void PlaceControls();
    void Startup(const std::string& workingDirectory);
    void LoadStartupPicture();
    // Where Image2 lies: the log's client area, inside the frame at any scale.
    QRect LogPictureRect() const;
    void Memo1Change();
    void MemoClearClick();
    void StatusBar1DrawPanel(int panel, const QRect& rect);
    void ConfigClick();
    void AddSelectedFiles();
    void DeleteSelectedRows();
    void ClearAllClick();
    // Header click: sorts the list; the selected rows stay selected.
    void SortClick(int column);
    // A modal warning with an OK button ("WarningBox").
    void ShowWarning(const std::string& text);
    // Runs one button's command; a click that arrives while a command runs
    // (from inside its event pump) is ignored.
    void RunCommand(const std::function<void()>& command);
    // A command that drives the cart: it runs only while no other program
    // uses the cart or port, on the cart as its files now hold it.
    void RunCartCommand(const std::function<void()>& command);

    AppState& s_;
    PortChain* portChain_ = nullptr;
    int logLines_ = 0;
    int beeps_ = 0;
    bool running_ = false;
    bool pendingClose_ = false;
    bool timerPaused_ = false;
    bool pumpDue_ = true;
    std::chrono::steady_clock::time_point lastPump_{};
    std::string openDialogFile_;
    std::string ipsDialogFile_;
    std::string portWarning_;  // shown once the window is
    // The remembered size, and what PlaceOnScreen cut it down to.
    QSize rememberedSize_, fittedSize_;
    // The size start-up gave the window, and the one config.sav held.
    QSize startupSize_, readSize_;
};

}  // namespace rombolt::qt
