#include "app/channel_display.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <utility>

#include "analysis/limit_check.h"
#include "common/error.h"
#include "persistence/channel_summary.h"
#include "presentation/limit_view.h"
#include "presentation/timing_charts.h"

namespace app {

using presentation::ChannelChoice;

namespace {

constexpr char kAlarmStyle[] = "color: #c00000";
constexpr char kPlainStyle[] = "color: #000000";

QLabel* NewLine(QWidget* parent, const char* name, const QString& role) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setAccessibleDescription(QString::fromLatin1(name));
  label->setAccessibleName(role);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setWordWrap(true);
  return label;
}

void SetLine(QLabel* label, const std::string& text) {
  const QString shown = QString::fromStdString(text);
  label->setText(shown);
  if (!shown.isEmpty()) label->setAccessibleName(shown);
}

// The Stability view's curves of channel 2 beside channel 1's: dashed, in the same colours.
std::vector<presentation::StabilityChart::Curve> Ch2Curves(
    const std::vector<analysis::StabilityRow>& rows) {
  std::vector<presentation::StabilityChart::Curve> curves;
  for (size_t s = 0; s < std::size(presentation::kPlottedDeviations); ++s) {
    const analysis::Deviation d = presentation::kPlottedDeviations[s];
    const analysis::Deviation only[] = {d};
    curves.push_back(
        {QString::fromLatin1(analysis::DeviationName(d).data()).toUpper() + QStringLiteral(" Ch2"),
         presentation::StabilityChart::PlottedColour(static_cast<int>(s)), true,
         presentation::RowsOf(rows, only)});
  }
  return curves;
}

std::vector<presentation::StabilityChart::Curve> DifferenceCurves(
    const std::vector<analysis::StabilityRow>& table) {
  const QColor colours[] = {QColor(120, 0, 160), QColor(0, 130, 130)};
  std::vector<presentation::StabilityChart::Curve> curves;
  for (size_t k = 0; k < std::size(presentation::kDifferenceDeviations); ++k) {
    const analysis::Deviation d = presentation::kDifferenceDeviations[k];
    const analysis::Deviation only[] = {d};
    curves.push_back({QString::fromLatin1(analysis::DeviationName(d).data()).toUpper() +
                          QStringLiteral(" Ch2-Ch1"),
                      colours[k], false, presentation::RowsOf(table, only)});
  }
  return curves;
}

}  // namespace

std::optional<acquisition::DualStamps> DualBlock(std::string_view reply,
                                                 const acquisition::PulseData& data) {
  if (data.Ch2Count <= 0) return std::nullopt;
  try {
    acquisition::DualStamps stamps = acquisition::DecodeDualStamps(reply);
    if (stamps.ch2.empty()) return std::nullopt;
    return stamps;
  } catch (const common::Error&) {
    return std::nullopt;  // the pass has shown what it made of the reply
  }
}

ChannelDisplay::ChannelDisplay(QWidget* area, presentation::TieChart& tie,
                               presentation::StabilityChart& stability)
    : tie_(tie), stability_(stability) {
  strip_ = new QWidget(area);
  strip_->setObjectName(QStringLiteral("Pchannels"));
  auto* rows = new QVBoxLayout(strip_);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(1);
  auto* first = new QHBoxLayout;
  auto* caption = new QLabel(QStringLiteral("Channel"), strip_);
  choice_ = new QComboBox(strip_);
  choice_->setObjectName(QStringLiteral("CMBchannel"));
  choice_->setAccessibleName(QStringLiteral("Channel of the TIE and Stability views"));
  for (std::string_view item : presentation::kChannelChoiceCaptions)
    choice_->addItem(QString::fromLatin1(item.data(), static_cast<int>(item.size())));
  caption->setBuddy(choice_);
  ch2_ = NewLine(strip_, "Lch2", QStringLiteral("Channel 2 timing jitter"));
  first->addWidget(caption);
  first->addWidget(choice_);
  first->addSpacing(8);
  first->addWidget(ch2_, 1);
  rows->addLayout(first);
  pairing_ = NewLine(strip_, "Lpairing", QStringLiteral("Pairing and pulse security"));
  rows->addWidget(pairing_);
  totals_line_ = NewLine(strip_, "Lchrun", QStringLiteral("AutoSample run totals"));
  totals_line_->setStyleSheet(QStringLiteral("color: #00308c"));
  totals_line_->hide();
  rows->addWidget(totals_line_);
  strip_->hide();
  QObject::connect(choice_, &QComboBox::currentIndexChanged, this, [this](int) { Draw(); });
}

int ChannelDisplay::StripHeight(int width) const {
  if (strip_->isHidden()) return 0;
  const QLayout* rows = strip_->layout();
  return rows->hasHeightForWidth() ? rows->totalHeightForWidth(width)
                                   : rows->totalSizeHint().height();
}

void ChannelDisplay::Show(const presentation::TimingView& ch1,
                          const acquisition::DualStamps* stamps, presentation::TimingParts parts,
                          bool count_in_run) {
  ch1_ = ch1;
  parts_ = parts;
  channels_ = {};
  if (stamps != nullptr) channels_ = presentation::ComputeChannelsView(*stamps, parts);
  counted_ = count_in_run && run_on_ && channels_.dual;
  if (counted_) totals_.Add(channels_.report);
  ShowLines();
  Draw();
}

void ChannelDisplay::Clear() {
  ch1_ = {};
  channels_ = {};
  ShowLines();
  tie_.SetTraceName(QStringLiteral("TIE"));
  tie_.ShowSecond({}, {});
  stability_.ShowCurves({});
  stability_.ShowLimits({}, {});
}

