#include "ui/closedecision.h"

namespace CloseDecision {

std::vector<Step> steps(const Situation &situation)
{
    if (situation.tray && !situation.quitting && (situation.capturing || situation.scheduled))
        return {Step::Hide};
    std::vector<Step> steps;
    if (situation.unsavedEdits)
        steps.push_back(Step::AskAboutEdits);
    if (situation.capturing)
        steps.push_back(Step::AskToEndCaptures);
    else if (situation.scheduled)
        steps.push_back(Step::AskToSkipScheduled);
    steps.push_back(Step::Quit);
    return steps;
}

} // namespace CloseDecision
