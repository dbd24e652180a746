#include "unfold/options.h"

#include "geometry/kernel.h"

namespace foldra {

bool UnfoldOptions::placesTabs() const { return tabs && tabDepth >= kPointTolerance && std::isfinite(tabDepth); }

UnfoldOptions unfoldOptions(const Settings& record) {
  UnfoldOptions options;
  options.method = record.Abwicklungsart;
  options.page = PageLimit{record.Seitenflag, record.Seitenbreite, record.Seitenhoehe};
  options.tabs = record.Laschenflag;
  options.tabDepth = record.Laschenbreite;
  options.foldShut = record.Nahtspalt;
  options.bareSeams = record.OffeneNaehte;
  return options;
}

}  // namespace foldra
