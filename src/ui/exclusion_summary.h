// How the popover shows the set of excluded applications: the first one in sorted order in the
// header pill, the others in the further-exclusions card.
//
// Sorting is by character code (upper case before lower case), so the split is stable and does
// not depend on the set's iteration order.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "ui/desktop_entries.h"

namespace dunelo {

struct ExclusionRow {
  std::string bundleID;
  std::string name;      // the installed application's name, or the bare identifier
  std::string iconName;  // empty when not installed or the entry names no icon
  bool installed = false;
};

struct ExclusionSummary {
  std::optional<ExclusionRow> pill;  // none: the pill offers "Exclude app"
  std::vector<ExclusionRow> card;    // empty: no card
};

template <class Set>
std::vector<std::string> sortedExclusions(const Set& ids) {
  std::vector<std::string> sorted(ids.begin(), ids.end());
  std::sort(sorted.begin(), sorted.end());  // std::string compares by character code
  return sorted;
}

// The pill shows the first sorted identifier when it is installed; the card lists the rest.
// When the first one is not installed the pill cannot show it, so the card lists it too: every
// exclusion stays visible and removable.
ExclusionSummary summarizeExclusions(const std::vector<std::string>& sorted,
                                     const ApplicationLookup& apps);

}  // namespace dunelo
