// A scripted front end for tests: records what operations show and answers
// their questions from a script.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "core/frontend.h"

namespace rombolt::test {

class FakeFrontend : public Frontend {
public:
    explicit FakeFrontend(AppState& s) : s_(s) {}

    void LogLine(std::string_view text) override { log.emplace_back(text); }
    void SetPanelText(int index, std::string_view text) override {
        if (index >= 0 && index < 5) panels[index] = std::string(text);
    }
    void ShowProgress(int percent) override {
        progress = percent;
        progressHistory.push_back(percent);
    }
    void ProcessMessages() override {
        ++pumps;
        if (stopAfterPumps > 0 && pumps >= stopAfterPumps) s_.StopRequested = 1;
        if (onPump) onPump();
    }
    void SetBusy(bool b) override {
        busy = b;
        busyHistory.push_back(b);
    }
    void PauseTimer(bool p) override { timerPaused = p; }
    bool AskYesNo(std::string_view text, std::string_view caption) override {
        questions.emplace_back(std::string(caption) + ": " + std::string(text));
        return answerYes;
    }
    std::optional<std::string> ChooseFile(FileDialog which) override {
        dialogsShown.push_back(which);
        if (files.empty()) return std::nullopt;
        auto f = files.front();
        files.pop_front();
        return f;
    }
    int ChooseCartSize(int preselectedIndex) override {
        cartSizePreselected = preselectedIndex;
        return cartSizeAnswer ? cartSizeAnswer(preselectedIndex) : 0;
    }
    SaverChoice ChooseSaverRange() override {
        ++saverDialogs;
        return saverAnswer;
    }
    void ShowCartPicture(int number) override { picture = number; }
    void Beep() override { ++beeps; }

    // Everything logged, joined with '\n'.
    std::string LogText() const {
        std::string out;
        for (auto& l : log) out += l + "\n";
        return out;
    }
    bool Logged(const std::string& line) const {
        for (auto& l : log)
            if (l == line) return true;
        return false;
    }

    std::vector<std::string> log;
    std::array<std::string, 5> panels;
    int progress = -1;
    std::vector<int> progressHistory;
    long pumps = 0;
    long stopAfterPumps = 0;  // > 0: press Stop during that pump
    std::function<void()> onPump;
    bool busy = false;
    std::vector<bool> busyHistory;
    bool timerPaused = false;

    bool answerYes = false;
    std::vector<std::string> questions;
    std::deque<std::optional<std::string>> files;  // answers to file dialogs, in order
    std::vector<FileDialog> dialogsShown;
    std::function<int(int)> cartSizeAnswer;  // nullptr: Cancel
    int cartSizePreselected = -1;
    SaverChoice saverAnswer;
    int saverDialogs = 0;
    int picture = -1;
    int beeps = 0;

private:
    AppState& s_;
};

}  // namespace rombolt::test
