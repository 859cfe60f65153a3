#pragma once

#include <QWidget>
#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/protocol.h"
#include "analysis/channel_run.h"
#include "analysis/limit_check.h"
#include "analysis/processing_pass.h"
#include "analysis/pulse_security.h"
#include "presentation/channel_view.h"
#include "presentation/timing_view.h"

class QComboBox;
class QLabel;

namespace presentation {
class StabilityChart;
class TieChart;
}  // namespace presentation

namespace app {

// The stamps of both channels of a reply the pass decoded into `data`, when the reply holds
// stamps on channel 2; none otherwise, and none when the reply does not read as a dual reply.
std::optional<acquisition::DualStamps> DualBlock(std::string_view reply,
                                                 const acquisition::PulseData& data);

// What the window shows of a dual block beside channel 1: a strip over the readout (the channel
// choice of the TIE and Stability views, channel 2's readout, the pairing and pulse security
// line with the error list as its tooltip, and the totals of an AutoSample run), the curves of
// the choice in the TIE and Stability charts, and the limit lines with their verdict on the
// Stability chart. The strip is hidden while the last block is not dual, so a single-channel
// capture shows nothing of it. Window thread only.
class ChannelDisplay : public QObject {
  Q_OBJECT

 public:
  // The strip is made a child of `area`, which deletes it; the charts belong to the form and
  // outlive this.
  ChannelDisplay(QWidget* area, presentation::TieChart& tie,
                 presentation::StabilityChart& stability);

  // The strip, for the form to place. Its lines wrap rather than lose their ends: its height at
  // `width` pixels, 0 while hidden.
  QWidget* Strip() const { return strip_; }
  int StripHeight(int width) const;

  // Shows a pass: channel 1's view as PassDisplay computed it with `parts` and the block's
  // stamps (none for a stream window, a loaded list or a reply that holds one channel). It
  // draws the curves of the choice on the charts of `parts`; a block counted in the run adds to
  // the totals.
  void Show(const presentation::TimingView& ch1, const acquisition::DualStamps* stamps,
            presentation::TimingParts parts, bool count_in_run);
  // Forgets the block and hides the strip; the charts' extra curves and the verdict go too.
  void Clear();

  // The whole run of a stream on the Stability chart (channel 1's deviations), with the limit
  // lines judged on it rather than on the last stream window.
  void ShowWholeRun(const std::vector<analysis::StabilityRow>& rows, const QString& title);

  void SetChoice(presentation::ChannelChoice choice);
  presentation::ChannelChoice Choice() const;
  // Limit lines for the Stability view (empty: none), drawn and judged at once.
  void SetLimits(std::vector<analysis::LimitLine> lines);
  const std::vector<analysis::LimitLine>& Limits() const { return limits_; }

  // An AutoSample run: totals from 0, shown from its first dual block on.
  void StartRun();
  void StopRun() { run_on_ = false; }
  const analysis::ChannelRunTotals& RunTotals() const { return totals_; }
  // Whether the last Show added a block to the run.
  bool Counted() const { return counted_; }
  // The run's totals as DIR/capture.summary.json, as k390tool capture --dual leaves them; the
  // window writes it after every block it counts. Throws common::Error when it cannot be written.
  void WriteRunSummary(const std::string& dir) const;

  bool Dual() const { return channels_.dual; }
  const presentation::ChannelsView& Channels() const { return channels_; }
  // The error list of the block shown as ErrorListCsv gives it; empty when not dual.
  std::string ErrorsCsv() const;
  // The texts of the strip's lines, for the window's tests and assistive tools.
  QString Ch2Text() const;
  QString PairingText() const;
  QString TotalsText() const;

 signals:
  // The strip's height at its width changed: the form lays the chart area out again.
  void StripResized();

 private:
  void ShowLines();
  void Draw();
  void DrawTie();
  void DrawStability();
  void DrawLimits(std::span<const analysis::StabilityRow> judged,
                  std::span<const analysis::Deviation> drawn);

  QWidget* strip_ = nullptr;
  QComboBox* choice_ = nullptr;
  QLabel* ch2_ = nullptr;
  QLabel* pairing_ = nullptr;
  QLabel* totals_line_ = nullptr;
  presentation::TieChart& tie_;
  presentation::StabilityChart& stability_;

  presentation::TimingView ch1_;
  presentation::ChannelsView channels_;
  presentation::TimingParts parts_;  // the charts the last pass drew
  std::vector<analysis::LimitLine> limits_;
  analysis::ChannelRunTotals totals_;
  bool run_on_ = false;
  bool counted_ = false;
  std::chrono::system_clock::time_point run_start_;
};

}  // namespace app
