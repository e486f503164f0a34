// The one interface through which the core operations reach the user. The Qt
// window, the command-line tool and the tests' scripted fake implement it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rombolt {

// The file dialogs an operation can ask for.
enum class FileDialog {
    OpenFile,  // OpenDialog1: save file to restore, list file to load/add (filter A)
    SaveFile,  // SaveDialog1: backup file, save backup file, list file to save (filter A)
    IpsFile,   // OpenDialog3: IPS patch file (filter B)
};

class Frontend {
public:
    virtual ~Frontend() = default;

    // Appends one line to the operation log (Memo1).
    virtual void LogLine(std::string_view text) = 0;
    // Status bar panel 0..4 (0 port mode, 1 status, 3 time, 4 queued size).
    virtual void SetPanelText(int index, std::string_view text) = 0;
    // Progress bar position 0..100.
    virtual void ShowProgress(int percent) = 0;
    // Lets the front end handle pending events (Stop button, timer, repaint).
    // A pressed Stop sets StopRequested from inside this call.
    virtual void ProcessMessages() = 0;
    // Busy (true): action controls off, Stop on, elapsed-time timer started.
    // Idle (false): the reverse; list-dependent buttons follow the game list.
    virtual void SetBusy(bool busy) = 0;
    // The elapsed-time timer is held while a file dialog is open mid-operation.
    virtual void PauseTimer(bool paused) { (void)paused; }

    // Modal Yes/No question; true only for Yes.
    virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;
    // Modal file dialog; nullopt when cancelled.
    virtual std::optional<std::string> ChooseFile(FileDialog which) = 0;
    // TFormCartSize: shown with item preselectedIndex (0..5) selected. Returns
    // the chunk count of the confirmed item (32..1024), 0 for Cancel (or OK
    // without a selection), or preselectedIndex unchanged when closed any other way.
    virtual int ChooseCartSize(int preselectedIndex) = 0;
    // TFormSaverSize: returns the start unit (0..31) and size index (0..4) of
    // the confirmed choice, or -1/-1 when cancelled. `dismissed`: closed
    // neither by Ok nor by Cancel (close box, Esc); the choice is then not taken.
    struct SaverChoice {
        int startUnit = -1;
        int sizeIndex = -1;
        bool dismissed = false;
    };
    virtual SaverChoice ChooseSaverRange() = 0;
    // Cart model picture 1..6 in Image3; 0 hides it.
    virtual void ShowCartPicture(int number) = 0;
    // The system beep.
    virtual void Beep() {}
};

// Accepts everything and shows nothing; answers No and Cancel to every question.
class SilentFrontend : public Frontend {
public:
    void LogLine(std::string_view) override {}
    void SetPanelText(int, std::string_view) override {}
    void ShowProgress(int) override {}
    void ProcessMessages() override {}
    void SetBusy(bool) override {}
    bool AskYesNo(std::string_view, std::string_view) override { return false; }
    std::optional<std::string> ChooseFile(FileDialog) override { return std::nullopt; }
    int ChooseCartSize(int) override { return 0; }
    SaverChoice ChooseSaverRange() override { return {}; }
    void ShowCartPicture(int) override {}
};

}  // namespace rombolt