void ChannelDisplay::SetChoice(ChannelChoice choice) {
  choice_->setCurrentIndex(static_cast<int>(choice));  // draws through its signal
}

ChannelChoice ChannelDisplay::Choice() const {
  return channels_.dual ? ChannelChoice(choice_->currentIndex()) : ChannelChoice::kCh1;
}

void ChannelDisplay::SetLimits(std::vector<analysis::LimitLine> lines) {
  limits_ = std::move(lines);
  if (parts_.stability) DrawStability();
}

void ChannelDisplay::StartRun() {
  totals_ = {};
  run_start_ = std::chrono::system_clock::now();
  run_on_ = true;
  ShowLines();
}

void ChannelDisplay::WriteRunSummary(const std::string& dir) const {
  persistence::ChannelSummaryRecord record;
  record.start = run_start_;
  record.stop = std::chrono::system_clock::now();
  record.window_deg = analysis::kDefaultPhaseWindowDeg;
  record.totals = totals_;
  persistence::WriteChannelSummary(dir, record);
}

std::string ChannelDisplay::ErrorsCsv() const {
  return channels_.dual ? presentation::ErrorListCsv(channels_.report.security.errors)
                        : std::string();
}

QString ChannelDisplay::Ch2Text() const { return ch2_->text(); }
QString ChannelDisplay::PairingText() const { return pairing_->text(); }
QString ChannelDisplay::TotalsText() const {
  return totals_line_->isHidden() ? QString() : totals_line_->text();
}

void ChannelDisplay::ShowLines() {
  const int before = StripHeight(strip_->width());
  if (channels_.dual) {
    SetLine(ch2_, presentation::Ch2LineText(channels_.ch2));
    SetLine(pairing_, presentation::PairingText(channels_.report));
    const analysis::PulseSecurity& security = channels_.report.security;
    pairing_->setToolTip(QString::fromStdString(presentation::ErrorListText(security.errors)));
    pairing_->setStyleSheet(QString::fromLatin1(
        presentation::SecurityAlarm(security.counts) ? kAlarmStyle : kPlainStyle));
  }
  const bool totals = channels_.dual && totals_.counts.blocks > 0;
  if (totals) SetLine(totals_line_, presentation::RunTotalsText(totals_.counts));
  totals_line_->setVisible(totals);
  strip_->setVisible(channels_.dual);
  if (StripHeight(strip_->width()) != before) emit StripResized();
}

void ChannelDisplay::Draw() {
  if (parts_.tie) DrawTie();
  if (parts_.stability) DrawStability();
}

void ChannelDisplay::DrawTie() {
  const ChannelChoice choice = Choice();
  const bool second = choice == ChannelChoice::kBoth;
  tie_.SetTraceName(choice == ChannelChoice::kCh1   ? QStringLiteral("TIE")
                    : choice == ChannelChoice::kCh2 ? QStringLiteral("TIE Ch2")
                    : second                        ? QStringLiteral("TIE Ch1")
                                                    : QStringLiteral("TIE Ch2 - Ch1"));
  tie_.Show(choice == ChannelChoice::kCh2          ? channels_.ch2
            : choice == ChannelChoice::kDifference ? channels_.difference_tie
                                                   : ch1_);
  tie_.ShowSecond(second ? channels_.ch2 : presentation::TimingView{}, QStringLiteral("TIE Ch2"));
}

void ChannelDisplay::DrawStability() {
  const ChannelChoice choice = Choice();
  std::vector<analysis::StabilityRow> judged = ch1_.stability;
  std::vector<presentation::StabilityChart::Curve> curves;
  std::span<const analysis::Deviation> drawn = presentation::kPlottedDeviations;
  QString title;
  if (choice == ChannelChoice::kCh2) {
    judged = channels_.ch2.stability;
    title = QStringLiteral("K390 Stability  (Ch2)");
  } else if (choice == ChannelChoice::kBoth) {
    curves = Ch2Curves(channels_.ch2.stability);
    judged.insert(judged.end(), channels_.ch2.stability.begin(), channels_.ch2.stability.end());
    title = QStringLiteral("K390 Stability  (Ch1 solid, Ch2 dashed)");
  } else if (choice == ChannelChoice::kDifference) {
    judged = presentation::RowsOf(channels_.difference_table, presentation::kDifferenceDeviations);
    curves = DifferenceCurves(channels_.difference_table);
    drawn = presentation::kDifferenceDeviations;
    title = QStringLiteral("K390 Stability  (Ch2 - Ch1 time difference)");
  }
  const bool main_curve = choice == ChannelChoice::kCh1 || choice == ChannelChoice::kBoth;
  stability_.Show(main_curve                      ? ch1_.stability
                  : choice == ChannelChoice::kCh2 ? channels_.ch2.stability
                                                  : std::vector<analysis::StabilityRow>{},
                  title);
  stability_.ShowCurves(curves);
  DrawLimits(judged, drawn);
}

void ChannelDisplay::ShowWholeRun(const std::vector<analysis::StabilityRow>& rows,
                                  const QString& title) {
  stability_.Show(rows, title);
  stability_.ShowCurves({});
  DrawLimits(rows, presentation::kPlottedDeviations);
}

void ChannelDisplay::DrawLimits(std::span<const analysis::StabilityRow> judged,
                                std::span<const analysis::Deviation> drawn) {
  const std::vector<analysis::LimitLine> lines = presentation::LinesFor(limits_, drawn);
  QString verdict;
  if (!limits_.empty()) {
    verdict = QString::fromStdString(
        presentation::LimitVerdictText(analysis::CheckLimits(judged, lines)));
  }
  stability_.ShowLimits(lines, verdict);
}

}  // namespace app
