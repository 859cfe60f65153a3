#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "acquisition/capture_cycle.h"
#include "analysis/figures.h"
#include "analysis/processing_pass.h"

class QButtonGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace presentation {
class HistogramChart;
class PulseChart;
class StabilityChart;
class TieChart;
}  // namespace presentation

namespace app {

class ChannelDisplay;
class SpinEdit;

// Limits of the scale box in each unit, and of the filter length.
inline constexpr int kBitsMinimum = 10;
inline constexpr int kBitsMaximum = 1000000;
inline constexpr int kPercentMinimum = 1;
inline constexpr int kPercentMaximum = 100;
inline constexpr int kFilterMinimum = 3;
inline constexpr int kFilterMaximum = 33;

// The main window's controls and their geometry, in the manner of a generated form: SetupUi
// builds every control as a child of the window, named after the control (object name and
// accessible description) and captioned for assistive technology (accessible name). It holds no
// handlers and no state of its own; the window wires them. Window thread only.
class FmainForm {
 public:
  FmainForm();
  ~FmainForm();
  FmainForm(const FmainForm&) = delete;
  FmainForm& operator=(const FmainForm&) = delete;

  void SetupUi(QWidget* window);
  // Lays out the regions and the controls anchored to the window's right edge for its size.
  void PlaceEdgeControls(QWidget* window);

  // Offers one more view in the graph selector; its button id is the view's value.
  void AddGraphItem(analysis::GraphView view, const QString& caption);
  analysis::GraphView CheckedGraph() const;
  QRadioButton* GraphItem(analysis::GraphView view) const;

  void SetPulseChartInFront(bool in_front);
  bool PulseChartInFront() const;

  // Builds the TIE and Stability charts and the readout line under the charts, and offers the
  // two views in the graph selector. Without it the chart area is laid out as before.
  void ShowAnalysis(QWidget* window);
  bool AnalysisShown() const { return Chart3 != nullptr; }
  // Puts the chart of a timing view in front of the others, or hides both for any other view.
  void ShowTimingChart(analysis::GraphView view);
  // The readout's figures, and "Missing N / Extra N" in red beside them (hidden when empty).
  void ShowReadout(const QString& figures, const QString& pulse_counts) const;
  // The Run line under the readout, which takes a line of the chart area while it has a text.
  void ShowRunLine(const QString& text);
  // The boxes of the channel 1 figures and of the quality factor, which take in every interval
  // of the pass: a red frame and `note` as their tooltip, or neither for an empty note.
  void MarkFigures(const QString& note) const;

  // The capture controls as a cycle event carries them: host, port, samples as typed and as a
  // value, Dual Channel, AutoSample and Stream.
  acquisition::CycleInputs CycleInputs() const;
  // The pulse chart's title, which is also its accessible name.
  void SetChartTitle(const QString& first_line) const;

  // "Lost N" in red beside the Stream box, with N, the datagrams from other senders refused and
  // the bytes that made no whole word in its tooltip and accessible name; hidden when all are 0.
  void ShowStreamCounts(const acquisition::StreamCounts& counts);

  // The box that shows a figure; none for Lpcycles, which is a label.
  QLineEdit* FigureBox(analysis::Figure figure) const;

  // The regions.
  QFrame* Panel1 = nullptr;  // bottom bar
  QFrame* Panel2 = nullptr;  // top bar
  QFrame* Panel3 = nullptr;  // right column
  QWidget* ChartArea = nullptr;

  // Bottom bar.
  QLabel* Label1 = nullptr;
  QLineEdit* Eip = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* Eport = nullptr;
  QLabel* Label3 = nullptr;
  SpinEdit* SEsamples = nullptr;
  QLabel* Lscale = nullptr;
  SpinEdit* SEvscale = nullptr;
  QRadioButton* RBbits = nullptr;
  QRadioButton* RBpct = nullptr;
  QLabel* Lfilter = nullptr;
  SpinEdit* SEfilter = nullptr;
  QCheckBox* CBdual = nullptr;
  QCheckBox* CBstream = nullptr;
  QLabel* Llost = nullptr;  // stream words lost to a ring overflow, shown only when some were
  QCheckBox* CBactive = nullptr;
  QPushButton* Bsample = nullptr;

  // Top bar.
  QLabel* Label4 = nullptr;
  QLineEdit* Eint1 = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* Efreq1 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label9 = nullptr;
  QLineEdit* Eint2 = nullptr;
  QLabel* Label7 = nullptr;
  QLineEdit* Efreq2 = nullptr;
  QLabel* Label8 = nullptr;
  QPushButton* Bftest = nullptr;

  // Right column.
  QLabel* Label17 = nullptr;
  QLineEdit* Esampavg = nullptr;
  QLabel* Label12 = nullptr;
  QLineEdit* Epkpos = nullptr;
  QLineEdit* Epkneg = nullptr;
  QLineEdit* Ejitpp = nullptr;
  QLabel* Label18 = nullptr;
  QLineEdit* Ejitpp_pct = nullptr;
  QLabel* Label15 = nullptr;
  QLineEdit* Ejitpp_max = nullptr;
  QLabel* Label24 = nullptr;
  QLabel* Label14 = nullptr;
  QLineEdit* Ejitrms = nullptr;
  QLineEdit* Ejitrms_pct = nullptr;
  QLabel* Label16 = nullptr;
  QLabel* Label19 = nullptr;
  QLineEdit* Eprove_ms = nullptr;
  QLabel* Label20 = nullptr;
  QLabel* Lpcycles = nullptr;
  QLabel* Label22 = nullptr;
  QLineEdit* Eprove_err = nullptr;
  QLabel* Label21 = nullptr;
  QLineEdit* Epqf = nullptr;
  QLabel* Label23 = nullptr;
  QPushButton* Bpqfreset = nullptr;
  QPushButton* Bload = nullptr;
  QPushButton* Bsave = nullptr;
  QPushButton* Bprint = nullptr;

  // Chart area: the pulse chart (Chart1) and the histogram chart (Chart2) fill it, one in front
  // of the other; the graph selector sits over its bottom right corner.
  std::unique_ptr<presentation::PulseChart> Chart1;
  std::unique_ptr<presentation::HistogramChart> Chart2;
  QPlainTextEdit* Memo1 = nullptr;
  QGroupBox* RGgsel = nullptr;
  QButtonGroup* RGgselGroup = nullptr;

  // With ANALYSIS only: the TIE chart (Chart3) and the Stability chart (Chart4), shown in front
  // in their views, and the readout line under the charts.
  std::unique_ptr<presentation::TieChart> Chart3;
  std::unique_ptr<presentation::StabilityChart> Chart4;
  QLabel* Lreadout = nullptr;
  QLabel* Lpulses = nullptr;
  QLabel* Lrun = nullptr;  // the whole run of a stream
  // Channel 2 and the pair of a dual block: the strip over the readout, and the curves and
  // limit lines of the timing charts. Made with the charts, which it draws on.
  std::unique_ptr<ChannelDisplay> Channels;

 private:
  void BuildRegions(QWidget* window);
  void BuildConnectionControls();
  void BuildScaleControls();
  void BuildCaptureControls();
  void BuildTopBar();
  void BuildJitterFigures();
  void BuildFlightTimeAndButtons();
  void BuildChartArea();

  std::array<QLineEdit*, analysis::kFigureCount> figure_boxes_{};
};

}  // namespace app
