#pragma once

#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "analysis/figure_text.h"
#include "persistence/stability_csv.h"

class QMenu;
class QWidget;

namespace app {

class FmainForm;

// "NAME<TAB>TEXT" lines, each ended by LF, one per figure of the window in the order it shows
// them: the top bar left to right, then the right column top to bottom. The names are those of
// the boxes (and of k390tool's figures); a blank figure keeps its line.
QString FiguresText(const analysis::FigureSheet& figures);

// The stability table of channel 1 intervals in ticks, as `k390tool stability` makes it of pulse
// data: every deviation at the octave factors. Fractions of a tick are rounded, as the timing
// views round a loaded frequency list. Empty when the intervals make no pulse train of at least
// three intervals. Any thread.
std::vector<analysis::StabilityRow> StabilityRowsOf(std::span<const double> intervals_ticks);

// The right-click menu of the charts: "Save picture..." at the chart's shown size, "Save picture
// at size...", "Copy figures", and with the timing analysis shown "Save stability table...";
// with a dual block shown "Save channel errors..."; on the Proving and Spectrum charts "Save
// proving table..." or "Save spectrum table..."; on the Stability chart "Load limit lines..."
// (and "Clear limit lines" while some are loaded).
// Every entry runs under the window's error display. Window thread only.
class ChartMenu : public QObject {
  Q_OBJECT

 public:
  enum class File {
    kPicture,
    kStabilityTable,
    kProvingTable,
    kSpectrumTable,
    kLimitLines,
    kChannelErrors
  };

  // Replaceable dialogs: the file to write (empty for a cancel) and the picture size (none for a
  // cancel), offered the shown size. Empty functions select the real dialogs.
  struct Hooks {
    std::function<QString(File file)> choose_file;
    std::function<std::optional<QSize>(QSize shown)> choose_size;
  };
  // Runs an entry's work and shows what it throws.
  using Guard = std::function<void(const std::function<void()>& action)>;

  // `shown_table` gives the stability table of what is in view: the whole run of a stream while
  // the window shows it, else StabilityRowsOf of the last pass that drew (empty: none);
  // `shown_figures` the figures the boxes show.
  using Table = std::function<std::vector<analysis::StabilityRow>()>;
  ChartMenu(const FmainForm& ui, Table shown_table,
            std::function<analysis::FigureSheet()> shown_figures, Guard guard, QWidget* window);

  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }
  // The tables of the Proving and Spectrum views as shown (empty: none).
  using Text = std::function<std::string()>;
  void SetRecordTables(Text proving, Text spectrum) {
    proving_table_ = std::move(proving);
    spectrum_table_ = std::move(spectrum);
  }

  // A right click on any chart the form holds now opens the menu for that chart.
  void Attach();
  // Opens the menu for `chart` at `global` and returns it; it deletes itself when closed.
  QMenu* Popup(QWidget* chart, QPoint global);

  // The entries.
  void SavePicture(QWidget* chart, bool choose_size);
  void CopyFigures() const;
  void SaveStabilityTable();
  void SaveRecordTable(File file);
  void LoadLimitLines();
  void SaveChannelErrors();

 private:
  QString ChooseFile(File file);
  std::optional<QSize> ChooseSize(QSize shown);

  const FmainForm& ui_;
  Table shown_table_;
  std::function<analysis::FigureSheet()> shown_figures_;
  Guard guard_;
  QWidget* window_;
  Hooks hooks_;
  Text proving_table_;
  Text spectrum_table_;
};

}  // namespace app
