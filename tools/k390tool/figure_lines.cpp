#include "figure_lines.h"

#include "acquisition/protocol.h"

namespace k390tool {
namespace {

using analysis::Figure;

constexpr Figure kFlightOrder[] = {Figure::kLpcycles, Figure::kEprove_err, Figure::kEpqf};

}  // namespace

std::string NoFiguresReason(const acquisition::PulseData& data, bool decoded, bool from_file) {
  if (!decoded) return "reply ended early";
  const int64_t count = data.Ch1Count;
  if (count <= 0 || (from_file && count <= 1)) return "no records";
  if (count == 1) return "too few records";
  return "average not above 0";
}

void PrintReplyWarning(std::ostream& out, const acquisition::PulseData& data) {
  if (data.reply.Short()) out << "Warning=" << acquisition::ShortReplyText(data.reply) << '\n';
}

void PrintFigures(std::ostream& out, const analysis::PassResult& result, bool with_flight) {
  for (size_t f = 0; f < analysis::FigureIndex(Figure::kLpcycles); ++f)
    out << analysis::FigureName(Figure(f)) << '=' << result.texts[f] << '\n';
  if (!with_flight) return;
  const analysis::FlightFigures& flight = result.flight;
  for (Figure figure : kFlightOrder) {
    const std::string& text = figure == Figure::kLpcycles     ? flight.pulses
                              : figure == Figure::kEprove_err ? flight.quality
                                                              : flight.quality_peak.value_or("");
    if (!text.empty()) out << analysis::FigureName(figure) << '=' << text << '\n';
  }
}

}  // namespace k390tool
