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
class ProvingChart;
class PulseChart;
class SpectrumChart;
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

// The controls are handed out in groups, by what they are for. A group is a view: its pointers
// stay the form's, which builds them once in SetupUi (the analysis parts of the chart area in
// ShowAnalysis) and never replaces them. The captions beside the boxes are no group's:
// nothing changes them after the layout.

// Where the window talks to the instrument and how it captures (bottom bar).
struct CaptureControls {
  QLineEdit* address = nullptr;
  QLineEdit* port = nullptr;
  SpinEdit* samples = nullptr;
  QCheckBox* dual_channel = nullptr;
  QCheckBox* stream = nullptr;
  QLabel* lost_words = nullptr;  // beside the Stream box, shown only when some were lost
  QCheckBox* auto_sample = nullptr;
  QPushButton* sample = nullptr;
};

// The chart scale in Bits/Hz or percent, and the smoothing filter's length (bottom bar).
struct ScaleControls {
  QLabel* scale_caption = nullptr;  // says which axis the scale is for
  SpinEdit* scale = nullptr;
  QRadioButton* bits = nullptr;
  QRadioButton* percent = nullptr;
  QLabel* filter_caption = nullptr;
  SpinEdit* filter = nullptr;
};

// The flight time the operator types in milliseconds, and the pulses it spans (right column).
struct FlightControls {
  QLineEdit* time_ms = nullptr;
  QLabel* pulses = nullptr;
};

// The buttons for files and held peaks (right column), and the hidden Resample (top bar).
struct ButtonControls {
  QPushButton* peak_reset = nullptr;
  QPushButton* load = nullptr;
  QPushButton* save = nullptr;
  QPushButton* print = nullptr;
  QPushButton* resample = nullptr;
};

// The chart area: the pulse chart and the histogram chart fill it, one in front of the other,
// with the hidden reply log inside the pulse chart; the graph selector sits over its bottom
// right corner. With ANALYSIS only (null before): the TIE and Stability charts, shown in front
// in their views, and the readout lines under the charts.
struct ChartControls {
  QWidget* area = nullptr;
  presentation::PulseChart* pulse = nullptr;
  presentation::HistogramChart* histogram = nullptr;
  QPlainTextEdit* reply_log = nullptr;
  QGroupBox* graph_selector = nullptr;
  QButtonGroup* graph_items = nullptr;  // the selector's items, with the view as button id
  presentation::TieChart* tie = nullptr;
  presentation::StabilityChart* stability = nullptr;
  QLabel* readout = nullptr;
  QLabel* pulse_counts = nullptr;
  QLabel* run_line = nullptr;  // the whole run of a stream
  // With ANALYSIS only: the Proving and Spectrum charts, shown in front in their views.
  presentation::ProvingChart* proving = nullptr;
  presentation::SpectrumChart* spectrum = nullptr;
};

// The panels the controls sit on.
struct RegionControls {
  QFrame* bottom_bar = nullptr;
  QFrame* top_bar = nullptr;
  QFrame* right_column = nullptr;
};

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

  // Builds the TIE, Stability, Proving and Spectrum charts and the readout line under the charts,
  // and offers the four views in the graph selector. Without it the chart area is laid out as
  // before.
  void ShowAnalysis(QWidget* window);
  bool AnalysisShown() const { return charts_.tie != nullptr; }
  // Puts the chart of a timing view in front of the others, or hides them all for any other view.
  void ShowTimingChart(analysis::GraphView view);
  // The readout's figures, and "Window: missing N / extra N" in red under them at the right of
  // the Run line, beside the run's own count (hidden when empty).
  void ShowReadout(const QString& figures, const QString& pulse_counts) const;
  // The Run line under the readout; its line stays free while it is empty, so that nothing moves
  // when it shows or goes.
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

  // The box that shows a figure; none for the flight pulses, which are a label.
  QLineEdit* FigureBox(analysis::Figure figure) const;

  const CaptureControls& Capture() const { return capture_; }
  const ScaleControls& Scale() const { return scale_; }
  const FlightControls& Flight() const { return flight_; }
  const ButtonControls& Buttons() const { return buttons_; }
  const ChartControls& Charts() const { return charts_; }
  const RegionControls& Regions() const { return regions_; }
  // Channel 2 and the pair of a dual block: the strip over the readout, and the curves and limit
  // lines of the timing charts. With ANALYSIS only (null before), made with the charts it draws
  // on.
  ChannelDisplay* Channels() const { return channel_display_.get(); }

 private:
  void BuildRegions(QWidget* window);
  void BuildConnectionControls();
  void BuildScaleControls();
  void BuildCaptureControls();
  void BuildTopBar();
  void BuildJitterFigures();
  void BuildFlightTimeAndButtons();
  void BuildChartArea();
  void BuildRecordCharts();
  QLineEdit*& Box(analysis::Figure figure) { return figure_boxes_[analysis::FigureIndex(figure)]; }

  CaptureControls capture_;
  ScaleControls scale_;
  FlightControls flight_;
  ButtonControls buttons_;
  ChartControls charts_;
  RegionControls regions_;
  std::array<QLineEdit*, analysis::kFigureCount> figure_boxes_{};
  // The chart adapters that charts_ points at.
  std::unique_ptr<presentation::PulseChart> pulse_chart_;
  std::unique_ptr<presentation::HistogramChart> histogram_chart_;
  std::unique_ptr<presentation::TieChart> tie_chart_;
  std::unique_ptr<presentation::StabilityChart> stability_chart_;
  std::unique_ptr<ChannelDisplay> channel_display_;  // goes before the charts it draws on
  std::unique_ptr<presentation::ProvingChart> proving_chart_;
  std::unique_ptr<presentation::SpectrumChart> spectrum_chart_;
};

}  // namespace app
