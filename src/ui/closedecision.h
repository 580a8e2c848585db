#pragma once

#include <vector>

// What closing the window does, as a pure function of what is going on. With
// a tray, Skyvane keeps running there while anything is to be recorded, and
// the unsaved edits stay in the hidden window. Otherwise closing quits: it asks
// first about unsaved edits (save, discard or stay), and without a tray about
// captures that would be cut off.
namespace CloseDecision {

struct Situation
{
    bool tray = false;
    bool capturing = false;
    bool scheduled = false;
    bool unsavedEdits = false;
};

enum class Step { Hide, AskAboutEdits, AskToEndCaptures, Quit };

// The steps in order; a question the user cancels stops the rest.
std::vector<Step> steps(const Situation &situation);

} // namespace CloseDecision
