#pragma once

#include <string>
#include <string_view>

#include "acquisition/pulse_data.h"

namespace analysis {

// The figure boxes (and the pulse-count label) that the pass and the flight-time update read and
// write, named after the window's controls.
enum class Box {
  kEsampavg,
  kEpkpos,
  kEpkneg,
  kEjitpp,
  kEjitpp_pct,
  kEjitpp_max,
  kEjitrms,
  kEjitrms_pct,
  kEint1,
  kEfreq1,
  kEint2,
  kEfreq2,
  kLpcycles,
  kEprove_err,
  kEpqf,
  kEprove_ms,
};

// "Esampavg", "Epkpos", ...: the control's own name.
std::string_view BoxName(Box box);

// What the chart feed receives from a pass.
struct ChartInput {
  const acquisition::PulseData& data;
  double CentreInterval;
  double CentreFrequency;
};

// What the processing pass needs of the window: the controls it reads and writes, and the steps
// that other parts of the system supply. The window implements it; the command-line tool and the
// tests implement it without a window. Called on the window's thread only.
class PassView {
 public:
  virtual ~PassView() = default;

  // Reads.
  virtual int GraphIndex() const = 0;             // RGgsel: 0 Interval, 1 Frequency, 2 Histogram
  virtual bool StreamChecked() const = 0;         // CBstream checked
  virtual bool DualEnabledUnchecked() const = 0;  // CBdual enabled and not checked
  virtual std::string BoxText(Box box) const = 0;

  // Writes.
  virtual void SetBoxText(Box box, const std::string& text) = 0;
  virtual void SetLeftAxisTitle(const std::string& title) = 0;  // Chart1's left axis
  virtual void SetSeries2Title(const std::string& title) = 0;   // "Ch2" or "Filter"
  virtual void TimerOff() = 0;                                  // Timer1 off while the pass runs

  // Steps supplied elsewhere. Each may throw common::Error, which ends the pass.
  virtual void TakeStreamWindow(acquisition::PulseData& /*data*/) {}  // window and log steps
  virtual void FeedChart(const ChartInput& /*input*/) {}
  virtual void BuildHistogram(const acquisition::PulseData& /*data*/) {}

  // Unlock the file buttons unless AutoSample or Stream is checked, set ClearRxOnNext, switch
  // Timer1 on. Runs at the end of every pass, after an early end or an error too.
  virtual void EndSteps() = 0;
};

}  // namespace analysis
