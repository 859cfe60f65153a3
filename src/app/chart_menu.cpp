#include "app/chart_menu.h"

#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QMenu>
#include <QSpinBox>
#include <QWidget>
#include <cmath>

#include "analysis/limit_check.h"
#include "analysis/pulse_train.h"
#include "analysis/stability.h"
#include "app/channel_display.h"
#include "app/fmain_form.h"
#include "common/error.h"
#include "persistence/limit_lines.h"
#include "persistence/text_file.h"
#include "presentation/chart_export.h"
#include "presentation/histogram_chart.h"
#include "presentation/proving_chart.h"
#include "presentation/pulse_chart.h"
#include "presentation/spectrum_chart.h"
#include "presentation/timing_charts.h"

namespace app {
namespace {

using analysis::Figure;

// The figures as the window shows them, top bar first.
constexpr Figure kWindowOrder[] = {
    Figure::kCh1Seconds,
    Figure::kCh1Frequency,
    Figure::kCh2Seconds,
    Figure::kCh2Frequency,
    Figure::kAverageTicks,
    Figure::kPeakPositive,
    Figure::kPeakNegative,
    Figure::kPeakToPeak,
    Figure::kPeakToPeakPercent,
    Figure::kHeldPeakToPeakPercent,
    Figure::kRms,
    Figure::kRmsPercent,
    Figure::kFlightPulses,
    Figure::kQualityFactor,
    Figure::kHeldQualityFactor,
};
static_assert(std::size(kWindowOrder) == analysis::kFigureCount);

// A picture of more than 10000 pixels a side would take gigabytes to draw.
constexpr int kLargestPictureSide = 10000;

QString ChoosePictureFile(QWidget* parent) {
  QFileDialog chooser(parent, QStringLiteral("Save picture"));
  chooser.setObjectName(QStringLiteral("PictureDialog"));
  const QStringList filters = {QStringLiteral("PNG picture (*.png)"),
                               QStringLiteral("PDF document (*.pdf)"),
                               QStringLiteral("SVG drawing (*.svg)")};
  chooser.setNameFilters(filters);
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setDefaultSuffix(QStringLiteral("png"));
  // A name typed without an extension takes the one of the filter shown.
  QObject::connect(&chooser, &QFileDialog::filterSelected, &chooser, [&chooser](const QString& f) {
    chooser.setDefaultSuffix(f.section(QLatin1String("*."), 1).chopped(1));
  });
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return {};
  return chooser.selectedFiles().constFirst();
}

QString ChooseTableFile(QWidget* parent, const QString& title, bool open = false) {
  QFileDialog chooser(parent, title);
  chooser.setObjectName(QStringLiteral("TableDialog"));
  chooser.setNameFilter(QStringLiteral("Comma-separated table (*.csv)"));
  chooser.setAcceptMode(open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  if (open) chooser.setFileMode(QFileDialog::ExistingFile);
  chooser.setDefaultSuffix(QStringLiteral("csv"));
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return {};
  return chooser.selectedFiles().constFirst();
}

std::optional<QSize> ChoosePictureSize(QWidget* parent, QSize shown) {
  QDialog dialog(parent);
  dialog.setObjectName(QStringLiteral("PictureSizeDialog"));
  dialog.setWindowTitle(QStringLiteral("Picture size"));
  auto* form = new QFormLayout(&dialog);
  auto side = [&](const char* caption, int value) {
    auto* box = new QSpinBox(&dialog);
    box->setRange(1, kLargestPictureSide);
    box->setValue(value);
    box->setSuffix(QStringLiteral(" px"));
    box->setAccessibleName(QString::fromLatin1(caption));
    form->addRow(QString::fromLatin1(caption), box);
    return box;
  };
  QSpinBox* width = side("Width", shown.width());
  QSpinBox* height = side("Height", shown.height());
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return QSize(width->value(), height->value());
}

}  // namespace

QString FiguresText(const analysis::FigureSheet& figures) {
  QString text;
  for (Figure figure : kWindowOrder) {
    const std::string_view name = analysis::FigureName(figure);
    text += QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    text += QLatin1Char('\t');
    text += QString::fromStdString(figures.Text(figure));
    text += QLatin1Char('\n');
  }
  return text;
}

std::vector<analysis::StabilityRow> StabilityRowsOf(std::span<const double> intervals) {
  std::vector<int64_t> ticks;
  ticks.reserve(intervals.size());
  for (double d : intervals) {
    if (!std::isfinite(d)) return {};
    ticks.push_back(std::llround(d));
  }
  const analysis::PulseTrain train = analysis::BuildPulseTrain(ticks);
  if (!analysis::EnoughTimingIntervals(train.intervals)) return {};
  return analysis::StabilityTable(train, analysis::OctaveFactors(train.LastIndex()));
}

ChartMenu::ChartMenu(const FmainForm& ui, Table shown_table,
                     std::function<analysis::FigureSheet()> shown_figures, Guard guard,
                     QWidget* window)
    : QObject(window),
      ui_(ui),
      shown_table_(std::move(shown_table)),
      shown_figures_(std::move(shown_figures)),
      guard_(std::move(guard)),
      window_(window) {}

void ChartMenu::Attach() {
  std::vector<QWidget*> charts = {ui_.Charts().pulse->Widget(), ui_.Charts().histogram->Widget()};
  if (ui_.Charts().tie) charts.push_back(ui_.Charts().tie->Widget());
  if (ui_.Charts().stability) charts.push_back(ui_.Charts().stability->Widget());
  if (ui_.Charts().proving) charts.push_back(ui_.Charts().proving->Widget());
  if (ui_.Charts().spectrum) charts.push_back(ui_.Charts().spectrum->Widget());
  for (QWidget* chart : charts) {
    chart->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(chart, &QWidget::customContextMenuRequested, this,
            [this, chart](QPoint at) { Popup(chart, chart->mapToGlobal(at)); });
  }
}

QMenu* ChartMenu::Popup(QWidget* chart, QPoint global) {
  auto* menu = new QMenu(window_);
  menu->setObjectName(QStringLiteral("ChartMenu"));
  menu->setAttribute(Qt::WA_DeleteOnClose);
  auto entry = [&](const char* caption, std::function<void()> work) {
    connect(menu->addAction(QString::fromLatin1(caption)), &QAction::triggered, this,
            [this, work = std::move(work)] { guard_(work); });
  };
  entry("Save picture...", [this, chart] { SavePicture(chart, false); });
  entry("Save picture at size...", [this, chart] { SavePicture(chart, true); });
  menu->addSeparator();
  entry("Copy figures", [this] { CopyFigures(); });
  if (ui_.AnalysisShown()) {
    entry("Save stability table...", [this] { SaveStabilityTable(); });
    if (ui_.Channels()->Dual()) entry("Save channel errors...", [this] { SaveChannelErrors(); });
    if (chart == ui_.Charts().proving->Widget())
      entry("Save proving table...", [this] { SaveRecordTable(File::kProvingTable); });
    if (chart == ui_.Charts().spectrum->Widget())
      entry("Save spectrum table...", [this] { SaveRecordTable(File::kSpectrumTable); });
    if (chart == ui_.Charts().stability->Widget()) {
      menu->addSeparator();
      entry("Load limit lines...", [this] { LoadLimitLines(); });
      if (!ui_.Channels()->Limits().empty())
        entry("Clear limit lines", [this] { ui_.Channels()->SetLimits({}); });
    }
  }
  menu->popup(global);
  return menu;
}

void ChartMenu::SavePicture(QWidget* chart, bool choose_size) {
  QSize size = presentation::ShownChartSize(chart);
  if (choose_size) {
    const std::optional<QSize> chosen = ChooseSize(size);
    if (!chosen) return;
    size = *chosen;
  }
  const QString path = ChooseFile(File::kPicture);
  if (path.isEmpty()) return;
  presentation::SaveChartPicture(chart, path, size);
}

void ChartMenu::CopyFigures() const {
  QGuiApplication::clipboard()->setText(FiguresText(shown_figures_()));
}

void ChartMenu::SaveStabilityTable() {
  const std::vector<analysis::StabilityRow> rows = shown_table_();
  if (rows.empty()) {
    throw common::Error("No stability table: the data shown make no pulse train of at least " +
                        std::to_string(analysis::kFewestTimingIntervals) + " intervals");
  }
  const QString path = ChooseFile(File::kStabilityTable);
  if (path.isEmpty()) return;
  persistence::WriteStabilityCsv(path.toStdString(), rows);
}

void ChartMenu::SaveRecordTable(File file) {
  const bool proving = file == File::kProvingTable;
  const Text& table = proving ? proving_table_ : spectrum_table_;
  const std::string csv = table ? table() : std::string();
  if (csv.empty()) {
    throw common::Error(proving ? "No proving table: the record shown holds fewer than 20 provings "
                                  "of 10 ms"
                                : "No spectrum table: the record shown holds too few pulses");
  }
  const QString path = ChooseFile(file);
  if (path.isEmpty()) return;
  persistence::ReplaceTextFile(path.toStdString(), csv);
}

void ChartMenu::LoadLimitLines() {
  const QString path = ChooseFile(File::kLimitLines);
  if (path.isEmpty()) return;
  const std::vector<std::string_view> names = analysis::LimitDeviationNames();
  ui_.Channels()->SetLimits(persistence::ReadLimitLines(path.toStdString(), names));
}

void ChartMenu::SaveChannelErrors() {
  const QString path = ChooseFile(File::kChannelErrors);
  if (path.isEmpty()) return;
  persistence::WriteTextFile(path.toStdString(), ui_.Channels()->ErrorsCsv());
}

QString ChartMenu::ChooseFile(File file) {
  if (hooks_.choose_file) return hooks_.choose_file(file);
  switch (file) {
    case File::kPicture:
      return ChoosePictureFile(window_);
    case File::kStabilityTable:
      return ChooseTableFile(window_, QStringLiteral("Save stability table"));
    case File::kProvingTable:
      return ChooseTableFile(window_, QStringLiteral("Save proving table"));
    case File::kSpectrumTable:
      return ChooseTableFile(window_, QStringLiteral("Save spectrum table"));
    case File::kLimitLines:
      return ChooseTableFile(window_, QStringLiteral("Load limit lines"), true);
    case File::kChannelErrors:
      break;
  }
  return ChooseTableFile(window_, QStringLiteral("Save channel errors"));
}

std::optional<QSize> ChartMenu::ChooseSize(QSize shown) {
  if (hooks_.choose_size) return hooks_.choose_size(shown);
  return ChoosePictureSize(window_, shown);
}

}  // namespace app
