#pragma once

#include "acquisition/capture_cycle.h"

// The capture cycle as the window shows it, in one place: what its state and its events mean
// for the capture controls, the data file buttons, the chart title and the tone. Window thread
// only.
namespace app {

class FmainForm;

// Sample, AutoSample and Stream enabled as the cycle offers them; Load and Save enabled unless a
// capture holds the data files back.
void ShowCycleStatus(const FmainForm& form, const acquisition::CycleStatus& status);

// What an event changes on the controls: the chart title ("[Live]" while AutoSample's requests
// go out), the AutoSample or Stream box the cycle switched off, the tone of each repeated word,
// the run's counts beside the Stream box. A box is set with its signals held: the cycle has
// already done what its handler would.
void ShowCycleEvent(FmainForm& form, const acquisition::CycleEvent& event);

}  // namespace app
