#pragma once

#include <vector>

// What closing the window or quitting does, as a pure function of what is
// going on. With a tray, closing keeps Skyvane running there while anything is
// to be recorded, and the unsaved edits stay in the hidden window. Otherwise,
// and whenever Quit is asked for, it asks first about unsaved edits (save,
// discard or stay), then about captures that would be cut off, or else about
// scheduled recordings that would not start.
namespace CloseDecision {

struct Situation
{
    bool tray = false;
    bool capturing = false;
    bool scheduled = false;
    bool unsavedEdits = false;
    bool quitting = false; // Quit was asked for, rather than closing the window
};

enum class Step { Hide, AskAboutEdits, AskToEndCaptures, AskToSkipScheduled, Quit };

// The steps in order; a question the user cancels stops the rest.
std::vector<Step> steps(const Situation &situation);

} // namespace CloseDecision
