#include "analysis/pass_view.h"

namespace analysis {

std::string_view BoxName(Box box) {
  switch (box) {
    case Box::kEsampavg:
      return "Esampavg";
    case Box::kEpkpos:
      return "Epkpos";
    case Box::kEpkneg:
      return "Epkneg";
    case Box::kEjitpp:
      return "Ejitpp";
    case Box::kEjitpp_pct:
      return "Ejitpp_pct";
    case Box::kEjitpp_max:
      return "Ejitpp_max";
    case Box::kEjitrms:
      return "Ejitrms";
    case Box::kEjitrms_pct:
      return "Ejitrms_pct";
    case Box::kEint1:
      return "Eint1";
    case Box::kEfreq1:
      return "Efreq1";
    case Box::kEint2:
      return "Eint2";
    case Box::kEfreq2:
      return "Efreq2";
    case Box::kLpcycles:
      return "Lpcycles";
    case Box::kEprove_err:
      return "Eprove_err";
    case Box::kEpqf:
      return "Epqf";
    case Box::kEprove_ms:
      return "Eprove_ms";
  }
  return "";
}

}  // namespace analysis
