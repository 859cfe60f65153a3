#pragma once

#include <ostream>
#include <string>

#include "acquisition/pulse_data.h"
#include "analysis/processing_pass.h"

// The figure lines k390tool prints for one processing pass, shared by the commands that run a
// pass (a saved capture or a block just received).
namespace k390tool {

// What the pass made of one input, when it wrote no figures: "reply ended early", "no records",
// "too few records" or "average not above 0".
std::string NoFiguresReason(const acquisition::PulseData& data, bool decoded, bool from_file);

// "Warning=reply ended early: <held> of <announced> records" when the decoded reply held fewer
// records than its header announced; nothing otherwise.
void PrintReplyWarning(std::ostream& out, const acquisition::PulseData& data);

// The figure lines of one pass that reached its figures, in the order of the window's boxes;
// with `flight`, the flight-time figures that it holds.
void PrintFigures(std::ostream& out, const analysis::PassResult& result,
                  const analysis::FlightFigures* flight = nullptr);

}  // namespace k390tool
