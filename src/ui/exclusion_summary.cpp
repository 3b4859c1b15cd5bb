#include "ui/exclusion_summary.h"

namespace dunelo {

namespace {

ExclusionRow rowFor(const std::string& id, const ApplicationLookup& apps) {
  ExclusionRow row;
  row.bundleID = id;
  if (auto app = apps.find(id)) {
    row.installed = true;
    row.name = app->name;
    row.iconName = app->iconName;
  } else {
    row.name = id;
  }
  return row;
}

}  // namespace

ExclusionSummary summarizeExclusions(const std::vector<std::string>& sorted,
                                     const ApplicationLookup& apps) {
  ExclusionSummary summary;
  if (sorted.empty()) return summary;
  size_t firstInCard = 0;
  ExclusionRow first = rowFor(sorted.front(), apps);
  if (first.installed) {
    summary.pill = std::move(first);
    firstInCard = 1;
  }
  for (size_t i = firstInCard; i < sorted.size(); ++i)
    summary.card.push_back(rowFor(sorted[i], apps));
  return summary;
}

}  // namespace dunelo
