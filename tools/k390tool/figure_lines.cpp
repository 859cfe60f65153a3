#include "figure_lines.h"

#include "acquisition/protocol.h"
#include "analysis/figure_text.h"

namespace k390tool {

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

void PrintFigures(std::ostream& out, const analysis::PassResult& result,
                  const analysis::FlightFigures* flight) {
  analysis::FigureSheet sheet;
  sheet.Put(result.figures);
  if (flight) sheet.Put(*flight);
  for (size_t f = 0; f < analysis::kFigureCount; ++f) {
    const auto figure = static_cast<analysis::Figure>(f);
    if (sheet.Has(figure)) out << analysis::FigureName(figure) << '=' << sheet.Text(figure) << '\n';
  }
}

}  // namespace k390tool
