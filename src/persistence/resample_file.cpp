#include "persistence/resample_file.h"

#include <filesystem>

#include "analysis/resample.h"
#include "common/error.h"
#include "common/text_forms.h"
#include "persistence/text_file.h"

namespace persistence {

void ResampleLog(const std::string& stream_path, const std::string& out_path) {
  std::error_code ec;
  if (std::filesystem::equivalent(stream_path, out_path, ec)) {
    throw common::Error("Cannot create \"" + common::Printable(out_path) +
                        "\": it is the stream log being read");
  }
  // The whole log is in memory before the output is touched, and the output is replaced in one
  // step, so no failure can leave either file half written.
  const analysis::Resampled resampled = analysis::ResampleText(ReadTextFile(stream_path));
  ReplaceTextFile(out_path, resampled.text);
  if (resampled.error) throw common::Error(*resampled.error);
}

}  // namespace persistence
